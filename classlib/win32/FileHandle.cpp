// TFileStream's platform half on Windows: CreateFileA with the stream's share modes.
#include <windows.h>

#include "../FileHandle_p.h"
#include "../Streams.h"

namespace {

std::string LastErrorText() {
  DWORD code = GetLastError();
  std::string text = SysErrorMessage(code);
  return text.empty() ? "System error " + IntToStr(code) : text;
}

DWORD ShareFlags(uint16_t mode) {
  switch (mode & 0xF0) {
    case fmShareExclusive: return 0;
    case fmShareDenyWrite: return FILE_SHARE_READ;
    case fmShareDenyRead: return FILE_SHARE_WRITE;
    case fmShareDenyNone: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default: return 0;  // compatibility mode behaves as exclusive
  }
}

}  // namespace

TFileHandle::TFileHandle(const std::string& fileName, uint16_t mode) {
  HANDLE h;
  if (mode == fmCreate || (mode & 0xFF00) == 0xFF00) {
    h = CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, ShareFlags(mode & 0xFF), nullptr,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
      throw EFCreateError("Cannot create file \"" + fileName + "\". " + LastErrorText());
  } else {
    static const DWORD kAccess[3] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
    DWORD access = kAccess[(mode & 3) < 3 ? (mode & 3) : 0];
    h = CreateFileA(fileName.c_str(), access, ShareFlags(mode), nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                    nullptr);
    if (h == INVALID_HANDLE_VALUE)
      throw EFOpenError("Cannot open file \"" + fileName + "\". " + LastErrorText());
  }
  handle_ = reinterpret_cast<intptr_t>(h);
}

TFileHandle::~TFileHandle() { CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

int32_t TFileHandle::Read(void* buffer, int32_t count) {
  DWORD done = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, static_cast<DWORD>(count), &done, nullptr)) return 0;
  return static_cast<int32_t>(done);
}

int32_t TFileHandle::Write(const void* buffer, int32_t count) {
  DWORD done = 0;
  if (!WriteFile(reinterpret_cast<HANDLE>(handle_), buffer, static_cast<DWORD>(count), &done, nullptr)) return 0;
  return static_cast<int32_t>(done);
}

int64_t TFileHandle::Seek(int64_t offset, int origin) {
  LARGE_INTEGER distance, result;
  distance.QuadPart = offset;
  if (!SetFilePointerEx(reinterpret_cast<HANDLE>(handle_), distance, &result, static_cast<DWORD>(origin)))
    return -1;
  return result.QuadPart;
}

void TFileHandle::Truncate() {
  if (!SetEndOfFile(reinterpret_cast<HANDLE>(handle_))) throw EStreamError("Cannot set file size. " + LastErrorText());
}

namespace filesystem_p {

bool Exists(const std::string& fileName) {
  DWORD attributes = GetFileAttributesA(fileName.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Delete(const std::string& fileName) { return DeleteFileA(fileName.c_str()) != 0; }

bool Replace(const std::string& source, const std::string& target) {
  return MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace filesystem_p
