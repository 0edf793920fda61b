// Controls and forms shared by the window-layer tests.
#pragma once

#include <functional>
#include <string>

#include "classlib/Controls.h"
#include "classlib/ExtCtrls.h"
#include "classlib/Forms.h"
#include "classlib/Menus.h"

// A custom control whose painting is a test's function; counts paints and input.
class TUiPanel : public TCustomControl {
  KBL_DECLARE_CLASS(TUiPanel, TCustomControl)
 public:
  explicit TUiPanel(TComponent* owner) : TCustomControl(owner) {}
  ~TUiPanel() override;
  std::function<void(TCanvas&)> painter;
  int paints = 0;
  int mouseDowns = 0;
  bool throwOnMouseDown = false;
  using TWinControl::CreateParams;  // visible to the tests

 protected:
  void Paint() override;
  void MouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y) override;
};

// The form streamed from the TUITESTFORM resource.
class TUiTestForm : public TForm {
  KBL_DECLARE_CLASS(TUiTestForm, TForm)
 public:
  explicit TUiTestForm(TComponent* owner) : TForm(owner) {}
  void FormCreate(TObject* sender);
  void MenuPopup(TObject* sender) { ++popups; }
  void ItemClick(TObject* sender) { lastItem = sender; ++itemClicks; }
  void Tick(TObject* sender) { ++ticks; }
  void BodyClick(TObject* sender) { ++bodyClicks; }
  bool headerAtCreate = false;
  int popups = 0;
  int itemClicks = 0;
  int ticks = 0;
  int bodyClicks = 0;
  TObject* lastItem = nullptr;
};

// A form with no resource of its own.
class TUiBareForm : public TForm {
  KBL_DECLARE_CLASS(TUiBareForm, TForm)
 public:
  explicit TUiBareForm(TComponent* owner) : TForm(owner) {}
};

void RegisterWindowTestClasses();
