// The module entry of the plug-in DLL: DllMain records the module handle, VSTPluginMain creates
// the host adapter for a host.
#include <windows.h>

#include "classlib/Module.h"
#include "plugin/framework/rkVstAdapter.h"

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
    auto* adapter = new TrkVstAdapter(audioMaster);
    return adapter->getAeffect();
  } catch (...) {
    return nullptr;
  }
}
