// A VST 2 plug-in that carries the exception library with its dialogs (templates, bitmaps and
// library data linked in, as in the product): setting parameter 0 throws out of its code.
#include <windows.h>

#include <stdexcept>

#include "exceptions/ECore.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/capture/EmberRecords.h"
#include "exceptions/report/EExceptionDialog.h"
#include "exceptions/report/EExceptionProcessing.h"
#include "exceptions/report/ESupport.h"
#include "plugin/vst/AudioEffectX.h"

namespace {

__attribute__((noinline)) void ThrowFromKnob() { throw std::runtime_error("Knob failure"); }

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
