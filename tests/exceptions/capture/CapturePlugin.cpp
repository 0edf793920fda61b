// A VST 2 plug-in built on the project's libraries and carrying its library data, whose
// parameters make its own code fail: setting parameter 0 throws out of the plug-in's code,
// parameter 1 writes through a null pointer, parameter 2 throws and catches twice, parameter 3
// leaks an object and a buffer, frees a block twice and writes past a block's end.
#include <windows.h>

#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

#include "classlib/System.h"
#include "exceptions/capture/EHook.h"
#include "exceptions/report/EExceptionProcessing.h"
#include "plugin/vst/AudioEffectX.h"

namespace {

class TLeakedThing : public TObject {
 public:
  int Value = 7;
};

__attribute__((noinline)) void ThrowUnhandled() {
  throw std::runtime_error("Plug-in failure");  // the line the report names
}

__attribute__((noinline)) void FaultInPlugin() {
  // movl $1, (%eax) with eax = 0: six bytes the test host steps over after its own handling.
  asm volatile("xorl %%eax, %%eax\n\t.byte 0xC7, 0x00, 0x01, 0x00, 0x00, 0x00" ::: "eax", "memory");
}

__attribute__((noinline)) void ThrowHandled(int round) { throw std::runtime_error("Handled " + std::to_string(round)); }

__attribute__((noinline)) void TwoHandled() {
  for (int round = 1; round <= 2; ++round) {
    try {
      ThrowHandled(round);
    } catch (const std::exception&) {
    }
  }
}

// Keeps the compiler from dropping an allocation it could prove unused.
void Escape(void* block) { asm volatile("" : : "r"(block) : "memory"); }

__attribute__((noinline)) void LeakAndDamage() {
  Escape(new TLeakedThing());
  char* buffer = new char[40];
  Escape(buffer);
  char* twice = new char[16];
  Escape(twice);
  delete[] twice;
  Escape(twice);
  delete[] twice;
  char* overrun = new char[24];
  volatile int32_t end = 24;
  overrun[end] = 0x55;  // one byte past the end
  Escape(overrun);
  delete[] overrun;
}

class TCapturePlugin : public AudioEffectX {
 public:
  explicit TCapturePlugin(audioMasterCallback master) : AudioEffectX(master, 1, 4) {
    setNumInputs(2);
    setNumOutputs(2);
    setUniqueID(FourCharToLong('t', 'C', 'a', 'p'));
  }
  void processReplacing(float** inputs, float** outputs, VstInt32 frames) override {}
  void setParameter(VstInt32 index, float) override {
    switch (index) {
      case 0: ThrowUnhandled(); break;
      case 1: FaultInPlugin(); break;
      case 2: TwoHandled(); break;
      case 3: LeakAndDamage(); break;
      default: break;
    }
  }
};

}  // namespace

extern "C" __declspec(dllexport) AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback master) {
  try {
    if (!master || master(nullptr, audioMasterVersion, 0, 0, nullptr, 0) == 0) return nullptr;
    SetEffectClosedHandler(&StopExceptionReporting);
    StartExceptionReporting();
    return (new TCapturePlugin(master))->getAeffect();
  } catch (...) {
    return nullptr;
  }
}

// What the plug-in's module has changed in the process: where its import of RaiseException
// leads and its runtime's terminate handler.
extern "C" __declspec(dllexport) __attribute__((noipa)) void CaptureProcessState(void** raiseImport, void** terminate) {
  *raiseImport = FollowJumpThunks(reinterpret_cast<void*>(&RaiseException));
  *terminate = reinterpret_cast<void*>(std::get_terminate());
}
