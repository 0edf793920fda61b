// Popups shown as overlays in their scene, their placement, the modal loop and the open list.
#include "vg_popup.h"

#include <algorithm>
#include <cmath>

#include "vg_canvas.h"
#include "vg_resources.h"

KBL_PUBLISHED(TvgPopup) {
  KBL_PROP(IsOpen).Default(false);
  KBL_PROP(HorizontalOffset);
  KBL_PROP(VerticalOffset);
  KBL_PROP(Placement).Default(vgPlacementBottom);
  KBL_PROP(PlacementTarget);
  KBL_PROP(PlacementRectangle);
  KBL_PROP(StaysOpen).Default(false);
  KBL_PROP(Style);
  KBL_PROP(DragWithParent).Default(false);
  p.Property("OnClosePopup", &TvgPopup::OnClosePopup, &TvgPopup::OnClosePopup);
  KBL_PROP(Visible).Default(false);
}
KBL_PUBLISHED(TvgMessagePopup) {
  KBL_PROP(StaysOpen).Default(true);
  KBL_PROP(DragWithParent).Default(true);
  KBL_PROP(DisableScene).Default(true);
}

namespace {

std::vector<TvgPopup*>* g_openPopups = nullptr;
std::function<bool()> g_pump;
TvgPopupFormFactory g_formFactory;
std::function<TvgPoint()> g_cursor;
TvgFormGeometrySource g_formGeometry;

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
void vgSetPopupFormFactory(TvgPopupFormFactory factory) { g_formFactory = std::move(factory); }
const TvgPopupFormFactory& vgPopupFormFactory() { return g_formFactory; }
void vgSetScreenCursorSource(std::function<TvgPoint()> source) { g_cursor = std::move(source); }
void vgSetFormGeometrySource(TvgFormGeometrySource source) { g_formGeometry = std::move(source); }

void vgPopupFormClosing(TObject* popup) {
  auto* p = dynamic_cast<TvgPopup*>(popup);
  if (p == nullptr || p->popupForm_ == nullptr) return;
  p->ClosePopup();
}

bool vgPopupStaysOpen(TObject* popup) {
  auto* p = dynamic_cast<TvgPopup*>(popup);
  return p != nullptr && p->GetStaysOpen();
}

int32_t vgPopupOpenIndex(TObject* popup) {
  const auto& list = OpenList();
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i] == popup) return static_cast<int32_t>(i);
  return -1;
}

void vgClosePopupObject(TObject* popup) {
  if (auto* p = dynamic_cast<TvgPopup*>(popup)) p->ClosePopup();
}

void vgCloseAllPopupsList() { vgCloseAllPopups(); }

TvgPopup::TvgPopup(TComponent* owner) : TvgControl(owner) {
  // Its PlacementTarget, often a component of the same owner, is let go when the owner tells of
  // its removal.
  HearEverySibling(true);
  placementRectangle_ = new TvgBounds(vgRect(0, 0, 0, 0));
  SetVisible(false);
}

TvgPopup::~TvgPopup() {
  IncludeState(csDestroying);
  ClosePopup();
  SetPlacementTarget(nullptr);
  SetStyle(nullptr);
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
  if (component == style_) style_ = nullptr;
}

void TvgPopup::SetStyle(TvgResources* value) {
  if (style_ == value) return;
  if (style_ != nullptr) style_->RemoveFreeNotification(this);
  style_ = value;
  if (value != nullptr) value->FreeNotification(this);
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
  // Also when the program opens or closes it: the handlers this runs (the trigger's animations,
  // the styles', OnClosePopup) run code of the popup's form, which a release asked in them waits
  // for.
  const TComponentFrame code(this);
  if (isOpen_) {
    if (popupForm_ != nullptr) ClosePopup();  // a second call toggles
    return;
  }
  if (FormMode()) PopupInForm();
  else PopupAsOverlay();
  if (!isOpen_) return;
  if (popupForm_ != nullptr && dragWithParent_ && staysOpen_)
    popupForm_->StartFollowTimer(10, [this] { ApplyPlacement(); });
}

bool TvgPopup::FormMode() const { return OverlayMode == 0 && static_cast<bool>(g_formFactory); }

