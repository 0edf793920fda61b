// The maker's layout box.
#include "zel_Div.h"

#include "scene/core/vg_registry.h"

KBL_PUBLISHED(TvgZelDiv) {
  KBL_PROP(Font);
  KBL_PROP(UseParentFont).Default(true);
  KBL_PROP(Color);
}

TvgZelDiv::TvgZelDiv(TComponent* owner) : TvgZelControl(owner) {}

void TvgZelDiv::Paint() {
  inherited::Paint();
  DrawDesignOutline();
}

void ZelRegisterDiv() {
  static bool done = false;
  if (done) return;
  done = true;
  vgRegisterObjects("Zel Basic Controls", {TvgZelDiv::StaticClassInfo()});
}
