// TvgPopupForm: the borderless, always-on-top form a popup opens in, holding a transparent scene.
// Installs itself as the popups' form factory (vgInstallPopupForms, run by the first scene).
#pragma once

#include <cstdint>
#include <functional>

#include "classlib/ExtCtrls.h"
#include "classlib/Forms.h"
#include "vg_popupform.h"
#include "vg_scene.h"

class TvgPopupForm : public TCustomForm, public IvgPopupForm {
  KBL_DECLARE_CLASS(TvgPopupForm, TCustomForm)
 public:
  explicit TvgPopupForm(TComponent* owner);
  ~TvgPopupForm() override;

  // The form whose caption stays active while the popup is.
  TCustomForm* GetOwnerForm() const { return ownerForm_; }
  void SetOwnerForm(TCustomForm* value);
  // The scene control the popup opened from: code of this form counts as its code, and so as
  // code of the form that control is on (GetCodeOwner), owned by it or only placed on it, so that
  // a release of that form asked inside the popup waits for that code.
  TComponent* GetSceneControl() const { return sceneControl_; }
  void SetSceneControl(TComponent* value);
  // The popup (a TvgPopup); nullptr once the form forgot it.
  TObject* Popup = nullptr;
  TvgScene* GetScene() const { return scene_; }

  void WndProc(TMessage& message) override;
  void Notification(TComponent* component, TOperation operation) override;
  TComponent* GetCodeOwner() const override { return sceneControl_ != nullptr ? sceneControl_ : ownerForm_; }

  // --- IvgPopupForm
  IvgScene* GetPopupScene() override { return scene_; }
  void SetScreenPos(int32_t x, int32_t y) override;
  void ShowForm() override;
  void ReleaseForm() override;
  int32_t GetFormModalResult() override { return GetModalResult(); }
  void SetFormModalResult(int32_t value) override { SetModalResult(value); }
  bool GetFormClosing() override { return closing_; }
  void StartFollowTimer(uint32_t intervalMs, std::function<void()> tick) override;
  void* NativeWindow() override { return GetHandle(); }

 protected:
  void CreateParams(TCreateParams& params) override;
  void DoClose(TCloseAction& action) override;

 private:
  void FollowTick(TObject*);
  void KeepOwnerCaption();
  TvgScene* scene_ = nullptr;
  TCustomForm* ownerForm_ = nullptr;
  TComponent* sceneControl_ = nullptr;
  TTimer* followTimer_ = nullptr;
  std::function<void()> followTick_;
  bool closing_ = false;
};

// Installs the popup form factory, the screen cursor, the modal message pump, the form geometry
// of message popups and the class-library popup menu of the objects' context menus (once).
void vgInstallPopupForms();
