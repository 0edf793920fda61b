// Reading the fixed file information of a version resource.
#include "VersionInfo.h"

#include <vector>

#include "ResourceStream.h"
#include "SysUtils.h"

namespace {

constexpr uint32_t kFixedInfoSignature = 0xFEEF04BDu;
constexpr size_t kFixedInfoSize = 52;
const char16_t kRootKey[] = u"VS_VERSION_INFO";

uint16_t Word(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

uint32_t DWord(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(Word(b, at)) | static_cast<uint32_t>(Word(b, at + 2)) << 16;
}

}  // namespace

std::string TFileVersion::ToString() const {
  return IntToStr(Major) + "." + IntToStr(Minor) + "." + IntToStr(Release) + "." + IntToStr(Build);
}

bool ReadFileVersion(TStream& stream, TFileVersion& version) {
  // The block: length, value length, type (three words), the key in UTF-16 with its terminator,
  // padding to a 32-bit boundary, then the value (the fixed file information).
  constexpr size_t keyChars = sizeof kRootKey / sizeof kRootKey[0];
  constexpr size_t valueAt = (6 + keyChars * 2 + 3) / 4 * 4;
  const int64_t available = stream.GetSize() - stream.GetPosition();
  if (available < static_cast<int64_t>(valueAt + kFixedInfoSize)) return false;
  std::vector<uint8_t> block(valueAt + kFixedInfoSize);
  stream.ReadBuffer(block.data(), static_cast<int32_t>(block.size()));
  if (Word(block, 0) < block.size() || Word(block, 2) < kFixedInfoSize) return false;
  for (size_t i = 0; i < keyChars; ++i)
    if (Word(block, 6 + 2 * i) != kRootKey[i]) return false;
  if (DWord(block, valueAt) != kFixedInfoSignature) return false;
  const uint32_t high = DWord(block, valueAt + 8);
  const uint32_t low = DWord(block, valueAt + 12);
  version.Major = static_cast<uint16_t>(high >> 16);
  version.Minor = static_cast<uint16_t>(high & 0xFFFFu);
  version.Release = static_cast<uint16_t>(low >> 16);
  version.Build = static_cast<uint16_t>(low & 0xFFFFu);
  return true;
}

TFileVersion GetModuleFileVersion() {
  TFileVersion version;
  try {
    TResourceStream stream(1, kResourceTypeVersion);
    ReadFileVersion(stream, version);
  } catch (const EResNotFound&) {
  }
  return version;
}
