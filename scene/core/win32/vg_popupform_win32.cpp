// The popup form: activation rules that keep the owner's caption active and close popups when
// another window is activated, showing without activation, and the form factory of the popups.
#include "vg_popupform_win32.h"

#include <windows.h>

#include "classlib/Menus.h"
#include "vg_registry.h"

KBL_PUBLISHED(TvgPopupForm) {}

TvgPopupForm::TvgPopupForm(TComponent* owner) : TCustomForm(owner) {
  SetBorderStyle(bsNone);
  SetFormStyle(fsStayOnTop);
  SetPosition(poDesigned);
  scene_ = new TvgScene(this);
  scene_->SetTransparency(true);
  scene_->SetParent(this);
  scene_->SetAlign(alClient);
}

TvgPopupForm::~TvgPopupForm() {
  delete followTimer_;
  followTimer_ = nullptr;
  // A form freed while its popup is still open (its owner went): the popup lets go first.
  if (Popup != nullptr) {
    closing_ = true;
    TObject* popup = Popup;
    Popup = nullptr;
    vgPopupFormClosing(popup);
  }
}

void TvgPopupForm::CreateParams(TCreateParams& params) {
  TCustomForm::CreateParams(params);
  params.WindowClassStyle |= CS_SAVEBITS;
}

void TvgPopupForm::SetScreenPos(int32_t x, int32_t y) { SetBounds(x, y, GetWidth(), GetHeight()); }

void TvgPopupForm::ShowForm() {
  Show();
  if (scene_->HandleAllocated() && scene_->CanFocus()) scene_->SetFocus();
}

void TvgPopupForm::ReleaseForm() {
  Popup = nullptr;
  delete followTimer_;
  followTimer_ = nullptr;
  // The scene made this form and closes it itself: when none of its code runs, it goes now with
  // its window and canvas, as a drop-down toggled by code with no loop in between would
  // otherwise pile them up. Inside its own handling the loop frees it, after that handling.
  if (ComponentCodeRunning(this)) Release();
  else delete this;
}

void TvgPopupForm::SetOwnerForm(TCustomForm* value) {
  if (ownerForm_ == value) return;
  if (ownerForm_ != nullptr) ownerForm_->RemoveFreeNotification(this);
  ownerForm_ = value;
  if (value != nullptr) value->FreeNotification(this);
}

void TvgPopupForm::SetSceneControl(TComponent* value) {
  if (sceneControl_ == value) return;
  if (sceneControl_ != nullptr) sceneControl_->RemoveFreeNotification(this);
  sceneControl_ = value;
  if (value != nullptr) value->FreeNotification(this);
}

void TvgPopupForm::Notification(TComponent* component, TOperation operation) {
  TCustomForm::Notification(component, operation);
  if (operation != opRemove) return;
  if (component == ownerForm_) ownerForm_ = nullptr;
  if (component == sceneControl_) sceneControl_ = nullptr;
}

void TvgPopupForm::StartFollowTimer(uint32_t intervalMs, std::function<void()> tick) {
  followTick_ = std::move(tick);
  if (followTimer_ == nullptr) followTimer_ = new TTimer(nullptr);
  followTimer_->SetInterval(intervalMs);
  followTimer_->SetOnTimer(TNotifyEvent::Of<&TvgPopupForm::FollowTick>(this));
  followTimer_->SetEnabled(true);
}

void TvgPopupForm::FollowTick(TObject*) {
  if (followTick_ && Popup != nullptr) followTick_();
}

void TvgPopupForm::KeepOwnerCaption() {
  if (ownerForm_ != nullptr && ownerForm_->HandleAllocated()) SendMessageW(ownerForm_->GetHandle(), WM_NCACTIVATE, 1, 0);
}

void TvgPopupForm::DoClose(TCloseAction& action) {
  TCustomForm::DoClose(action);
  action = caFree;
  closing_ = true;
  if (Popup != nullptr) {
    TObject* popup = Popup;
    Popup = nullptr;
    vgPopupFormClosing(popup);
  }
}

