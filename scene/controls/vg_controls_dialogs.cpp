// Basic styled controls that open menus and dialogs: popup button, colour button, popup box and
// image control.
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "classlib/SysUtils.h"
#include "scene/core/vg_canvas.h"
#include "scene/core/vg_registry.h"
#include "scene/core/vg_sceneintf.h"
#include "vg_controls.h"

KBL_PUBLISHED(TvgPopupButton) { KBL_PROP(PopupMenu); }
KBL_PUBLISHED(TvgColorButton) {
  KBL_PROP(AutoTranslate).Default(false);
  KBL_PROP(Color);
  KBL_PROP(UseStandardDialog).Default(true);
  p.Property("OnChange", &TvgColorButton::OnChange, &TvgColorButton::OnChange);
}
KBL_PUBLISHED(TvgPopupBox) {
  KBL_PROP(Height).Default(21.0f);
  p.Property("Text", &TvgPopupBox::GetText, &TvgPopupBox::SetText).Stored(false);
  KBL_PROP(Items);
  KBL_PROP(ItemIndex).Default(-1);
  p.Property("OnChange", &TvgPopupBox::OnChange, &TvgPopupBox::OnChange);
}
KBL_PUBLISHED(TvgHudPopupBox) {}
KBL_PUBLISHED(TvgImageControl) {
  KBL_PROP(Bitmap);
  KBL_PROP(EnableOpenDialog).Default(true);
  KBL_PROP(CanFocused).Default(true);
  KBL_PROP(DisableFocusEffect).Default(false);
  p.Property("OnChange", &TvgImageControl::OnChange, &TvgImageControl::OnChange);
}

namespace {
TvgPoint ToScreen(TvgVisualObject* obj, const TvgPoint& local) {
  const TvgPoint abs = obj->LocalToAbsolute(local);
  return obj->GetScene() != nullptr ? obj->GetScene()->LocalToScreen(abs) : abs;
}
}  // namespace

// --- Popup button

TvgPopupButton::~TvgPopupButton() {
  if (popupMenu_ != nullptr) popupMenu_->RemoveFreeNotification(this);
  popupMenu_ = nullptr;
}

void TvgPopupButton::SetPopupMenu(TComponent* value) {
  if (value == popupMenu_) return;
  if (popupMenu_ != nullptr) popupMenu_->RemoveFreeNotification(this);
  popupMenu_ = value;
  if (popupMenu_ != nullptr) popupMenu_->FreeNotification(this);
}

void TvgPopupButton::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation == opRemove && component == popupMenu_) popupMenu_ = nullptr;
}

// The dialogs and menus below run a loop of their own, also when the program clicks the control:
// the loop, and what the control does with its answer, run as code of the control, so that a
// form released meanwhile (in OnClick, a timer) waits for them (TComponentFrame).
void TvgPopupButton::Click() {
  const TComponentFrame code(this);
  inherited::Click();
  if (popupMenu_ == nullptr || GetScene() == nullptr || !vgDialogHooks().PopupMenu) return;
  const TvgPoint p = ToScreen(this, vgPoint(0, GetHeight()));
  vgDialogHooks().PopupMenu(popupMenu_, static_cast<int32_t>(std::nearbyint(p.X)), static_cast<int32_t>(std::nearbyint(p.Y)));
}

// --- Colour button

TvgColorButton::TvgColorButton(TComponent* owner) : TvgCustomButton(owner) { SetAutoTranslate(false); }

void TvgColorButton::ApplyStyle() {
  inherited::ApplyStyle();
  fill_ = dynamic_cast<TvgShape*>(FindResource("fill"));
  if (fill_ != nullptr) fill_->GetFill()->SetSolidColor(vgStrToColor(color_));
}

void TvgColorButton::FreeStyle() {
  inherited::FreeStyle();
  fill_ = nullptr;
}

void TvgColorButton::SetColor(const std::string& value) {
  color_ = value;
  if (fill_ != nullptr) fill_->GetFill()->SetSolidColor(vgStrToColor(color_));
  if (!IsLoading()) RunHandler(OnChange, this);
}

