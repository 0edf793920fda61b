// The grid: header, columns with their cells, the virtual grid and the string grid.
#include "vg_grid.h"

#include <algorithm>
#include <cmath>

#include "scene/core/vg_canvas.h"
#include "scene/core/vg_registry.h"

// --- Published properties

KBL_PUBLISHED(TvgHeaderItem) {
  KBL_PROP(CanFocused).Default(false);
  KBL_PROP(TextAlign).Default(vgTextAlignNear);
  KBL_PROP(DragMode).Default(vgDragAutomatic);
}
KBL_PUBLISHED(TvgHeader) {
  KBL_PROP(CanFocused).Default(false);
  KBL_PROP(ClipChildren).Default(true);
  p.Property("OnRealignItem", &TvgHeader::OnRealignItem, &TvgHeader::OnRealignItem);
  p.Property("OnResizeItem", &TvgHeader::OnResizeItem, &TvgHeader::OnResizeItem);
  KBL_PROP(Radius);
  KBL_PROP(Sides).Stored(&TvgHeader::IsSidesStored);
}

// --- Header grips

// The edge of a header item that the mouse drags; remembers whether it is pressed.
class TvgHeaderGrip : public TvgVisualObject {
 public:
  explicit TvgHeaderGrip(TComponent* owner) : TvgVisualObject(owner) {}
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override {
    if (button == mbLeft) pressed = true;
    TvgVisualObject::MouseDown(button, shift, x, y);
  }
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override {
    TvgVisualObject::MouseUp(button, shift, x, y);
    pressed = false;
  }
  bool pressed = false;
};

namespace {

TvgHeaderGrip* MakeGrip(TvgHeaderItem* item, TvgAlign align, TvgMouseMoveEvent onMove) {
  auto* grip = new TvgHeaderGrip(item);
  grip->SetParent(item);
  grip->SetStored(false);
  grip->SetLocked(true);
  grip->SetHitTest(true);
  grip->SetAutoCapture(true);
  grip->SetCursor(vgCursorHSplit);
  grip->SetWidth(3);
  grip->SetAlign(align);
  grip->OnMouseMove = onMove;
  return grip;
}

}  // namespace

// --- Header item

TvgHeaderItem::TvgHeaderItem(TComponent* owner) : TvgCornerButton(owner) {
  SetCanFocused(false);
  SetTextAlign(vgTextAlignNear);
  SetDragMode(vgDragAutomatic);
  rightGrip_ = MakeGrip(this, vaRight, TvgMouseMoveEvent::Of<&TvgHeaderItem::RightGripMove>(this));
  leftGrip_ = MakeGrip(this, vaLeft, TvgMouseMoveEvent::Of<&TvgHeaderItem::LeftGripMove>(this));
}

TvgHeaderItem::~TvgHeaderItem() { DestroyTree(); }

TvgVisualObject* TvgHeaderItem::GetRightGrip() const { return rightGrip_; }
TvgVisualObject* TvgHeaderItem::GetLeftGrip() const { return leftGrip_; }

TvgHeader* TvgHeaderItem::Header() const { return dynamic_cast<TvgHeader*>(GetParent()); }

void TvgHeaderItem::RightGripMove(TObject*, TShiftState, float x, float y, float, float) {
  if (!rightGrip_->pressed) return;
  float newSize = AbsoluteToLocal(rightGrip_->LocalToAbsolute(vgPoint(x, y))).X;
  if (newSize < 0) newSize = 0;
  TvgHeader* header = Header();
  if (header != nullptr) header->OnResizeItem(this, newSize);
  SetWidth(newSize);
  if (header != nullptr) header->Realign();
}

void TvgHeaderItem::LeftGripMove(TObject*, TShiftState shift, float x, float y, float dx, float dy) {
  TvgHeader* header = Header();
  const int32_t index = GetIndex();
  if (index <= 0 || !leftGrip_->pressed || header == nullptr) return;
  TvgHeaderItem* previous = header->HeaderItem(index - 1);
  if (previous == nullptr) return;
  const TvgPoint p = previous->rightGrip_->AbsoluteToLocal(leftGrip_->LocalToAbsolute(vgPoint(x, y)));
  previous->rightGrip_->pressed = true;
  previous->RightGripMove(previous->rightGrip_, shift, p.X, p.Y, dx, dy);
  previous->rightGrip_->pressed = false;
}

