// Looks into a plug-in module built from the product's own module entry (plugin/KBLDelay.cpp) and
// libraries: what its picture registry holds, its socket library started the way a mailed report
// starts it, and the options CurrentEmberLogOptions answers there; and holds the module's
// exception processing for a while, as a handler of the program does, its memory manager, or
// its exception library's threads list.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "classlib/Graphics.h"
#include "classlib/MemoryManager.h"
#include "exceptions/ECore.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/capture/EmberLogEvents.h"
#include "exceptions/capture/ExceptionLog.h"
#include "exceptions/report/ESockets.h"
#include "exceptions/report/ESupport.h"

// The number of extensions in the module's picture registry.
extern "C" __declspec(dllexport) int32_t ProbeRegisteredFormats() { return TPicture::RegisteredFormatCount(); }

// Starts the socket library as the SMTP greeting does (the computer's host name); 1 when a name
// came back.
extern "C" __declspec(dllexport) int32_t ProbeStartSockets() {
  try {
    return GetLocalHostName().empty() ? 0 : 1;
  } catch (...) {
    return 0;
  }
}

// CurrentEmberLogOptions in the module: 1 with the options' module name in `text`, 0 with the
// error's message there.
extern "C" __declspec(dllexport) int32_t ProbeCurrentOptions(char* text, int32_t size) {
  std::string answer;
  int32_t result = 0;
  try {
    answer = CurrentEmberLogOptions().ModuleName();
    result = 1;
  } catch (const std::exception& e) {
    answer = e.what();
  }
  if (size > 0) {
    const size_t count = std::min<size_t>(answer.size(), static_cast<size_t>(size) - 1);
    std::memcpy(text, answer.data(), count);
    text[count] = '\0';
  }
  return result;
}

// Processes an exception of the module (no dialog) whose exception event's handler sets `entered`
// and then takes `milliseconds`: the library's lock is held that long. Answers the processing's
// result.
extern "C" __declspec(dllexport) int32_t ProbeProcessHolding(HANDLE entered, int32_t milliseconds) {
  static HANDLE signal;
  static DWORD hold;
  signal = entered;
  hold = static_cast<DWORD>(milliseconds);
  if (TEmberModuleInfo* module = GetModuleInfo(GetThisModuleHandle()); module != nullptr && module->Options)
    module->Options->SetExceptionDialogType(0);
  EmberGlobalHandlers().OnExceptionNotify = [](TEmberExceptionRecord&, uint8_t&) {
    SetEvent(signal);
    Sleep(hold);
  };
  const auto* error = new std::runtime_error("held by the probe");  // as a thrown one, never freed here
  return CentralNotify(error, reinterpret_cast<uintptr_t>(&ProbeProcessHolding), 0, 0, 0, nullptr, nullptr, 0,
                       GetThisModuleHandle(), 0, 0);
}

// Holds the module's memory manager lock, setting `entered`, until `release` is set: every
// allocation of the module's other threads waits meanwhile.
extern "C" __declspec(dllexport) void ProbeHoldMemoryManager(HANDLE entered, HANDLE release) {
  struct TArgs {
    HANDLE Entered, Release;
  } args{entered, release};
  kbl_detail::RunHoldingMemoryManagerLock(
      [](void* data) {
        auto* a = static_cast<TArgs*>(data);
        SetEvent(a->Entered);
        WaitForSingleObject(a->Release, INFINITE);
      },
      &args);
}

// Takes the write lock of the exception library's threads list, as a thread made by the module
// does, sets `entered` and keeps it until the thread is ended.
extern "C" __declspec(dllexport) void ProbeHoldThreadsList(HANDLE entered) {
  EmberLibrary().ThreadsList->BeginWrite();
  SetEvent(entered);
  Sleep(INFINITE);
}