void TvgColorButton::Click() {
  const TComponentFrame code(this);  // the dialog's loop, as the popup button's menu
  inherited::Click();
  uint32_t color = vgStrToColor(color_);
  // Without the standard dialog the brush dialog chooses, alpha included; where it is not
  // installed the colour dialog answers in both modes.
  if (!useStandardDialog_ && vgDialogHooks().ChooseBrushColor) {
    if (vgDialogHooks().ChooseBrushColor(color)) SetColor(vgColorToStr(color));
    return;
  }
  if (!vgDialogHooks().ChooseColor) return;
  if (vgDialogHooks().ChooseColor(color)) SetColor(vgColorToStr(0xFF000000u | color));
}

// --- Popup box

TvgPopupBox::TvgPopupBox(TComponent* owner) : TvgCustomButton(owner), items_(new TvgWideStringList()) {
  items_->OnChange = TNotifyEvent::Of<&TvgPopupBox::ItemsChanged>(this);
  SetCanFocused(true);
  SetHeight(21);
  TvgCustomButton::SetText(WideString());
}

TvgPopupBox::~TvgPopupBox() {
  DestroyTree();
  items_->OnChange = TNotifyEvent();
  delete items_;
}

void TvgPopupBox::SetItemIndex(int32_t value) {
  if (!vgSetChanged(itemIndex_, value)) return;
  // An index beyond the list selects nothing.
  if (itemIndex_ >= 0 && itemIndex_ < items_->GetCount()) {
    TvgCustomButton::SetText(items_->Get(itemIndex_));
  } else {
    TvgCustomButton::SetText(WideString());
    itemIndex_ = -1;
  }
  RunHandler(OnChange, this);
}

void TvgPopupBox::SetText(const WideString& value) {
  if (items_->GetCount() == 0) {
    itemIndex_ = -1;
    TvgCustomButton::SetText(WideString());
    return;
  }
  itemIndex_ = items_->IndexOf(value);
  TvgCustomButton::SetText(itemIndex_ >= 0 ? value : WideString());
}

void TvgPopupBox::SetData(const Variant& value) {
  if (value.IsNull()) {
    SetItemIndex(-1);
  } else if (vgVarIsEvent(value)) {
    const TMethodValue m = vgVariantToEvent(value);
    OnChange = m.Assigned() ? TNotifyEvent::FromFunction(reinterpret_cast<TNotifyEvent::Thunk>(m.Code), m.Data)
                            : TNotifyEvent();
  } else if (value.IsNumeric()) {
    SetItemIndex(value.ToInt());
  } else if (value.IsString()) {
    const int32_t index = items_->IndexOf(value.ToWideString());
    if (index >= 0) SetItemIndex(index);
    else SetText(value.ToWideString());
  }
}

void TvgPopupBox::Click() {
  inherited::Click();
  DoPopup();
}

void TvgPopupBox::DoPopup() {
  const TComponentFrame code(this);  // the menu's loop, as the popup button's
  if (GetScene() == nullptr || !vgDialogHooks().PopupList) return;
  std::vector<std::string> captions;
  for (int32_t k = 0; k < items_->GetCount(); ++k) captions.push_back(WideToUtf8(items_->Get(k)));
  // Rows of 20 units centred on the control.
  const TvgPoint p = ToScreen(this, vgPoint(0, GetHeight() / 2 - 10.0f * static_cast<float>(items_->GetCount())));
  vgDialogHooks().PopupList(this, captions, itemIndex_, static_cast<int32_t>(std::nearbyint(p.X)),
                            static_cast<int32_t>(std::nearbyint(p.Y)), [this](int32_t index) { SetItemIndex(index); });
}

// --- Image control

TvgImageControl::TvgImageControl(TComponent* owner) : TvgControl(owner), bitmap_(new TvgBitmap(0, 0)) {
  bitmap_->OnChange = TNotifyEvent::Of<&TvgImageControl::BitmapChanged>(this);
  SetCanFocused(true);
}

TvgImageControl::~TvgImageControl() {
  DestroyTree();
  image_ = nullptr;
  delete bitmap_;
}

void TvgImageControl::ApplyStyle() {
  inherited::ApplyStyle();
  image_ = dynamic_cast<TvgImage*>(FindResource("image"));
  if (image_ != nullptr) image_->GetBitmap()->Assign(bitmap_);
}

void TvgImageControl::FreeStyle() {
  inherited::FreeStyle();
  image_ = nullptr;
}

