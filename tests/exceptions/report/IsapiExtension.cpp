// A small ISAPI extension built on the exception library, loaded by the extension test as a web
// server loads one: GetExtensionVersion attaches the library with its web error page,
// HttpExtensionProc writes the start of its answer and, for the query "fail", fails in its own
// code before finishing it; TerminateExtension detaches the library.
#include <cstring>
#include <stdexcept>
#include <string>

#include "IsapiTypes.h"
#include "exceptions/capture/ExceptionLog.h"
#include "exceptions/report/EExceptionDialog.h"
#include "exceptions/report/EExceptionProcessing.h"

namespace {

const char* const kStart = "<html><body>Start of the answer";
const char* const kEnd = "</body></html>";

bool Write(isapi::ExtensionControlBlock* block, const char* text) {
  DWORD length = static_cast<DWORD>(std::strlen(text));
  return block->WriteClient(block->ConnID, const_cast<char*>(text), &length, 0) != FALSE;
}

__attribute__((noinline)) void FailInExtension() { throw std::runtime_error("Extension failure"); }

}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI GetExtensionVersion(isapi::VersionInfo* version) {
  try {
    StartExceptionReporting();
    InstallReportUserSide();
    version->ExtensionVersion = isapi::kVersion;
    std::strcpy(version->ExtensionDescription, "Exception library test extension");
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}

// Left to the library's wrapper: whatever leaves this routine is processed there.
extern "C" __declspec(dllexport) DWORD WINAPI HttpExtensionProc(isapi::ExtensionControlBlock* block) {
  Write(block, kStart);
  if (block->QueryString != nullptr && std::strcmp(block->QueryString, "fail") == 0) FailInExtension();
  Write(block, kEnd);
  return isapi::kStatusSuccess;
}

extern "C" __declspec(dllexport) BOOL WINAPI TerminateExtension(DWORD) {
  try {
    StopExceptionReporting();
  } catch (...) {
  }
  return TRUE;
}

// What the library keeps as the last page written, copied into `buffer` (at most `size` bytes
// with the terminating zero).
extern "C" __declspec(dllexport) void IsapiExtensionLastPage(char* buffer, size_t size) {
  try {
    const std::string page = GetLastHTMLPage();
    const size_t length = page.size() < size ? page.size() : size - 1;
    std::memcpy(buffer, page.data(), length);
    buffer[length] = 0;
  } catch (...) {
    if (size > 0) buffer[0] = 0;
  }
}
