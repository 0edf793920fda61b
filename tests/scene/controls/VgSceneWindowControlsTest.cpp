// Real scene windows with controls under Wine: the composition window and font that the scene
// sets for the focused text control, read back through imm32; the actions of the scene's
// controls updated from their form; the design menu as a popup menu, the tab-order editor and
// the design hit test of a designing scene.
#include <windows.h>
#include <imm.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "classlib/Forms.h"
#include "classlib/Menus.h"
#include "classlib/WindowTestUtils.h"
#include "scene/core/vg_designer.h"
#include "scene/core/win32/vg_taborder_win32.h"
#include "scene/controls/vg_controls.h"
#include "scene/core/win32/vg_gdiplus.h"
#include "scene/core/win32/vg_scene.h"

// Stand-ins for the list classes of the text and list controls, registered under their names when
// those are not linked into this program.
class TvgHudListBox : public TvgControl {
  KBL_DECLARE_CLASS(TvgHudListBox, TvgControl)
 public:
  explicit TvgHudListBox(TComponent* owner) : TvgControl(owner) {}
  int32_t GetItemIndex() const { return itemIndex_; }
  void SetItemIndex(int32_t value) { itemIndex_ = value; }
  float GetItemHeight() const { return itemHeight_; }
  void SetItemHeight(float value) { itemHeight_ = value; }

 private:
  int32_t itemIndex_ = -1;
  float itemHeight_ = 0;
};
class TvgListBoxItem : public TvgTextControl {
  KBL_DECLARE_CLASS(TvgListBoxItem, TvgTextControl)
 public:
  explicit TvgListBoxItem(TComponent* owner) : TvgTextControl(owner) {}
};
KBL_PUBLISHED(TvgHudListBox) {
  KBL_PROP(ItemIndex);
  KBL_PROP(ItemHeight);
}
KBL_PUBLISHED(TvgListBoxItem) { KBL_PROP(Text); }

