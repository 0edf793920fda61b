// Popups shown as overlays in their scene, their placement, the modal loop and the open list.
#include "vg_popup.h"

#include <algorithm>

#include "vg_canvas.h"

KBL_PUBLISHED(TvgPopup) {
  KBL_PROP(IsOpen);
  KBL_PROP(HorizontalOffset);
  KBL_PROP(VerticalOffset);
  KBL_PROP(Placement);
  KBL_PROP(StaysOpen);
  KBL_PROP(DragWithParent);
}
KBL_PUBLISHED(TvgMessagePopup) { KBL_PROP(DisableScene); }

namespace {

std::vector<TvgPopup*>* g_openPopups = nullptr;
std::function<bool()> g_pump;

std::vector<TvgPopup*>& OpenList() {
  if (g_openPopups == nullptr) g_openPopups = new std::vector<TvgPopup*>();
  return *g_openPopups;
}

// The click catcher over the whole scene while an overlay popup is open.
class TvgPopupOverlay : public TvgVisualObject {
 public:
  explicit TvgPopupOverlay(TvgPopup* popup) : TvgVisualObject(nullptr), popup_(popup) {}
  // Freed with the scene tree while open: the popup (its child) must not free it again.
  ~TvgPopupOverlay() override {
    if (popup_ != nullptr) popup_->Notification(this, opRemove);
  }
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override {
    TvgVisualObject::MouseDown(button, shift, x, y);
    if (popup_->GetIsOpen() && !popup_->GetStaysOpen()) popup_->SetIsOpen(false);
  }

 private:
  TvgPopup* popup_;
};

}  // namespace

const std::vector<TvgPopup*>& vgOpenPopups() { return OpenList(); }

void vgCloseAllPopups() {
  std::vector<TvgPopup*> copy = OpenList();
  for (auto it = copy.rbegin(); it != copy.rend(); ++it) {
    if (std::find(OpenList().begin(), OpenList().end(), *it) != OpenList().end()) (*it)->ClosePopup();
  }
}

void vgFreePopupList() {
  delete g_openPopups;
  g_openPopups = nullptr;
}

void vgSetPopupMessagePump(std::function<bool()> pump) { g_pump = std::move(pump); }

TvgPopup::TvgPopup(TComponent* owner) : TvgControl(owner) {
  placementRectangle_ = new TvgBounds(vgRect(0, 0, 0, 0));
  SetVisible(false);
}

TvgPopup::~TvgPopup() {
  IncludeState(csDestroying);
  ClosePopup();
  SetPlacementTarget(nullptr);
  delete placementRectangle_;
  placementRectangle_ = nullptr;
  std::erase(OpenList(), this);
}

void TvgPopup::Notification(TComponent* component, TOperation operation) {
  TvgControl::Notification(component, operation);
  if (operation != opRemove) return;
  if (component == placementTarget_) placementTarget_ = nullptr;
  if (component == savedFocused_) savedFocused_ = nullptr;
  if (component == savedParent_) savedParent_ = nullptr;
  if (component == overlay_) overlay_ = nullptr;
}

void TvgPopup::SetPlacementTarget(TvgVisualObject* value) {
  if (placementTarget_ == value) return;
  if (placementTarget_ != nullptr) placementTarget_->RemoveFreeNotify(this);
  placementTarget_ = value;
  if (value != nullptr) value->AddFreeNotify(this);
}

void TvgPopup::DialogKey(uint16_t& key, TShiftState shift) {
  TvgControl::DialogKey(key, shift);
  if (key == 27 && isOpen_ && !staysOpen_) {
    SetIsOpen(false);
    key = 0;
  }
}

void TvgPopup::Paint() {
  if (!IsDesigning()) return;
  TvgCanvas* c = GetCanvas();
  if (c == nullptr) return;
  TvgRect r = GetLocalRect();
  vgInflateRect(r, -0.5f, -0.5f);
  c->GetStroke()->SetStyle(vgBrushSolid);
  c->GetStroke()->SetSolidColor(0xA0909090u);
  c->SetStrokeDash(vgDashDash);
  c->DrawRect(r, 0, 0, vgAllCorners, GetAbsoluteOpacity());
  c->SetStrokeDash(vgDashSolid);
}

void TvgPopup::SetIsOpen(bool value) {
  if (isOpen_ == value) return;
  if (IsDesigning()) {
    isOpen_ = false;
    return;
  }
  if (value) Popup();
  else ClosePopup();
}

void TvgPopup::Popup() {
  if (closing_) {
    isOpen_ = false;
    return;
  }
  if (isOpen_) return;
  IvgScene* scene = placementTarget_ != nullptr && placementTarget_->GetScene() != nullptr
                        ? placementTarget_->GetScene()
                        : GetScene();
  TvgVisualObject* root = scene != nullptr && scene->GetRoot() != nullptr ? scene->GetRoot()->Visual() : nullptr;
  if (root == nullptr) return;  // nowhere to show it
  savedParent_ = GetParent();
  if (savedParent_ != nullptr) savedParent_->AddFreeNotify(this);
  auto* overlay = new TvgPopupOverlay(this);
  overlay_ = overlay;
  root->AddObject(overlay);
  overlay->SetAlign(vaContents);
  overlay->SetBounds(0, 0, root->GetWidth(), root->GetHeight());
  overlay->SetHitTest(!staysOpen_);
  savedFocused_ = scene->GetFocused();
  if (savedFocused_ != nullptr) savedFocused_->AddFreeNotify(this);
  overlay->AddObject(this);
  ApplyPlacement();
  SetVisible(true);
  ApplyStyle();
  BringToFront();
  SetCanFocused(true);
  SetFocus();
  if (!staysOpen_) OpenList().push_back(this);
  isOpen_ = true;
  ApplyTriggerEffect(this, "IsOpen");
  StartTriggerAnimation(this, "IsOpen");
}

