// The design-time tab-order editor and the design menu as a popup menu of the window layer.
#pragma once

#include "vg_designer.h"

class TComponent;
class TCustomForm;
class TPopupMenu;
class TvgVisualObject;

// A borderless form (not shown) with a transparent scene: a HUD window "TabOrder Editor" with a
// HUD list box of the tab entries of `parent` by their text and the buttons "Up" and "Down" that
// move the chosen entry one place. The caller owns it. nullptr when `parent` is nullptr or the
// list classes ("TvgHudListBox", "TvgListBoxItem") are not registered.
TCustomForm* vgCreateTabOrderEditor(TvgVisualObject* parent);
// The design menu as a popup menu owned by `owner`; each item runs its command when clicked.
TPopupMenu* vgMakeDesignPopupMenu(const TvgDesignMenuItem& menu, TComponent* owner);
