// Data resources linked into the module (RCDATA), read as streams.
#pragma once

#include <string>

#include "Streams.h"
#include "SysUtils.h"

KBL_DECLARE_EXCEPTION(EResNotFound, Exception);

// The version information resource type.
constexpr int32_t kResourceTypeVersion = 16;

// A memory stream holding a copy of the RCDATA resource `name` of this module (the recorded
// module instance, see Module.h), positioned at its start. Raises EResNotFound ("Resource <name>
// not found") when the module has no such resource; outside Windows there are none.
class TResourceStream : public TMemoryStream {
 public:
  explicit TResourceStream(const std::string& name);
  // The resource with the number `id` of the resource type `type` (kResourceTypeVersion ...);
  // raises EResNotFound ("Resource #<id> not found") when there is none.
  TResourceStream(int32_t id, int32_t type);
  // True when the module holds the RCDATA resource `name`.
  static bool Exists(const std::string& name);
};
