// The module entry of the plug-in DLL: DllMain records the module handle, VSTPluginMain creates
// the host adapter for a host. The exception library is attached while at least one plug-in is
// open: the first one attaches it, closing the last one detaches it again, so that nothing it
// changed in the host's process outlives the plug-ins.
#include <windows.h>

#include <mutex>

#include "classlib/Module.h"
#include "editor/rkPluginGui.h"
#include "exceptions/report/EExceptionDialog.h"
#include "exceptions/report/EExceptionProcessing.h"
#include "imageformats/GraphicFileFormats.h"
#include "plugin/framework/rkVstAdapter.h"

namespace {

// The module's start-up work, run once when a host first asks for a plug-in (never under the
// loader lock): the image readers join the picture registry, the editor's classes the class
// registry and the editor services reach the host adapter; the exception library's dialogs,
// web page and send are joined to its processing; every plug-in closed releases its hold on the
// exception library.
void StartModule() {
  static std::once_flag started;
  std::call_once(started, [] {
    RegisterImageFormats();
    InstallPluginEditor();
    InstallReportUserSide();
    SetEffectClosedHandler(&StopExceptionReporting);
  });
}

// The readers are not unregistered at unload: the registry lives in this module and goes with
// it, and the static destructors of the units involved run in no order one could rely on.

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
    StartModule();
    StartExceptionReporting();
    try {
      return (new TrkVstAdapter(audioMaster))->getAeffect();
    } catch (...) {
      HandOverCaughtException(0);
      StopExceptionReporting();
      return nullptr;
    }
  } catch (...) {
    return nullptr;
  }
}
