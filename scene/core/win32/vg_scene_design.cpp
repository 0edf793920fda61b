// The scene window's design mode on Win32: the design menu as a popup menu of the window layer,
// the file dialog of "Load From File..." and the tab-order editor (a borderless form with a
// transparent scene whose HUD window, list box and buttons are made by class name, so that the
// editor needs no control library above the scene core).
#include <windows.h>

#include "classlib/Dialogs.h"
#include "classlib/Forms.h"
#include "classlib/Menus.h"
#include "classlib/TypInfo.h"
#include "vg_control.h"
#include "vg_scene.h"
#include "vg_taborder_win32.h"

namespace {

// A menu item that runs a design command.
class TvgDesignMenuEntry : public TMenuItem {
 public:
  TvgDesignMenuEntry(TComponent* owner, std::function<void()> run) : TMenuItem(owner), run_(std::move(run)) {}
  void Click() override {
    if (!GetEnabled()) return;
    TMenuItem::Click();
    if (run_) run_();
  }

 private:
  std::function<void()> run_;
};

void AddEntries(TMenuItem* into, const std::vector<TvgDesignMenuItem>& items, TComponent* owner) {
  for (const TvgDesignMenuItem& item : items) {
    auto* entry = new TvgDesignMenuEntry(owner, item.OnClick);
    entry->SetCaption(item.Caption);
    entry->SetChecked(item.Checked);
    entry->SetEnabled(item.Enabled);
    into->Add(entry);
    AddEntries(entry, item.Items, owner);
  }
}

}  // namespace

TPopupMenu* vgMakeDesignPopupMenu(const TvgDesignMenuItem& menu, TComponent* owner) {
  auto* popup = new TPopupMenu(owner);
  AddEntries(popup->GetItems(), menu.Items, popup);
  return popup;
}

void TvgCustomScene::HostShowDesignMenu(const TvgDesignMenuItem& menu, const TvgPoint& clientPoint) {
  std::unique_ptr<TPopupMenu> popup(vgMakeDesignPopupMenu(menu, nullptr));
  popup->SetPopupComponent(this);
  const TPoint at = ClientToScreen(TPoint{static_cast<int32_t>(clientPoint.X), static_cast<int32_t>(clientPoint.Y)});
  popup->Popup(at.X, at.Y);
}

bool TvgCustomScene::HostOpenFile(const std::string& filter, std::string& fileName) {
  TOpenDialog dialog(nullptr);
  dialog.SetFilter(filter);
  if (!dialog.Execute(HandleAllocated() ? GetHandle() : nullptr)) return false;
  fileName = dialog.GetFileName();
  return true;
}

void TvgCustomScene::HostEditTabOrder(TvgVisualObject* parent) {
  std::unique_ptr<TCustomForm> editor(vgCreateTabOrderEditor(parent));
  if (editor) editor->ShowModal();
}

// --- Tab-order editor

namespace {

// Creates a registered scene class by name; nullptr when it is not registered.
TvgObject* CreateByName(const std::string& className) {
  const TClassInfo* cls = GetClass(className);
  return cls != nullptr ? dynamic_cast<TvgObject*>(cls->Create(nullptr)) : nullptr;
}

void SetOrdValue(TObject* obj, const std::string& name, int64_t value) {
  if (const TPropInfo* p = GetPropInfo(obj, name); p != nullptr && p->IsWritable()) SetOrdProp(obj, p, value);
}

void SetFloatValue(TObject* obj, const std::string& name, double value) {
  if (const TPropInfo* p = GetPropInfo(obj, name); p != nullptr && p->IsWritable()) SetFloatProp(obj, p, value);
}

int64_t GetOrdValue(TObject* obj, const std::string& name, int64_t fallback) {
  const TPropInfo* p = GetPropInfo(obj, name);
  return p != nullptr ? GetOrdProp(obj, p) : fallback;
}

// The text an entry is listed by: its caption, else its name, else its class.
WideString EntryText(TvgVisualObject* entry) {
  if (vgIsTextControl(entry)) {
    WideString text = vgControlText(entry);
    if (!text.empty()) return text;
  }
  return Utf8ToWide(entry->GetName().empty() ? entry->ClassName() : entry->GetName());
}

// The editor's state: the parent whose children are ordered and the list that shows them.
class TvgTabOrderEditor : public TComponent {
 public:
  TvgTabOrderEditor(TComponent* owner, TvgVisualObject* parent, TvgObject* list)
      : TComponent(owner), parent_(parent), list_(list) {}

