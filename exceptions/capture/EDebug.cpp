// Debug-information sources: module access, the three source kinds and the choice among them.
#include "EDebug.h"

#include "classlib/Streams.h"
#include "detail/EDebugPlatform_p.h"
#include "detail/EPeImage.h"

namespace {

const TELModuleAccess* gModuleAccess = nullptr;

// Reads a whole file; empty when it is missing or unreadable (a source then stays not valid).
std::vector<uint8_t> ReadWholeFile(const std::string& fileName) {
  if (fileName.empty() || !FileExists(fileName)) return {};
  try {
    std::string bytes = ReadFileBytes(fileName);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
  } catch (const Exception&) {
    return {};
  }
}

}  // namespace

// --- Module access

void SetELModuleAccess(const TELModuleAccess* access) { gModuleAccess = access; }

std::string GetELModuleFileName(uintptr_t module) {
  if (gModuleAccess && gModuleAccess->FileName) return gModuleAccess->FileName(module);
  return ember_detail::PlatformModuleFileName(module);
}

bool GetELModuleImage(uintptr_t module, TELImageView& view) {
  view = TELImageView();
  if (gModuleAccess && gModuleAccess->Image) return gModuleAccess->Image(module, view);
  return ember_detail::PlatformModuleImage(module, view);
}

bool GetELModuleResource(uintptr_t module, const char* name, TELImageView& data) {
  data = TELImageView();
  if (gModuleAccess && gModuleAccess->Resource) return gModuleAccess->Resource(module, name, data);
  return ember_detail::PlatformModuleResource(module, name, data);
}

std::string ChangeFileExtension(const std::string& fileName, const std::string& ext) {
  size_t dot = fileName.find_last_of(".\\/:");
  if (dot == std::string::npos || fileName[dot] != '.') return fileName + ext;
  return fileName.substr(0, dot) + ext;
}

// --- Source base

uint32_t TELDebugInfoSource::VAToOffset(uintptr_t address) const {
  return static_cast<uint32_t>(address - module_ - 4096);
}

bool TELDebugInfoSource::FillLocationInfo(TELDebugReader& reader, uintptr_t address,
                                          TELLocationInfo& info) {
  uint32_t offset = VAToOffset(address);
  std::string unitName = reader.ModuleNameFromOffset(offset);
  if (unitName.empty()) return false;
  uint32_t distance = 0;
  info.UnitName = unitName;
  info.Address = address;
  info.ProcedureName = reader.ProcNameFromOffset(offset, distance);
  info.LineNumber = reader.LineNumberFromOffset(offset);
  info.SourceName = reader.SourceNameFromOffset(offset);
  info.DebugInfo = this;
  // The procedure's first line is the line of its start address.
  info.LineNumberOffset = info.LineNumber - reader.LineNumberFromOffset(offset - distance);
  return true;
}

// --- Map file

TELDebugInfoMap::TELDebugInfoMap(uintptr_t module) : TELDebugInfoSource(module) { Load(); }

void TELDebugInfoMap::Load() {
  std::string fileName = GetELModuleFileName(Module());
  if (fileName.empty()) return;
  std::string mapName = ChangeFileExtension(fileName, ".map");
  if (FileExists(mapName)) scanner_ = TELMapScanner::FromFile(mapName);
}

bool TELDebugInfoMap::GetLocationInfo(uintptr_t address, TELLocationInfo& info) {
  return scanner_ && FillLocationInfo(*scanner_, address, info);
}

// --- JCL data

TELDebugInfoJedy::TELDebugInfoJedy(uintptr_t module) : TELDebugInfoSource(module) { Load(); }

void TELDebugInfoJedy::Load() {
  std::vector<uint8_t> data;
  TELImageView image;
  if (GetELModuleImage(Module(), image)) {
    ember_detail::TPeImageView pe(image.Data, image.Size);
    if (const ember_detail::TPeSection* section = pe.FindSection("JCLDEBUG")) {
      uint32_t length = section->VirtualSize < section->RawSize ? section->VirtualSize : section->RawSize;
      if (const uint8_t* bytes = pe.At(section->VirtualAddress, length))
        data.assign(bytes, bytes + length);
    }
  }
  if (data.empty()) {
    std::string fileName = GetELModuleFileName(Module());
    if (!fileName.empty()) data = ReadWholeFile(ChangeFileExtension(fileName, ".jdbg"));
  }
  scanner_ = std::make_unique<TELBinDebugScanner>(std::move(data), true);
}

bool TELDebugInfoJedy::GetLocationInfo(uintptr_t address, TELLocationInfo& info) {
  return IsValid() && FillLocationInfo(*scanner_, address, info);
}

// --- TD32 data

TELDebugInfoTD32::TELDebugInfoTD32(uintptr_t module) : TELDebugInfoSource(module) { Load(); }

void TELDebugInfoTD32::Load() { image_ = std::make_unique<TELPeBorTD32Image>(Module()); }

bool TELDebugInfoTD32::IsValid() const {
  return image_ && image_->Scanner() && image_->Scanner()->ValidData();
}

bool TELDebugInfoTD32::GetLocationInfo(uintptr_t address, TELLocationInfo& info) {
  return IsValid() && FillLocationInfo(*image_->Scanner(), address, info);
}

TELPeBorTD32Image::TELPeBorTD32Image(uintptr_t module) : module_(module) {
  TELImageView image;
  if (GetELModuleImage(module, image)) {
    ember_detail::TPeImageView pe(image.Data, image.Size);
    uint32_t rva = 0, size = 0;
    if (pe.DataDirectory(6, rva, size) && size > 0) {
      for (const ember_detail::TPeSection& section : pe.Sections()) {
        if (section.VirtualAddress != rva) continue;
        uint32_t dataSize = 0, dataAddress = 0;
        if (ember_detail::ReadU32(image.Data, image.Size, uint64_t{rva} + 16, dataSize) &&
            ember_detail::ReadU32(image.Data, image.Size, uint64_t{rva} + 20, dataAddress)) {
          if (const uint8_t* block = pe.At(dataAddress, dataSize)) {
            UseBlock(block, dataSize);
            if (scanner_) return;
          }
        }
        break;
      }
    }
  }
  std::string fileName = GetELModuleFileName(module);
  if (fileName.empty()) return;
  std::vector<uint8_t> file = ReadWholeFile(ChangeFileExtension(fileName, ".tds"));
  UseBlock(file.data(), file.size());
}

void TELPeBorTD32Image::UseBlock(const uint8_t* block, uint64_t size) {
  uint64_t start = 0;
  if (!block || !IsTD32Block(block, size, start)) return;
  try {
    scanner_ = std::make_unique<TELTD32InfoScanner>(
        std::vector<uint8_t>(block + start, block + size));
  } catch (const Exception&) {
    // A directory that breaks the format's own rules makes the data unusable, not the caller.
    scanner_.reset();
  }
}

// --- Choosing a source

bool CreateDebugInfoSource(uintptr_t module, std::unique_ptr<TELDebugInfoSource>& source) {
  if (source) return false;
  std::unique_ptr<TELDebugInfoSource> candidate = std::make_unique<TELDebugInfoMap>(module);
  if (!candidate->IsValid()) candidate = std::make_unique<TELDebugInfoTD32>(module);
  if (!candidate->IsValid()) candidate = std::make_unique<TELDebugInfoJedy>(module);
  if (!candidate->IsValid()) return false;
  source = std::move(candidate);
  return true;
}
