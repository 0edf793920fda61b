// A gallery of the default style drawn by GDI+ under Wine: every registered styled control, and a
// stand-in for each root whose class is not built, leaves its own pixels on the dark background
// (read back); the picture is kept as default_style_gallery.png beside the test for a look.
#include <gtest/gtest.h>

#include <string>

#include "DefaultStyleSupport.h"
#include "scene/controls/vg_scrollbox.h"
#include "scene/core/GdiPlusTestEnvironment.h"
#include "scene/core/ObjectsTestSupport.h"
#include "scene/core/vg_popup.h"
#include "scene/core/vg_registry.h"
#include "scene/core/win32/vg_gdiplus.h"

namespace {

constexpr uint32_t kBackground = 0xFF2B2B2Bu;
constexpr int kColumns = 8;
constexpr float kCellW = 125, kCellH = 62;

// Puts each control into a state that shows its parts: captions, a checked box, values.
void Dress(TvgControl* c) {
  const std::string name = c->GetResource().empty() ? c->ClassInfo()->Name.substr(3) : c->GetResource();
  if (auto* text = dynamic_cast<TvgTextControl*>(c)) text->SetText(WideString(name.begin(), name.end()));
  if (auto* check = dynamic_cast<TvgCheckBox*>(c)) check->SetIsChecked(true);
  if (auto* radio = dynamic_cast<TvgRadioButton*>(c)) radio->SetIsChecked(true);
  if (auto* track = dynamic_cast<TvgCustomTrack*>(c)) track->SetValue(40);
  if (auto* bar = dynamic_cast<TvgScrollBar*>(c)) {
    bar->SetViewportSize(25);
    bar->SetValue(30);
  }
  if (auto* progress = dynamic_cast<TvgProgressBar*>(c)) progress->SetValue(60);
  if (auto* angle = dynamic_cast<TvgAngleButton*>(c)) angle->SetValue(45);
  if (auto* bitmap = dynamic_cast<TvgBitmapButton*>(c)) {
    TvgBitmap glyph(16, 16);
    glyph.Clear(0xFFE0A030u);
    bitmap->GetBitmap()->Assign(&glyph);
    bitmap->SetBitmapSize(16);
  }
  if (auto* path = dynamic_cast<TvgPathButton*>(c)) {
    path->GetPath()->SetData("M 0,0 L 10,0 L 5,10 Z");
    path->SetPathSize(16);
  }
  if (auto* box = dynamic_cast<TvgScrollBox*>(c)) {
    auto* big = new TvgRectangle(nullptr);
    big->SetBounds(10, 10, 300, 300);
    big->GetFill()->SetSolidColor(0xFF4F6378u);
    box->AddObject(big);
    box->Realign();
  }
}

bool DrawsText(TvgBitmap& bitmap) {
  bitmap.Clear(kBackground);
  TvgText probe(nullptr);
  probe.SetBounds(0, 0, 60, 20);
  probe.GetFill()->SetSolidColor(0xFFFFFFFFu);
  probe.SetText(u"Tahoma");
  probe.PaintTo(bitmap.GetCanvas(), vgRect(0, 0, 60, 20));
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 60; ++x)
      if (bitmap.Pixel(x, y) != kBackground) return true;
  return false;
}

int DrawnPixels(const TvgBitmap& bitmap, const TvgRect& r) {
  int count = 0;
  for (int y = static_cast<int>(r.Top); y < static_cast<int>(r.Bottom); ++y)
    for (int x = static_cast<int>(r.Left); x < static_cast<int>(r.Right); ++x)
      if (bitmap.Pixel(x, y) != kBackground) ++count;
  return count;
}

