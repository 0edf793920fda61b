// The module's version resource: the file version held in its fixed file information, as four
// 16-bit numbers and as the text "1.0.0.0".
#pragma once

#include <cstdint>
#include <string>

#include "Streams.h"

struct TFileVersion {
  uint16_t Major = 0;
  uint16_t Minor = 0;
  uint16_t Release = 0;
  uint16_t Build = 0;
  // The four numbers in decimal joined by "." ("1.0.0.0").
  std::string ToString() const;
};

// Reads the file version out of a version resource (the VS_VERSION_INFO block with its fixed file
// information) from the stream's position. Answers false, leaving `version` as it was, for a
// block that is too short, names another key or lacks the fixed information's signature.
bool ReadFileVersion(TStream& stream, TFileVersion& version);

// The file version of this module's version resource (type 16, number 1); 0.0.0.0 when the
// module has none or it cannot be read (always outside Windows).
TFileVersion GetModuleFileVersion();
