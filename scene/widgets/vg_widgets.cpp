// Start-up of the widgets library: every module's classes registered once, after the basic
// controls they build on.
#include "vg_widgets.h"

#include "vg_colors.h"
#include "vg_grid.h"
#include "vg_listbox.h"
#include "vg_memo.h"
#include "vg_tabcontrol.h"
#include "vg_textbox.h"
#include "vg_treeview.h"
#include "vg_widgets_p.h"

void vg_widgets::InitWidgetsUnit() {
  static bool done = false;
  if (done) return;
  done = true;
  vgInitControlsUnit();
  vgInitTextBoxUnit();
  vgInitListBoxUnit();
  vgInitMemoUnit();
  vgInitTabControlUnit();
  vgInitTreeViewUnit();
  vgInitColorsUnit();
  vgInitGridUnit();
}

void vg_widgets::UpdateMarkers(TvgVisualObject* selection, TComponent* owner, std::vector<TvgVisualObject*>& clones,
                               const std::vector<TvgRect>& rects, bool show) {
  TvgObject* parent = selection != nullptr ? selection->GetParent() : nullptr;
  if (parent == nullptr) return;
  while (clones.size() < rects.size()) {
    auto* clone = dynamic_cast<TvgVisualObject*>(selection->Clone(owner));
    if (clone == nullptr) return;
    clone->SetResourceName(std::string());
    clone->SetParent(parent);
    clone->SetStored(false);
    clones.push_back(clone);
  }
  for (size_t i = 0; i < clones.size(); ++i) {
    TvgVisualObject* clone = clones[i];
    const bool visible = show && i < rects.size();
    clone->SetVisible(visible);
    if (visible) clone->SetBounds(rects[i].Left, rects[i].Top, vgRectWidth(rects[i]), vgRectHeight(rects[i]));
  }
}

TvgPopup* vg_widgets::MakeDropDownPopup(TvgControl* box) {
  auto* popup = new TvgPopup(box);
  popup->SetPlacementTarget(box);
  popup->SetStaysOpen(false);
  popup->SetStored(false);
  popup->SetParent(box);
  popup->SetLocked(true);
  popup->SetDesignHide(true);
  return popup;
}

void vgInitWidgetsUnit() { vg_widgets::InitWidgetsUnit(); }

namespace {
const bool g_widgetsRegistered = (AddClassRegistration(&vg_widgets::InitWidgetsUnit), true);
}
