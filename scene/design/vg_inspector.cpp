// The property inspector.
#include "vg_inspector.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "scene/controls/vg_controls.h"
#include "scene/core/vg_brush.h"
#include "scene/core/vg_designer.h"
#include "scene/core/vg_pathdata.h"
#include "scene/core/vg_registry.h"
#include "scene/widgets/vg_textbox.h"
#include "vg_design_p.h"

KBL_PUBLISHED(TvgInspectorItem) {}
KBL_PUBLISHED(TvgInspector) {
  KBL_PROP(SelectedObject);
  KBL_PROP(DisabledProperties);
  KBL_PROP(ShowProperties).Default(true);
  KBL_PROP(ShowEvents).Default(false);
}

TvgInspectorEditors& vgInspectorEditors() {
  static TvgInspectorEditors editors;
  return editors;
}

namespace {

// A float as the property system reads it back: "." as separator, as few digits as give the
// same value at the property's precision.
std::string FloatText(double value, TFloatType type) {
  char buffer[64];
  const auto result = type == ftSingle ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value))
                                       : std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

bool IsEditableByButton(const TObject* value) {
  return dynamic_cast<const TvgGradient*>(value) != nullptr || dynamic_cast<const TvgBrush*>(value) != nullptr ||
         dynamic_cast<const TvgBitmap*>(value) != nullptr || dynamic_cast<const TvgPathData*>(value) != nullptr ||
         dynamic_cast<const TvgFont*>(value) != nullptr;
}

template <typename T>
void Park(T* editor) {
  editor->SetVisible(false);
  editor->GetPosition()->SetX(2000);
}

}  // namespace

// --- Rows

TvgInspectorItem::TvgInspectorItem(TComponent* owner) : TvgTreeViewItem(owner) {
  SetLocked(true);
  SetStored(false);
}

// --- Inspector

TvgInspector::TvgInspector(TComponent* owner) : TvgTreeView(owner), disabledProperties_(new TStringList()) {
  SetResource("treeviewstyle");
  SetHideSelectionUnfocused(false);
  textEditor_ = new TvgTextBox(this);
  listEditor_ = new TvgPopupBox(this);
  buttonEditor_ = new TvgButton(this);
  for (TvgControl* editor : {static_cast<TvgControl*>(textEditor_), static_cast<TvgControl*>(listEditor_),
                             static_cast<TvgControl*>(buttonEditor_)}) {
    editor->SetResource("inspectorEditor");
    editor->SetParent(this);
    editor->SetLocked(true);
    editor->SetStored(false);
    Park(editor);
  }
  textEditor_->GetPadding()->SetRect(TvgRect());
  listEditor_->SetTextAlign(vgTextAlignNear);
  const TNotifyEvent changed = TNotifyEvent::Of<&TvgInspector::EditorChanged>(this);
  textEditor_->OnChange = changed;
  listEditor_->OnChange = changed;
  buttonEditor_->OnClick = changed;
}

TvgInspector::~TvgInspector() {
  if (selectedObject_ != nullptr) selectedObject_->RemoveFreeNotification(this);
  selectedObject_ = nullptr;
  textEditor_->OnChange = TNotifyEvent();
  listEditor_->OnChange = TNotifyEvent();
  buttonEditor_->OnClick = TNotifyEvent();
  DestroyTree();
  delete disabledProperties_;
}

void TvgInspector::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  // The inspected object is going: no row may keep pointing into it.
  if (operation == opRemove && component == selectedObject_) {
    selectedObject_ = nullptr;
    Rebuild();
  }
}

void TvgInspector::SetSelectedObject(TComponent* value) {
  if (value == selectedObject_) return;
  if (selectedObject_ != nullptr) selectedObject_->RemoveFreeNotification(this);
  selectedObject_ = value;
  if (selectedObject_ != nullptr) selectedObject_->FreeNotification(this);
  Rebuild();
  PlaceEditor();
}

void TvgInspector::SetShowProperties(bool value) {
  if (vgSetChanged(showProperties_, value)) Rebuild();
}

void TvgInspector::SetShowEvents(bool value) {
  if (vgSetChanged(showEvents_, value)) Rebuild();
}

