// The zip container under the zip writer: local headers, deflated data (zlib, raw), traditional
// PKWARE encryption for a password, the central directory and its end record.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TFileStream;

namespace ember_report {

// One archive being written; entries are appended whole. File errors raise the stream
// exceptions; a deflate failure raises EZipError.
class TZipArchive {
 public:
  // Creates (or truncates) the file.
  explicit TZipArchive(const std::string& fileName);
  ~TZipArchive();

  // Adds `data` under `name`, deflated at `level` (0-9). With a non-empty password the entry is
  // encrypted with the traditional zip cipher, whose check byte is the high byte of the CRC.
  void AddEntry(const std::string& name, const std::string& data, uint32_t dosDateTime,
                const std::string& password, int level = 9);
  // Writes the central directory and the end record, then closes the file. Adding afterwards
  // raises.
  void Close();
  bool IsOpen() const { return file_ != nullptr; }

 private:
  struct Entry {
    std::string Name;
    uint16_t Flags;
    uint32_t DosDateTime;
    uint32_t Crc;
    uint32_t CompressedSize;
    uint32_t Size;
    uint32_t Offset;
  };
  std::unique_ptr<TFileStream> file_;
  std::vector<Entry> entries_;
};

// Raw deflate (no zlib header) of `data`.
std::string DeflateRaw(const std::string& data, int level);

}  // namespace ember_report