// A control of subsystem 4 that shows a root whose own class is not built (or that controls
// reach through Resource only); nullptr for the roots that only serve as parts of others.
const TClassInfo* StandIn(const std::string& root) {
  const auto has = [&root](const char* word) { return root.find(word) != std::string::npos; };
  if (has("thumb") || has("track") || has("expanderbutton")) return nullptr;
  const char* name = "TvgPanel";
  if (has("item") && !has("header")) name = "TvgLabel";
  else if (has("listbox") || has("memo") || has("treeview") || has("grid")) name = "TvgScrollBox";
  else if (has("checkbox") || has("checkcell")) name = "TvgCheckBox";
  else if (has("header")) name = "TvgCornerButton";
  else if (has("button")) name = "TvgButton";
  else if (has("progress")) name = "TvgProgressBar";
  else if (has("popupcell")) name = "TvgPopupBox";
  else if (has("imagecell")) name = "TvgImageControl";
  return GetClass(name);
}

// Controls whose style draws nothing but their caption until the mouse is over them.
bool OnlyCaption(const TvgControl* c) {
  for (const char* name : {"TvgLabel", "TvgValueLabel", "TvgHudLabel", "TvgSpeedButton", "TvgHudSpeedButton"})
    if (c->ClassInfo()->Name == name) return true;
  return c->GetResource() == "transparentbuttonstyle";
}

// Grid cells show nothing of their own until they hold a value or the focus.
bool BareCell(const TvgControl* c) { return c->GetResource() == "textcellstyle" || c->GetResource() == "imagecellstyle"; }

TEST(DefaultStyleGallery, EveryStyledControlIsDrawn) {
  TvgManualAniTimer* ticker = StartDefaultStyleTest();
  ASSERT_NE(vgDefaultStyle(), nullptr);
  TTestScene scene;
  auto* form = new TvgBackground(nullptr);
  form->GetFill()->SetStyle(vgBrushSolid);
  form->GetFill()->SetSolidColor(kBackground);
  scene.AddObject(form);

  std::vector<TvgControl*> shown;
  for (const TStyleCase& c : StyleCases()) {
    if (c.Root.empty()) continue;
    const TClassInfo* cls = c.ClassName.empty() ? nullptr : GetClass(c.ClassName);
    const bool standIn = cls == nullptr;
    if (standIn) cls = StandIn(c.Root);
    if (cls == nullptr || cls->InheritsFrom(TvgPopup::StaticClassInfo())) continue;
    auto* control = dynamic_cast<TvgControl*>(cls->Create(nullptr));
    ASSERT_NE(control, nullptr);
    if (standIn) control->SetResource(c.Root);
    const int i = static_cast<int>(shown.size());
    control->SetAlign(vaNone);
    control->SetParent(form);
    // Controls without a width of their own (50) get the cell's.
    const float w = control->GetWidth() == 50 ? kCellW - 10 : std::min(control->GetWidth(), kCellW - 10);
    control->SetBounds(5 + (i % kColumns) * kCellW, 5 + (i / kColumns) * kCellH, w,
                       std::min(control->GetHeight(), kCellH - 10));
    control->ApplyResource();
    Dress(control);
    shown.push_back(control);
  }
  const int rows = (static_cast<int>(shown.size()) + kColumns - 1) / kColumns;
  form->SetBounds(0, 0, kColumns * kCellW + 5, rows * kCellH + 5);
  for (int i = 0; i < 30; ++i) ticker->Advance(33);  // trigger animations run to their end

  TvgBitmap bitmap(static_cast<int32_t>(form->GetWidth()), static_cast<int32_t>(form->GetHeight()));
  const bool text = DrawsText(bitmap);
  bitmap.Clear(0);
  scene.canvas = bitmap.GetCanvas();
  form->PaintTo(bitmap.GetCanvas(), form->GetLocalRect());
  scene.canvas = nullptr;
  EXPECT_TRUE(bitmap.SaveToFile("default_style_gallery.png"));
  for (TvgControl* c : shown) {
    if (c->Is<TvgBackground>() || BareCell(c) || (!text && OnlyCaption(c))) continue;  // nothing of its own here
    const TvgRect r = c->GetParentedRect();
    EXPECT_GT(DrawnPixels(bitmap, r), 12) << c->ClassInfo()->Name << " " << c->GetResource() << " left the background as it was";
  }
  delete form;
  EndDefaultStyleTest();
}

}  // namespace
