// No WinInet in the native builds: binding fails and with it every web send.
#include "../detail/EWinInetApi_p.h"

#include <cstring>

namespace einet {

bool Load() { return false; }
void Free() {}
Handle Open(const std::string&, const std::string&) { return 0; }
Handle Connect(Handle, const std::string&, uint16_t, const std::string&, const std::string&, bool,
               uint32_t) {
  return 0;
}
Handle OpenRequest(Handle, const std::string&, const std::string&, uint32_t) { return 0; }
bool IgnoreUnknownCA(Handle) { return false; }
bool AddHeader(Handle, const std::string&) { return false; }
bool SetProxyCredentials(Handle, const std::string&, const std::string&) { return false; }
bool SendRequestEx(Handle, uint32_t) { return false; }
bool Write(Handle, const void*, uint32_t, uint32_t& written) {
  written = 0;
  return false;
}
bool EndRequest(Handle) { return false; }
bool QueryInfo(Handle, uint32_t, std::string& text) {
  text.clear();
  return false;
}
bool Read(Handle, void*, uint32_t, uint32_t& read) {
  read = 0;
  return false;
}
bool Close(Handle) { return false; }
Handle OpenFtpFile(Handle, const std::string&) { return 0; }
uint32_t LastError() { return 0; }
std::string LastResponseInfo() { return std::string(); }
std::string SystemErrorText(uint32_t code) { return "Error " + std::to_string(code); }

}  // namespace einet
