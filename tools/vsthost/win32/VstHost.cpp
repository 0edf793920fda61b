// The scripted host on Windows: LoadLibrary, the entry, and the host callback.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "../VstHost.h"
#include "classlib/SysUtils.h"

namespace {

using PluginEntry = AEffect*(VSTCALLBACK*)(audioMasterCallback);

std::mutex registryLock;
std::map<AEffect*, TVstHost*> registry;
// The host being created: the entry calls back before it has returned the record.
thread_local TVstHost* constructing = nullptr;

std::string LastErrorText() { return SysErrorMessage(GetLastError()); }

}  // namespace

TVstHost::TVstHost(const std::string& dllPath, VstInt32 hostVersion) : hostVersion_(hostVersion) {
  timeInfo.sampleRate = 44100;
  timeInfo.tempo = 120;
  timeInfo.timeSigNumerator = 4;
  timeInfo.timeSigDenominator = 4;
  timeInfo.flags = kVstTempoValid | kVstPpqPosValid | kVstBarsValid | kVstTimeSigValid;

  HMODULE module = LoadLibraryA(dllPath.c_str());
  if (!module) throw EHostError("cannot load plug-in \"" + dllPath + "\": " + LastErrorText());
  module_ = module;
  auto entry = reinterpret_cast<PluginEntry>(GetProcAddress(module, "VSTPluginMain"));
  if (!entry) entry = reinterpret_cast<PluginEntry>(GetProcAddress(module, "main"));
  if (!entry) {
    FreeLibrary(module);
    throw EHostError("\"" + dllPath + "\" is not a VST 2 plug-in: it exports neither VSTPluginMain nor main");
  }
  constructing = this;
  AEffect* effect = entry(&TVstHost::Callback);
  constructing = nullptr;
  if (!effect || effect->magic != kEffectMagic) {
    FreeLibrary(module);
    throw EHostError("\"" + dllPath + "\" answered no plug-in");
  }
  effect_ = effect;
  std::lock_guard<std::mutex> guard(registryLock);
  registry[effect_] = this;
}

TVstHost::~TVstHost() {
  Close();
  if (module_) FreeLibrary(static_cast<HMODULE>(module_));
}

void TVstHost::Close() {
  if (!effect_) return;
  effect_->dispatcher(effect_, effClose, 0, 0, nullptr, 0);
  std::lock_guard<std::mutex> guard(registryLock);
  registry.erase(effect_);
  effect_ = nullptr;
}

VstIntPtr VSTCALLBACK TVstHost::Callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                         void* ptr, float opt) {
  TVstHost* host = nullptr;
  {
    std::lock_guard<std::mutex> guard(registryLock);
    auto found = registry.find(effect);
    if (found != registry.end()) host = found->second;
  }
  if (!host) host = constructing;
  if (!host) return opcode == audioMasterVersion ? 2400 : 0;
  try {
    std::lock_guard<std::mutex> answering(host->callLock);
    VstIntPtr answer = host->Answer(opcode, index, value, ptr, opt);
    THostCall call{opcode, index, value, opt, answer};
    host->calls.push_back(call);
    if (host->onCall) host->onCall(call);
    return answer;
  } catch (...) {
    return 0;
  }
}
