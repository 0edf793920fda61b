// The zip attachment writer: packs the report's files into one archive ("BugReport.zip") through
// minizip's zip writer, deflated at level 9 and, with the zip password option, encrypted with
// traditional zip encryption.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/SysUtils.h"

// The date fields of one entry: the broken-down local time and the same as a DOS date and time.
struct TZipFileInfo {
  uint32_t Second = 0, Minute = 0, Hour = 0, Day = 0, Month = 0, Year = 0;  // month 0-11
  uint32_t DosDate = 0;                                                      // date << 16 | time
  uint32_t InternalAttributes = 0;
  uint32_t ExternalAttributes = 0;
};

// Fills `info` (cleared first) from the file's last-write time in local time; a missing file
// leaves it cleared.
void GetZipFileInfo(const std::string& fileName, TZipFileInfo& info);
// The low 32 bits of the file's size; 0 when it is missing.
uint32_t FileSizeOf(const std::string& fileName);

// One archive being written. Not thread-safe. The archive is finished when the writer is
// destroyed.
class TZipWriter : public TObject {
 public:
  // Deletes an existing file of that name and starts a new archive; an empty password means
  // none. Raises EFCreateError when the archive cannot be created.
  TZipWriter(const std::string& fileName, const std::string& password);
  ~TZipWriter() override;

  // Adds the whole file under `nameInZip` and closes the entry; false when the file cannot be
  // opened or read completely (nothing added) or the archive cannot be written. Never raises.
  bool AddFile(const std::string& fileName, const std::string& nameInZip);

 private:
  void* zip_ = nullptr;  // minizip's zipFile
  std::string password_;
};
