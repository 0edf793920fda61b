// WinSock bound by name at run time behind the client socket; the DNS servers from IPHLPAPI.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstring>
#include <mutex>

#include "../ESockets.h"
#include "../detail/ESocketApi_p.h"

namespace {

using TCloseSocket = int(WSAAPI*)(SOCKET);
using TConnect = int(WSAAPI*)(SOCKET, const sockaddr*, int);
using THtons = u_short(WSAAPI*)(u_short);
using TIoctlSocket = int(WSAAPI*)(SOCKET, long, u_long*);
using TRecv = int(WSAAPI*)(SOCKET, char*, int, int);
using TSend = int(WSAAPI*)(SOCKET, const char*, int, int);
using TSocket = SOCKET(WSAAPI*)(int, int, int);
using TSelect = int(WSAAPI*)(int, fd_set*, fd_set*, fd_set*, const timeval*);
using TGetHostByName = hostent*(WSAAPI*)(const char*);
using TGetHostName = int(WSAAPI*)(char*, int);
using TWSAAsyncSelect = int(WSAAPI*)(SOCKET, HWND, u_int, long);
using TWSAGetLastError = int(WSAAPI*)();
using TWSAStartup = int(WSAAPI*)(WORD, LPWSADATA);
using TWSACleanup = int(WSAAPI*)();

// Module globals set on first use. The start-up flag and the libraries change only under the
// lock: a send thread may start the library while the detachment cleans it up.
HMODULE gWSock32 = nullptr, gWS2 = nullptr, gMSWSock = nullptr;
bool gLibrariesTried = false;
bool gStarted = false;
std::mutex gStartLock;

FARPROC LoadWinSock(const char* name) {
  if (!gLibrariesTried) {
    gLibrariesTried = true;
    gWSock32 = LoadLibraryA("wsock32.dll");
    gWS2 = LoadLibraryA("ws2_32.dll");
    gMSWSock = LoadLibraryA("mswsock.dll");
  }
  HMODULE module = gWS2 ? gWS2 : gWSock32 ? gWSock32 : gMSWSock;
  FARPROC address = module ? GetProcAddress(module, name) : nullptr;
  if (!address)
    throw EEmberFuncNotFoundError(std::string("WinSock's function \"") + name + "\" can not be found");
  return address;
}

template <typename T>
T Bind(const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(LoadWinSock(name)));
}

}  // namespace

