// The controls' actions on the class library's windows: form modal result and closing, hosted
// window control bounds and visibility.
#include "classlib/Controls.h"
#include "classlib/Dialogs.h"
#include "classlib/Forms.h"
#include "classlib/Menus.h"
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
  TvgDialogHooks& dialogs = vgDialogHooks();
  dialogs.ChooseColor = [](uint32_t& color) {
    TColorDialog dialog(nullptr);
    // The dialog's order is 0x00BBGGRR.
    dialog.SetColor(static_cast<TColor>((color & 0xFF) << 16 | (color & 0xFF00) | (color >> 16 & 0xFF)));
    if (!dialog.Execute()) return false;
    const uint32_t c = static_cast<uint32_t>(dialog.GetColor());
    color = 0xFF000000u | (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
    return true;
  };
  dialogs.OpenFile = [](const std::string& filter, std::string& fileName) {
    TOpenDialog dialog(nullptr);
    dialog.SetFilter(filter);
    if (!dialog.Execute()) return false;
    fileName = dialog.GetFileName();
    return true;
  };
  dialogs.PopupMenu = [](TComponent* menu, int32_t x, int32_t y) {
    if (auto* popup = dynamic_cast<TPopupMenu*>(menu)) popup->Popup(x, y);
  };
  dialogs.PopupList = [](TComponent* owner, const std::vector<std::string>& items, int32_t checked, int32_t x,
                         int32_t y, std::function<void(int32_t)> pick) {
    // One menu per owner, kept with it; its items are made afresh each time.
    TPopupMenu* menu = nullptr;
    for (int32_t k = 0; k < owner->ComponentCount(); ++k)
      if ((menu = dynamic_cast<TPopupMenu*>(owner->GetComponent(k))) != nullptr) break;
    if (menu == nullptr) menu = new TPopupMenu(owner);
    menu->GetItems()->Clear();
    struct Picker : TComponent {
      explicit Picker(TComponent* o) : TComponent(o) {}
      std::function<void(int32_t)> pick;
      int32_t index = 0;
      void Click(TObject*) { pick(index); }
    };
    for (size_t k = 0; k < items.size(); ++k) {
      auto* item = new TMenuItem(menu);
      item->SetCaption(items[k]);
      item->SetChecked(static_cast<int32_t>(k) == checked);
      auto* picker = new Picker(item);
      picker->pick = pick;
      picker->index = static_cast<int32_t>(k);
      item->OnClick = TNotifyEvent::Of<&Picker::Click>(picker);
      menu->GetItems()->Add(item);
    }
    menu->Popup(x, y);
  };
}
