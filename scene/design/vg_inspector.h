// The property inspector: a tree of the published properties of one object, sorted by name,
// with nested rows for object-valued properties and an in-place editor for the selected row (a
// text box for numbers and texts, a drop-down for enumerations, an "Edit..." button for brushes,
// gradients, bitmaps, paths and fonts). GUI thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "classlib/Classes.h"
#include "classlib/TypInfo.h"
#include "scene/widgets/vg_treeview.h"

class TvgBitmap;
class TvgBrush;
class TvgButton;
class TvgFont;
class TvgGradient;
class TvgLabel;
class TvgPathData;
class TvgPopupBox;
class TvgTextBox;

// What the "Edit..." button opens, and how an error is shown; the design-time forms install
// the editors at start-up. Each edits the value in place and answers true when the user
// accepted. Without an editor the button does nothing.
struct TvgInspectorEditors {
  std::function<bool(TvgBrush* brush, TComponent* context)> EditBrush;
  std::function<bool(TvgGradient* gradient)> EditGradient;
  std::function<bool(TvgBitmap* bitmap)> EditBitmap;
  std::function<bool(TvgPathData* path)> EditPath;
  std::function<bool(TvgFont* font)> EditFont;
  std::function<void(const std::string& message)> ShowMessage;
};
TvgInspectorEditors& vgInspectorEditors();

// A row of the inspector: one property of one object (nested rows belong to sub-objects).
class TvgInspectorItem : public TvgTreeViewItem {
  KBL_DECLARE_CLASS(TvgInspectorItem, TvgTreeViewItem)
 public:
  explicit TvgInspectorItem(TComponent* owner);
  TObject* Object = nullptr;
  const TPropInfo* Prop = nullptr;
  TvgLabel* ValueLabel = nullptr;
};

class TvgInspector : public TvgTreeView {
  KBL_DECLARE_CLASS(TvgInspector, TvgTreeView)
 public:
  explicit TvgInspector(TComponent* owner);
  ~TvgInspector() override;

  void Notification(TComponent* component, TOperation operation) override;
  // Writes a pending typed value first, then selects, then shows the editor of the new row.
  void SetSelected(TvgTreeViewItem* item) override;
  // After laying the rows out, the editor follows the selected row.
  TvgRect GetContentBounds() override;
  // Down, Up, Home, End and the numeric-pad plus and minus keys move and fold the rows while the
  // editor has the focus.
  void DialogKey(uint16_t& key, TShiftState shift) override;

  // The rows made again from the selected object.
  void Rebuild();
  // Shows the editor that suits the selected row (none for rows without one).
  void PlaceEditor();
  // Applies the editor's value to the row's property. A value the property refuses puts the
  // old value back and shows the message; nothing is raised.
  void EditorChanged(TObject* sender);
  // The row of a property of the selected object (a dotted path reaches nested rows); nullptr.
  TvgInspectorItem* FindRow(const std::string& path);

  // Watched: when it is freed the inspector empties.
  TComponent* GetSelectedObject() const { return selectedObject_; }
  void SetSelectedObject(TComponent* value);
  TStringList* GetDisabledProperties() const { return disabledProperties_; }
  void SetDisabledProperties(TStringList* value) { disabledProperties_->Assign(value); }
  bool GetShowProperties() const { return showProperties_; }
  void SetShowProperties(bool value);
  bool GetShowEvents() const { return showEvents_; }
  void SetShowEvents(bool value);
  TvgTextBox* GetTextEditor() const { return textEditor_; }
  TvgPopupBox* GetListEditor() const { return listEditor_; }
  TvgButton* GetButtonEditor() const { return buttonEditor_; }
  // The editor shown for the selected row; nullptr when none.
  TvgControl* GetActiveEditor() const;

 private:
  void AddProperties(TObject* object, TvgObject* under, std::vector<TObject*>& path);
  std::string ValueText(TObject* object, const TPropInfo* prop) const;
  void DetachEditors();
  void ShowEditor(TvgControl* editor, TvgInspectorItem* row);
  bool ApplyText(TvgInspectorItem* row, const WideString& text);

  TComponent* selectedObject_ = nullptr;
  TvgTextBox* textEditor_ = nullptr;
  TvgPopupBox* listEditor_ = nullptr;
  TvgButton* buttonEditor_ = nullptr;
  TStringList* disabledProperties_;
  bool showProperties_ = true;
  bool showEvents_ = false;
  bool placing_ = false;
};

// Registers the inspector class once.
void vgInitInspectorUnit();
