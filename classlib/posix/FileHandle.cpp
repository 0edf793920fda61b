// TFileStream's platform half outside Windows (the native test build): POSIX files. Share modes
// have no POSIX counterpart and are accepted without effect.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "../FileHandle_p.h"
#include "../SysUtils.h"

TFileHandle::TFileHandle(const std::string& fileName, uint16_t mode) {
  int fd;
  if ((mode & 0xFF00) == 0xFF00) {
    fd = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
  } else {
    static const int kAccess[3] = {O_RDONLY, O_WRONLY, O_RDWR};
    fd = ::open(fileName.c_str(), kAccess[(mode & 3) < 3 ? (mode & 3) : 0]);
    if (fd < 0) throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
  }
  handle_ = fd;
}

TFileHandle::~TFileHandle() { ::close(static_cast<int>(handle_)); }

int32_t TFileHandle::Read(void* buffer, int32_t count) {
  ssize_t n = ::read(static_cast<int>(handle_), buffer, static_cast<size_t>(count));
  return n < 0 ? 0 : static_cast<int32_t>(n);
}

int32_t TFileHandle::Write(const void* buffer, int32_t count) {
  ssize_t n = ::write(static_cast<int>(handle_), buffer, static_cast<size_t>(count));
  return n < 0 ? 0 : static_cast<int32_t>(n);
}

int64_t TFileHandle::Seek(int64_t offset, int origin) {
  static const int kWhence[3] = {SEEK_SET, SEEK_CUR, SEEK_END};
  return ::lseek(static_cast<int>(handle_), offset, kWhence[origin >= 0 && origin < 3 ? origin : 0]);
}

void TFileHandle::Truncate() {
  off_t position = ::lseek(static_cast<int>(handle_), 0, SEEK_CUR);
  if (::ftruncate(static_cast<int>(handle_), position) != 0)
    throw EStreamError(std::string("Cannot set file size. ") + std::strerror(errno));
}

namespace filesystem_p {

bool Exists(const std::string& fileName) {
  struct stat info;
  return ::stat(fileName.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool Delete(const std::string& fileName) { return ::unlink(fileName.c_str()) == 0; }

bool Replace(const std::string& source, const std::string& target) {
  return std::rename(source.c_str(), target.c_str()) == 0;
}

}  // namespace filesystem_p