namespace esock {

void Startup() {
  std::lock_guard<std::mutex> guard(gStartLock);
  if (gStarted) return;
  WSADATA data;
  if (Bind<TWSAStartup>("WSAStartup")(0x0101, &data) == 0) gStarted = true;
}

// One WSACleanup for the successful start-up; the libraries loaded for it are let go, so that the
// process's socket state and module counts are as they were before.
void Cleanup() {
  std::lock_guard<std::mutex> guard(gStartLock);
  if (gStarted) {
    gStarted = false;
    Bind<TWSACleanup>("WSACleanup")();
  }
  for (HMODULE* module : {&gWSock32, &gWS2, &gMSWSock}) {
    if (*module) FreeLibrary(*module);
    *module = nullptr;
  }
  gLibrariesTried = false;
}

intptr_t Open(int32_t type) {
  SOCKET s = Bind<TSocket>("socket")(AF_INET, type == 1 ? SOCK_STREAM : SOCK_DGRAM, 0);
  return s == INVALID_SOCKET ? -1 : static_cast<intptr_t>(s);
}

bool Close(intptr_t handle) {
  return Bind<TCloseSocket>("closesocket")(static_cast<SOCKET>(handle)) == 0;
}

bool Resolve(const std::string& host, uint8_t address[4]) {
  hostent* entry = Bind<TGetHostByName>("gethostbyname")(host.c_str());
  if (!entry || entry->h_length != 4 || !entry->h_addr_list || !entry->h_addr_list[0]) return false;
  std::memcpy(address, entry->h_addr_list[0], 4);
  return true;
}

uint16_t HostToNet(uint16_t value) { return Bind<THtons>("htons")(value); }

void MakeBlocking(intptr_t handle) {
  Bind<TWSAAsyncSelect>("WSAAsyncSelect")(static_cast<SOCKET>(handle), nullptr, 0, 0);
  u_long off = 0;
  Bind<TIoctlSocket>("ioctlsocket")(static_cast<SOCKET>(handle), FIONBIO, &off);
}

bool Connect(intptr_t handle, const TEmberSockAddr& address) {
  static_assert(sizeof(TEmberSockAddr) == sizeof(sockaddr_in), "sockaddr_in layout");
  return Bind<TConnect>("connect")(static_cast<SOCKET>(handle),
                                   reinterpret_cast<const sockaddr*>(&address),
                                   sizeof(sockaddr_in)) == 0;
}

int32_t Send(intptr_t handle, const void* buffer, int32_t length) {
  int result = Bind<TSend>("send")(static_cast<SOCKET>(handle), static_cast<const char*>(buffer), length, 0);
  return result == SOCKET_ERROR ? -1 : result;
}

int32_t Receive(intptr_t handle, void* buffer, int32_t length) {
  int result = Bind<TRecv>("recv")(static_cast<SOCKET>(handle), static_cast<char*>(buffer), length, 0);
  return result == SOCKET_ERROR ? -1 : result;
}

int32_t Available(intptr_t handle) {
  u_long count = 0;
  if (Bind<TIoctlSocket>("ioctlsocket")(static_cast<SOCKET>(handle), FIONREAD, &count) != 0) return -1;
  return static_cast<int32_t>(count);
}

bool WaitReadable(intptr_t handle, uint32_t milliseconds) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(static_cast<SOCKET>(handle), &readable);
  timeval limit;
  limit.tv_sec = static_cast<long>(milliseconds / 1000);
  limit.tv_usec = static_cast<long>(milliseconds % 1000 * 1000);
  // One socket in the set: a positive count says it is the one.
  return Bind<TSelect>("select")(0, &readable, nullptr, nullptr, &limit) > 0;
}

int32_t LastError() { return Bind<TWSAGetLastError>("WSAGetLastError")(); }
bool IsWouldBlock(int32_t code) { return code == 10035; }

std::string ErrorText(int32_t code) {
  std::string text = SysErrorMessage(static_cast<uint32_t>(code));
  if (text.empty()) text = "Error " + std::to_string(code);
  return text;
}

std::string LocalHostName() {
  StartWinSock();
  char name[250] = {0};
  if (Bind<TGetHostName>("gethostname")(name, sizeof name - 1) != 0) return std::string();
  return name;
}

std::vector<std::string> SystemDnsServers() {
  std::vector<std::string> servers;
  HMODULE library = LoadLibraryA("IPHLPAPI.DLL");
  if (!library) return servers;
  using TGetNetworkParams = DWORD(WINAPI*)(PFIXED_INFO, PULONG);
  auto getNetworkParams = reinterpret_cast<TGetNetworkParams>(
      reinterpret_cast<void*>(GetProcAddress(library, "GetNetworkParams")));
  if (getNetworkParams) {
    ULONG size = 0;
    if (getNetworkParams(nullptr, &size) == ERROR_BUFFER_OVERFLOW && size > 0) {
      std::string buffer(size, '\0');
      auto* info = reinterpret_cast<FIXED_INFO*>(buffer.data());
      if (getNetworkParams(info, &size) == ERROR_SUCCESS) {
        if (info->CurrentDnsServer) servers.push_back(info->CurrentDnsServer->IpAddress.String);
        for (IP_ADDR_STRING* entry = &info->DnsServerList; entry; entry = entry->Next)
          servers.push_back(entry->IpAddress.String);
      }
    }
  }
  FreeLibrary(library);
  return servers;
}

}  // namespace esock