void TvgPopup::PopupInForm() {
  IvgScene* oldScene = GetScene();
  const TvgMatrix m = GetAbsoluteMatrix();
  const float sx = m.m11, sy = m.m22;
  savedScale_ = vgPoint(GetScale()->GetX(), GetScale()->GetY());
  savedParent_ = GetParent();
  if (savedParent_ != nullptr) savedParent_->AddFreeNotify(this);
  TvgResources* style = style_ != nullptr ? style_ : (oldScene != nullptr ? oldScene->GetStyle() : nullptr);
  popupForm_ = g_formFactory(this, GetOwner(), oldScene != nullptr ? oldScene->GetSceneControl() : nullptr,
                             static_cast<int32_t>(std::lround(GetWidth() * sx)),
                             static_cast<int32_t>(std::lround(GetHeight() * sy)), style);
  if (popupForm_ == nullptr) {
    if (savedParent_ != nullptr) savedParent_->RemoveFreeNotify(this);
    savedParent_ = nullptr;
    return;
  }
  GetScale()->SetPoint(vgPoint(sx, sy));
  ApplyPlacement();
  SetVisible(true);
  popupForm_->GetPopupScene()->AddObject(this);
  ApplyStyle();
  popupForm_->ShowForm();
  if (!staysOpen_) OpenList().push_back(this);
  isOpen_ = true;
  ApplyTriggerEffect(this, "IsOpen");
  StartTriggerAnimation(this, "IsOpen");
}

void TvgPopup::PopupAsOverlay() {
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
  if (closing_ || (overlay_ == nullptr && popupForm_ == nullptr)) {
    if (!closing_) isOpen_ = false;
    return;
  }
  if (modal_ && modalResult_ == 0) {
    // The loop ends and closes; in form mode it reads the form's result, so the form gets it too.
    SetModalResult(2);
    return;
  }
  const TComponentFrame code(this);  // as in Popup
  closing_ = true;
  isOpen_ = false;
  std::erase(OpenList(), this);
  if (!HasState(csDestroying)) {
    ApplyTriggerEffect(this, "IsOpen");
    StartTriggerAnimationWait(this, "IsOpen");
  }
  SetVisible(false);
  if (popupForm_ != nullptr) {
    IvgPopupForm* form = popupForm_;
    popupForm_ = nullptr;
    form->GetPopupScene()->RemoveObject(this);
    SetScene(nullptr);
    if (!form->GetFormClosing()) form->ReleaseForm();
    GetScale()->SetPoint(savedScale_);
    if (savedParent_ != nullptr) {
      savedParent_->AddObject(this);
      savedParent_->RemoveFreeNotify(this);
    }
    savedParent_ = nullptr;
    closing_ = false;
    RunHandler(OnClosePopup, this);
    return;
  }
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
  RunHandler(OnClosePopup, this);
}

void TvgPopup::SetModalResult(int32_t value) {
  modalResult_ = value;
  if (popupForm_ != nullptr) popupForm_->SetFormModalResult(value);
}

int32_t TvgPopup::PopupModal() {
  if (closing_) {
    isOpen_ = false;
    return 0;
  }
  if (isOpen_) {
    if (modal_) {
      SetModalResult(2);
      modal_ = false;
    } else {
      ClosePopup();
    }
    return modalResult_;
  }
  // The loop is code of the popup's form: a release of that form asked inside it waits for the
  // loop to end, or the form would free this popup under it.
  const TComponentFrame code(this);
  staysOpen_ = true;
  Popup();
  // A popup with nowhere to open (no form, no scene root) would wait for a result forever.
  if (!isOpen_) return 2;
  SetModalResult(0);
  modal_ = true;
  // Also when the loop raises: a popup left modal would never close, as closing it leaves the
  // closing to a loop that has gone.
  const TvgRestoreOnExit ended([this] { modal_ = false; });
  while (modalResult_ == 0 && modal_) {
    if (!g_pump || !g_pump()) {
      SetModalResult(2);
      break;
    }
    if (popupForm_ != nullptr) {
      ApplyPlacement();
      modalResult_ = popupForm_->GetFormModalResult();
    } else if (overlay_ != nullptr) {
      ApplyPlacement();
    }
  }
  modal_ = false;
  const int32_t result = modalResult_;
  ClosePopup();
  return result;
}

void TvgPopup::ApplyPlacement() {
  TvgVisualObject* target = placementTarget_;
  // The parent it had before opening: while open it sits in the popup's own scene or overlay.
  if (target == nullptr && savedParent_ != nullptr && savedParent_->IsVisual()) target = savedParent_->Visual();
  PlaceFrom(target);
}