void TvgPopup::ClosePopup() {
  if (closing_ || overlay_ == nullptr) {
    if (!closing_) isOpen_ = false;
    return;
  }
  if (modal_ && modalResult_ == 0) {
    modalResult_ = 2;
    return;
  }
  closing_ = true;
  isOpen_ = false;
  std::erase(OpenList(), this);
  if (!HasState(csDestroying)) {
    ApplyTriggerEffect(this, "IsOpen");
    StartTriggerAnimationWait(this, "IsOpen");
  }
  SetVisible(false);
  IvgScene* scene = GetScene();
  if (savedParent_ != nullptr) {
    savedParent_->AddObject(this);
    savedParent_->RemoveFreeNotify(this);
  } else {
    SetParent(nullptr);
    SetScene(nullptr);
  }
  if (savedFocused_ != nullptr) {
    savedFocused_->RemoveFreeNotify(this);
    savedFocused_->SetFocus();
  } else if (scene != nullptr && scene->GetFocused() == this) {
    scene->SetFocused(nullptr);
  }
  TvgVisualObject* overlay = overlay_;
  overlay_ = nullptr;
  delete overlay;
  savedParent_ = nullptr;
  savedFocused_ = nullptr;
  closing_ = false;
  OnClosePopup(this);
}

int32_t TvgPopup::PopupModal() {
  if (closing_) {
    isOpen_ = false;
    return 0;
  }
  if (isOpen_) {
    if (modal_) {
      modalResult_ = 2;
      modal_ = false;
    } else {
      ClosePopup();
    }
    return modalResult_;
  }
  staysOpen_ = true;
  Popup();
  modalResult_ = 0;
  modal_ = true;
  while (modalResult_ == 0 && modal_) {
    if (!g_pump || !g_pump()) {
      modalResult_ = 2;
      break;
    }
    if (overlay_ != nullptr) ApplyPlacement();
  }
  modal_ = false;
  const int32_t result = modalResult_;
  ClosePopup();
  return result;
}

void TvgPopup::ApplyPlacement() {
  const float w = GetWidth(), h = GetHeight();
  const float hOff = horizontalOffset_, vOff = verticalOffset_;
  TvgVisualObject* target = placementTarget_;
  if (target == nullptr && savedParent_ != nullptr && savedParent_->IsVisual()) target = savedParent_->Visual();
  const TvgRect r = placementRectangle_->GetRect();
  const bool useRect = !placementRectangle_->IsEmpty();
  TvgPoint p;
  if (target != nullptr || useRect) {
    const float tw = target != nullptr ? target->GetWidth() : 0, th = target != nullptr ? target->GetHeight() : 0;
    switch (placement_) {
      case vgPlacementBottom:
        p = useRect ? vgPoint(r.Left + hOff, r.Bottom + vOff) : vgPoint(hOff, th + vOff);
        break;
      case vgPlacementTop:
        p = useRect ? vgPoint(r.Left + hOff, r.Top - h - vOff) : vgPoint(hOff, -h - vOff);
        break;
      case vgPlacementLeft:
        p = useRect ? vgPoint(r.Left - w - hOff, r.Top + vOff) : vgPoint(-w - hOff, vOff);
        break;
      case vgPlacementRight:
        p = useRect ? vgPoint(r.Right + hOff, r.Top + vOff) : vgPoint(tw + hOff, vOff);
        break;
      case vgPlacementCenter:
        p = useRect ? vgPoint(r.Left + (r.Right - r.Left - w) / 2 + hOff, r.Top + (r.Bottom - r.Top - h) / 2 + vOff)
                    : vgPoint((tw - w) / 2 + hOff, (th - h) / 2 + vOff);
        break;
      case vgPlacementAbsolute:
        p = vgPoint(r.Left, r.Top);
        break;
      case vgPlacementMouse:
        if (isOpen_) return;
        p = GetScene() != nullptr ? GetScene()->GetMousePos() : TvgPoint();
        target = nullptr;
        break;
    }
  }
  if (target != nullptr && placement_ != vgPlacementAbsolute) p = target->LocalToAbsolute(p);
  if (overlay_ != nullptr) GetPosition()->SetPoint(overlay_->AbsoluteToLocal(p));
}

TvgMessagePopup::TvgMessagePopup(TComponent* owner) : TvgPopup(owner) {
  staysOpen_ = true;
  dragWithParent_ = true;
}

void TvgMessagePopup::ApplyPlacement() {
  if (GetPlacementTarget() != nullptr)
    SetHorizontalOffset((GetPlacementTarget()->GetWidth() - GetWidth()) / 2);
  TvgPopup::ApplyPlacement();
}

int32_t TvgMessagePopup::PopupModal() {
  TvgVisualObject* root = nullptr;
  IvgScene* scene = GetPlacementTarget() != nullptr ? GetPlacementTarget()->GetScene() : GetScene();
  if (disableScene_ && scene != nullptr && scene->GetRoot() != nullptr) root = scene->GetRoot()->Visual();
  const bool enabled = root != nullptr && root->GetEnabled();
  if (root != nullptr) root->SetEnabled(false);
  int32_t result = 0;
  try {
    result = TvgPopup::PopupModal();
  } catch (...) {
    if (root != nullptr) root->SetEnabled(enabled);
    throw;
  }
  if (root != nullptr) root->SetEnabled(enabled);
  return result;
}
