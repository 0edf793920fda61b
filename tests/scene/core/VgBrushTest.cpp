// Gradients, brushes and fonts: colour interpolation with coinciding offsets, stored rules,
// notifications, resource brushes and font conversions.
#include "scene/core/vg_brush.h"

#include <gtest/gtest.h>

#include <functional>

#include "classlib/Filer.h"
#include "classlib/FormText.h"
#include "scene/core/vg_registry.h"

namespace {

struct Counter {
  int hits = 0;
  void Hit(TObject*) { ++hits; }
  TNotifyEvent Event() { return TNotifyEvent::Of<&Counter::Hit>(this); }
};

// Stands in for the brush resource objects of the style system, matched by class name.
class TvgBrushObject : public TComponent, public IvgSceneEntry {
  KBL_DECLARE_CLASS(TvgBrushObject, TComponent)
 public:
  explicit TvgBrushObject(TComponent* owner) : TComponent(owner) { vgRegisterSceneObject(this); }
  ~TvgBrushObject() override {
    vgUnregisterSceneObject(this);
    delete brush_;
  }
  std::string GetSceneResourceName() const override { return ResourceName; }
  bool GetSceneStored() const override { return true; }
  TvgBrush* GetBrush() const { return brush_; }
  void SetBrush(TvgBrush* b) { brush_->Assign(b); }
  std::string ResourceName;

 private:
  TvgBrush* brush_ = new TvgBrush(vgBrushSolid, 0xFF000000u);
};

KBL_PUBLISHED(TvgBrushObject) { KBL_PROP(Brush); }

class TPaintHolder : public TComponent {
  KBL_DECLARE_CLASS(TPaintHolder, TComponent)
 public:
  explicit TPaintHolder(TComponent* owner) : TComponent(owner) {}
  ~TPaintHolder() override {
    delete fill_;
    delete font_;
  }
  TvgBrush* GetFill() const { return fill_; }
  void SetFill(TvgBrush* b) { fill_->Assign(b); }
  TvgFont* GetFont() const { return font_; }
  void SetFont(TvgFont* f) { font_->Assign(f); }

