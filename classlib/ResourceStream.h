// Data resources linked into the module (RCDATA), read as streams.
#pragma once

#include <string>

#include "Streams.h"
#include "SysUtils.h"

KBL_DECLARE_EXCEPTION(EResNotFound, Exception);

// A memory stream holding a copy of the RCDATA resource `name` of this module (the recorded
// module instance, see Module.h), positioned at its start. Raises EResNotFound ("Resource <name>
// not found") when the module has no such resource; outside Windows there are none.
class TResourceStream : public TMemoryStream {
 public:
  explicit TResourceStream(const std::string& name);
  // True when the module holds the RCDATA resource `name`.
  static bool Exists(const std::string& name);
};
