// The smallest VST 2 plug-in a host can load: VSTPluginMain fills a record on the heap, the close
// opcode frees it, everything else answers 0. The reference of the start-up benchmark. Built with
// TRIVIAL_ASKS_DATA_FOLDER, VSTPluginMain also asks the shell for the user's application-data
// folder first, as every plug-in that keeps a file of the user's there must.
#include <windows.h>

#include <new>

#ifdef TRIVIAL_ASKS_DATA_FOLDER
#include <shlobj.h>
#endif

#include "plugin/vst/VstTypes.h"

namespace {

VstIntPtr VSTCALLBACK Dispatcher(AEffect* effect, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
  if (opcode == effClose) delete effect;
  return 0;
}

void VSTCALLBACK Process(AEffect*, float**, float**, VstInt32) {}
void VSTCALLBACK SetParameter(AEffect*, VstInt32, float) {}
float VSTCALLBACK GetParameter(AEffect*, VstInt32) { return 0; }

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

extern "C" AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback audioMaster) {
  if (!audioMaster || audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0) == 0) return nullptr;
#ifdef TRIVIAL_ASKS_DATA_FOLDER
  char folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) return nullptr;
#endif
  AEffect* effect = new (std::nothrow) AEffect{};
  if (!effect) return nullptr;
  effect->magic = kEffectMagic;
  effect->dispatcher = Dispatcher;
  effect->process = Process;
  effect->setParameter = SetParameter;
  effect->getParameter = GetParameter;
  effect->processReplacing = Process;
  effect->numPrograms = 1;
  effect->numInputs = 2;
  effect->numOutputs = 2;
  effect->flags = effFlagsCanReplacing;
  effect->uniqueID = FourCharToLong('T', 'r', 'v', 'l');
  effect->version = 1;
  return effect;
}