void TvgPopup::PlaceFrom(TvgVisualObject* target) {
  const float w = GetWidth(), h = GetHeight();
  const float hOff = horizontalOffset_, vOff = verticalOffset_;
  const TvgRect r = placementRectangle_->GetRect();
  // Without a target the rectangle is all there is to place against, empty or not.
  const bool useRect = target == nullptr || !placementRectangle_->IsEmpty();
  TvgPoint p;
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
      if (popupForm_ != nullptr)
        popupForm_->SetScreenPos(static_cast<int32_t>(std::lround(r.Left)), static_cast<int32_t>(std::lround(r.Top)));
      return;
    case vgPlacementMouse:
      if (isOpen_) return;
      if (popupForm_ != nullptr) {
        const TvgPoint c = g_cursor ? g_cursor() : TvgPoint();
        popupForm_->SetScreenPos(static_cast<int32_t>(c.X), static_cast<int32_t>(c.Y));
        return;
      }
      p = GetScene() != nullptr ? GetScene()->GetMousePos() : TvgPoint();
      target = nullptr;
      break;
  }
  if (popupForm_ != nullptr) {
    PlaceForm(p, target);
    return;
  }
  if (target != nullptr) p = target->LocalToAbsolute(p);
  if (overlay_ == nullptr) return;
  // The modal loop places the popup again after every message: an unchanged place must not
  // repaint, or each repaint would be the next message and the loop would never wait (timers
  // starve behind the paints).
  const TvgPoint local = overlay_->AbsoluteToLocal(p);
  if (local != GetPosition()->GetPoint()) GetPosition()->SetPoint(local);
}

void TvgPopup::PlaceForm(const TvgPoint& p, TvgVisualObject* target) {
  TvgPoint screen = p;  // without a target the rectangle is in screen coordinates
  if (target != nullptr) {
    IvgScene* scene = target->GetScene() != nullptr ? target->GetScene() : GetScene();
    const TvgPoint abs = target->LocalToAbsolute(p);
    if (scene != nullptr) screen = scene->LocalToScreen(abs);
  }
  popupForm_->SetScreenPos(static_cast<int32_t>(std::lround(screen.X)), static_cast<int32_t>(std::lround(screen.Y)));
}

TvgMessagePopup::TvgMessagePopup(TComponent* owner) : TvgPopup(owner) {
  staysOpen_ = true;
  dragWithParent_ = true;
}

void TvgMessagePopup::ApplyPlacement() {
  if (TvgVisualObject* target = GetPlacementTarget()) {
    SetHorizontalOffset((target->GetWidth() - GetWidth()) / 2);
    TvgPopup::ApplyPlacement();
    return;
  }
  TvgPoint origin;
  float formWidth = 0;
  if (!g_formGeometry || !g_formGeometry(GetOwner(), origin, formWidth)) {
    TvgPopup::ApplyPlacement();
    return;
  }
  // An overlay is placed in scene coordinates: the form's client origin seen from the scene.
  if (GetPopupForm() == nullptr) {
    if (IvgScene* scene = GetScene()) {
      const TvgPoint sceneOrigin = scene->LocalToScreen(vgPoint(0, 0));
      origin = vgPoint(origin.X - sceneOrigin.X, origin.Y - sceneOrigin.Y);
    }
  }
  GetPlacementRectangle()->SetRect(vgRect(origin.X, origin.Y, origin.X + GetWidth(), origin.Y));
  SetHorizontalOffset((formWidth - GetWidth()) / 2);
  // The rectangle is on the form, not in the parent's coordinates: placed without a target.
  PlaceFrom(nullptr);
}

int32_t TvgMessagePopup::PopupModal() {
  TvgVisualObject* root = nullptr;
  IvgScene* scene = GetPlacementTarget() != nullptr ? GetPlacementTarget()->GetScene() : GetScene();
  if (disableScene_ && scene != nullptr && scene->GetRoot() != nullptr) root = scene->GetRoot()->Visual();
  const bool enabled = root != nullptr && root->GetEnabled();
  if (root != nullptr) root->SetEnabled(false);
  // The loop runs handlers that may free the root (and make another in its place).
  const TvgSceneObjectRef<TvgVisualObject> disabled(root);
  int32_t result = 0;
  try {
    result = TvgPopup::PopupModal();
  } catch (...) {
    if (TvgVisualObject* r = disabled.Get()) r->SetEnabled(enabled);
    throw;
  }
  if (TvgVisualObject* r = disabled.Get()) r->SetEnabled(enabled);
  return result;
}
