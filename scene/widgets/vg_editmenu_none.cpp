// Without the class library's windows the context menu is never shown.
#include "vg_editmenu.h"

void TvgEditMenu::Popup(TComponent*, int32_t, int32_t) {}
