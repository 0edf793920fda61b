// The platform half of TFileStream: open, read, write, seek and truncate a file.
#pragma once

#include <cstdint>
#include <string>

class TFileHandle {
 public:
  // Opens or creates per the stream's mode; on failure raises with the system's reason.
  TFileHandle(const std::string& fileName, uint16_t mode);
  ~TFileHandle();
  int32_t Read(void* buffer, int32_t count);
  int32_t Write(const void* buffer, int32_t count);
  int64_t Seek(int64_t offset, int origin);
  void Truncate();  // at the current position

 private:
  intptr_t handle_;
};

namespace filesystem_p {
bool Exists(const std::string& fileName);
bool Delete(const std::string& fileName);
bool Replace(const std::string& source, const std::string& target);
}  // namespace filesystem_p
