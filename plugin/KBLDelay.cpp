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

// Every plug-in closed releases its hold on the exception library, which holds the module's
// start-up for the plug-ins open.
void ReleaseModule() { StopExceptionReporting(); }

// The module's start-up, run by the exception library once it is attached for the first plug-in
// (so that it sees the rest start), under its attachment's work: no lock of ours is held across
// it, and a thread killed inside leaves it to the next open, which runs it again. Once per load:
// the editor services reach the host adapter, the text, list, grid and colour controls and the
// design-time editors join the classes that register with the first editor window (streamed
// scenes create them by name), the exception library's dialogs, web page and send are joined to
// its processing, and every plug-in closed releases its hold. Then the image readers join the
// picture registry; the last plug-in closed takes them out before the library detaches.
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

}  // namespace

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
    try {
      return (new TrkVstAdapter(audioMaster))->getAeffect();
    } catch (...) {
      HandOverCaughtException(0);
      ReleaseModule();
      return nullptr;
    }
  } catch (...) {
    return nullptr;
  }
}