void TvgPopupForm::WndProc(TMessage& message) {
  switch (message.Msg) {
    case CM_SHOWINGCHANGED:
      if (HandleAllocated())
        SetWindowPos(GetHandle(), nullptr, 0, 0, 0, 0,
                     GetVisible() ? SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW
                                  : SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_HIDEWINDOW);
      return;
    case WM_MOUSEACTIVATE:
      KeepOwnerCaption();
      message.Result = MA_ACTIVATE;
      return;
    case WM_ACTIVATE: {
      TCustomForm::WndProc(message);
      KeepOwnerCaption();
      if (LOWORD(message.WParam) != WA_INACTIVE || Popup == nullptr || vgPopupStaysOpen(Popup)) return;
      HWND other = reinterpret_cast<HWND>(message.LParam);
      TvgPopupForm* otherForm = nullptr;
      for (TObject* scene : vgScenes()) {
        auto* s = dynamic_cast<TvgScene*>(scene);
        auto* f = s != nullptr ? dynamic_cast<TvgPopupForm*>(s->TComponent::GetOwner()) : nullptr;
        if (f != nullptr && f != this && f->HandleAllocated() && f->GetHandle() == other) otherForm = f;
      }
      if (otherForm != nullptr && otherForm->Popup != nullptr && !vgPopupStaysOpen(otherForm->Popup) &&
          vgPopupOpenIndex(otherForm->Popup) >= 0) {
        // An earlier popup activated closes the later ones; a later one keeps the earlier open.
        if (vgPopupOpenIndex(Popup) > vgPopupOpenIndex(otherForm->Popup)) vgClosePopupObject(Popup);
      } else {
        vgCloseAllPopupsList();
      }
      return;
    }
    default:
      break;
  }
  TCustomForm::WndProc(message);
}

void vgInstallPopupForms() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  vgSetPopupFormFactory([](TObject* popup, TComponent* popupOwner, TComponent* sceneControl, int32_t width,
                           int32_t height, TvgResources* style) -> IvgPopupForm* {
    TvgPopupForm* form = TCustomForm::CreateNew<TvgPopupForm>(nullptr);
    form->SetOwnerForm(dynamic_cast<TCustomForm*>(popupOwner));
    if (sceneControl != nullptr) {
      if (auto* f = dynamic_cast<TCustomForm*>(sceneControl->GetOwner())) form->SetOwnerForm(f);
      form->SetSceneControl(sceneControl);
    }
    form->Popup = popup;
    form->SetBounds(form->GetLeft(), form->GetTop(), width, height);
    form->GetScene()->SetStyle(style);
    form->GetScene()->SetBounds(0, 0, width, height);
    return form;
  });
  vgSetScreenCursorSource([] {
    POINT p{};
    GetCursorPos(&p);
    return vgPoint(static_cast<float>(p.x), static_cast<float>(p.y));
  });
  vgSetPopupMessagePump([] {
    Application().HandleMessage();
    return !Application().Terminated();
  });
  vgSetFormGeometrySource([](TComponent* component, TvgPoint& clientOrigin, float& width) {
    auto* form = dynamic_cast<TCustomForm*>(component);
    if (form == nullptr) return false;
    const TPoint origin = form->ClientToScreen(TPoint{0, 0});
    clientOrigin = vgPoint(static_cast<float>(origin.X), static_cast<float>(origin.Y));
    width = static_cast<float>(form->GetWidth());
    return true;
  });
  // The objects' context menus are class-library popup menus.
  vgSetPopupMenuHook([](TComponent* menu, TComponent* popupComponent, int32_t x, int32_t y) {
    auto* popup = dynamic_cast<TPopupMenu*>(menu);
    if (popup == nullptr) return;
    popup->SetPopupComponent(popupComponent);
    popup->Popup(x, y);
  });
}