void TvgImageControl::BitmapChanged(TObject*) {
  if (image_ == nullptr) return;
  if (!bitmap_->IsEmpty()) {
    TvgRect r = vgRect(0, 0, static_cast<float>(bitmap_->GetWidth()), static_cast<float>(bitmap_->GetHeight()));
    vgFitRect(r, image_->GetLocalRect());
    const int32_t w = std::max<int32_t>(1, static_cast<int32_t>(std::lround(r.Right - r.Left)));
    const int32_t h = std::max<int32_t>(1, static_cast<int32_t>(std::lround(r.Bottom - r.Top)));
    TvgBitmap* shown = image_->GetBitmap();
    shown->SetSize(w, h);
    shown->Clear(0);
    if (TvgCanvas* canvas = shown->GetCanvas()) {
      const TvgRect src = vgRect(0, 0, static_cast<float>(bitmap_->GetWidth()), static_cast<float>(bitmap_->GetHeight()));
      if (canvas->BeginScene()) {
        canvas->DrawBitmap(*bitmap_, src, vgRect(0, 0, static_cast<float>(w), static_cast<float>(h)), 1, false);
        canvas->EndScene();
      }
    }
    shown->BitmapChanged();
  } else {
    image_->GetBitmap()->Assign(bitmap_);
  }
  image_->Repaint();
  RunHandler(OnChange, this);
}

bool TvgImageControl::IsImageFile(const std::string& fileName) {
  const size_t dot = fileName.find_last_of('.');
  const size_t slash = fileName.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 >= fileName.size())
    return false;
  const std::string ext = fileName.substr(dot);
  std::error_code ec;
  const std::u8string u8name(fileName.begin(), fileName.end());
  if (!std::filesystem::is_regular_file(std::filesystem::path(u8name), ec)) return false;
  std::unique_ptr<TvgFilter> filter = vgCreateDefaultFilter();
  if (!filter) return false;
  // The types are "*.bmp;*.png;...": a whole entry must match.
  std::string types = ";";
  types += LowerCase(filter->GetFileTypes());
  types += ';';
  std::string entry = ";*";
  entry += LowerCase(ext);
  entry += ';';
  return types.find(entry) != std::string::npos;
}

void TvgImageControl::Click() {
  const TComponentFrame code(this);  // the dialog's loop, as the popup button's menu
  inherited::Click();
  if (!enableOpenDialog_ || !vgDialogHooks().OpenFile) return;
  std::unique_ptr<TvgFilter> filter = vgCreateDefaultFilter();
  const std::string types = filter ? filter->GetFileTypes() : std::string("*.*");
  std::string fileName;
  if (vgDialogHooks().OpenFile("Images (" + types + ")|" + types, fileName)) bitmap_->LoadFromFile(fileName);
}

void TvgImageControl::DragOver(const TvgDragObject& data, const TvgPoint& point, bool& accept) {
  inherited::DragOver(data, point, accept);
  accept = dynamic_cast<TvgImage*>(data.Source) != nullptr ||
           std::any_of(data.Files.begin(), data.Files.end(),
                       [](const WideString& f) { return IsImageFile(WideToUtf8(f)); });
}

void TvgImageControl::DragDrop(const TvgDragObject& data, const TvgPoint& point) {
  inherited::DragDrop(data, point);
  if (auto* image = dynamic_cast<TvgImage*>(data.Source)) {
    bitmap_->Assign(image->GetBitmap());
    return;
  }
  // The first dropped file that is a picture: the drop was accepted for it.
  for (const WideString& f : data.Files) {
    const std::string name = WideToUtf8(f);
    if (IsImageFile(name) && bitmap_->LoadFromFile(name)) return;
  }
}

Variant TvgImageControl::GetData() { return vgObjectToVariant(bitmap_); }

void TvgImageControl::SetData(const Variant& value) {
  if (value.IsNull()) {
    bitmap_->SetSize(1, 1);
  } else if (vgVarIsObject(value)) {
    if (auto* persistent = dynamic_cast<TPersistent*>(vgVariantToObject(value))) bitmap_->Assign(persistent);
  } else if (value.IsString()) {
    bitmap_->LoadFromFile(value.ToString());
  }
}
