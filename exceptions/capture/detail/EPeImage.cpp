// Read-only PE image view: every offset taken from the image is checked before it is used.
#include "EPeImage.h"

#include <cstring>

namespace ember_detail {

bool ReadU16(const uint8_t* data, uint64_t size, uint64_t offset, uint16_t& value) {
  if (!data || offset > size || size - offset < 2) return false;
  value = static_cast<uint16_t>(data[offset] | (data[offset + 1] << 8));
  return true;
}

bool ReadU32(const uint8_t* data, uint64_t size, uint64_t offset, uint32_t& value) {
  if (!data || offset > size || size - offset < 4) return false;
  value = static_cast<uint32_t>(data[offset]) | (static_cast<uint32_t>(data[offset + 1]) << 8) |
          (static_cast<uint32_t>(data[offset + 2]) << 16) |
          (static_cast<uint32_t>(data[offset + 3]) << 24);
  return true;
}

TPeImageView::TPeImageView(const uint8_t* data, uint32_t size) : data_(data), size_(size) {
  uint16_t mz = 0, magic = 0, sectionCount = 0, optionalSize = 0;
  uint32_t peOffset = 0, signature = 0;
  if (!ReadU16(data, size, 0, mz) || mz != 0x5A4D) return;
  if (!ReadU32(data, size, 60, peOffset) || !ReadU32(data, size, peOffset, signature) ||
      signature != 0x00004550)
    return;
  uint64_t fileHeader = uint64_t{peOffset} + 4;
  if (!ReadU16(data, size, fileHeader + 2, sectionCount) ||
      !ReadU16(data, size, fileHeader + 16, optionalSize))
    return;
  uint64_t optional = fileHeader + 20;
  if (!ReadU16(data, size, optional, magic)) return;
  // The directory count and the directories sit 4 bytes further in the 64-bit header.
  uint64_t countAt = magic == 0x20B ? optional + 108 : optional + 92;
  if (magic != 0x10B && magic != 0x20B) return;
  ReadU32(data, size, optional + 20, baseOfCode_);
  if (!ReadU32(data, size, countAt, directoryCount_)) return;
  if (directoryCount_ > 16) directoryCount_ = 16;
  if (countAt + 4 + uint64_t{directoryCount_} * 8 > optional + optionalSize) return;
  directoryOffset_ = static_cast<uint32_t>(countAt + 4);
  uint64_t table = optional + optionalSize;
  for (uint32_t i = 0; i < sectionCount; ++i) {
    uint64_t at = table + uint64_t{i} * 40;
    if (at + 40 > size) return;
    TPeSection section;
    char name[9] = {};
    std::memcpy(name, data + at, 8);
    section.Name = name;
    ReadU32(data, size, at + 8, section.VirtualSize);
    ReadU32(data, size, at + 12, section.VirtualAddress);
    ReadU32(data, size, at + 16, section.RawSize);
    sections_.push_back(section);
  }
  valid_ = true;
}

const TPeSection* TPeImageView::FindSection(const std::string& name) const {
  for (const TPeSection& section : sections_)
    if (section.Name == name) return &section;
  return nullptr;
}

bool TPeImageView::DataDirectory(uint32_t index, uint32_t& rva, uint32_t& size) const {
  if (!valid_ || index >= directoryCount_) return false;
  uint64_t at = uint64_t{directoryOffset_} + uint64_t{index} * 8;
  return ReadU32(data_, size_, at, rva) && ReadU32(data_, size_, at + 4, size);
}

const TPeSection* TPeImageView::SectionOf(uint32_t rva) const {
  for (const TPeSection& section : sections_) {
    uint32_t length = section.VirtualSize ? section.VirtualSize : section.RawSize;
    if (rva >= section.VirtualAddress && rva - section.VirtualAddress < length) return &section;
  }
  return nullptr;
}

const uint8_t* TPeImageView::At(uint32_t rva, uint32_t size) const {
  if (!data_ || rva > size_ || size_ - rva < size) return nullptr;
  return data_ + rva;
}

std::vector<TPeExport> TPeImageView::Exports() const {
  std::vector<TPeExport> result;
  uint32_t rva = 0, size = 0;
  if (!DataDirectory(0, rva, size) || rva == 0 || !At(rva, 40)) return result;
  uint32_t base = 0, functionCount = 0, nameCount = 0, functions = 0, names = 0, ordinals = 0;
  ReadU32(data_, size_, uint64_t{rva} + 16, base);
  ReadU32(data_, size_, uint64_t{rva} + 20, functionCount);
  ReadU32(data_, size_, uint64_t{rva} + 24, nameCount);
  ReadU32(data_, size_, uint64_t{rva} + 28, functions);
  ReadU32(data_, size_, uint64_t{rva} + 32, names);
  ReadU32(data_, size_, uint64_t{rva} + 36, ordinals);
  // Counts come from the image: never trust them beyond what the view can hold.
  if (nameCount > size_ / 4 || functionCount > size_ / 4) return result;
  for (uint32_t i = 0; i < nameCount; ++i) {
    uint32_t nameRva = 0, address = 0;
    uint16_t index = 0;
    if (!ReadU32(data_, size_, uint64_t{names} + uint64_t{i} * 4, nameRva) ||
        !ReadU16(data_, size_, uint64_t{ordinals} + uint64_t{i} * 2, index) ||
        index >= functionCount ||
        !ReadU32(data_, size_, uint64_t{functions} + uint64_t{index} * 4, address) ||
        nameRva >= size_)
      continue;
    TPeExport entry;
    for (uint32_t at = nameRva; at < size_ && data_[at] != 0 && entry.Name.size() < 256; ++at)
      entry.Name.push_back(static_cast<char>(data_[at]));
    entry.Ordinal = static_cast<uint16_t>(index + base);
    entry.Address = address;
    entry.Forwarder = address >= rva && address - rva < size;
    result.push_back(entry);
  }
  return result;
}

}  // namespace ember_detail
