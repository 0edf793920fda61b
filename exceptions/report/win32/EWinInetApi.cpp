// WinInet bound by name at run time for the web senders.
#include <windows.h>
#include <wininet.h>

#include "../detail/EWinInetApi_p.h"
#include "exceptions/capture/ExceptionLog.h"

namespace {

using TInternetOpenA = HINTERNET(WINAPI*)(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD);
using TInternetConnectA = HINTERNET(WINAPI*)(HINTERNET, LPCSTR, INTERNET_PORT, LPCSTR, LPCSTR, DWORD,
                                             DWORD, DWORD_PTR);
using THttpOpenRequestA = HINTERNET(WINAPI*)(HINTERNET, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR*, DWORD,
                                             DWORD_PTR);
using THttpAddRequestHeadersA = BOOL(WINAPI*)(HINTERNET, LPCSTR, DWORD, DWORD);
using THttpSendRequestA = BOOL(WINAPI*)(HINTERNET, LPCSTR, DWORD, LPVOID, DWORD);
using THttpSendRequestExA = BOOL(WINAPI*)(HINTERNET, LPINTERNET_BUFFERSA, LPINTERNET_BUFFERSA, DWORD,
                                          DWORD_PTR);
using TInternetWriteFile = BOOL(WINAPI*)(HINTERNET, LPCVOID, DWORD, LPDWORD);
using THttpEndRequestA = BOOL(WINAPI*)(HINTERNET, LPINTERNET_BUFFERSA, DWORD, DWORD_PTR);
using THttpQueryInfoA = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, LPDWORD, LPDWORD);
using TInternetCloseHandle = BOOL(WINAPI*)(HINTERNET);
using TInternetQueryOptionA = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, LPDWORD);
using TInternetSetOptionA = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, DWORD);
using TFtpOpenFileA = HINTERNET(WINAPI*)(HINTERNET, LPCSTR, DWORD, DWORD, DWORD_PTR);
using TInternetGetLastResponseInfoA = BOOL(WINAPI*)(LPDWORD, LPSTR, LPDWORD);
using TInternetOpenUrlA = HINTERNET(WINAPI*)(HINTERNET, LPCSTR, LPCSTR, DWORD, DWORD, DWORD_PTR);
using TInternetReadFile = BOOL(WINAPI*)(HINTERNET, LPVOID, DWORD, LPDWORD);
using TInternetGetConnectedState = BOOL(WINAPI*)(LPDWORD, DWORD);

struct Functions {
  TInternetOpenA InternetOpenA;
  TInternetConnectA InternetConnectA;
  THttpOpenRequestA HttpOpenRequestA;
  THttpAddRequestHeadersA HttpAddRequestHeadersA;
  THttpSendRequestA HttpSendRequestA;
  THttpSendRequestExA HttpSendRequestExA;
  TInternetWriteFile InternetWriteFile;
  THttpEndRequestA HttpEndRequestA;
  THttpQueryInfoA HttpQueryInfoA;
  TInternetCloseHandle InternetCloseHandle;
  TInternetQueryOptionA InternetQueryOptionA;
  TInternetSetOptionA InternetSetOptionA;
  TFtpOpenFileA FtpOpenFileA;
  TInternetGetLastResponseInfoA InternetGetLastResponseInfoA;
  TInternetOpenUrlA InternetOpenUrlA;
  TInternetReadFile InternetReadFile;
  TInternetGetConnectedState InternetGetConnectedState;
};

HMODULE gLibrary = nullptr;
Functions gF{};
bool gBound = false;

template <typename T>
bool Find(T& slot, const char* name) {
  slot = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(gLibrary, name)));
  return slot != nullptr;
}

HINTERNET H(einet::Handle handle) { return reinterpret_cast<HINTERNET>(handle); }
einet::Handle E(HINTERNET handle) { return reinterpret_cast<einet::Handle>(handle); }

}  // namespace

