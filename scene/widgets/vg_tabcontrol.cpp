// The tab control and its tab items: the strip of tabs, the pages that show with their tab, the
// selected tab painted over its neighbours, and hiding the selected tab.
#include "vg_tabcontrol.h"

#include <algorithm>
#include <string>

#include "scene/controls/vg_layouts.h"
#include "scene/core/vg_canvas.h"
#include "scene/core/vg_designer.h"
#include "vg_widgets_p.h"

using namespace vg_widgets;

KBL_PUBLISHED(TvgTabItem) {
  KBL_PROP(Width).Default(80.0f);
  KBL_PROP(Height).Default(20.0f);
  KBL_PROP(AutoTranslate).Default(true);
  KBL_PROP(Font);
  p.Property("Text", &TvgTabItem::GetText, &TvgTabItem::SetText);
  KBL_PROP(TextAlign).Default(vgTextAlignCenter);
  KBL_PROP(Layout);
  KBL_PROP_RO(IsSelected);
}
KBL_PUBLISHED(TvgHudTabItem) {}

KBL_PUBLISHED(TvgTabControl) {
  KBL_PROP(Width).Default(200.0f);
  KBL_PROP(Height).Default(200.0f);
  KBL_PROP(ClipChildren).Default(true);
  KBL_PROP(ItemIndex).Default(-1);
  KBL_PROP(ItemHeight).Default(0.0f);
  KBL_PROP(FullSize).Default(false);
  p.Property("OnChange", &TvgTabControl::OnChange, &TvgTabControl::OnChange);
}
KBL_PUBLISHED(TvgHudTabControl) {}

namespace {

// A component name for a new page: the designer's when one is active, else the first "LayoutN"
// its owner does not hold yet ("" without an owner).
std::string UniquePageName(TComponent* owner) {
  if (IvgDesigner* designer = vgDesigner()) return designer->UniqueName("Layout");
  if (owner == nullptr) return std::string();
  for (int32_t n = 1;; ++n) {
    const std::string name = "Layout" + std::to_string(n);
    if (owner->FindComponent(name) == nullptr) return name;
  }
}

}  // namespace

// --- Tab item

TvgTabItem::TvgTabItem(TComponent* owner) : TvgTextControl(owner) {
  InitWidgetsUnit();
  SetHeight(20);
  SetWidth(80);
  SetHitTest(true);
  SetAutoTranslate(true);
}

TvgTabItem::~TvgTabItem() {
  SetLayout(nullptr);  // takes its page out of view while it is still the control's tab
  DestroyTree();
}

TvgTabControl* TvgTabItem::TabControl() const { return dynamic_cast<TvgTabControl*>(GetParent()); }

void TvgTabItem::SetLayout(TvgVisualObject* value) {
  if (value == layout_) return;
  TvgTabControl* control = TabControl();
  // A page no tab shows any more is out of view (one another tab shares shows again below).
  if (control != nullptr) control->HidePage(layout_);
  if (layout_ != nullptr) vgRemoveFreeNotify(layout_, this);
  layout_ = value;
  // A page that goes leaves its tab without a page.
  if (layout_ != nullptr) vgAddFreeNotify(layout_, this, [this] { layout_ = nullptr; });
  if (control != nullptr) control->Realign();
}

void TvgTabItem::SetIsSelected(bool value) {
  isSelected_ = value;
  StartTriggerAnimation(this, "IsSelected");
  ApplyTriggerEffect(this, "IsSelected");
}

void TvgTabItem::ApplyStyle() {
  inherited::ApplyStyle();
  TvgTabControl* control = TabControl();
  SetIsSelected(control != nullptr && control->GetItemIndex() == index_ && index_ >= 0);
}

void TvgTabItem::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  if (button != mbLeft) return;
  if (TvgTabControl* control = TabControl()) control->SetItemIndex(index_);
}

void TvgTabItem::DesignSelect() {
  if (TvgTabControl* control = TabControl()) control->SetItemIndex(index_);
}

void TvgTabItem::DesignInsert() {
  TvgObject* parent = GetParent();
  if (parent == nullptr || layout_ != nullptr) return;
  auto* page = new TvgLayout(GetOwner());
  // A stream refers to the page by its name: an unnamed page would lose its tab on saving.
  page->SetName(UniquePageName(GetOwner()));
  page->SetParent(parent);
  SetLayout(page);
}

void TvgTabItem::SetVisible(bool value) {
  if (value == GetVisible()) return;
  TvgTabControl* control = TabControl();
  TvgTabItem* selected = control != nullptr ? control->ItemOfIndex(control->GetItemIndex()) : nullptr;
  const int32_t oldIndex = index_;
  inherited::SetVisible(value);
  if (control == nullptr || control->HasState(csDestroying)) return;
  if (!value && selected == this) {
    SetIsSelected(false);
    control->SelectInPlaceOf(oldIndex);
    return;
  }
  control->Realign();
  if (selected != nullptr) {
    control->itemIndex_ = -1;
    control->SetItemIndex(selected->index_);
  }
}

