// Test support of the widgets: the style built in code and the fixture.
#include "WidgetsTestSupport.h"

#include "scene/core/vg_resources.h"

namespace {

void Brushes(TvgObject* style, TvgColor foreground, TvgColor selection) {
  AddStylePart<TvgBrushObject>(style, "foreground")->GetBrush()->SetSolidColor(foreground);
  AddStylePart<TvgBrushObject>(style, "selection")->GetBrush()->SetSolidColor(selection);
}

// The text area: the whole box less 2 on each side.
TvgContent* Content(TvgObject* style, const std::string& name = "content") {
  auto* content = AddStylePart<TvgContent>(style, name, vaClient);
  content->GetPadding()->SetRect(vgRect(2, 2, 2, 2));
  return content;
}

void ScrollBars(TvgObject* style) {
  auto* hbar = AddStylePart<TvgScrollBar>(style, "hscrollbar", vaBottom);
  hbar->SetHeight(16);
  auto* vbar = AddStylePart<TvgScrollBar>(style, "vscrollbar", vaRight);
  vbar->SetOrientation(vgVertical);
  vbar->SetWidth(16);
}

}  // namespace

TvgObject* MakeWidgetsStyle() {
  TvgObject* root = MakeControlsStyle();
  for (const char* name : {"textboxstyle", "roundtextboxstyle", "hudtextboxstyle", "numberboxstyle"}) {
    TvgVisualObject* box = AddStyle(root, name);
    Content(box);
    Brushes(box, 0xFF102030u, 0x80405060u);
  }
  // The drop-down arrow is the 20 units right of the content.
  TvgVisualObject* comboText = AddStyle(root, "combotextboxstyle");
  Content(comboText)->GetPadding()->SetRect(vgRect(2, 2, 20, 2));
  Brushes(comboText, 0xFF102030u, 0x80405060u);
  AddStyle(root, "combopopupstyle");
  TvgVisualObject* clear = AddStyle(root, "textboxclearbtnstyle");
  AddStylePart<TvgButton>(clear, "clearbutton", vaRight)->SetWidth(18);
  Content(clear);
  TvgVisualObject* spin = AddStyle(root, "spinboxstyle");
  AddStylePart<TvgButton>(spin, "minusbutton", vaLeft)->SetWidth(18);
  AddStylePart<TvgButton>(spin, "plusbutton", vaRight)->SetWidth(18);
  Content(spin);

  // Lists: the viewport is the whole box less the bars; items are plain text with a check box.
  for (const char* name : {"listboxstyle", "combolistboxstyle", "hudlistboxstyle"}) {
    TvgVisualObject* list = AddStyle(root, name);
    ScrollBars(list);
    AddStylePart<TvgVisualObject>(list, "content", vaClient);
    AddStylePart<TvgRectangle>(list, "selection");
    AddStylePart<TvgBrushObject>(list, "AlternatingRowBackground")->GetBrush()->SetSolidColor(0x30102030u);
  }
  for (const char* name : {"memostyle", "hudmemostyle"}) {
    TvgVisualObject* memo = AddStyle(root, name);
    ScrollBars(memo);
    AddStylePart<TvgVisualObject>(memo, "content", vaClient);
    Brushes(memo, 0xFF102030u, 0x80405060u);
  }
  TvgVisualObject* item = AddStyle(root, "listboxitemstyle");
  AddStylePart<TvgCheckBox>(item, "check", vaLeft)->SetWidth(15);
  AddStylePart<TvgText>(item, "text", vaClient);
  TvgVisualObject* tabs = AddStyle(root, "tabcontrolstyle");
  AddStylePart<TvgRectangle>(tabs, "background", vaClient)->GetMargins()->SetRect(vgRect(10, 0, 10, 0));
  AddStylePart<TvgText>(AddStyle(root, "tabitemstyle"), "text", vaClient);
  TvgVisualObject* tree = AddStyle(root, "treeviewstyle");
  ScrollBars(tree);
  AddStylePart<TvgVisualObject>(tree, "content", vaClient);
  AddStylePart<TvgRectangle>(tree, "selection");
  TvgVisualObject* node = AddStyle(root, "treeviewitemstyle");
  AddStylePart<TvgButton>(node, "button", vaLeft)->SetWidth(15);
  AddStylePart<TvgCheckBox>(node, "check", vaLeft)->SetWidth(15);
  AddStylePart<TvgText>(node, "text", vaClient);
  TvgVisualObject* combo = AddStyle(root, "comboboxstyle");
  AddStylePart<TvgContent>(combo, "Content", vaClient)->GetPadding()->SetRect(vgRect(2, 2, 20, 2));
  return root;
}

void WidgetsFixture::SetUp() {
  ControlsFixture::SetUp();
  vgSetDefaultStyle(MakeWidgetsStyle());
  scene.canvas = &canvas;
}

void WidgetsFixture::TearDown() {
  ControlsFixture::TearDown();
  scene.canvas = nullptr;
}

void WidgetsFixture::Key(TvgVisualObject* target, uint16_t key, TShiftState shift) {
  WideChar ch = 0;
  target->KeyDown(key, ch, shift);
}

void WidgetsFixture::Char(TvgVisualObject* target, WideChar ch, TShiftState shift) {
  uint16_t key = 0;
  target->KeyDown(key, ch, shift);
}

void WidgetsFixture::Type(TvgVisualObject* target, const std::u16string& text) {
  for (char16_t c : text) Char(target, c);
}
