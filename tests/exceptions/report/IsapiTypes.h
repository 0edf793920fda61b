// The ISAPI extension interface as the extension test DLL and its stand-in web server use it,
// declared from its documented layout: the version record GetExtensionVersion fills, the
// extension control block of one request with the server's callbacks, and the codes used.
#pragma once

#include <windows.h>

namespace isapi {

using HConn = void*;  // the server's handle of one connection

constexpr DWORD kVersion = 0x00080000;              // 8.0 in the high and low words
constexpr DWORD kStatusSuccess = 1;                 // HttpExtensionProc's answers
constexpr DWORD kStatusError = 4;
constexpr DWORD kSendResponseHeader = 3;            // ServerSupportFunction request
constexpr size_t kLogBufferLength = 80;
constexpr size_t kDescriptionLength = 256;

struct VersionInfo {
  DWORD ExtensionVersion;
  CHAR ExtensionDescription[kDescriptionLength];
};

struct ExtensionControlBlock {
  DWORD Size;
  DWORD Version;
  HConn ConnID;
  DWORD HttpStatusCode;
  CHAR LogData[kLogBufferLength];
  LPSTR Method;
  LPSTR QueryString;
  LPSTR PathInfo;
  LPSTR PathTranslated;
  DWORD TotalBytes;
  DWORD Available;
  LPBYTE Data;
  LPSTR ContentType;
  BOOL(WINAPI* GetServerVariable)(HConn connection, LPSTR name, LPVOID buffer, LPDWORD size);
  BOOL(WINAPI* WriteClient)(HConn connection, LPVOID buffer, LPDWORD bytes, DWORD reserved);
  BOOL(WINAPI* ReadClient)(HConn connection, LPVOID buffer, LPDWORD size);
  BOOL(WINAPI* ServerSupportFunction)(HConn connection, DWORD request, LPVOID buffer, LPDWORD size, LPDWORD type);
};

using GetExtensionVersionProc = BOOL(WINAPI*)(VersionInfo* version);
using HttpExtensionProcProc = DWORD(WINAPI*)(ExtensionControlBlock* block);
using TerminateExtensionProc = BOOL(WINAPI*)(DWORD flags);

}  // namespace isapi
