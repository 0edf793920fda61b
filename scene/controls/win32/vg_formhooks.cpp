// The buttons' form actions for the class library's forms: modal result and closing.
#include "classlib/Forms.h"
#include "scene/controls/vg_controls_p.h"
#include "scene/controls/vg_formhooks.h"

void vgInstallPlatformFormHooks() {
  TvgFormHooks& hooks = vgFormHooks();
  hooks.SetModalResult = [](TComponent* form, TvgModalResult result) {
    if (auto* f = dynamic_cast<TCustomForm*>(form)) f->SetModalResult(result);
  };
  hooks.Close = [](TComponent* form) {
    if (auto* f = dynamic_cast<TCustomForm*>(form)) f->Close();
  };
}