namespace {

// A text control with a caret inside it, as text boxes report theirs.
class TCaretButton : public TvgButton, public IvgImeCaret {
 public:
  explicit TCaretButton(TComponent* owner) : TvgButton(owner) {}
  TvgPoint GetImeCaretOffset() override { return vgPoint(7, 3); }
};

TEST(SceneIme, TheCompositionWindowSitsAtTheFocusedTextControlsCaretInItsFont) {
  StartGdiPlus();
  TForeignWindow host(300, 200);
  std::unique_ptr<TvgScene> scene(TWinControl::CreateParented<TvgScene>(host.handle));
  scene->SetBounds(0, 0, 300, 200);
  scene->HandleNeeded();
  auto* root = new TvgVisualObject(nullptr);
  scene->AddObject(root);
  auto* plain = new TvgButton(nullptr);
  plain->SetBounds(10.6f, 20.9f, 80, 22);
  root->AddObject(plain);
  auto* box = new TCaretButton(nullptr);
  box->SetBounds(40.5f, 100.5f, 120, 22);
  box->GetFont()->SetFamily("Courier New");
  box->GetFont()->SetSize(12.7f);
  box->GetFont()->SetStyle(vgFontBoldItalic);
  root->AddObject(box);
  HWND window = scene->GetHandle();
  HIMC context = ImmGetContext(window);
  ASSERT_NE(context, nullptr);

  struct TCase {
    TvgVisualObject* focused;
    POINT expected;
  };
  const TCase cases[] = {
      {plain, {10, 20}},        // its origin, truncated
      {box, {40 + 7, 100 + 3}},  // plus the caret's offset
  };
  for (const TCase& c : cases) {
    c.focused->SetFocus();
    ASSERT_TRUE(c.focused->GetIsFocused());
    EXPECT_EQ(SendMessageW(window, WM_IME_STARTCOMPOSITION, 0, 0), 1);
    COMPOSITIONFORM form{};
    ASSERT_TRUE(ImmGetCompositionWindow(context, &form));
    EXPECT_EQ(form.dwStyle, static_cast<DWORD>(CFS_RECT));
    EXPECT_EQ(form.ptCurrentPos.x, c.expected.x);
    EXPECT_EQ(form.ptCurrentPos.y, c.expected.y);
    EXPECT_EQ(form.rcArea.right, 300);
    EXPECT_EQ(form.rcArea.bottom, 200);
  }
  LOGFONTW font{};
  ASSERT_TRUE(ImmGetCompositionFontW(context, &font));
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(font.lfHeight, -MulDiv(12, GetDeviceCaps(screen, LOGPIXELSY), 72));
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(font.lfWeight, FW_BOLD);
  EXPECT_TRUE(font.lfItalic);
  EXPECT_STREQ(font.lfFaceName, L"Courier New");
  ImmReleaseContext(window, context);
}

TEST(SceneActions, TheFormUpdatesTheActionsOfTheScenesVisibleControls) {
  StartGdiPlus();
  struct TCounter {
    int count = 0;
    void Hit(TObject*) { ++count; }
  } shown, hidden;
  TForm* form = TCustomForm::CreateNew<TForm>(nullptr);
  auto* scene = new TvgScene(form);
  scene->SetParent(form);
  auto* root = new TvgVisualObject(nullptr);
  scene->AddObject(root);
  auto* box = new TvgVisualObject(nullptr);  // controls nested below plain objects are found too
  root->AddObject(box);
  auto* visible = new TvgButton(nullptr);
  box->AddObject(visible);
  auto* invisible = new TvgButton(nullptr);
  invisible->SetVisible(false);
  root->AddObject(invisible);
  TAction first(nullptr), second(nullptr);
  first.OnUpdate = TNotifyEvent::Of<&TCounter::Hit>(&shown);
  second.OnUpdate = TNotifyEvent::Of<&TCounter::Hit>(&hidden);
  second.SetVisible(false);
  visible->SetAction(&first);
  invisible->SetAction(&second);
  form->UpdateActions();
  EXPECT_EQ(shown.count, 1);
  EXPECT_EQ(hidden.count, 0);
  delete form;
}

template <typename T>
T* FindInTree(TvgObject* obj, const std::function<bool(T*)>& match = [](T*) { return true; }) {
  if (auto* t = dynamic_cast<T*>(obj); t != nullptr && match(t)) return t;
  for (TvgObject* child : obj->Children())
    if (T* found = FindInTree<T>(child, match)) return found;
  return nullptr;
}

std::vector<std::u16string> ItemTexts(TvgObject* list) {
  std::vector<std::u16string> texts;
  for (TvgObject* child : list->Children())
    if (auto* item = dynamic_cast<TvgTextControl*>(child)) texts.push_back(item->GetText());
  return texts;
}

TEST(SceneDesign, TheTabOrderEditorListsTheEntriesByTextAndMovesTheChosenOne) {
  StartGdiPlus();
  if (GetClass("TvgHudListBox") == nullptr) RegisterClasses({TvgHudListBox::StaticClassInfo()});
  if (GetClass("TvgListBoxItem") == nullptr) RegisterClasses({TvgListBoxItem::StaticClassInfo()});
  auto parent = std::make_unique<TvgVisualObject>(nullptr);
  for (const char16_t* text : {u"A", u"B", u"C"}) {
    auto* button = new TvgButton(nullptr);
    button->SetText(text);
    parent->AddObject(button);
  }
  std::unique_ptr<TCustomForm> form(vgCreateTabOrderEditor(parent.get()));
  ASSERT_NE(form, nullptr);
  TvgScene* scene = nullptr;
  for (int32_t i = 0; i < form->ComponentCount() && scene == nullptr; ++i)
    scene = dynamic_cast<TvgScene*>(form->GetComponent(i));
  ASSERT_NE(scene, nullptr);
  EXPECT_TRUE(scene->GetTransparencyProp());
  auto* window = dynamic_cast<TvgHudWindow*>(scene->GetRoot());
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->GetText(), u"TabOrder Editor");
  auto* list = FindInTree<TvgObject>(window, [](TvgObject* o) { return o->ClassName() == "TvgHudListBox"; });
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(GetFloatProp(list, GetPropInfo(list, "ItemHeight")), 20);
  EXPECT_EQ(ItemTexts(list), (std::vector<std::u16string>{u"A", u"B", u"C"}));
  auto button = [&](const char16_t* text) {
    return FindInTree<TvgButton>(window, [&](TvgButton* b) { return b->GetText() == text; });
  };
  ASSERT_NE(button(u"Up"), nullptr);
  ASSERT_NE(button(u"Down"), nullptr);
  SetOrdProp(list, GetPropInfo(list, "ItemIndex"), 1);
  button(u"Down")->Click();
  EXPECT_EQ(ItemTexts(list), (std::vector<std::u16string>{u"A", u"C", u"B"}));
  EXPECT_EQ(GetOrdProp(list, GetPropInfo(list, "ItemIndex")), 2);
  EXPECT_EQ(dynamic_cast<TvgButton*>(parent->TabList()[2])->GetText(), u"B");
  button(u"Up")->Click();
  button(u"Up")->Click();
  EXPECT_EQ(ItemTexts(list), (std::vector<std::u16string>{u"B", u"A", u"C"}));
}