void TvgTabItem::Realign() {
  inherited::Realign();
  TvgTabControl* control = TabControl();
  if (inItemRealign_ || layout_ == nullptr || control == nullptr) return;
  inItemRealign_ = true;
  // Also when the page's layout raises: the tab would never place its page again.
  const TvgRestoreOnExit placed([this] { inItemRealign_ = false; });
  const TvgRect margins = control->GetMargins()->GetRect();
  const TvgRect pad = layout_->GetPadding()->GetRect();
  layout_->GetPosition()->SetPoint(vgPoint(margins.Left + pad.Left, GetHeight() + margins.Top + pad.Top));
  layout_->SetWidth(control->GetWidth() - margins.Left - margins.Right - pad.Left - pad.Right);
  layout_->SetHeight(control->GetHeight() - GetHeight() - margins.Top - margins.Bottom - pad.Top - pad.Bottom);
}

// --- Tab control

TvgTabControl::TvgTabControl(TComponent* owner) : TvgControl(owner) {
  InitWidgetsUnit();
  SetWidth(200);
  SetHeight(200);
  // Tabs keep their own widths: a strip wider than the control is cut at its edge instead of
  // spilling over the neighbours.
  SetClipChildren(true);
}

TvgTabItem* TvgTabControl::ItemOfIndex(int32_t index) const {
  if (index < 0) return nullptr;
  for (TvgObject* child : Children()) {
    auto* item = dynamic_cast<TvgTabItem*>(child);
    if (item != nullptr && item->GetVisible() && item->index_ == index) return item;
  }
  return nullptr;
}

int32_t TvgTabControl::VisibleCount() const {
  int32_t count = 0;
  for (TvgObject* child : Children()) {
    auto* item = dynamic_cast<TvgTabItem*>(child);
    if (item != nullptr && item->GetVisible()) ++count;
  }
  return count;
}

std::vector<TvgTabItem*> TvgTabControl::NumberItems() {
  std::vector<TvgTabItem*> items;
  for (TvgObject* child : Children()) {
    auto* item = dynamic_cast<TvgTabItem*>(child);
    if (item == nullptr || !item->GetVisible()) continue;
    item->index_ = static_cast<int32_t>(items.size());
    items.push_back(item);
  }
  return items;
}

void TvgTabControl::SelectInPlaceOf(int32_t oldIndex) {
  itemIndex_ = -1;
  Realign();
  const int32_t visible = VisibleCount();
  SetItemIndex(oldIndex < visible ? oldIndex : visible - 1);
}

void TvgTabControl::SetItemIndex(int32_t value) {
  if (value == itemIndex_) return;
  if (TvgTabItem* old = ItemOfIndex(itemIndex_)) old->SetIsSelected(false);
  itemIndex_ = value;
  Realign();
  if (TvgTabItem* item = ItemOfIndex(itemIndex_)) item->SetIsSelected(true);
  RunHandler(OnChange, this);
}

void TvgTabControl::SetItemHeight(float value) {
  if (vgSetChanged(itemHeight_, value)) Realign();
}

void TvgTabControl::SetFullSize(bool value) {
  if (vgSetChanged(fullSize_, value)) Realign();
}

void TvgTabControl::ApplyStyle() {
  inherited::ApplyStyle();
  TvgObject* background = FindResource("background");
  background_ = background != nullptr && background->IsVisual() ? background->Visual() : nullptr;
  Realign();
}

void TvgTabControl::FreeStyle() {
  inherited::FreeStyle();
  background_ = nullptr;
}

void TvgTabControl::AddObject(TvgObject* child) {
  inherited::AddObject(child);
  if (child->Is<TvgTabItem>()) Realign();
}

void TvgTabControl::RemoveObject(TvgObject* child) {
  auto* item = dynamic_cast<TvgTabItem*>(child);
  if (item == nullptr || item->GetParent() != this || HasState(csDestroying)) {
    inherited::RemoveObject(child);
    return;
  }
  TvgTabItem* selected = ItemOfIndex(itemIndex_);
  const int32_t oldIndex = itemIndex_;
  inherited::RemoveObject(child);
  // Whichever tab leaves, and however (freed, moved, taken out), its page is no longer one of
  // this control's: only the selected tab's page shows (the layouts below show a shared one).
  HidePage(item->layout_);
  if (selected == item) {
    // No longer ours: a tab that goes with its parent's or its own end runs no triggers.
    if (item->HasState(csDestroying)) item->isSelected_ = false;
    else item->SetIsSelected(false);
    SelectInPlaceOf(oldIndex);
    return;
  }
  // The tabs after it move up a place: the index keeps naming the selected one.
  NumberItems();
  if (selected != nullptr) itemIndex_ = selected->index_;
  Realign();
}

void TvgTabControl::HidePage(TvgVisualObject* page) {
  if (page == nullptr || HasState(csDestroying)) return;
  // A page elsewhere (moved on before its tab) is another control's to show.
  TvgObject* p = page->GetParent();
  while (p != nullptr && p != this) p = p->GetParent();
  if (p == nullptr) return;
  page->SetVisible(false);
  page->SetDesignHide(true);
}