namespace einet {

bool Load() {
  if (gBound) return true;
  if (!gLibrary) gLibrary = LoadLibraryA("wininet.dll");
  if (!gLibrary) return false;
  bool ok = Find(gF.InternetOpenA, "InternetOpenA") & Find(gF.InternetConnectA, "InternetConnectA") &
            Find(gF.HttpOpenRequestA, "HttpOpenRequestA") &
            Find(gF.HttpAddRequestHeadersA, "HttpAddRequestHeadersA") &
            Find(gF.HttpSendRequestA, "HttpSendRequestA") &
            Find(gF.HttpSendRequestExA, "HttpSendRequestExA") &
            Find(gF.InternetWriteFile, "InternetWriteFile") & Find(gF.HttpEndRequestA, "HttpEndRequestA") &
            Find(gF.HttpQueryInfoA, "HttpQueryInfoA") &
            Find(gF.InternetCloseHandle, "InternetCloseHandle") &
            Find(gF.InternetQueryOptionA, "InternetQueryOptionA") &
            Find(gF.InternetSetOptionA, "InternetSetOptionA") & Find(gF.FtpOpenFileA, "FtpOpenFileA") &
            Find(gF.InternetGetLastResponseInfoA, "InternetGetLastResponseInfoA") &
            Find(gF.InternetOpenUrlA, "InternetOpenUrlA") & Find(gF.InternetReadFile, "InternetReadFile") &
            Find(gF.InternetGetConnectedState, "InternetGetConnectedState");
  gBound = ok;
  return ok;
}

void Free() {
  // The library stays loaded for the module's life: handles of another sender may still use it.
}

Handle Open(const std::string& agent, const std::string& proxy) {
  if (!Load()) return 0;
  if (!proxy.empty())
    return E(gF.InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PROXY, proxy.c_str(), "<local>", 0));
  return E(gF.InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
}

// A call that waits on the network: a background send may be given up there (TEmberPark).
template <typename TCall>
auto Waiting(TCall call) {
  const TEmberParked parked;
  return call();
}

Handle Connect(Handle session, const std::string& host, uint16_t port, const std::string& user,
               const std::string& password, bool ftp, uint32_t flags) {
  if (!Load() || !session) return 0;
  return E(Waiting([&] {
    return gF.InternetConnectA(H(session), host.c_str(), port, user.empty() ? nullptr : user.c_str(),
                               password.empty() ? nullptr : password.c_str(),
                               ftp ? INTERNET_SERVICE_FTP : INTERNET_SERVICE_HTTP, flags, 0);
  }));
}

Handle OpenRequest(Handle connection, const std::string& verb, const std::string& object, uint32_t flags) {
  if (!Load() || !connection) return 0;
  return E(gF.HttpOpenRequestA(H(connection), verb.c_str(), object.c_str(), nullptr, nullptr, nullptr,
                               flags, 0));
}

bool IgnoreUnknownCA(Handle request) {
  DWORD flags = 0, size = sizeof flags;
  if (!gF.InternetQueryOptionA(H(request), INTERNET_OPTION_SECURITY_FLAGS, &flags, &size)) return false;
  flags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
  return gF.InternetSetOptionA(H(request), INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof flags) != FALSE;
}

bool AddHeader(Handle request, const std::string& header) {
  return gF.HttpAddRequestHeadersA(H(request), header.c_str(), static_cast<DWORD>(header.size()),
                                    HTTP_ADDREQ_FLAG_ADD) != FALSE;
}

bool SetProxyCredentials(Handle request, const std::string& user, const std::string& password) {
  bool a = gF.InternetSetOptionA(H(request), INTERNET_OPTION_PROXY_USERNAME, const_cast<char*>(user.c_str()),
                                 static_cast<DWORD>(user.size() + 1)) != FALSE;
  bool b = gF.InternetSetOptionA(H(request), INTERNET_OPTION_PROXY_PASSWORD,
                                 const_cast<char*>(password.c_str()),
                                 static_cast<DWORD>(password.size() + 1)) != FALSE;
  return a && b;
}

bool SendRequestEx(Handle request, uint32_t totalLength) {
  INTERNET_BUFFERSA buffers{};
  buffers.dwStructSize = sizeof buffers;
  buffers.dwBufferTotal = totalLength;
  return Waiting([&] { return gF.HttpSendRequestExA(H(request), &buffers, nullptr, 0, 0); }) != FALSE;
}

bool Write(Handle handle, const void* data, uint32_t length, uint32_t& written) {
  DWORD count = 0;
  BOOL ok = Waiting([&] { return gF.InternetWriteFile(H(handle), data, length, &count); });
  written = count;
  return ok != FALSE;
}

bool EndRequest(Handle request) {
  return Waiting([&] { return gF.HttpEndRequestA(H(request), nullptr, 0, 0); }) != FALSE;
}

bool QueryInfo(Handle request, uint32_t infoLevel, std::string& text) {
  text.clear();
  DWORD size = 256;
  for (int round = 0; round < 8; ++round) {
    std::string buffer(size + 1, '\0');
    DWORD length = size;
    DWORD index = 0;
    if (gF.HttpQueryInfoA(H(request), infoLevel, buffer.data(), &length, &index)) {
      buffer.resize(length);
      text = buffer;
      return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    size = length > size ? length : size * 2;
  }
  return false;
}

bool Read(Handle handle, void* data, uint32_t length, uint32_t& read) {
  DWORD count = 0;
  BOOL ok = Waiting([&] { return gF.InternetReadFile(H(handle), data, length, &count); });
  read = count;
  return ok != FALSE;
}

bool Close(Handle handle) { return handle && gBound && gF.InternetCloseHandle(H(handle)) != FALSE; }

Handle OpenFtpFile(Handle connection, const std::string& remoteName) {
  if (!Load() || !connection) return 0;
  return E(Waiting(
      [&] { return gF.FtpOpenFileA(H(connection), remoteName.c_str(), GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0); }));
}

uint32_t LastError() { return GetLastError(); }

std::string LastResponseInfo() {
  if (!gBound) return std::string();
  DWORD error = 0;
  DWORD size = 3000;
  std::string buffer(size + 1, '\0');
  if (!gF.InternetGetLastResponseInfoA(&error, buffer.data(), &size)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::string();
    size += 100;
    buffer.assign(size + 1, '\0');
    if (!gF.InternetGetLastResponseInfoA(&error, buffer.data(), &size)) return std::string();
  }
  buffer.resize(size);
  return buffer;
}

std::string SystemErrorText(uint32_t code) {
  char buffer[512] = {0};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                buffer, sizeof buffer, nullptr);
  if (length == 0 && gLibrary)
    length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, gLibrary, code, 0,
                            buffer, sizeof buffer, nullptr);
  std::string text(buffer, length);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace einet
