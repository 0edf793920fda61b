// The controls' actions on the class library's windows: form modal result and closing, hosted
// window control bounds and visibility.
#include "classlib/Controls.h"
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
  TvgHostedControlHooks& hosted = vgHostedControlHooks();
  hosted.GetVisible = [](TComponent* control) {
    auto* c = dynamic_cast<TControl*>(control);
    return c != nullptr && c->GetVisible();
  };
  hosted.SetVisible = [](TComponent* control, bool visible) {
    if (auto* c = dynamic_cast<TControl*>(control)) c->SetVisible(visible);
  };
  hosted.SetBounds = [](TComponent* control, int32_t left, int32_t top, int32_t width, int32_t height) {
    if (auto* c = dynamic_cast<TControl*>(control)) c->SetBounds(left, top, width, height);
  };
}
