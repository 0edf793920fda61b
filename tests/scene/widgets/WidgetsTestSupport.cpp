// Test support of the widgets: the style built in code and the fixture.
#include "WidgetsTestSupport.h"

#include "scene/core/vg_resources.h"

namespace {

template <typename T>
T* Part(TvgObject* parent, const std::string& name, TvgAlign align = vaNone) {
  auto* part = new T(nullptr);
  part->SetResourceName(name);
  if (auto* v = dynamic_cast<TvgVisualObject*>(part)) v->SetAlign(align);
  parent->AddObject(part);
  return part;
}

TvgVisualObject* Style(TvgObject* root, const std::string& name) {
  auto* s = Part<TvgVisualObject>(root, name);
  s->SetHitTest(false);
  return s;
}

void Brushes(TvgObject* style, TvgColor foreground, TvgColor selection) {
  Part<TvgBrushObject>(style, "foreground")->GetBrush()->SetSolidColor(foreground);
  Part<TvgBrushObject>(style, "selection")->GetBrush()->SetSolidColor(selection);
}

// The text area: the whole box less 2 on each side.
TvgContent* Content(TvgObject* style, const std::string& name = "content") {
  auto* content = Part<TvgContent>(style, name, vaClient);
  content->GetPadding()->SetRect(vgRect(2, 2, 2, 2));
  return content;
}

void ScrollBars(TvgObject* style) {
  auto* hbar = Part<TvgScrollBar>(style, "hscrollbar", vaBottom);
  hbar->SetHeight(16);
  auto* vbar = Part<TvgScrollBar>(style, "vscrollbar", vaRight);
  vbar->SetOrientation(vgVertical);
  vbar->SetWidth(16);
}

}  // namespace

TvgObject* MakeWidgetsStyle() {
  TvgObject* root = MakeControlsStyle();
  for (const char* name : {"textboxstyle", "roundtextboxstyle", "hudtextboxstyle", "numberboxstyle"}) {
    TvgVisualObject* box = Style(root, name);
    Content(box);
    Brushes(box, 0xFF102030u, 0x80405060u);
  }
  // The drop-down arrow is the 20 units right of the content.
  TvgVisualObject* comboText = Style(root, "combotextboxstyle");
  Content(comboText)->GetPadding()->SetRect(vgRect(2, 2, 20, 2));
  Brushes(comboText, 0xFF102030u, 0x80405060u);
  Style(root, "combopopupstyle");
  TvgVisualObject* clear = Style(root, "textboxclearbtnstyle");
  Part<TvgButton>(clear, "clearbutton", vaRight)->SetWidth(18);
  Content(clear);
  TvgVisualObject* spin = Style(root, "spinboxstyle");
  Part<TvgButton>(spin, "minusbutton", vaLeft)->SetWidth(18);
  Part<TvgButton>(spin, "plusbutton", vaRight)->SetWidth(18);
  Content(spin);

  // Lists: the viewport is the whole box less the bars; items are plain text with a check box.
  for (const char* name : {"listboxstyle", "combolistboxstyle", "hudlistboxstyle"}) {
    TvgVisualObject* list = Style(root, name);
    ScrollBars(list);
    Part<TvgVisualObject>(list, "content", vaClient);
    Part<TvgRectangle>(list, "selection");
    Part<TvgBrushObject>(list, "AlternatingRowBackground")->GetBrush()->SetSolidColor(0x30102030u);
  }
  for (const char* name : {"memostyle", "hudmemostyle"}) {
    TvgVisualObject* memo = Style(root, name);
    ScrollBars(memo);
    Part<TvgVisualObject>(memo, "content", vaClient);
    Brushes(memo, 0xFF102030u, 0x80405060u);
  }
  TvgVisualObject* item = Style(root, "listboxitemstyle");
  Part<TvgCheckBox>(item, "check", vaLeft)->SetWidth(15);
  Part<TvgText>(item, "text", vaClient);
  TvgVisualObject* tabs = Style(root, "tabcontrolstyle");
  Part<TvgRectangle>(tabs, "background", vaClient)->GetMargins()->SetRect(vgRect(10, 0, 10, 0));
  Part<TvgText>(Style(root, "tabitemstyle"), "text", vaClient);
  TvgVisualObject* tree = Style(root, "treeviewstyle");
  ScrollBars(tree);
  Part<TvgVisualObject>(tree, "content", vaClient);
  Part<TvgRectangle>(tree, "selection");
  TvgVisualObject* node = Style(root, "treeviewitemstyle");
  Part<TvgButton>(node, "button", vaLeft)->SetWidth(15);
  Part<TvgCheckBox>(node, "check", vaLeft)->SetWidth(15);
  Part<TvgText>(node, "text", vaClient);
  TvgVisualObject* combo = Style(root, "comboboxstyle");
  Part<TvgContent>(combo, "Content", vaClient)->GetPadding()->SetRect(vgRect(2, 2, 20, 2));
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