void TvgTabControl::ChildrenReordering() {
  inherited::ChildrenReordering();
  reorderedSelected_ = ItemOfIndex(itemIndex_);
}

void TvgTabControl::ChildrenReordered() {
  inherited::ChildrenReordered();
  TvgTabItem* selected = reorderedSelected_;
  reorderedSelected_ = nullptr;
  // The index keeps naming the selected tab wherever it went; the layout would otherwise show
  // the page of the tab now in its old place while the old one stays marked. Numbered here: the
  // layout comes after (or not at all, for a sort or while loading).
  NumberItems();
  if (selected != nullptr) itemIndex_ = selected->index_;
}

void TvgTabControl::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  Realign();
}

void TvgTabControl::PaintChildren() {
  TvgTabItem* selected = ItemOfIndex(itemIndex_);
  TvgCanvas* canvas = GetCanvas();
  if (selected == nullptr || canvas == nullptr) {
    inherited::PaintChildren();
    return;
  }
  // Hidden from the other children's pass only for this paint: no repaint is asked for, and the
  // tab shows again whatever a page's paint raises.
  const float opacity = selected->GetOpacity();
  {
    const TvgPaintOnlyChange hidden(this);
    selected->SetOpacity(0);
  }
  {
    const TvgRestoreOnExit shown([this, selected, opacity] {
      const TvgPaintOnlyChange change(this);
      selected->SetOpacity(opacity);
      selected->RecalcOpacity();
    });
    inherited::PaintChildren();
  }
  // Clipped like the other children.
  const int32_t state = canvas->SaveCanvas();
  const TvgRestoreOnExit restore([canvas, state] { canvas->RestoreCanvas(state); });
  if (GetClipChildren() && selected->GetCanClipped()) {
    canvas->SetMatrix(GetAbsoluteMatrix());
    canvas->IntersectClipRect(GetClipRect());
  }
  canvas->SetMatrix(selected->GetAbsoluteMatrix());
  selected->BeforePaint();
  selected->Paint();
  selected->PaintChildren();
}

void TvgTabControl::Realign() {
  inherited::Realign();
  if (inTabRealign_ || HasState(csDestroying)) return;
  inTabRealign_ = true;
  // Also when a page's layout raises: the control would never lay its tabs and pages out again.
  const TvgRestoreOnExit laidOut([this] { inTabRealign_ = false; });
  const std::vector<TvgTabItem*> items = NumberItems();
  float tallest = 0;
  for (TvgTabItem* item : items) {
    const TvgRect pad = item->GetPadding()->GetRect();
    tallest = std::max(tallest, item->GetHeight() + pad.Top + pad.Bottom);
  }
  const float strip = items.empty() ? 0 : itemHeight_ > 0 ? itemHeight_ : tallest;
  if (TvgObject* style = GetStyleObject(); style != nullptr && style->IsVisual()) {
    TvgVisualObject* v = style->Visual();
    const TvgRect pad = v->GetPadding()->GetRect();
    v->SetAlign(vaNone);
    v->SetBounds(pad.Left, strip + pad.Top, GetWidth() - pad.Left - pad.Right, GetHeight() - strip - pad.Top - pad.Bottom);
    v->BringToFront();
  }
  float width = GetWidth();
  if (background_ != nullptr) {
    const TvgRect margins = background_->GetMargins()->GetRect();
    width -= margins.Left + margins.Right;
  }
  if (fullSize_ && !items.empty()) width /= static_cast<float>(items.size());
  // A hidden tab's page goes with it (before the shown page is set, should two tabs share one).
  for (TvgObject* child : Children()) {
    auto* item = dynamic_cast<TvgTabItem*>(child);
    if (item == nullptr || item->GetVisible() || item->layout_ == nullptr) continue;
    item->layout_->SetVisible(false);
    item->layout_->SetDesignHide(true);
  }
  float x = 0;
  for (TvgTabItem* item : items) {
    item->SetAlign(vaNone);
    if (TvgVisualObject* page = item->layout_) {
      const bool shown = item->index_ == itemIndex_;
      page->SetAlign(vaNone);
      page->SetVisible(shown);
      page->SetDesignHide(!shown);
      page->SetClipChildren(true);
      if (shown) page->BringToFront();
    }
    const TvgRect pad = item->GetPadding()->GetRect();
    const float w = fullSize_ ? width : item->GetWidth();
    item->SetBounds(x + pad.Left, pad.Top, w, strip - pad.Top - pad.Bottom);
    x += pad.Left + w + pad.Right;
    item->Realign();
  }
}

// --- Registration

void vgInitTabControlUnit() {
  static bool done = false;
  if (done) return;
  done = true;
  vgRegisterObjects("Controls", {TvgTabControl::StaticClassInfo()});
  vgRegisterObjects("HUD", {TvgHudTabControl::StaticClassInfo()});
  vgRegisterObjects("Items", {TvgTabItem::StaticClassInfo(), TvgHudTabItem::StaticClassInfo()});
}
