// The property inspector over a live button in the default style: rows sorted by name with
// nested sub-objects, the editor of each kind of row writing into the property, refused values
// put back without raising, the selection committing typed text, objects that refer back to each
// other, and the inspected object freed under the inspector.
#include "scene/design/vg_inspector.h"

#include <gtest/gtest.h>

#include "FakeDesigner.h"
#include "scene/shapes/vg_objects.h"
#include "scene/widgets/StyledSceneSupport.h"
#include "scene/widgets/vg_textbox.h"

namespace {

// Two objects that hold each other: a component with a sub-object whose property points back.
class TLoopBack;
class TLoopHolder : public TComponent {
  KBL_DECLARE_CLASS(TLoopHolder, TComponent)
 public:
  explicit TLoopHolder(TComponent* owner);
  ~TLoopHolder() override;
  TLoopBack* GetInner() const { return inner_; }
  void SetInner(TLoopBack*) {}

 private:
  TLoopBack* inner_;
};

class TLoopBack : public TPersistent {
  KBL_DECLARE_CLASS(TLoopBack, TPersistent)
 public:
  TLoopHolder* Holder = nullptr;
  TLoopBack* Self = this;
  int32_t Depth = 1;
};

TLoopHolder::TLoopHolder(TComponent* owner) : TComponent(owner), inner_(new TLoopBack) { inner_->Holder = this; }
TLoopHolder::~TLoopHolder() { delete inner_; }

}  // namespace

KBL_PUBLISHED(TLoopHolder) { KBL_PROP(Inner); }
KBL_PUBLISHED(TLoopBack) {
  p.Property("Holder", &TLoopBack::Holder, &TLoopBack::Holder);
  p.Property("Self", &TLoopBack::Self, &TLoopBack::Self);
  p.Property("Depth", &TLoopBack::Depth, &TLoopBack::Depth);
}

namespace {

class InspectorTest : public StyledSceneFixture {
 protected:
  void SetUp() override {
    StyledSceneFixture::SetUp();
    vgInitInspectorUnit();
    button = Add<TvgButton>(400, 10, 80, 22);
    button->SetText(u"Press");
    inspector = Add<TvgInspector>(0, 0, 300, 400);
    vgInspectorEditors().ShowMessage = [this](const std::string& m) { messages.push_back(m); };
  }
  void TearDown() override {
    vgInspectorEditors() = TvgInspectorEditors();
    StyledSceneFixture::TearDown();
  }
  std::vector<std::string> TopRows() {
    std::vector<std::string> names;
    for (int32_t i = 0; i < inspector->GetCount(); ++i) names.push_back(WideToUtf8(inspector->GetItem(i)->GetText()));
    return names;
  }
  std::string Value(const std::string& path) {
    TvgInspectorItem* row = inspector->FindRow(path);
    return row != nullptr ? WideToUtf8(row->ValueLabel->GetText()) : "<no row>";
  }
  void Select(const std::string& path) { inspector->SetSelected(inspector->FindRow(path)); }
  void Commit(const std::u16string& text) {
    inspector->GetTextEditor()->SetText(text);
    uint16_t enter = 13;
    WideChar none = 0;
    inspector->GetTextEditor()->KeyDown(enter, none, TShiftState());
  }

