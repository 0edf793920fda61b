// The module entry of the plug-in DLL: DllMain records the module handle, VSTPluginMain creates
// the host adapter for a host. The module's start-up work runs while at least one plug-in is
// open: the first one starts it, closing the last one undoes it again, so that nothing the module
// changed in the host's process outlives the plug-ins (a host closes its plug-ins before it
// unloads the DLL, and neither step may run under the loader lock). What only an editor needs
// (the GUI's classes and its drawing back end) waits for the first editor window, so that a host
// that scans its plug-ins (load, create, close, unload) pays for none of it.
#include <windows.h>

#include <atomic>

#include "classlib/Module.h"
#include "classlib/TypInfo.h"
#include "editor/rkPluginGui.h"
#include "exceptions/report/EExceptionDialog.h"
#include "exceptions/report/EExceptionProcessing.h"
#include "imageformats/GraphicFileFormats.h"
#include "plugin/framework/rkVstAdapter.h"
#include "scene/design/vg_design.h"

namespace {

// The threads making a plug-in after their hold was taken, one slot each (a handle of the
// thread): a host thread killed there never hands its plug-in to the host, which never closes
// it. No lock: a thread may stop anywhere in here.
constexpr int32_t kOpenSlots = 64;
std::atomic<HANDLE> gOpening[kOpenSlots];

// The slot of the calling thread's open, or -1 when every slot is taken (its hold is then the
// host's to give back, as before).
int32_t MarkOpening() {
  HANDLE self = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, SYNCHRONIZE, FALSE, 0))
    return -1;
  for (int32_t i = 0; i < kOpenSlots; ++i) {
    HANDLE empty = nullptr;
    if (gOpening[i].compare_exchange_strong(empty, self)) return i;
  }
  CloseHandle(self);
  return -1;
}

void UnmarkOpening(int32_t slot) {
  if (slot >= 0) CloseHandle(gOpening[slot].exchange(nullptr));
}

// Every plug-in closed releases its hold on the exception library, which holds the module's
// start-up for the plug-ins open; first, each open whose thread ended while making its plug-in
// gives back its hold, so that the library is let go with the host's last plug-in.
void ReleaseModule() {
  for (std::atomic<HANDLE>& slot : gOpening) {
    HANDLE thread = slot.load();
    if (thread == nullptr || WaitForSingleObject(thread, 0) != WAIT_OBJECT_0 ||
        !slot.compare_exchange_strong(thread, nullptr))
      continue;
    CloseHandle(thread);
    StopExceptionReporting();
  }
  StopExceptionReporting();
}

// The module's start-up, run by the exception library as it attaches for the first plug-in,
// before it processes any exception (so that none is processed without the report's dialogs and
// send), under its attachment's work and the library lock, which a thread killed inside leaves
// to their next holders, who undo the attachment: the next open runs it again. Once per load: the
// editor services reach the host adapter, the text, list, grid and colour controls and the
// design-time editors join the classes that register with the first editor window (streamed scenes
// create them by name), the exception library's dialogs, web page and send are joined to its
// processing, and every plug-in closed releases its hold. Then the image readers join the picture
// registry; the last plug-in closed takes them out before the library detaches. A failure here
// fails the open without a report.
void StartModule() {
  static std::atomic<bool> installed{false};
  if (!installed) {
    InstallPluginEditor();
    AddClassRegistration(&vgInitDesignUnit);
    InstallReportUserSide();
    SetEffectClosedHandler(&ReleaseModule);
    installed = true;
  }
  RegisterImageFormats();
}

// One hold per plug-in created; a start-up that fails takes none.
void AcquireModule() {
  SetReportingModuleWork(&StartModule, &UnregisterImageFormats);
  StartExceptionReporting();
}

// The threads library linked into the DLL takes one thread-local storage slot the first time it
// needs one in a load and never gives it back: a host that loads and unloads the DLL again and
// again would run out of slots after about a thousand loads. The DLL links its slot allocation
// through KeptTlsAlloc (the link wraps the import), which notes the slot, and the unload frees it
// last of all, after every other part of the module has ended.
std::atomic<DWORD> gThreadsSlot{TLS_OUT_OF_INDEXES};

}  // namespace

extern "C" DWORD(WINAPI* const RealTlsAlloc)() asm("___real__imp__TlsAlloc@0");

namespace {

DWORD WINAPI KeptTlsAlloc() {
  const DWORD slot = RealTlsAlloc();
  DWORD none = TLS_OUT_OF_INDEXES;
  gThreadsSlot.compare_exchange_strong(none, slot);
  return slot;
}

// Made first, so ended last of the module's statics.
struct TThreadsSlotAtUnload {
  ~TThreadsSlotAtUnload() {
    const DWORD slot = gThreadsSlot.exchange(TLS_OUT_OF_INDEXES);
    if (slot != TLS_OUT_OF_INDEXES) TlsFree(slot);
  }
} gThreadsSlotAtUnload __attribute__((init_priority(101)));

}  // namespace

extern "C" void* WrappedTlsAlloc asm("___wrap__imp__TlsAlloc@0");
void* WrappedTlsAlloc = reinterpret_cast<void*>(&KeptTlsAlloc);

// Only the handle is recorded here: everything else starts on first use, outside the loader lock.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) SetModuleInstance(instance);
  return TRUE;
}

// The VST 2 entry, also exported as "main". Answers no plug-in when the host reports version 0
// or when creating the plug-in fails; nothing raised here reaches the host.
extern "C" AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback audioMaster) {
  try {
    if (!audioMaster || audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0) == 0) return nullptr;
    AcquireModule();
    const int32_t slot = MarkOpening();
    try {
      AEffect* effect = (new TrkVstAdapter(audioMaster))->getAeffect();
      UnmarkOpening(slot);
      return effect;
    } catch (...) {
      UnmarkOpening(slot);
      HandOverCaughtException(0);
      ReleaseModule();
      return nullptr;
    }
  } catch (...) {
    return nullptr;
  }
}
