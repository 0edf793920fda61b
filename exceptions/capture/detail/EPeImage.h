// Read-only view of a PE image laid out as the loader maps it (an RVA is an offset into the
// view): headers, sections, data directories and exports, every read checked against the size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ember_detail {

struct TPeSection {
  std::string Name;          // up to 8 characters
  uint32_t VirtualAddress = 0;
  uint32_t VirtualSize = 0;
  uint32_t RawSize = 0;
};

struct TPeExport {
  std::string Name;
  uint16_t Ordinal = 0;      // biased by the directory's base
  uint32_t Address = 0;      // relative to the module
  bool Forwarder = false;    // the address lies inside the export directory
};

// Little-endian reads that answer false instead of reading past `size`.
bool ReadU16(const uint8_t* data, uint64_t size, uint64_t offset, uint16_t& value);
bool ReadU32(const uint8_t* data, uint64_t size, uint64_t offset, uint32_t& value);

class TPeImageView {
 public:
  // Parses the headers; IsValid is false for anything that is not a 32- or 64-bit PE image
  // whose headers fit into `size`. The bytes stay owned by the caller.
  TPeImageView(const uint8_t* data, uint32_t size);

  bool IsValid() const { return valid_; }
  const std::vector<TPeSection>& Sections() const { return sections_; }
  // The section with this exact name, or nullptr.
  const TPeSection* FindSection(const std::string& name) const;
  // Entry `index` of the data directory; false when the image has no such entry.
  bool DataDirectory(uint32_t index, uint32_t& rva, uint32_t& size) const;
  // `size` bytes at `rva`, or nullptr when they do not lie wholly inside the view.
  const uint8_t* At(uint32_t rva, uint32_t size) const;
  uint32_t Size() const { return size_; }
  // RVA where the code starts, as the optional header says.
  uint32_t BaseOfCode() const { return baseOfCode_; }
  // The section that holds `rva`, or nullptr.
  const TPeSection* SectionOf(uint32_t rva) const;
  // The exported names with their ordinals and addresses; empty when the directory is missing
  // or damaged. Names are cut at 256 bytes.
  std::vector<TPeExport> Exports() const;

 private:
  const uint8_t* data_;
  uint32_t size_;
  bool valid_ = false;
  uint32_t directoryOffset_ = 0;
  uint32_t directoryCount_ = 0;
  uint32_t baseOfCode_ = 0;
  std::vector<TPeSection> sections_;
};

}  // namespace ember_detail
