// Controls and forms shared by the window-layer tests.
#include "WindowTestClasses.h"

KBL_PUBLISHED(TUiPanel) {}

TUiPanel::~TUiPanel() = default;

void TUiPanel::Paint() {
  ++paints;
  if (painter) painter(*GetCanvas());
}

void TUiPanel::MouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
  ++mouseDowns;
  if (throwOnMouseDown) throw EInvalidOperation("thrown by a handler");
  TCustomControl::MouseDown(button, shift, x, y);
}

KBL_PUBLISHED(TUiTestForm) {
  KBL_METHOD(FormCreate);
  KBL_METHOD(MenuPopup);
  KBL_METHOD(ItemClick);
  KBL_METHOD(Tick);
  KBL_METHOD(BodyClick);
}

void TUiTestForm::FormCreate(TObject* sender) { headerAtCreate = FindComponent("Header") != nullptr; }

KBL_PUBLISHED(TUiBareForm) {}

void RegisterWindowTestClasses() {
  RegisterControlClasses();
  RegisterClass<TUiPanel, TUiTestForm, TUiBareForm>();
}
