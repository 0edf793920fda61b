// The WinInet calls of the web senders, bound by name at run time on Windows (win32/); the
// native builds have no WinInet and every call fails (posix/).
#pragma once

#include <cstdint>
#include <string>

namespace einet {

using Handle = uintptr_t;

// Loads "wininet.dll" and finds all 17 functions; false when any is missing.
bool Load();
void Free();

// Session with the agent name; a non-empty `proxy` ("host:port") is used with the bypass list
// "<local>", otherwise the system's configuration.
Handle Open(const std::string& agent, const std::string& proxy);
// `ftp` picks the service; `flags` are INTERNET_FLAG_* values.
Handle Connect(Handle session, const std::string& host, uint16_t port, const std::string& user,
               const std::string& password, bool ftp, uint32_t flags);
Handle OpenRequest(Handle connection, const std::string& verb, const std::string& object,
                   uint32_t flags);
// Adds SECURITY_FLAG_IGNORE_UNKNOWN_CA to the request's security flags.
bool IgnoreUnknownCA(Handle request);
bool AddHeader(Handle request, const std::string& header);
bool SetProxyCredentials(Handle request, const std::string& user, const std::string& password);
bool SendRequestEx(Handle request, uint32_t totalLength);
bool Write(Handle handle, const void* data, uint32_t length, uint32_t& written);
bool EndRequest(Handle request);
// HttpQueryInfoA into a growing buffer; false when the header is missing.
bool QueryInfo(Handle request, uint32_t infoLevel, std::string& text);
bool Read(Handle handle, void* data, uint32_t length, uint32_t& read);
bool Close(Handle handle);
Handle OpenFtpFile(Handle connection, const std::string& remoteName);

uint32_t LastError();
// InternetGetLastResponseInfoA (3000 characters, 100 more when that is too small).
std::string LastResponseInfo();
std::string SystemErrorText(uint32_t code);

}  // namespace einet