 private:
  TvgBrush* fill_ = new TvgBrush(vgBrushSolid, 0xFFFFFFFFu);
  TvgFont* font_ = new TvgFont;
};

KBL_PUBLISHED(TPaintHolder) {
  KBL_PROP(Fill);
  KBL_PROP(Font);
}

TEST(VgGradient, DefaultBlendAndCoincidingOffsets) {
  TvgGradient gradient;
  EXPECT_EQ(gradient.InterpolateColor(0.5f), 0xFF7F7F7Fu);
  EXPECT_EQ(gradient.InterpolateColor(0), 0xFF000000u);
  EXPECT_EQ(gradient.InterpolateColor(1), 0xFFFFFFFFu);
  EXPECT_EQ(gradient.InterpolateColor(7), 0xFFFFFFFFu);   // clamped
  EXPECT_EQ(gradient.InterpolateColor(-3), 0xFF000000u);
  gradient.GetPoints()->Point(0)->SetIntColor(0xFFFF0000u);
  gradient.GetPoints()->Point(0)->SetOffset(0.5f);
  gradient.GetPoints()->Point(1)->SetIntColor(0xFF0000FFu);
  gradient.GetPoints()->Point(1)->SetOffset(0.5f);
  EXPECT_EQ(gradient.InterpolateColor(0.5f), 0xFFFF0000u);
  EXPECT_EQ(gradient.InterpolateColor(0.2f), 0xFFFF0000u);
  EXPECT_EQ(gradient.InterpolateColor(0.8f), 0xFF0000FFu);
  // Three points: each span blends its own neighbours.
  TvgGradient three;
  three.GetPoints()->Point(1)->SetOffset(0.5f);
  three.GetPoints()->AddPoint(0xFF00FF00u, 1);
  EXPECT_EQ(three.InterpolateColor(0.25f), 0xFF7F7F7Fu);
  EXPECT_EQ(three.InterpolateColor(0.5f), 0xFFFFFFFFu);
  EXPECT_EQ(three.InterpolateColor(0.75f), 0xFF80FF80u);  // 255 + Trunc(-127.5)
  TvgGradient one;
  one.GetPoints()->Delete(1);
  EXPECT_EQ(one.InterpolateColor(0.5f), 0u);
}

TEST(VgGradient, AssignFiresOnceAndCopiesTheStylesPart) {
  TvgGradient source;
  source.SetStyle(vgRadialGradient);
  source.GetRadialTransform()->GetScale()->SetPoint({2, 3});
  source.GetStartPosition()->SetPoint({9, 9});
  source.SetColor("#FF112233");
  source.SetColor1("Red");
  TvgGradient target;
  Counter counter;
  target.OnChanged = counter.Event();
  target.Assign(&source);
  EXPECT_EQ(counter.hits, 1);
  EXPECT_EQ(target.GetStyle(), vgRadialGradient);
  EXPECT_EQ(target.GetRadialTransform()->GetScale()->GetPoint(), (TvgPoint{2, 3}));
  EXPECT_EQ(target.GetStartPosition()->GetPoint(), (TvgPoint{0, 0}));  // not the style's part
  EXPECT_EQ(target.GetPoints()->Point(0)->GetColor(), "#FF112233");
  EXPECT_EQ(target.GetPoints()->Point(1)->GetIntColor(), 0xFFFF0000u);
  target.GetStopPosition()->SetX(5);
  EXPECT_EQ(counter.hits, 2);
}

TEST(VgBrush, StoresOnlyWhatDiffersFromItsDefaults) {
  TPaintHolder holder(nullptr);
  holder.GetFill()->SetColor("white");
  std::string text = ComponentToText(&holder);
  EXPECT_EQ(text.find("Fill."), std::string::npos) << text;
  EXPECT_EQ(text.find("Font."), std::string::npos) << text;
  holder.GetFill()->SetColor("#80FF0000");
  text = ComponentToText(&holder);
  EXPECT_NE(text.find("Fill.Color = '#80FF0000'"), std::string::npos) << text;
  EXPECT_EQ(text.find("Fill.Style"), std::string::npos) << text;
  holder.GetFill()->SetStyle(vgBrushGradient);
  text = ComponentToText(&holder);
  EXPECT_EQ(text.find("Fill.Color"), std::string::npos) << text;
  EXPECT_NE(text.find("Fill.Style = vgBrushGradient"), std::string::npos) << text;
  EXPECT_NE(text.find("Fill.Gradient.Points = <"), std::string::npos) << text;
  EXPECT_EQ(text.find("Fill.Bitmap"), std::string::npos) << text;
  TPaintHolder copy(nullptr);
  TextToComponent(text, &copy);
  EXPECT_EQ(copy.GetFill()->GetStyle(), vgBrushGradient);
  EXPECT_EQ(copy.GetFill()->GetGradient()->InterpolateColor(0.5f), 0xFF7F7F7Fu);
}

TEST(VgBrush, ColourTextAlsoSetsTheFirstGradientPoint) {
  TvgBrush brush(vgBrushGradient, 0xFF000000u);
  Counter counter;
  brush.OnChanged = counter.Event();
  brush.SetColor("#FF00FF00");
  EXPECT_EQ(brush.GetSolidColor(), 0xFF00FF00u);
  EXPECT_EQ(brush.GetGradient()->GetPoints()->Point(0)->GetIntColor(), 0xFF00FF00u);
  EXPECT_EQ(counter.hits, 1);
  brush.SetColor("#FF00FF00");
  brush.SetStyle(vgBrushGradient);
  EXPECT_EQ(counter.hits, 1);
  brush.GetGradient()->SetStyle(vgRadialGradient);  // a part's change reaches the brush
  EXPECT_EQ(counter.hits, 2);
}

TEST(VgBrush, AssignCopiesResolvedColourAndFiresOnce) {
  vgFreeRegistries();
  auto* resource = new TvgBrushObject(nullptr);
  resource->ResourceName = "accent";
  resource->GetBrush()->SetSolidColor(0xFF336699u);
  TvgBrush linked(vgBrushResource, 0xFF000000u);
  linked.GetResource()->SetResourceName("ACCENT");
  EXPECT_EQ(linked.GetSolidColor(), 0xFF336699u);
  TvgBrush copy;
  Counter counter;
  copy.OnChanged = counter.Event();
  copy.Assign(&linked);
  EXPECT_EQ(counter.hits, 1);
  EXPECT_EQ(copy.GetStyle(), vgBrushResource);
  EXPECT_EQ(copy.GetSolidColorValue(), 0xFF336699u);
  EXPECT_EQ(copy.GetResource()->GetResource(), resource);
  // A resource that refers to itself through its own brush cannot recurse forever.
  resource->GetBrush()->SetStyle(vgBrushResource);
  resource->GetBrush()->GetResource()->SetResourceName("accent");
  EXPECT_EQ(linked.GetSolidColor(), 0xFF336699u);
  delete resource;
  EXPECT_EQ(copy.GetResource()->GetResource(), nullptr);
  // No match: the brush's own colour.
  TvgBrush orphan(vgBrushResource, 0xFF000000u);
  orphan.SetSolidColor(0xFF0A0B0Cu);
  orphan.GetResource()->SetResourceName("nothing-by-this-name");
  EXPECT_EQ(orphan.GetSolidColor(), 0xFF0A0B0Cu);
  vgFreeRegistries();
}

TEST(VgBrush, VisualReferenceIsDroppedWhenTheObjectGoes) {
  vgFreeRegistries();
  auto* object = new TvgBrushObject(nullptr);
  TvgBrush brush(vgBrushVisual, 0);
  Counter counter;
  brush.OnChanged = counter.Event();
  brush.GetVisual()->SetVisualObject(object);
  EXPECT_EQ(counter.hits, 1);
  delete object;
  EXPECT_EQ(brush.GetVisual()->GetVisualObject(), nullptr);
  vgFreeRegistries();
}

TEST(VgFont, DefaultsStoredRulesAndConversions) {
  TPaintHolder holder(nullptr);
  TvgFont& font = *holder.GetFont();
  EXPECT_EQ(font.GetFamily(), "Tahoma");
  EXPECT_EQ(font.GetSize(), 11);
  EXPECT_TRUE(font.GetClearType());
  Counter counter;
  font.OnChanged = counter.Event();
  font.SetSize(11);
  font.SetFamily("Tahoma");
  EXPECT_EQ(counter.hits, 0);
  font.SetFamily("Verdana");
  font.SetClearType(false);
  font.SetStyle(vgFontBoldItalic);
  EXPECT_EQ(counter.hits, 3);
  const std::string text = ComponentToText(&holder);
  EXPECT_NE(text.find("Font.Family = 'Verdana'"), std::string::npos) << text;
  EXPECT_NE(text.find("Font.ClearType = False"), std::string::npos) << text;
  EXPECT_NE(text.find("Font.Style = vgFontBoldItalic"), std::string::npos) << text;
  EXPECT_EQ(text.find("Font.Size"), std::string::npos) << text;
  TvgFontDesc desc{"Arial", -13, true, false, false, false};
  font.AssignFromDesc(desc);
  EXPECT_EQ(font.GetSize(), 13);
  EXPECT_EQ(font.GetStyle(), vgFontBold);
  TvgFontDesc out;
  out.Underline = true;
  font.AssignToDesc(out);
  EXPECT_EQ(out.Height, -13);
  EXPECT_EQ(out.Name, "Arial");
  EXPECT_TRUE(out.Bold);
  EXPECT_FALSE(out.Underline);
  font.SetStyle(vgFontUnderline);
  TvgFontDesc kept{"x", 0, true, true, false, true};
  font.AssignToDesc(kept);
  EXPECT_TRUE(kept.Bold && kept.Italic && kept.StrikeOut);  // flags left as they were
  TvgFontDesc mixed{"Mono", 20, true, false, true, false};
  font.AssignFromDesc(mixed);
  EXPECT_EQ(font.GetStyle(), vgFontUnderline);  // a combination the style cannot hold: kept
}

}  // namespace