void TvgInspector::Rebuild() {
  BeginUpdate();
  try {
    DetachEditors();
    Clear();
    if (selectedObject_ != nullptr) {
      std::vector<TObject*> path{selectedObject_};
      AddProperties(selectedObject_, this, path);
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

std::string TvgInspector::ValueText(TObject* object, const TPropInfo* prop) const {
  try {
    switch (prop->PropType->Kind) {
      case tkInteger:
      case tkInt64: return IntToStr(GetOrdProp(object, prop));
      case tkEnumeration: return GetEnumName(prop->PropType, GetOrdProp(object, prop));
      case tkFloat: return FloatText(GetFloatProp(object, prop), prop->PropType->FloatType);
      case tkString:
      case tkLString:
      case tkWString: return GetStrProp(object, prop);
      case tkClass: {
        TObject* value = GetObjectProp(object, prop);
        if (value == nullptr) return std::string();
        if (auto* sceneObject = dynamic_cast<TvgObject*>(value))
          return sceneObject->GetName().empty() ? sceneObject->GetResourceName() : sceneObject->GetName();
        return value->ClassName();
      }
      default: return GetPropText(object, prop->Name);
    }
  } catch (const Exception& e) {
    return "(" + e.Message() + ")";
  }
}

void TvgInspector::AddProperties(TObject* object, TvgObject* under, std::vector<TObject*>& path) {
  for (const TPropInfo* prop : GetPropList(object->ClassInfo(), tkAny)) {
    if (disabledProperties_->IndexOf(prop->Name) >= 0) continue;
    const bool event = prop->PropType->Kind == tkMethod;
    if (event ? !showEvents_ || object != selectedObject_ : !showProperties_) continue;
    auto* row = new TvgInspectorItem(this);
    row->SetText(Utf8ToWide(prop->Name));
    row->Object = object;
    row->Prop = prop;
    auto* label = new TvgLabel(this);
    label->SetResource("inspectorEditor");
    label->SetLocked(true);
    label->SetStored(false);
    label->SetTextAlign(vgTextAlignNear);
    label->SetWordWrap(false);
    label->SetHitTest(false);
    label->SetParent(row);
    label->SetText(Utf8ToWide(ValueText(object, prop)));
    row->ValueLabel = label;
    under->AddObject(row);
    if (prop->PropType->Kind != tkClass) continue;
    TObject* value = GetObjectProp(object, prop);
    if (value == nullptr || dynamic_cast<TvgObject*>(value) != nullptr) continue;
    row->SetIsExpanded(false);
    // Objects that refer back to one on the way here show their class name only.
    if (std::find(path.begin(), path.end(), value) != path.end()) continue;
    path.push_back(value);
    AddProperties(value, row, path);
    path.pop_back();
  }
}

TvgInspectorItem* TvgInspector::FindRow(const std::string& path) {
  TvgObject* level = GetContent();
  TvgInspectorItem* found = nullptr;
  size_t start = 0;
  while (level != nullptr && start <= path.size()) {
    const size_t dot = path.find('.', start);
    const std::string name = path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    found = nullptr;
    for (TvgObject* child : level->Children())
      if (auto* row = dynamic_cast<TvgInspectorItem*>(child); row != nullptr && row->Prop != nullptr && SameText(row->Prop->Name, name))
        found = row;
    if (found == nullptr || dot == std::string::npos) return found;
    level = found;
    start = dot + 1;
  }
  return nullptr;
}

TvgControl* TvgInspector::GetActiveEditor() const {
  if (textEditor_ == nullptr || listEditor_ == nullptr || buttonEditor_ == nullptr) return nullptr;  // being made
  for (TvgControl* editor : {static_cast<TvgControl*>(textEditor_), static_cast<TvgControl*>(listEditor_),
                             static_cast<TvgControl*>(buttonEditor_)})
    if (editor->GetVisible()) return editor;
  return nullptr;
}

void TvgInspector::DetachEditors() {
  if (GetActiveEditor() == nullptr && textEditor_ == nullptr) return;
  // A hidden text box must not report its text later (when it loses the focus).
  textEditor_->SetNeedChange(false);
  Park(textEditor_);
  Park(listEditor_);
  Park(buttonEditor_);
}

void TvgInspector::ShowEditor(TvgControl* editor, TvgInspectorItem* row) {
  TvgVisualObject* content = GetContent();
  if (content == nullptr) return;
  const TvgPoint top = content->AbsoluteToLocal(row->LocalToAbsolute(vgPoint(0, 0)));
  const float left = content->AbsoluteToLocal(LocalToAbsolute(vgPoint(GetWidth() / 2, 0))).X;
  const float right = content->AbsoluteToLocal(GetViewport() != nullptr ? GetViewport()->LocalToAbsolute(vgPoint(GetViewport()->GetWidth(), 0))
                                                                        : LocalToAbsolute(vgPoint(GetWidth(), 0)))
                          .X;
  editor->SetVisible(true);
  editor->SetLocked(true);
  editor->SetStored(false);
  editor->SetBounds(left, top.Y, std::max(right - left, 10.0f), std::max(row->GetHeight() - 2, 1.0f));
  editor->BringToFront();
  editor->SetFocus();
}

void TvgInspector::PlaceEditor() {
  if (placing_) return;
  placing_ = true;
  try {
    DetachEditors();
    auto* row = dynamic_cast<TvgInspectorItem*>(GetSelected());
    if (row != nullptr && row->Prop != nullptr && row->ValueLabel != nullptr) {
      const TPropInfo* prop = row->Prop;
      switch (prop->PropType->Kind) {
        case tkMethod:
          if (vgDesigner() == nullptr) break;
          [[fallthrough]];
        case tkInteger:
        case tkInt64:
        case tkFloat:
        case tkString:
        case tkLString:
        case tkWString:
          if (!prop->IsWritable()) break;
          textEditor_->SetText(row->ValueLabel->GetText());
          textEditor_->SetNeedChange(false);
          ShowEditor(textEditor_, row);
          textEditor_->SelectAll();
          break;
        case tkEnumeration: {
          if (!prop->IsWritable()) break;
          listEditor_->GetItems()->Clear();
          for (int64_t v = prop->PropType->MinValue; v <= prop->PropType->MaxValue; ++v)
            listEditor_->GetItems()->Add(Utf8ToWide(GetEnumName(prop->PropType, v)));
          listEditor_->SetItemIndex(static_cast<int32_t>(GetOrdProp(row->Object, prop) - prop->PropType->MinValue));
          ShowEditor(listEditor_, row);
          break;
        }
        case tkClass:
          if (IsEditableByButton(GetObjectProp(row->Object, prop))) {
            buttonEditor_->SetText(u"Edit...");
            ShowEditor(buttonEditor_, row);
          }
          break;
        default:
          break;
      }
    }
  } catch (...) {
    placing_ = false;
    throw;
  }
  placing_ = false;
}

void TvgInspector::SetSelected(TvgTreeViewItem* item) {
  if (item != GetSelected() && !placing_) {
    TvgControl* editor = GetActiveEditor();
    if (editor == textEditor_ || editor == listEditor_) EditorChanged(editor);
  }
  inherited::SetSelected(item);
  PlaceEditor();
}

TvgRect TvgInspector::GetContentBounds() {
  const TvgRect r = inherited::GetContentBounds();
  // The value labels start half way across the inspector, whatever the row's indent.
  std::vector<TvgObject*> all;
  if (GetContent() != nullptr) GetContent()->AddObjectsToList(all);
  const TvgPoint half = LocalToAbsolute(vgPoint(GetWidth() / 2, 0));
  for (TvgObject* obj : all) {
    auto* row = dynamic_cast<TvgInspectorItem*>(obj);
    if (row == nullptr || row->ValueLabel == nullptr) continue;
    const float x = row->AbsoluteToLocal(half).X;
    row->ValueLabel->SetBounds(x, -1, std::max(row->GetWidth() - x, 1.0f), row->GetHeight() + 2);
  }
  if (TvgControl* editor = GetActiveEditor())
    if (auto* row = dynamic_cast<TvgInspectorItem*>(GetSelected())) {
      const TvgPoint top = GetContent()->AbsoluteToLocal(row->LocalToAbsolute(vgPoint(0, 0)));
      editor->GetPosition()->SetY(top.Y);
    }
  return r;
}

void TvgInspector::DialogKey(uint16_t& key, TShiftState shift) {
  inherited::DialogKey(key, shift);
  TvgControl* editor = GetActiveEditor();
  if (key == 0 || editor == nullptr || GetScene() == nullptr || GetScene()->GetFocused() != editor) return;
  const bool move = key == 40 || key == 38 || ((key == 36 || key == 35) && editor != textEditor_);
  const bool fold = key == 107 || key == 109;
  if (!move && !fold) return;
  WideChar none = 0;
  TvgTreeView::KeyDown(key, none, shift);
  key = 0;
}

bool TvgInspector::ApplyText(TvgInspectorItem* row, const WideString& text) {
  const std::string value = WideToUtf8(text);
  bool shownAsTyped = false;
  try {
    if (row->Prop->PropType->Kind == tkMethod) {
      IvgDesigner* designer = vgDesigner();
      if (designer == nullptr) return false;
      // The design environment creates the handler in the form or finds the one of that name;
      // when it gives none, the handler is looked up among the published methods of the form.
      const std::string name = Trim(value);
      TComponent* form = selectedObject_;
      while (form != nullptr && form->GetOwner() != nullptr) form = form->GetOwner();
      const TMethodValue method =
          name.empty() ? TMethodValue() : designer->CreateMethod(form, name, row->Prop->PropType);
      shownAsTyped = method.Assigned();
      if (shownAsTyped)
        SetMethodProp(row->Object, row->Prop, method);
      else
        SetPropText(row->Object, row->Prop->Name, value);
    } else {
      SetPropValue(row->Object, row->Prop->Name, Variant(value));
    }
  } catch (const Exception& e) {
    // The property keeps its value: the row and the editor show it again.
    const std::string old = ValueText(row->Object, row->Prop);
    row->ValueLabel->SetText(Utf8ToWide(old));
    textEditor_->SetText(Utf8ToWide(old));
    textEditor_->SetNeedChange(false);
    if (vgInspectorEditors().ShowMessage) vgInspectorEditors().ShowMessage(e.Message());
    return false;
  }
  row->ValueLabel->SetText(shownAsTyped ? text : Utf8ToWide(ValueText(row->Object, row->Prop)));
  return true;
}

void TvgInspector::EditorChanged(TObject* sender) {
  auto* row = dynamic_cast<TvgInspectorItem*>(GetSelected());
  if (placing_ || GetUpdateCounter() > 0 || row == nullptr || row->Prop == nullptr) return;
  try {
    if (sender == buttonEditor_) {
      TObject* value = GetObjectProp(row->Object, row->Prop);
      TvgInspectorEditors& editors = vgInspectorEditors();
      bool accepted = false;
      if (auto* brush = dynamic_cast<TvgBrush*>(value)) accepted = editors.EditBrush && editors.EditBrush(brush, selectedObject_);
      else if (auto* gradient = dynamic_cast<TvgGradient*>(value)) accepted = editors.EditGradient && editors.EditGradient(gradient);
      else if (auto* bitmap = dynamic_cast<TvgBitmap*>(value)) accepted = editors.EditBitmap && editors.EditBitmap(bitmap);
      else if (auto* path = dynamic_cast<TvgPathData*>(value)) accepted = editors.EditPath && editors.EditPath(path);
      else if (auto* font = dynamic_cast<TvgFont*>(value)) accepted = editors.EditFont && editors.EditFont(font);
      if (accepted)
        if (auto* visual = dynamic_cast<TvgVisualObject*>(selectedObject_)) visual->Repaint();
    } else if (sender == textEditor_) {
      ApplyText(row, textEditor_->GetText());
      textEditor_->SetNeedChange(false);
    } else if (sender == listEditor_) {
      if (listEditor_->GetItemIndex() < 0) return;
      SetPropValue(row->Object, row->Prop->Name, Variant(static_cast<int64_t>(listEditor_->GetItemIndex() + row->Prop->PropType->MinValue)));
      row->ValueLabel->SetText(Utf8ToWide(ValueText(row->Object, row->Prop)));
    }
  } catch (const Exception& e) {
    // Nothing leaves the inspector: the row shows the property's value as it is.
    row->ValueLabel->SetText(Utf8ToWide(ValueText(row->Object, row->Prop)));
    if (vgInspectorEditors().ShowMessage) vgInspectorEditors().ShowMessage(e.Message());
  }
}

// --- Unit registration

void vgInitInspectorUnit() {
  static bool done = false;
  if (done) return;
  done = true;
  vgInitTreeViewUnit();
  vgRegisterObjects("Design", {TvgInspector::StaticClassInfo()});
  vgRegisterPlatformDesignClasses();
}

namespace {
// The editors are function slots, filled at once; the classes register at the class registry's
// first look-up.
const bool g_inspectorRegistered = (vgInstallPlatformDesignEditors(), AddClassRegistration(&vgInitInspectorUnit), true);
}
