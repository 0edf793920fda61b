// Helpers shared by the widgets' modules: packed events, surrogate pairs and style parts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/InputTypes.h"
#include "classlib/Variants.h"
#include "scene/core/vg_control.h"
#include "scene/core/vg_popup.h"
#include "scene/core/vg_visualobject.h"
#include "scene/core/vg_registry.h"

class TvgListBox;

namespace vg_widgets {

// The key codes the widgets handle.
enum : uint16_t {
  kKeyBack = 8, kKeyEnter = 13, kKeyPrior = 33, kKeyNext = 34, kKeyEnd = 35, kKeyHome = 36, kKeyLeft = 37,
  kKeyUp = 38, kKeyRight = 39, kKeyDown = 40, kKeyInsert = 45, kKeyDelete = 46, kKeyAdd = 107, kKeySubtract = 109
};
// The text cursor (the class library's crIBeam).
inline constexpr int32_t kCursorIBeam = -4;
// What the number boxes let be typed.
inline constexpr char16_t kNumberChars[] = u"0123456789.,-+";

// A Variant packing a method ("vgmet...") as a notification; false for any other Variant.
inline bool VariantToNotify(const Variant& value, TNotifyEvent& event) {
  if (!vgVarIsEvent(value)) return false;
  const TMethodValue m = vgVariantToEvent(value);
  event = m.Assigned() ? TNotifyEvent::FromFunction(reinterpret_cast<TNotifyEvent::Thunk>(m.Code), m.Data)
                       : TNotifyEvent();
  return true;
}

// A combo's drop-down and the list in it take the combo's width; `inRealign` keeps the
// realignment this causes from coming back here. A layout the list put off while hidden runs
// first, for the width it was put off at.
void FitDropDownWidth(TvgVisualObject& combo, TvgPopup* popup, TvgListBox* list, bool& inRealign);

inline bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// True when `position` (0-based, between units) falls between the two halves of a pair.
inline bool SplitsPair(const std::u16string& text, int32_t position) {
  return position > 0 && position < static_cast<int32_t>(text.size()) &&
         IsHighSurrogate(text[static_cast<size_t>(position) - 1]) && IsLowSurrogate(text[static_cast<size_t>(position)]);
}

// The position one character after / before `position` (a pair counts as one character).
inline int32_t NextCharPos(const std::u16string& text, int32_t position) {
  return SplitsPair(text, position + 1) ? position + 2 : position + 1;
}
inline int32_t PrevCharPos(const std::u16string& text, int32_t position) {
  return SplitsPair(text, position - 1) ? position - 2 : position - 1;
}

// Word moves over one line of text, where only the space character separates words: the start
// of the next word after `position` (the end of the text when none follows), and the start of
// the word before it.
inline int32_t NextWordStart(const std::u16string& text, int32_t position) {
  const auto length = static_cast<int32_t>(text.size());
  int32_t result = position;
  bool blankSeen = false;
  while (result >= 0 && result + 2 <= length && (text[static_cast<size_t>(result)] == u' ' || !blankSeen)) {
    if (text[static_cast<size_t>(result)] == u' ') blankSeen = true;
    ++result;
  }
  if (!blankSeen) ++result;
  return result;
}
inline int32_t PrevWordStart(const std::u16string& text, int32_t position) {
  int32_t result = position < static_cast<int32_t>(text.size()) ? position : static_cast<int32_t>(text.size());
  bool wordSeen = false;
  while (result > 0 && (text[static_cast<size_t>(result) - 1] != u' ' || !wordSeen)) {
    if (text[static_cast<size_t>(result) - 1] != u' ') wordSeen = true;
    --result;
  }
  return result;
}

// True when exactly `flag` of Shift, Alt and Ctrl is held (mouse buttons are not looked at).
inline bool IsExactly(TShiftState shift, TShiftStateFlag flag) {
  return shift * TShiftState{ssShift, ssAlt, ssCtrl} == TShiftState{flag};
}

// The style part of that name when it is a visual object of class T, else nullptr.
template <typename T>
T* PartOf(TvgControl* control, const std::string& name) {
  return dynamic_cast<T*>(control->FindResource(name));
}

// Shows one clone of the style part `selection` per rect (rects in the coordinates of the part's
// parent): clones are made on demand (owned by `owner`, parented beside the part, resource name
// cleared, not stored), spare ones hidden; `show` false hides them all.
void UpdateMarkers(TvgVisualObject* selection, TComponent* owner, std::vector<TvgVisualObject*>& clones,
                   const std::vector<TvgRect>& rects, bool show);

// The popup of a drop-down box: placed at `box`, parented to it, closed by outside clicks, kept
// out of streams and designers.
TvgPopup* MakeDropDownPopup(TvgControl* box);
// The drop-down's height: `rows` rows of the list's item height, or of the box's height less 4
// when the list has none.
inline float DropDownHeight(int32_t rows, float itemHeight, float boxHeight) {
  return static_cast<float>(rows) * (itemHeight > 0 ? itemHeight : boxHeight - 4);
}

// While a list or tree places its items: an item's new size does not lay the container out again
// (the container's Realign looks at the flag), and the scene takes no repaint per item; the
// container repaints once at the end.
class TLayoutPass {
 public:
  TLayoutPass(TvgVisualObject* owner, bool& flag) : owner_(owner), flag_(flag), scene_(owner->GetScene()) {
    flag_ = true;
    if (scene_ != nullptr) {
      savedDisable_ = scene_->GetDisableUpdate();
      scene_->SetDisableUpdate(true);
    }
  }
  ~TLayoutPass() {
    flag_ = false;
    if (scene_ != nullptr) scene_->SetDisableUpdate(savedDisable_);
    owner_->Repaint();
  }
  TLayoutPass(const TLayoutPass&) = delete;
  TLayoutPass& operator=(const TLayoutPass&) = delete;

 private:
  TvgVisualObject* owner_;
  bool& flag_;
  IvgScene* scene_;
  bool savedDisable_ = false;
};

// Registers the widgets' classes once (vgInitWidgetsUnit; every module's start-up calls it).
void InitWidgetsUnit();

}  // namespace vg_widgets