  void Rebuild() {
    for (TvgObject* item : items_) delete item;
    items_.clear();
    entries_ = parent_->TabList();
    for (TvgVisualObject* entry : entries_) {
      TvgObject* item = CreateByName("TvgListBoxItem");
      if (item == nullptr) break;
      vgSetControlText(item, EntryText(entry));
      list_->AddObject(item);
      items_.push_back(item);
    }
  }
  void Up(TObject*) { Move(-1); }
  void Down(TObject*) { Move(1); }

 private:
  void Move(int32_t delta) {
    const int64_t index = GetOrdValue(list_, "ItemIndex", -1);
    if (index < 0 || index >= static_cast<int64_t>(entries_.size())) return;
    TvgVisualObject* entry = entries_[static_cast<size_t>(index)];
    entry->SetTabOrder(entry->GetTabOrder() + delta);
    Rebuild();
    SetOrdValue(list_, "ItemIndex", entry->GetTabOrder());
  }

  TvgVisualObject* parent_;
  TvgObject* list_;
  std::vector<TvgObject*> items_;
  std::vector<TvgVisualObject*> entries_;
};

TvgVisualObject* AddPart(TvgObject* into, const std::string& className, TvgAlign align, float size) {
  TvgObject* obj = CreateByName(className);
  if (obj == nullptr || !obj->IsVisual()) {
    delete obj;
    return nullptr;
  }
  TvgVisualObject* v = obj->Visual();
  v->SetHeight(size);
  v->SetWidth(size);
  v->SetAlign(align);
  into->AddObject(v);
  return v;
}

}  // namespace

TCustomForm* vgCreateTabOrderEditor(TvgVisualObject* parent) {
  if (parent == nullptr || GetClass("TvgHudListBox") == nullptr || GetClass("TvgListBoxItem") == nullptr)
    return nullptr;
  TForm* form = TCustomForm::CreateNew<TForm>(nullptr);
  form->SetBorderStyle(bsNone);
  form->SetPosition(poScreenCenter);
  form->SetBounds(0, 0, 240, 320);
  auto* scene = new TvgScene(form);
  scene->SetParent(form);
  scene->SetAlign(alClient);
  scene->SetTransparency(true);
  TvgObject* window = CreateByName("TvgHudWindow");
  if (window == nullptr) window = new TvgBackground(nullptr);
  vgSetControlText(window, Utf8ToWide("TabOrder Editor"));
  scene->AddObject(window);
  TvgVisualObject* buttons = new TvgVisualObject(nullptr);
  buttons->SetHeight(30);
  buttons->SetAlign(vaBottom);
  buttons->GetPadding()->SetRect(vgRect(10, 4, 10, 4));
  window->AddObject(buttons);
  TvgVisualObject* list = AddPart(window, "TvgHudListBox", vaClient, 100);
  list->GetMargins()->SetRect(vgRect(10, 30, 10, 4));
  SetFloatValue(list, "ItemHeight", 20);
  auto* editor = new TvgTabOrderEditor(form, parent, list);
  const std::pair<const char*, TNotifyEvent> commands[] = {
      {"Up", TNotifyEvent::Of<&TvgTabOrderEditor::Up>(editor)},
      {"Down", TNotifyEvent::Of<&TvgTabOrderEditor::Down>(editor)},
  };
  for (const auto& [caption, run] : commands) {
    TvgVisualObject* button = AddPart(buttons, "TvgButton", vaLeft, 80);
    if (button == nullptr) continue;
    button->GetMargins()->SetRect(vgRect(0, 0, 10, 0));
    vgSetControlText(button, Utf8ToWide(caption));
    button->OnClick = run;
  }
  editor->Rebuild();
  return form;
}
