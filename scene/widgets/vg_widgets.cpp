// Start-up of the widgets library: every module's classes registered once, after the basic
// controls they build on.
#include "vg_listbox.h"
#include "vg_textbox.h"
#include "vg_widgets_p.h"

void vg_widgets::InitWidgetsUnit() {
  static bool done = false;
  if (done) return;
  done = true;
  vgInitControlsUnit();
  vgInitTextBoxUnit();
  vgInitListBoxUnit();
}

namespace {
const bool g_widgetsRegistered = (vg_widgets::InitWidgetsUnit(), true);
}
