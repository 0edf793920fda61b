// The zip attachment writer over minizip's zip writer and zlib's CRC-32.
#include "EZipWriter.h"

#include "classlib/Streams.h"
#include "detail/EReportPlatform_p.h"

#include <minizip/zip.h>
#include <zlib.h>

void GetZipFileInfo(const std::string& fileName, TZipFileInfo& info) {
  info = TZipFileInfo();
  TDateTime time;
  if (!ember_report::FileLocalTime(fileName, time)) return;
  int year, month, day, hour, minute, second, msec;
  DecodeDate(time, year, month, day);
  DecodeTime(time, hour, minute, second, msec);
  info.Year = static_cast<uint32_t>(year);
  info.Month = static_cast<uint32_t>(month - 1);
  info.Day = static_cast<uint32_t>(day);
  info.Hour = static_cast<uint32_t>(hour);
  info.Minute = static_cast<uint32_t>(minute);
  info.Second = static_cast<uint32_t>(second);
  // DOS dates start in 1980; earlier files are stamped 1980-01-01.
  if (year < 1980) {
    info.DosDate = (1u << 5 | 1u) << 16;
    return;
  }
  uint32_t date = static_cast<uint32_t>((year - 1980) << 9 | month << 5 | day);
  uint32_t clock = static_cast<uint32_t>(hour << 11 | minute << 5 | second / 2);
  info.DosDate = date << 16 | clock;
}

uint32_t FileSizeOf(const std::string& fileName) {
  if (!FileExists(fileName)) return 0;
  try {
    TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
    return static_cast<uint32_t>(file.GetSize());
  } catch (const EStreamError&) {
    return 0;
  }
}

TZipWriter::TZipWriter(const std::string& fileName, const std::string& password) : password_(password) {
  if (FileExists(fileName)) RemoveFile(fileName);
  zip_ = zipOpen(fileName.c_str(), APPEND_STATUS_CREATE);
  if (!zip_) throw EFCreateError("Cannot create file \"" + fileName + "\".");
}

// Every entry is closed as it is added, so closing the archive only writes its directory. A
// directory that cannot be written leaves a damaged archive; the sender then attaches it as it
// is, which the receiving side reports.
TZipWriter::~TZipWriter() { zipClose(zip_, nullptr); }

bool TZipWriter::AddFile(const std::string& fileName, const std::string& nameInZip) {
  try {
    uint32_t size = FileSizeOf(fileName);
    TZipFileInfo info;
    GetZipFileInfo(fileName, info);
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    std::string data(size, '\0');
    if (size > 0 && file.Read(data.data(), static_cast<int32_t>(size)) != static_cast<int32_t>(size)) return false;

    zip_fileinfo entry{};
    entry.tmz_date.tm_sec = info.Second;
    entry.tmz_date.tm_min = info.Minute;
    entry.tmz_date.tm_hour = info.Hour;
    entry.tmz_date.tm_mday = info.Day;
    entry.tmz_date.tm_mon = info.Month;
    entry.tmz_date.tm_year = info.Year;
    entry.dosDate = info.DosDate;
    entry.internal_fa = info.InternalAttributes;
    entry.external_fa = info.ExternalAttributes;
    const char* password = password_.empty() ? nullptr : password_.c_str();
    // Traditional encryption puts the CRC's high byte into the entry's header before the data.
    uLong crc = password ? crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(size)) : 0;
    if (zipOpenNewFileInZip3(zip_, nameInZip.c_str(), &entry, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9, 0,
                             -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, password, crc) != ZIP_OK)
      return false;
    bool written = zipWriteInFileInZip(zip_, data.data(), size) == ZIP_OK;
    return zipCloseFileInZip(zip_) == ZIP_OK && written;
  } catch (...) {
    return false;
  }
}