TEST(SceneDesign, TheDesignMenuBecomesAPopupMenuWhoseItemsRunTheirCommands) {
  int runs = 0;
  TvgDesignMenuItem menu;
  TvgDesignMenuItem grid;
  grid.Caption = "Grid";
  TvgDesignMenuItem snap;
  snap.Caption = "Snap to grid";
  snap.Checked = true;
  snap.OnClick = [&] { ++runs; };
  grid.Items.push_back(snap);
  TvgDesignMenuItem off = snap;
  off.Caption = "Delete object";
  off.Checked = false;
  off.Enabled = false;
  menu.Items = {off, grid};
  std::unique_ptr<TPopupMenu> popup(vgMakeDesignPopupMenu(menu, nullptr));
  TMenuItem* items = popup->GetItems();
  ASSERT_EQ(items->Count(), 2);
  EXPECT_FALSE(items->GetItem(0)->GetEnabled());
  items->GetItem(0)->Click();
  EXPECT_EQ(runs, 0);
  TMenuItem* snapItem = items->Find("Grid")->Find("Snap to grid");
  ASSERT_NE(snapItem, nullptr);
  EXPECT_TRUE(snapItem->GetChecked());
  snapItem->Click();
  EXPECT_EQ(runs, 1);
}

TEST(SceneDesign, ADesigningSceneTellsTheDesignerAndTakesTheMouseOverItsObjects) {
  StartGdiPlus();
  struct TDesigner : IvgDesigner {
    void SceneCreated(TComponent* s) override { created = s; }
    void SceneDestroyed(TComponent* s) override { destroyed = s; }
    void SelectionChanged(TComponent*, TvgObject*, int32_t) override {}
    void Modified(TComponent*) override {}
    std::string UniqueName(const std::string& base) override { return base + "1"; }
    void EditStyle(TvgResources*, const std::string&) override {}
    TMethodValue CreateMethod(TComponent*, const std::string&, const TTypeInfo*) override { return {}; }
    TComponent* created = nullptr;
    TComponent* destroyed = nullptr;
  } designer;
  vgSetDesigner(&designer);
  TForeignWindow host(300, 200);
  TForm* form = TCustomForm::CreateNew<TForm>(nullptr);
  form->SetDesigning(true);
  auto* scene = new TvgScene(form);
  EXPECT_EQ(designer.created, scene);
  EXPECT_TRUE(scene->GetDesignTime());
  scene->SetParentWindow(host.handle);
  scene->SetBounds(0, 0, 200, 100);
  auto* root = new TvgVisualObject(nullptr);
  root->SetLocked(true);  // takes no hits at design time
  scene->AddObject(root);
  auto* part = new TvgButton(nullptr);
  part->SetBounds(10, 10, 50, 20);
  root->AddObject(part);
  EXPECT_EQ(scene->Perform(CM_DESIGNHITTEST, 0, MAKELPARAM(20, 15)), 1);
  EXPECT_EQ(scene->Perform(CM_DESIGNHITTEST, 0, MAKELPARAM(150, 80)), 0);
  delete form;
  EXPECT_EQ(designer.destroyed, scene);
  vgSetDesigner(nullptr);
}

}  // namespace