namespace {

TEST(VgBrushBitmap, AssignCopiesPixelsAndWrapModeWithOneNotification) {
  TvgBrushBitmap source;
  source.SetWrapMode(vgWrapTileStretch);
  source.GetBitmap()->SetSize(2, 2);
  source.GetBitmap()->Clear(0xFF445566u);
  TvgBrushBitmap target;
  struct Counter {
    int hits = 0;
    void Hit(TObject*) { ++hits; }
  } counter;
  target.OnChanged = TNotifyEvent::Of<&Counter::Hit>(&counter);
  target.Assign(&source);
  EXPECT_EQ(counter.hits, 1);
  EXPECT_EQ(target.GetWrapMode(), vgWrapTileStretch);
  EXPECT_EQ(target.GetBitmap()->Pixel(1, 1), 0xFF445566u);
  target.GetBitmap()->Clear(0);  // pixel changes reach the owner
  EXPECT_EQ(counter.hits, 2);
}

}  // namespace

namespace {

TEST(VgBrush, PartsMadeOnFirstUseHoldTheirDefaultsAndReportTheirChanges) {
  // Each style's part, asked for the first time after the brush has lived without it.
  struct Case {
    TvgBrushStyle style;
    std::function<void(TvgBrush&)> change;  // through the part only
    int notifications;                      // that the change gives the brush
    std::function<bool(const TvgBrush&)> copied;
  } cases[] = {
      {vgBrushGradient, [](TvgBrush& b) { b.GetGradient()->SetStyle(vgRadialGradient); }, 1,
       [](const TvgBrush& b) { return b.GetGradient()->IsRadial(); }},
      {vgBrushBitmap, [](TvgBrush& b) { b.GetBitmap()->SetWrapMode(vgWrapTileOriginal); }, 1,
       [](const TvgBrush& b) { return b.GetBitmap()->GetWrapMode() == vgWrapTileOriginal; }},
      {vgBrushResource, [](TvgBrush& b) { b.GetResource()->SetResourceName("accent"); }, 0,
       [](const TvgBrush& b) { return b.GetResource()->GetResourceName() == "accent"; }},
  };
  for (const Case& c : cases) {
    TvgBrush brush(vgBrushSolid, 0xFF102030u);
    brush.SetStyle(c.style);
    const TvgGradient* gradient = brush.GetGradient();
    EXPECT_EQ(gradient->GetPoints()->Count(), 2);
    EXPECT_EQ(gradient->InterpolateColor(0), 0xFF000000u);
    EXPECT_EQ(gradient->GetStopPosition()->GetPoint(), vgPoint(0, 1));
    EXPECT_EQ(brush.GetBitmap()->GetWrapMode(), vgWrapTile);
    EXPECT_TRUE(brush.GetResource()->GetResourceName().empty());
    EXPECT_EQ(brush.GetVisual()->GetVisualObject(), nullptr);
    Counter counter;
    brush.OnChanged = counter.Event();
    c.change(brush);
    EXPECT_EQ(counter.hits, c.notifications) << static_cast<int>(c.style);
    // A brush that never made the part takes it over by Assign; one that made it gives it away.
    TvgBrush copy(vgBrushSolid, 0);
    copy.Assign(&brush);
    EXPECT_TRUE(c.copied(copy)) << static_cast<int>(c.style);
    TvgBrush fresh(vgBrushSolid, 0);
    fresh.SetStyle(c.style);
    copy.Assign(&fresh);
    EXPECT_FALSE(c.copied(copy)) << static_cast<int>(c.style);
  }
}

}  // namespace