void TvgHeaderItem::DragOver(const TvgDragObject& data, const TvgPoint& point, bool& accept) {
  inherited::DragOver(data, point, accept);
  auto* dragged = dynamic_cast<TvgHeaderItem*>(data.Source);
  accept = dragged != nullptr && Header() != nullptr && dragged->GetParent() == GetParent() &&
           GetDragMode() != vgDragManual;
}

void TvgHeaderItem::DragDrop(const TvgDragObject& data, const TvgPoint& point) {
  inherited::DragDrop(data, point);
  auto* dragged = dynamic_cast<TvgHeaderItem*>(data.Source);
  TvgHeader* header = Header();
  if (dragged == nullptr || header == nullptr || dragged->GetParent() != header || GetDragMode() == vgDragManual) return;
  const int32_t newIndex = GetIndex();
  const int32_t oldIndex = dragged->GetIndex();
  dragged->SetIndex(newIndex);
  header->OnRealignItem(dragged, oldIndex, newIndex);
  header->Realign();
}

// --- Header

TvgHeader::TvgHeader(TComponent* owner) : TvgControl(owner) {
  SetCanFocused(false);
  SetClipChildren(true);
  filler_ = new TvgHeaderItem(this);
  filler_->SetParent(this);
  filler_->SetStored(false);
  filler_->SetLocked(true);
  filler_->SetWidth(50);
  filler_->SetDragMode(vgDragManual);
}

TvgHeader::~TvgHeader() { DestroyTree(); }

TvgHeaderItem* TvgHeader::HeaderItem(int32_t index) const { return dynamic_cast<TvgHeaderItem*>(GetChild(index)); }

void TvgHeader::SetRadius(float value) {
  if (value == radius_) return;
  radius_ = value;
  Realign();
}

void TvgHeader::SetSides(TvgSides value) {
  if (value == sides_) return;
  sides_ = value;
  Realign();
}

void TvgHeader::Realign() {
  inherited::Realign();
  if (HasState(csDestroying) || inHeaderRealign_ || GetChildrenCount() == 0) return;
  inHeaderRealign_ = true;
  if (filler_->GetParent() == this && filler_->GetIndex() != GetChildrenCount() - 1) filler_->BringToFront();
  TvgRect r = GetMargins()->MarginRect(vgRect(scrollOffset_, 0, GetWidth(), GetHeight()));
  const TvgSides rightSide{vgSideRight}, leftSide{vgSideLeft};
  for (int32_t i = 0; i < GetChildrenCount(); ++i) {
    TvgHeaderItem* item = HeaderItem(i);
    if (item == nullptr) continue;
    const bool filler = item == filler_;
    if (item->GetVisible()) {
      item->SetBounds(r.Left, r.Top, item->GetWidth(), GetHeight());
      if (!filler) r.Left += item->GetWidth();
    }
    item->SetxRadius(radius_);
    item->SetyRadius(radius_);
    if (i == 0) {
      item->SetCorners(TvgCorners{vgCornerTopLeft});
      item->SetSides(sides_ - rightSide);
    } else if (!filler) {
      item->SetCorners(TvgCorners());
      item->SetSides(sides_ - rightSide + leftSide);
    } else {
      item->SetCorners(TvgCorners{vgCornerTopRight});
      item->SetSides(sides_ + leftSide);
    }
  }
  filler_->SetWidth(std::max(r.Right - r.Left, 0.0f));
  inHeaderRealign_ = false;
}

void TvgHeader::Paint() {
  inherited::Paint();
  TvgCanvas* canvas = GetCanvas();
  if (!IsDesigning() || GetLocked() || GetDesignHide() || canvas == nullptr) return;
  TvgRect r = GetLocalRect();
  vgInflateRect(r, -0.5f, -0.5f);
  canvas->SetStrokeThickness(1);
  canvas->SetStrokeDash(vgDashDash);
  canvas->GetStroke()->SetStyle(vgBrushSolid);
  canvas->GetStroke()->SetSolidColor(0xA0909090u);
  canvas->DrawRect(r, 0, 0, vgAllCorners, GetAbsoluteOpacity(), vgCornerRound);
  canvas->SetStrokeDash(vgDashSolid);
}

// --- Unit registration

void vgInitGridUnit() {
  static bool done = false;
  if (done) return;
  done = true;
  vgInitControlsUnit();
  vgRegisterObjects("Grid", {TvgHeader::StaticClassInfo()});
  vgRegisterObjects("Items", {TvgHeaderItem::StaticClassInfo()});
}

namespace {
const bool g_gridRegistered = (vgInitGridUnit(), true);
}
