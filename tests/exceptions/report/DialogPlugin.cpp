// A VST 2 plug-in that carries the exception library with its dialogs (templates, bitmaps and
// library data linked in, as in the product): setting parameter 0 throws out of its code, and
// DialogPluginFailSlowly fails in the module's code outside any plug-in call.
#include <windows.h>

#include <stdexcept>
#include <utility>

#include "classlib/SysUtils.h"
#include "exceptions/ECore.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/capture/EmberLogEvents.h"
#include "exceptions/capture/EmberRecords.h"
#include "exceptions/report/EExceptionDialog.h"
#include "exceptions/report/EExceptionProcessing.h"
#include "exceptions/report/ESupport.h"
#include "plugin/vst/AudioEffectX.h"

namespace {

__attribute__((noinline)) void ThrowFromKnob() { throw std::runtime_error("Knob failure"); }

// An exception that leaves a function that may not raise: the runtime ends the code of its thread.
void Escape() { throw std::logic_error("escaped"); }
void (*volatile gEscape)() = &Escape;
void LeaveNoexcept() noexcept { gEscape(); }
bool gLeft = false;

class TDialogPlugin : public AudioEffectX {
 public:
  explicit TDialogPlugin(audioMasterCallback master) : AudioEffectX(master, 1, 2) {
    setNumInputs(2);
    setNumOutputs(2);
    setUniqueID(FourCharToLong('t', 'D', 'l', 'g'));
  }
  void processReplacing(float**, float**, VstInt32) override {}
  void setParameter(VstInt32 index, float) override {
    if (index == 0) ThrowFromKnob();
  }
};

}  // namespace

extern "C" AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback master) {
  try {
    if (!master || master(nullptr, audioMasterVersion, 0, 0, nullptr, 0) == 0) return nullptr;
    SetEffectClosedHandler(&StopExceptionReporting);
    StartExceptionReporting();
    InstallReportUserSide();
    return (new TDialogPlugin(master))->getAeffect();
  } catch (...) {
    return nullptr;
  }
}

// The SMTP server the module's reports go to (the test starts one on a free port).
extern "C" void DialogPluginUseSmtp(const char* host, uint16_t port) {
  try {
    TEmberModuleInfo* module = GetModuleInfo(GetThisModuleHandle());
    if (!module || !module->Options) return;
    module->Options->SetSmtpHost(host);
    module->Options->SetSmtpPort(port);
  } catch (...) {
  }
}

// Fails in the module's own code on the calling thread, outside any call of a plug-in (as a
// timer or window of the module may), and hands the failure to the library like the module's
// entries do. Its processing signals `begun` from the exception event and then takes `holdMs`
// more, so that the host can act while it runs.
extern "C" void DialogPluginFailSlowly(HANDLE begun, DWORD holdMs) {
  try {
    EmberGlobalHandlers().OnExceptionNotify = [begun, holdMs](TEmberExceptionRecord&, uint8_t&) {
      SetEvent(begun);
      Sleep(holdMs);
    };
    try {
      ThrowFromKnob();
    } catch (...) {
      HandOverCaughtException(0);
    }
    EmberGlobalHandlers().OnExceptionNotify = nullptr;
  } catch (...) {
  }
}

// The next report's send ends the program's code on its thread once, in its before-e-mail handler.
extern "C" void DialogPluginEndCodeInSend() {
  EmberGlobalHandlers().OnExceptionActionNotify = [](TEmberExceptionRecord&, int32_t action, uint8_t&) {
    if (action == 4 && !std::exchange(gLeft, true)) LeaveNoexcept();
  };
}
