// The grid of the scene: a header row of resizable, reorderable items; columns that keep one
// editor cell per visible row and write edits back; and the virtual grid that asks its value
// source for what each visible cell shows, with the string grid that keeps texts per column.
// GUI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scene/controls/vg_controls.h"

class TvgHeader;
class TvgHeaderGrip;

// --- Header

using TvgOnRealignItemEvent = TMethod<void(TObject* sender, int32_t oldIndex, int32_t newIndex)>;
using TvgOnResizeItemEvent = TMethod<void(TObject* sender, float& newSize)>;

// One title of the header. Dragging its right edge resizes it, dragging its left edge resizes
// the item before it, and dropping it on another item of the same header moves it there.
class TvgHeaderItem : public TvgCornerButton {
  KBL_DECLARE_CLASS(TvgHeaderItem, TvgCornerButton)
 public:
  explicit TvgHeaderItem(TComponent* owner);
  ~TvgHeaderItem() override;
  // Accepts only another item of the same header, and only while this item is draggable (the
  // header's filler is not).
  void DragOver(const TvgDragObject& data, const TvgPoint& point, bool& accept) override;
  // Moves the dragged item to this item's place and reports both places to the header.
  void DragDrop(const TvgDragObject& data, const TvgPoint& point) override;
  TvgVisualObject* GetRightGrip() const;
  TvgVisualObject* GetLeftGrip() const;

 private:
  void RightGripMove(TObject* sender, TShiftState shift, float x, float y, float dx, float dy);
  void LeftGripMove(TObject* sender, TShiftState shift, float x, float y, float dx, float dy);
  TvgHeader* Header() const;

  TvgHeaderGrip* rightGrip_;
  TvgHeaderGrip* leftGrip_;
};

// A row of header items laid out from ScrollOffset, followed by a filler item that takes the
// remaining width and always stays last.
class TvgHeader : public TvgControl {
  KBL_DECLARE_CLASS(TvgHeader, TvgControl)
 public:
  explicit TvgHeader(TComponent* owner);
  ~TvgHeader() override;
  void Realign() override;
  void Paint() override;
  std::string GetItemClassNames() override { return "TvgHeaderItem"; }

  // Child N when it is a header item; nullptr otherwise.
  TvgHeaderItem* HeaderItem(int32_t index) const;
  TvgHeaderItem* GetFiller() const { return filler_; }
  float GetRadius() const { return radius_; }
  void SetRadius(float value);
  TvgSides GetSides() const { return sides_; }
  void SetSides(TvgSides value);
  // The x origin of the items (the grid sets minus its horizontal scroll position); applied at
  // the next Realign.
  float GetScrollOffset() const { return scrollOffset_; }
  void SetScrollOffset(float value) { scrollOffset_ = value; }
  bool IsSidesStored() const { return !(sides_ == vgAllSides); }

  TvgOnRealignItemEvent OnRealignItem;
  TvgOnResizeItemEvent OnResizeItem;

 private:
  TvgHeaderItem* filler_;
  float radius_ = 0;
  TvgSides sides_ = vgAllSides;
  float scrollOffset_ = 0;
  bool inHeaderRealign_ = false;
};

// Registers the grid classes once.
void vgInitGridUnit();