  TvgButton* button = nullptr;
  TvgInspector* inspector = nullptr;
  std::vector<std::string> messages;
};

TEST_F(InspectorTest, RowsAreThePublishedPropertiesSortedByName) {
  inspector->GetDisabledProperties()->Add("Hint");
  inspector->SetSelectedObject(button);
  const std::vector<std::string> rows = TopRows();
  ASSERT_FALSE(rows.empty());
  EXPECT_TRUE(std::is_sorted(rows.begin(), rows.end(), [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; }));
  EXPECT_EQ(std::count(rows.begin(), rows.end(), "Hint"), 0);
  EXPECT_EQ(std::count(rows.begin(), rows.end(), "OnClick"), 0);  // events only on request
  EXPECT_EQ(Value("Text"), "Press");
  EXPECT_EQ(Value("Width"), "80");
  EXPECT_EQ(Value("Align"), "vaNone");
  EXPECT_EQ(Value("CanFocused"), "True");
  EXPECT_EQ(Value("Opacity"), "1");
  // A sub-object: its class name, collapsed, its own properties below.
  EXPECT_EQ(Value("Font"), "TvgFont");
  EXPECT_FALSE(inspector->FindRow("Font")->GetIsExpanded());
  EXPECT_EQ(Value("Font.Size"), "11");
  EXPECT_EQ(Value("Font.Family"), "Tahoma");
  // A reference that is not set shows nothing and has no rows below.
  ASSERT_NE(inspector->FindRow("Action"), nullptr);
  EXPECT_EQ(Value("Action"), "");
  EXPECT_EQ(inspector->FindRow("Action")->ChildItemCount(), 0);
  // Events for the selected object itself, never for its sub-objects.
  inspector->SetShowEvents(true);
  EXPECT_NE(inspector->FindRow("OnClick"), nullptr);
  EXPECT_EQ(inspector->FindRow("Font.OnChanged"), nullptr);
  inspector->SetShowProperties(false);
  EXPECT_EQ(inspector->FindRow("Width"), nullptr);
}

TEST_F(InspectorTest, EditorsWriteIntoThePropertiesAndRefusedValuesGoBack) {
  inspector->SetSelectedObject(button);
  Select("Width");
  ASSERT_EQ(inspector->GetActiveEditor(), inspector->GetTextEditor());
  EXPECT_EQ(inspector->GetTextEditor()->GetText(), u"80");
  Commit(u"120");
  EXPECT_EQ(button->GetWidth(), 120.0f);
  EXPECT_EQ(Value("Width"), "120");
  // Text that is no number: the width stays, the row shows it, the message is shown.
  Commit(u"wide");
  EXPECT_EQ(button->GetWidth(), 120.0f);
  EXPECT_EQ(Value("Width"), "120");
  EXPECT_EQ(inspector->GetTextEditor()->GetText(), u"120");
  ASSERT_EQ(messages.size(), 1u);
  // Text of a nested row, then a new selection commits what was typed before it moves on.
  Select("Font.Size");
  inspector->GetTextEditor()->SetText(u"15");
  Select("Text");
  EXPECT_EQ(button->GetFont()->GetSize(), 15.0f);
  EXPECT_EQ(inspector->GetTextEditor()->GetText(), u"Press");
  Commit(u"Go");
  EXPECT_EQ(button->GetText(), u"Go");
  // An enumeration through the drop-down.
  Select("Align");
  ASSERT_EQ(inspector->GetActiveEditor(), inspector->GetListEditor());
  EXPECT_EQ(inspector->GetListEditor()->GetItems()->GetCount(), GetEnumValue(KblTypeInfoOf(static_cast<TvgAlign*>(nullptr)), "vaFitRight") + 1);
  inspector->GetListEditor()->SetItemIndex(static_cast<int32_t>(vaTop));
  EXPECT_EQ(button->GetAlign(), vaTop);
  EXPECT_EQ(Value("Align"), "vaTop");
  // Rows of sub-objects that are not brushes, gradients, bitmaps, paths or fonts get no editor.
  Select("Margins");
  EXPECT_EQ(inspector->GetActiveEditor(), nullptr);
}

TEST_F(InspectorTest, ATypedEventNameGetsTheDesignEnvironmentsHandler) {
  struct THandler {
    void Clicked(TObject*) {}
  } handler;
  const TNotifyEvent click = TNotifyEvent::Of<&THandler::Clicked>(&handler);
  TFakeDesigner designer;
  designer.handler = {click.Object(), reinterpret_cast<void (*)()>(click.Code())};
  vgSetDesigner(&designer);
  inspector->SetShowEvents(true);
  inspector->SetSelectedObject(button);
  Select("OnClick");
  TObject* target = nullptr;
  const TPropInfo* onClick = ResolvePropPath(button, "OnClick", target);
  EXPECT_EQ(inspector->GetActiveEditor(), inspector->GetTextEditor());
  Commit(u"PressClick");
  EXPECT_EQ(designer.methods, std::vector<std::string>{"PressClick"});
  EXPECT_EQ(designer.methodForm, button);  // the root of the inspected object
  EXPECT_EQ(GetMethodProp(button, onClick), designer.handler);
  EXPECT_EQ(Value("OnClick"), "PressClick");
  // An environment without a handler of that name: the form's published methods decide, and
  // a name they lack is refused with the handler kept.
  designer.handler = TMethodValue();
  Commit(u"Nowhere");
  EXPECT_EQ(designer.methods.size(), 2u);
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_EQ(GetMethodProp(button, onClick).Data, &handler);
  vgSetDesigner(nullptr);
}

TEST_F(InspectorTest, TheEditButtonOpensTheEditorOfTheValue) {
  auto* rectangle = Add<TvgRectangle>(400, 50, 40, 40);
  TvgBrush* edited = nullptr;
  TComponent* context = nullptr;
  vgInspectorEditors().EditBrush = [&](TvgBrush* brush, TComponent* c) {
    edited = brush;
    context = c;
    brush->SetSolidColor(0xFF336699u);
    return true;
  };
  inspector->SetSelectedObject(rectangle);
  Select("Fill");
  ASSERT_EQ(inspector->GetActiveEditor(), inspector->GetButtonEditor());
  EXPECT_EQ(inspector->GetButtonEditor()->GetText(), u"Edit...");
  inspector->GetButtonEditor()->Click();
  EXPECT_EQ(edited, rectangle->GetFill());
  EXPECT_EQ(context, rectangle);
  EXPECT_EQ(rectangle->GetFill()->GetSolidColor(), 0xFF336699u);
  // Without an editor installed nothing happens.
  vgInspectorEditors().EditBrush = nullptr;
  inspector->GetButtonEditor()->Click();
}

TEST_F(InspectorTest, KeysMoveThroughTheRowsWhileTheEditorHasTheFocus) {
  inspector->SetSelectedObject(button);
  Select("Height");  // the next row, Hint, is edited as text as well
  ASSERT_EQ(scene.focused, inspector->GetTextEditor());
  const int32_t before = inspector->GetSelected()->GetGlobalIndex();
  uint16_t down = 40;
  form->DialogKey(down, TShiftState());
  EXPECT_EQ(down, 0);
  EXPECT_EQ(inspector->GetSelected()->GetGlobalIndex(), before + 1);
  EXPECT_EQ(scene.focused, inspector->GetTextEditor());
  uint16_t home = 36;  // not while the text box edits
  form->DialogKey(home, TShiftState());
  EXPECT_EQ(home, 36);
}

TEST_F(InspectorTest, ObjectsReferringBackShowTheirClassOnly) {
  TLoopHolder holder(nullptr);
  inspector->SetSelectedObject(&holder);
  EXPECT_EQ(Value("Inner"), "TLoopBack");
  EXPECT_EQ(Value("Inner.Depth"), "1");
  // The sub-object holds itself and the object above it: neither is expanded again.
  EXPECT_EQ(Value("Inner.Self"), "TLoopBack");
  EXPECT_EQ(inspector->FindRow("Inner.Self")->ChildItemCount(), 0);
  EXPECT_EQ(inspector->FindRow("Inner.Holder")->ChildItemCount(), 0);
}

TEST_F(InspectorTest, AFreedObjectLeavesTheInspectorEmpty) {
  auto* doomed = Add<TvgButton>(400, 100, 80, 22);
  inspector->SetSelectedObject(doomed);
  Select("Width");
  ASSERT_GT(inspector->GetCount(), 0);
  delete doomed;
  EXPECT_EQ(inspector->GetSelectedObject(), nullptr);
  EXPECT_EQ(inspector->GetCount(), 0);
  EXPECT_EQ(inspector->GetActiveEditor(), nullptr);
}

}  // namespace
