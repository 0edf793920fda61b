// Colour controls in the default style: generated ramps, the quad and the hue strip with their
// links, hit tests and drags, the gradient stop editor and the colour panel's colour text.
#include "scene/widgets/vg_colors.h"

#include <gtest/gtest.h>

#include "StyledSceneSupport.h"
#include "scene/core/vg_registry.h"

namespace {

class ColorsTest : public StyledSceneFixture {
 protected:
  void SetUp() override {
    StyledSceneFixture::SetUp();
    scene.canvas = &canvas;
  }
  void TearDown() override {
    StyledSceneFixture::TearDown();
    scene.canvas = nullptr;
  }
  TWidgetCanvas canvas{640, 480};
};

TvgColor RampPixel(TvgBitmapTrackBar* bar, int32_t x, int32_t y) {
  TvgBitmap* ramp = bar->GetRampBitmap();
  return ramp != nullptr ? ramp->Pixel(x, y) : 0;
}

const TShiftState kLeft{ssLeft};

TEST_F(ColorsTest, RampsAreGeneratedAtTheSizeOfTheBackgroundPart) {
  // The style's background part is inset by 4 on each side: a bar 108 wide has a 100-pixel ramp.
  auto* hue = Add<TvgHueTrackBar>(0, 0, 108, 15);
  ASSERT_NE(hue->GetRampBitmap(), nullptr);
  EXPECT_EQ(hue->GetRampBitmap()->GetWidth(), 100);
  EXPECT_EQ(RampPixel(hue, 0, 0), 0xFFF20D0Du);                     // hue 0, saturation 0.9, lightness 0.5
  EXPECT_EQ(RampPixel(hue, 99, 0), vgHSLtoRGB(0.99f, 0.9f, 0.5f));  // never wraps back to hue 1
  auto* bw = Add<TvgBWTrackBar>(0, 20, 108, 15);
  EXPECT_EQ(RampPixel(bw, 0, 3), 0xFF000000u);
  EXPECT_EQ(RampPixel(bw, 99, 3), 0xFFFCFCFCu);  // Round(99/100 * 255) = 252: never white
  auto* hudBw = Add<TvgHudBWTrackBar>(0, 40, 108, 15);
  EXPECT_EQ(RampPixel(hudBw, 99, 3), 0xFFFCFCFCu);
  auto* alpha = Add<TvgAlphaTrackBar>(0, 60, 108, 15);
  // A checkerboard of 3-pixel cells fading into white from left to right.
  EXPECT_LT(RampPixel(alpha, 4, 1) & 0xFF, RampPixel(alpha, 1, 1) & 0xFF);
  EXPECT_GT(RampPixel(alpha, 4, 1) & 0xFF, 0xA0u);
  EXPECT_EQ(RampPixel(alpha, 98, 1), 0xFFFFFFFFu);
  // Vertical: the hue runs down the bar; a resize rebuilds the ramp at the new size.
  auto* vertical = Add<TvgHueTrackBar>(200, 0, 15, 108);
  vertical->SetOrientation(vgVertical);
  vertical->SetHeight(58);
  vertical->Realign();
  ASSERT_EQ(vertical->GetRampBitmap()->GetHeight(), 50);
  EXPECT_EQ(RampPixel(vertical, 3, 25), vgHSLtoRGB(0.5f, 0.9f, 0.5f));
  // The part paints a copy of the ramp.
  auto* part = dynamic_cast<TvgShape*>(hue->FindResource("background"));
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(part->GetFill()->GetStyle(), vgBrushBitmap);
  EXPECT_EQ(part->GetFill()->GetBitmap()->GetBitmap()->Pixel(0, 0), 0xFFF20D0Du);
}

// Every ramp bar at its default size (100 x 15, a ramp of 92 x 7), styled when first asked, and
// the same bar read from a form stream: the ramp is the bar's own, never the base's empty one.
TEST_F(ColorsTest, EveryRampBarFillsItsRampAtItsDefaultSizeAndFromAStream) {
  const struct {
    const char* name;
    TvgColor first, last;  // the ramp's first and last pixel of row 1
  } cases[] = {
      {"TvgHueTrackBar", 0xFFF20D0Du, vgHSLtoRGB(91 / 92.0f, 0.9f, 0.5f)},
      {"TvgHudHueTrackBar", 0xFFF20D0Du, vgHSLtoRGB(91 / 92.0f, 0.9f, 0.5f)},
      {"TvgBWTrackBar", 0xFF000000u, 0xFFFCFCFCu},
      {"TvgHudBWTrackBar", 0xFF000000u, 0xFFFCFCFCu},
      {"TvgAlphaTrackBar", 0xFFFFFFFFu, 0xFFFFFFFFu},
      {"TvgHudAlphaTrackBar", 0xFFFFFFFFu, 0xFFFFFFFFu},
  };
  for (const auto& c : cases) {
    const std::string text = std::string("object ") + c.name + "\n  Position.Point = '(10,10)'\nend\n";
    auto* streamed = dynamic_cast<TvgBitmapTrackBar*>(vgCreateObjectFromText(nullptr, text));
    auto* made = dynamic_cast<TvgBitmapTrackBar*>(GetClass(c.name)->Create(nullptr));
    for (TvgBitmapTrackBar* bar : {made, streamed}) {
      ASSERT_NE(bar, nullptr) << c.name;
      bar->SetParent(form);
      bar->ApplyResource();
      ASSERT_NE(bar->GetRampBitmap(), nullptr) << c.name;
      EXPECT_EQ(bar->GetRampBitmap()->GetWidth(), 92) << c.name;
      EXPECT_EQ(RampPixel(bar, 0, 1), c.first) << c.name;
      EXPECT_EQ(RampPixel(bar, 91, 1), c.last) << c.name;
      // The alpha ramp's checkerboard: its second cell is grey.
      if (std::string(c.name).find("Alpha") != std::string::npos) {
        EXPECT_LT(RampPixel(bar, 3, 1), 0xFFC0C0C0u) << c.name;
      }
      delete bar;
    }
  }
}

TEST_F(ColorsTest, RampsFollowTheOrientation) {
  // The alpha ramp runs down a vertical bar: the checkerboard at the top, white at the bottom.
  auto* alpha = Add<TvgAlphaTrackBar>(0, 0, 15, 108);
  alpha->SetOrientation(vgVertical);
  alpha->Realign();
  TvgBitmap* ramp = alpha->GetRampBitmap();
  ASSERT_NE(ramp, nullptr);
  ASSERT_EQ(ramp->GetHeight(), 100);
  EXPECT_LT(RampPixel(alpha, 1, 4) & 0xFF, RampPixel(alpha, 1, 1) & 0xFF);
  EXPECT_EQ(RampPixel(alpha, 1, 98), 0xFFFFFFFFu);
  // A bar turned at run time keeps its size but refills its ramp along the new direction.
  auto* hue = Add<TvgHueTrackBar>(0, 120, 108, 15);
  EXPECT_NE(RampPixel(hue, 0, 3), RampPixel(hue, 50, 3));
  hue->SetOrientation(vgVertical);
  EXPECT_EQ(hue->GetRampBitmap()->GetWidth(), 100);
  EXPECT_EQ(RampPixel(hue, 0, 3), RampPixel(hue, 50, 3));
  EXPECT_EQ(RampPixel(hue, 0, 0), 0xFFF20D0Du);
  EXPECT_NE(RampPixel(hue, 0, 6), 0xFFF20D0Du);
}

TEST_F(ColorsTest, TheSquareAndTheStripAreBuiltAgainAfterAResize) {
  auto* quad = Add<TvgColorQuad>(10, 10, 100, 100);
  auto* picker = Add<TvgColorPicker>(200, 10, 20, 100);
  quad->Paint();
  picker->Paint();
  ASSERT_NE(quad->GetCachedBitmap(), nullptr);
  ASSERT_NE(picker->GetCachedBitmap(), nullptr);
  quad->SetBounds(10, 10, 150, 60);
  picker->SetBounds(200, 10, 20, 40.5f);
  quad->Paint();
  picker->Paint();
  EXPECT_EQ(quad->GetCachedBitmap()->GetWidth(), 150);
  EXPECT_EQ(quad->GetCachedBitmap()->GetHeight(), 60);
  EXPECT_EQ(quad->GetCachedBitmap()->Pixel(149, 0), 0xFFFFFFFFu);  // lightness 1 along the top
  EXPECT_EQ(picker->GetCachedBitmap()->GetHeight(), 40);
  EXPECT_EQ(picker->GetCachedBitmap()->Pixel(5, 20), vgHSLtoRGB(0.5f, 0.9f, 0.5f));
  // The same size again keeps the cache.
  TvgBitmap* strip = picker->GetCachedBitmap();
  picker->SetBounds(200, 10, 20.7f, 40.9f);
  picker->Paint();
  EXPECT_EQ(picker->GetCachedBitmap(), strip);
}

TEST_F(ColorsTest, QuadSettersClampFireAndFeedTheColourBox) {
  auto* quad = Add<TvgColorQuad>(10, 10, 100, 100);
  auto* box = Add<TvgColorBox>(120, 10, 20, 20);
  TEventLog log;
  quad->OnChange = log.OnChange();
  quad->SetColorBox(box);
  EXPECT_EQ(box->GetColor(), 0xFF000000u);  // linking pushes the colour without an event
  EXPECT_TRUE(log.entries.empty());
  quad->SetHue(1.5f);
  EXPECT_EQ(quad->GetHue(), 1.0f);
  quad->SetSat(1);
  quad->SetLum(0.5f);
  EXPECT_EQ(box->GetColor(), 0xFFFF0000u);
  EXPECT_EQ(log.Count("change"), 3);
  // The current value again changes nothing, the cached square included.
  quad->Paint();
  TvgBitmap* square = quad->GetCachedBitmap();
  ASSERT_NE(square, nullptr);
  EXPECT_EQ(square->Pixel(99, 0), 0xFFFFFFFFu);  // lightness 1 at the top
  EXPECT_EQ(square->Pixel(0, 50), 0xFF808080u);  // saturation 0 at the left
  quad->SetHue(1.0f);
  EXPECT_EQ(quad->GetCachedBitmap(), square);
  EXPECT_EQ(log.Count("change"), 3);
  // Alpha reaches the box and OnChange but does not repaint the quad.
  scene.updates.clear();
  quad->SetAlpha(0.5f);
  EXPECT_EQ(box->GetColor(), 0x80FF0000u);
  EXPECT_EQ(log.Count("change"), 4);
  for (const TvgRect& r : scene.updates) EXPECT_GE(r.Left, 120) << "the quad repainted";
  // A hue change drops the square; freeing the box clears the link.
  quad->SetHue(0.5f);
  EXPECT_EQ(quad->GetCachedBitmap(), nullptr);
  delete box;
  EXPECT_EQ(quad->GetColorBox(), nullptr);
  quad->SetSat(0.2f);
}

TEST_F(ColorsTest, QuadAndStripHitTestsAndDrags) {
  auto* quad = Add<TvgColorQuad>(100, 100, 100, 100);
  auto* picker = Add<TvgColorPicker>(300, 100, 20, 100);
  picker->SetColorQuad(quad);
  // The quad takes presses up to 5 units outside (strictly); the strip only inside horizontally.
  EXPECT_TRUE(quad->PointInObject(96, 150));
  EXPECT_FALSE(quad->PointInObject(95, 150));
  EXPECT_TRUE(quad->PointInObject(150, 204.9f));
  EXPECT_FALSE(picker->PointInObject(300, 150));
  EXPECT_TRUE(picker->PointInObject(301, 96));
  // A press 4 units left of the quad, dragged: saturation clamps to 0, lightness follows y.
  quad->MouseDown(mbLeft, kLeft, -4, 25);
  quad->MouseMove(kLeft, -4, 25, 0, 0);
  EXPECT_EQ(quad->GetSat(), 0.0f);
  EXPECT_EQ(quad->GetLum(), 0.75f);
  // The release point counts as a last move.
  quad->MouseUp(mbLeft, TShiftState(), 50, 100);
  EXPECT_EQ(quad->GetSat(), 0.5f);
  EXPECT_EQ(quad->GetLum(), 0.0f);
  // Moves without a press change nothing.
  quad->MouseMove(kLeft, 10, 10, 0, 0);
  EXPECT_EQ(quad->GetSat(), 0.5f);
  // The strip drives the quad's hue.
  picker->MouseDown(mbLeft, kLeft, 10, 0);
  picker->MouseUp(mbLeft, TShiftState(), 10, 25);
  EXPECT_EQ(picker->GetHue(), 0.25f);
  EXPECT_EQ(quad->GetHue(), 0.25f);
  // A control of zero height ignores vertical drags (no division by zero).
  picker->SetHeight(0);
  picker->MouseDown(mbLeft, kLeft, 10, 0);
  picker->MouseUp(mbLeft, TShiftState(), 10, 40);
  EXPECT_EQ(picker->GetHue(), 0.25f);
  // SetColor splits a colour over strip and quad; the marker areas grow the repainted rects.
  picker->SetColor(0x80FF0000u);
  EXPECT_EQ(picker->GetHue(), 0.0f);
  EXPECT_EQ(quad->GetSat(), 1.0f);
  EXPECT_EQ(quad->GetLum(), 0.5f);
  EXPECT_FLOAT_EQ(quad->GetAlpha(), 128 / 255.0f);
  EXPECT_EQ(quad->GetAbsoluteRect(), vgRect(89, 89, 211, 211));
  EXPECT_EQ(picker->GetAbsoluteRect().Top, 100.0f);
  delete quad;
  EXPECT_EQ(picker->GetColorQuad(), nullptr);
}

// --- Gradient editor

class GradientEditTest : public ColorsTest {
 protected:
  void SetUp() override {
    ColorsTest::SetUp();
    // 220 wide: stop offsets map to x = offset * 200 + 10; markers sit in y 10..20.
    edit = Add<TvgGradientEdit>(0, 0, 220, 20);
    edit->OnChange = log.OnChange();
    edit->OnSelectPoint = log.OnSelect();
  }
  TvgGradientPoints* Points() { return edit->GetGradient()->GetPoints(); }
  std::vector<float> Offsets() {
    std::vector<float> offsets;
    for (int32_t i = 0; i < Points()->Count(); ++i) offsets.push_back(Points()->Point(i)->GetOffset());
    return offsets;
  }
  void Click(float x, float y) {
    edit->MouseDown(mbLeft, kLeft, x, y);
    edit->MouseUp(mbLeft, TShiftState(), x, y);
  }
  TvgGradientEdit* edit = nullptr;
  TEventLog log;
};

TEST_F(GradientEditTest, AClickInTheStripAddsAStopWithTheColourFoundThere) {
  EXPECT_EQ(edit->GetCurrentPoint(), 0);
  EXPECT_EQ(edit->GetPointRect(1), vgRect(205, 10, 215, 20));
  EXPECT_EQ(edit->GetPointRect(2), TvgRect());
  // From transparent black to opaque white: half way is white at half alpha (interpolated
  // premultiplied), not a half-transparent grey.
  Points()->Point(0)->SetIntColor(0x00000000u);
  Click(110, 5);
  ASSERT_EQ(Points()->Count(), 3);
  EXPECT_EQ(edit->GetCurrentPoint(), 1);
  EXPECT_EQ(Points()->Point(1)->GetOffset(), 0.5f);
  EXPECT_EQ(Points()->Point(1)->GetIntColor(), 0x7FFFFFFFu);
  EXPECT_EQ(log.Count("select"), 1);
  EXPECT_EQ(log.Count("change"), 1);
  // Presses outside the strip's band, or where no stop after the first lies further right, add
  // nothing.
  Click(150, 0);
  Click(150, 10.5f);
  Click(219, 5);
  EXPECT_EQ(Points()->Count(), 3);
  for (int32_t i = 0; i < Points()->Count(); ++i) Points()->Point(i)->SetOffset(0);
  Click(110, 5);
  EXPECT_EQ(Points()->Count(), 3);
  EXPECT_EQ(log.Count("change"), 1);
}

TEST_F(GradientEditTest, DraggedStopsStaySortedAndDropOffBelow) {
  Points()->Clear();
  for (float offset : {0.0f, 0.25f, 0.5f, 0.75f, 1.0f}) Points()->AddPoint(0xFF00FF00u, offset);
  Points()->Point(1)->SetIntColor(0xFF0000FFu);
  // Pick the stop at 0.25 and throw it past two neighbours in one move: it changes places until
  // the stops are sorted again, and stays selected.
  edit->MouseDown(mbLeft, kLeft, 60, 15);
  EXPECT_EQ(edit->GetCurrentPoint(), 1);
  edit->MouseMove(kLeft, 170, 15, 0, 0);
  EXPECT_EQ(Offsets(), (std::vector<float>{0, 0.5f, 0.75f, 0.8f, 1}));
  EXPECT_EQ(edit->GetCurrentPoint(), 3);
  EXPECT_EQ(Points()->Point(3)->GetIntColor(), 0xFF0000FFu);
  // Dragged 11 units below the editor its marker hides; released there it goes and the stop
  // before it is selected.
  edit->MouseMove(kLeft, 170, 31, 0, 0);
  EXPECT_TRUE(edit->GetRemoving());
  edit->MouseUp(mbLeft, TShiftState(), 170, 31);
  EXPECT_FALSE(edit->GetRemoving());
  EXPECT_EQ(Offsets(), (std::vector<float>{0, 0.5f, 0.75f, 1}));
  EXPECT_EQ(edit->GetCurrentPoint(), 2);
  // The end stops never hide while dragged, but a release below still removes them; a release
  // above the editor removes nothing.
  edit->MouseDown(mbLeft, kLeft, 210, 15);
  edit->MouseMove(kLeft, 210, 40, 0, 0);
  EXPECT_FALSE(edit->GetRemoving());
  edit->MouseUp(mbLeft, TShiftState(), 210, 40);
  EXPECT_EQ(Points()->Count(), 3);
  edit->MouseDown(mbLeft, kLeft, 10, 15);
  edit->MouseUp(mbLeft, TShiftState(), 10, -40);
  EXPECT_EQ(Points()->Count(), 3);
  // Down to one stop, nothing more is deleted.
  for (int k = 0; k < 3; ++k) {
    const float x = Points()->Point(0)->GetOffset() * 200 + 10;
    edit->MouseDown(mbLeft, kLeft, x, 15);
    edit->MouseUp(mbLeft, TShiftState(), x, 40);
  }
  EXPECT_EQ(Points()->Count(), 1);
  EXPECT_EQ(edit->GetCurrentPoint(), 0);
}

TEST_F(GradientEditTest, TheLinkedPickerShowsTheSelectedStop) {
  auto* quad = Add<TvgColorQuad>(0, 50, 100, 100);
  auto* picker = Add<TvgColorPicker>(110, 50, 20, 100);
  picker->SetColorQuad(quad);
  Points()->Point(1)->SetIntColor(0xFF00FF00u);
  edit->SetColorPicker(picker);
  EXPECT_EQ(quad->GetLum(), 0.0f);  // stop 0: black
  edit->MouseDown(mbLeft, kLeft, 210, 15);
  EXPECT_EQ(edit->GetCurrentPoint(), 1);
  EXPECT_FLOAT_EQ(picker->GetHue(), 1 / 3.0f);
  EXPECT_EQ(quad->GetQuadColor(), 0xFF00FF00u);
  edit->MouseUp(mbLeft, TShiftState(), 210, 15);
  // A press on a stop that was not selected fires the selection twice.
  EXPECT_EQ(log.Count("select"), 2);
  delete picker;
  EXPECT_EQ(edit->GetColorPicker(), nullptr);
}

// --- Colour panel

TEST_F(ColorsTest, ColourPanelTextsRoundTripAndBadTextChangesNothing) {
  auto* panel = Add<TvgColorPanel>(0, 0, 150, 150);
  EXPECT_EQ(panel->GetColor(), "#FFFFFFFF");
  EXPECT_EQ(panel->GetQuad()->GetLum(), 1.0f);
  auto* box = Add<TvgColorBox>(200, 0, 20, 20);
  panel->SetColorBox(box);
  EXPECT_EQ(box->GetColor(), 0xFFFFFFFFu);
  TEventLog log;
  panel->OnChange = log.OnChange();
  panel->SetColor("#80FF0000");
  EXPECT_EQ(panel->GetQuad()->GetHue(), 0.0f);
  EXPECT_EQ(panel->GetQuad()->GetSat(), 1.0f);
  EXPECT_EQ(panel->GetQuad()->GetLum(), 0.5f);
  EXPECT_FLOAT_EQ(panel->GetAlphaBar()->GetValue(), 128 / 255.0f);
  EXPECT_EQ(panel->GetColor(), "#80FF0000");
  EXPECT_EQ(box->GetColor(), 0x80FF0000u);
  EXPECT_EQ(log.Count("change"), 1);  // the parts' changes are held back: one change
  for (uint32_t a = 0; a <= 255; ++a) {
    const std::string text = vgColorToStr(a << 24 | 0x3366CCu);
    panel->SetColor(text);
    ASSERT_EQ(panel->GetColor(), text);
  }
  // Colour names count; anything else raises before a part changes.
  panel->SetColor("red");
  EXPECT_EQ(panel->GetColor(), "#FFFF0000");
  log.entries.clear();
  for (const char* bad : {"", "#", "#FFFFFFFFF", "#GG0000", "reddish", "1.5"})
    EXPECT_THROW(panel->SetColor(bad), EConvertError) << bad;
  EXPECT_EQ(panel->GetColor(), "#FFFF0000");
  EXPECT_TRUE(log.entries.empty());
  // The bars drive the quad.
  panel->GetHueBar()->SetValue(0.5f);
  EXPECT_EQ(panel->GetColor(), "#FF00FFFF");
  panel->GetAlphaBar()->SetValue(0);
  EXPECT_EQ(panel->GetColor(), "#0000FFFF");
}

TEST_F(ColorsTest, ColourBoxPaintsItsColourOverACheckerboard) {
  auto* box = Add<TvgColorBox>(0, 0, 12, 7);
  box->SetColor(0x80FF0000u);
  box->Paint();
  // White, then the grey squares with i + j odd for i in 0..3 and j in 0..2, then the colour.
  ASSERT_GE(canvas.fills.size(), 3u);
  EXPECT_EQ(canvas.fillColors.front(), 0xFFFFFFFFu);
  EXPECT_EQ(canvas.fills[1], vgRect(0, 5, 5, 10));
  EXPECT_EQ(canvas.fillColors[1], 0xFFD3D3D3u);
  EXPECT_EQ(canvas.fills.size(), 1u + 6u + 1u);
  EXPECT_EQ(canvas.fillColors.back(), 0x80FF0000u);
  EXPECT_EQ(canvas.fills.back(), vgRect(0, 0, 12, 7));
  EXPECT_EQ(canvas.clips.front(), vgRect(0, 0, 12, 7));
  EXPECT_EQ(canvas.saves, canvas.restores);
}


TEST_F(ColorsTest, ComboColourBoxTakesTypedColoursAndKeepsItsOwnAgainstOthers) {
  auto* combo = Add<TvgComboColorBox>(0, 0, 60, 22);
  TEventLog log;
  combo->OnChange = log.OnChange();
  combo->SetColor("#FF102030");
  EXPECT_EQ(combo->GetTextBox()->GetText(), u"#FF102030");
  EXPECT_EQ(combo->GetColorBox()->GetColor(), 0xFF102030u);
  EXPECT_EQ(log.Count("change"), 1);
  // Committed text is taken over and written back in its normal form.
  combo->GetTextBox()->SetText(u"#80ff0000");
  combo->DoTextChanged(combo->GetTextBox());
  EXPECT_EQ(combo->GetColor(), "#80FF0000");
  EXPECT_EQ(combo->GetTextBox()->GetText(), u"#80FF0000");
  // Empty or unreadable text: the previous colour stays and shows again.
  for (const char16_t* bad : {u"", u"#", u"#1234567890"}) {
    combo->GetTextBox()->SetText(bad);
    combo->DoTextChanged(combo->GetTextBox());
    EXPECT_EQ(combo->GetColor(), "#80FF0000");
    EXPECT_EQ(combo->GetTextBox()->GetText(), u"#80FF0000");
  }
  // Only hexadecimal digits and "#" can be typed.
  EXPECT_EQ(combo->GetTextBox()->GetFilterChar(), u"#0123456789abcdefABCDEF");
  // The closed box paints the colour over a checkerboard inside its content part.
  canvas.fillColors.clear();
  auto* content = dynamic_cast<TvgVisualObject*>(combo->FindResource("Content"));
  ASSERT_NE(content, nullptr);
  content->OnPaint(content, &canvas, content->GetLocalRect());
  ASSERT_FALSE(canvas.fillColors.empty());
  EXPECT_EQ(canvas.fillColors.back(), 0x80FF0000u);
  // A press opens the drop-down, a press while it is open closes it.
  combo->MouseDown(mbLeft, kLeft, 5, 5);
  EXPECT_TRUE(combo->GetPopup()->GetIsOpen());
  combo->MouseDown(mbLeft, kLeft, 5, 5);
  EXPECT_FALSE(combo->GetPopup()->GetIsOpen());
}

}  // namespace
