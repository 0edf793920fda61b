// A second module for the shared-memory tests: it keeps its own options and publishes them the
// way the library does in any DLL that carries it.
#include <windows.h>

#include <memory>

#include "exceptions/EmberModuleOptions.h"
#include "exceptions/EmberSharedMemory.h"

namespace {

std::unique_ptr<TEmberModuleOptionsEx>& Options() {
  static std::unique_ptr<TEmberModuleOptionsEx> options;
  return options;
}

}  // namespace

extern "C" {

// Creates this module's options under its own file name (publishes nothing yet).
__declspec(dllexport) int CreateModuleOptions() {
  try {
    Options() = std::make_unique<TEmberModuleOptionsEx>("exceptions_options_module.dll");
    return Options()->BelongsToThisModule() ? 1 : 0;
  } catch (...) {
    return -1;
  }
}

// Sets the SMTP host, which publishes at once unless updates are held back.
__declspec(dllexport) int SetSmtpHostOption(const char* host) {
  try {
    Options()->SetSmtpHost(host);
    return 1;
  } catch (...) {
    return -1;
  }
}

__declspec(dllexport) void BeginOptionsUpdate() { Options()->BeginUpdate(); }
__declspec(dllexport) void EndOptionsUpdate() { Options()->EndUpdate(); }

// Sets text `index` to `length` copies of `fill`.
__declspec(dllexport) int SetLongText(int index, int length, char fill) {
  try {
    Options()->SetCustomizedText(index, std::string(static_cast<size_t>(length), fill));
    return 1;
  } catch (...) {
    return -1;
  }
}

__declspec(dllexport) void FreeModuleOptions() {
  Options().reset();
  CloseModuleSharedMemory();
}

}  // extern "C"
