// The zip attachment writer over the library's own zip container and zlib's deflate.
#include "EZipWriter.h"

#include <vector>

#include "classlib/Streams.h"
#include "detail/EReportPlatform_p.h"
#include "detail/EZipArchive_p.h"

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
  zip_ = std::make_unique<ember_report::TZipArchive>(fileName);
}

TZipWriter::~TZipWriter() {
  try {
    zip_->Close();
  } catch (...) {
    // A directory that cannot be written leaves a damaged archive; the sender then attaches it
    // as it is, which the receiving side reports.
  }
}

bool TZipWriter::AddFile(const std::string& fileName, const std::string& nameInZip) {
  try {
    uint32_t size = FileSizeOf(fileName);
    TZipFileInfo info;
    GetZipFileInfo(fileName, info);
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    std::string data(size, '\0');
    if (size > 0 && file.Read(data.data(), static_cast<int32_t>(size)) != static_cast<int32_t>(size)) return false;
    zip_->AddEntry(nameInZip, data, info.DosDate, password_, 9);
    return true;
  } catch (...) {
    return false;
  }
}
