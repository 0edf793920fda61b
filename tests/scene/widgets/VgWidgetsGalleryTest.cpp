// A gallery of every class the shapes, basic controls, widgets and design libraries register:
// each made at its default size under the default style, given something to show (captions,
// items, tabs, rows), painted by GDI+ under Wine into a cell of its own on a dark form and judged
// by the pixels read back: it drew something, nothing left its bounds, and its parts are there
// (the colour bars' ramps, the tabs inside the tab control, captions not cut). The picture is
// kept as widgets_gallery.png beside the test for a look.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "scene/controls/DefaultStyleSupport.h"
#include "scene/controls/vg_layouts.h"
#include "scene/controls/vg_scrollbox.h"
#include "scene/core/GdiPlusTestEnvironment.h"
#include "scene/core/ObjectsTestSupport.h"
#include "scene/core/vg_registry.h"
#include "scene/design/vg_design.h"
#include "scene/design/vg_inspector.h"
#include "scene/shapes/vg_animations.h"
#include "scene/shapes/vg_effects.h"
#include "scene/shapes/vg_objects.h"
#include "scene/widgets/vg_colors.h"
#include "scene/widgets/vg_grid.h"
#include "scene/widgets/vg_listbox.h"
#include "scene/widgets/vg_memo.h"
#include "scene/widgets/vg_tabcontrol.h"
#include "scene/widgets/vg_textbox.h"
#include "scene/widgets/vg_treeview.h"

namespace {

// Not a colour of the default style (its own window background is #FF2B2B2B).
constexpr TvgColor kBackground = 0xFF26303Au;
// The colour of what the scroll boxes hold.
constexpr TvgColor kContentColor = 0xFF4F6378u;
// Room around each object inside its cell, and the width the cells are laid out in.
constexpr float kMargin = 24, kRowWidth = 1100;

// The classes the scene engine itself registers (its resources, frame and popups): not part of
// this gallery.
bool IsSceneEngineClass(const std::string& category, const std::string& name) {
  return category == "Resources" || category == "Popup" || name == "TvgFrame";
}

// --- Pixels

struct TInk {
  int Count = 0;
  int Left = 1 << 20, Top = 1 << 20, Right = -1, Bottom = -1;  // inclusive pixel bounds
  int Width() const { return Count == 0 ? 0 : Right - Left + 1; }
  int Height() const { return Count == 0 ? 0 : Bottom - Top + 1; }
};

// The pixels of `r` (clipped to the bitmap) that differ from `back`, skipping those of `except`.
TInk InkIn(const TvgBitmap& bitmap, const TvgRect& r, TvgColor back, const TvgRect* except = nullptr) {
  TInk ink;
  const int x0 = std::max(0, static_cast<int>(std::floor(r.Left)));
  const int y0 = std::max(0, static_cast<int>(std::floor(r.Top)));
  const int x1 = std::min(bitmap.GetWidth(), static_cast<int>(std::ceil(r.Right)));
  const int y1 = std::min(bitmap.GetHeight(), static_cast<int>(std::ceil(r.Bottom)));
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      if (except != nullptr && x >= except->Left && x < except->Right && y >= except->Top && y < except->Bottom) continue;
      if (bitmap.Pixel(x, y) == back) continue;
      ++ink.Count;
      ink.Left = std::min(ink.Left, x);
      ink.Right = std::max(ink.Right, x);
      ink.Top = std::min(ink.Top, y);
      ink.Bottom = std::max(ink.Bottom, y);
    }
  return ink;
}

float Hue(TvgColor c) {
  float h, s, l;
  vgRGBtoHSL(c, h, s, l);
  return h;
}
int Grey(TvgColor c) { return static_cast<int>((c >> 16 & 0xFF) + (c >> 8 & 0xFF) + (c & 0xFF)) / 3; }

// The absolute rect of a visual object, in whole pixels of the form.
TvgRect PixelRect(TvgVisualObject* v) {
  const TvgRect r = v->GetAbsoluteRect();
  return vgRect(std::floor(r.Left), std::floor(r.Top), std::ceil(r.Right), std::ceil(r.Bottom));
}

// The ink of a caption drawn alone the way the text part draws it, in a box `extra` units wider and
// taller than the part: a caption that fits leaves the same ink whatever the room (centred or
// not), a cut one more with room.
TInk CaptionInk(TvgText* part, float extra) {
  const float w = part->GetWidth() + extra, h = part->GetHeight() + extra;
  const int bw = static_cast<int>(std::ceil(w)) + 2, bh = static_cast<int>(std::ceil(h)) + 2;
  TvgBitmap bitmap(bw, bh);
  bitmap.Clear(0);
  TTestScene scene;
  scene.canvas = bitmap.GetCanvas();
  auto* probe = new TvgText(nullptr);
  scene.AddObject(probe);
  probe->SetText(part->GetText());
  probe->GetFont()->Assign(part->GetFont());
  probe->GetFill()->SetSolidColor(0xFFFFFFFFu);
  probe->SetHorzTextAlign(part->GetHorzTextAlign());
  probe->SetVertTextAlign(part->GetVertTextAlign());
  probe->SetWordWrap(part->GetWordWrap());
  probe->SetBounds(0, 0, w, h);
  probe->PaintTo(bitmap.GetCanvas(), vgRect(1, 1, 1 + w, 1 + h));
  scene.RemoveObject(probe);
  delete probe;
  return InkIn(bitmap, vgRect(0, 0, static_cast<float>(bw), static_cast<float>(bh)), 0);
}

// True when GDI+ under this Wine draws text at all (fonts present); captions are only judged then.
bool DrawsText() {
  TvgText probe(nullptr);
  probe.SetText(u"Tahoma");
  probe.SetBounds(0, 0, 60, 20);
  return CaptionInk(&probe, 0).Count > 0;
}

// --- Parts

// The ramp of a colour bar as drawn in its style's "background" part: sampled across the bar (away
// from the thumb) at t = 0.1, 0.3 and 0.7 of the part, along the bar's orientation.
void ExpectRamp(const TvgBitmap& bitmap, const std::string& name, TvgBitmapTrackBar* bar) {
  auto* part = dynamic_cast<TvgVisualObject*>(bar->FindResource("background"));
  ASSERT_NE(part, nullptr) << name << ": no background part for the ramp";
  const TvgRect r = PixelRect(part);
  const bool vertical = bar->GetOrientation() == vgVertical;
  const float across = vertical ? (r.Left + r.Right) / 2 : (r.Top + r.Bottom) / 2;
  auto at = [&](float t, int step = 0) {
    const float along = vertical ? r.Top + t * (r.Bottom - r.Top) : r.Left + t * (r.Right - r.Left);
    const int x = static_cast<int>(vertical ? across : along) + (vertical ? 0 : step);
    const int y = static_cast<int>(vertical ? along : across) + (vertical ? step : 0);
    return bitmap.Pixel(x, y);
  };
  if (dynamic_cast<TvgHueTrackBar*>(bar) != nullptr) {
    for (float t : {0.1f, 0.3f, 0.7f}) EXPECT_NEAR(Hue(at(t)), t, 0.05f) << name << ": no hue ramp at " << t;
  } else if (dynamic_cast<TvgAlphaTrackBar*>(bar) != nullptr) {
    // The checkerboard shows through at the transparent end and fades into white.
    int low = 255, high = 0, lowFar = 255;
    for (int step = 0; step < 6; ++step) {
      low = std::min(low, Grey(at(0.1f, step)));
      high = std::max(high, Grey(at(0.1f, step)));
      lowFar = std::min(lowFar, Grey(at(0.7f, step)));
    }
    EXPECT_GT(high - low, 40) << name << ": no checkerboard at the transparent end";
    EXPECT_GT(lowFar, low + 40) << name << ": no fade into white";
  } else {
    for (float t : {0.1f, 0.3f, 0.7f}) EXPECT_NEAR(Grey(at(t)), t * 255, 10) << name << ": no grey ramp at " << t;
  }
}

// A vertical scroll box whose content is wider than it shows the content where a horizontal bar
// would be: along its bottom edge, left of the vertical bar.
void ExpectNoHorizontalBar(const TvgBitmap& bitmap, const std::string& name, TvgScrollBox* box) {
  const TvgRect r = PixelRect(box);
  EXPECT_EQ(bitmap.Pixel(static_cast<int>(r.Left) + 15, static_cast<int>(r.Bottom) - 5), kContentColor)
      << name << " shows a horizontal bar";
}

// --- The gallery

// One object of the gallery and how it is judged.
struct TCell {
  std::string Name;
  std::string Category;
  TvgVisualObject* Object = nullptr;  // what was made; for columns and effects the holder
  TvgRect Cell;                       // its cell on the form
  float Allowance = 1;                // how far its own pixels may reach beyond its bounds
  bool Effect = false;                // a rectangle carrying an effect, which may reach its effect's rect
  bool Blank = false;                 // draws nothing of its own at its default size
  std::vector<TvgVisualObject*> Captions;  // items or controls whose "text" part must not be cut
};

// Objects that draw nothing of their own at their default size, as their Parts say: layouts hold
// and place children, a paint box paints through its handler, an image shows its bitmap, a path
// its data, and the design frame paints nothing.
const std::set<std::string>& BlankClasses() {
  static const std::set<std::string> names = {"TvgLayout",      "TvgScaledLayout", "TvgGridLayout", "TvgSplitLayout",
                                              "TvgNonVGLayout", "TvgPaintBox",     "TvgImage",      "TvgPath",
                                              "TvgDesignFrame"};
  return names;
}

// How far an object's own drawing reaches beyond its bounds by design: the colour quad's marker
// (5 units around the point, which may sit on the edge), the hue strip's, and the selection
// point's grip (a circle of 3 around its origin).
float AllowanceOf(const std::string& name) {
  static const std::map<std::string, float> allowances = {
      {"TvgColorQuad", 6}, {"TvgColorPicker", 6}, {"TvgSelectionPoint", 4}};
  const auto it = allowances.find(name);
  return it != allowances.end() ? it->second : 1;
}

// The least an object draws: the scroll arrows are paths of one unit that their fit mode never
// enlarges (a dot in any size); everything else covers a good part of its bounds.
int MinInkOf(const std::string& name) {
  return name == "TvgScrollArrowLeft" || name == "TvgScrollArrowRight" ? 1 : 13;
}

const char16_t* const kCaptions[] = {u"One", u"Two", u"Three"};

// Where each object lies in the picture ("name left top right bottom" per line), for a look.
void WriteCellMap(const std::vector<TCell>& cells, const char* fileName) {
  std::string text;
  for (const TCell& c : cells) {
    const TvgRect r = PixelRect(c.Object);
    text += c.Name + " " + std::to_string(static_cast<int>(r.Left)) + " " + std::to_string(static_cast<int>(r.Top)) +
            " " + std::to_string(static_cast<int>(r.Right)) + " " + std::to_string(static_cast<int>(r.Bottom)) + "\n";
  }
  if (FILE* f = std::fopen(fileName, "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
}

class GalleryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ticker = StartDefaultStyleTest();
    vgInitObjectsUnit();
    vgInitEffectsUnit();
    vgInitAnimationsUnit();
    vgInitDesignUnit();
    form = new TvgBackground(nullptr);
    form->GetFill()->SetStyle(vgBrushSolid);
    form->GetFill()->SetSolidColor(kBackground);
    scene.AddObject(form);
  }
  void TearDown() override {
    delete form;
    delete inspected_;  // after the inspector showing it
    EndDefaultStyleTest();
  }

  // Places `v` (already at its default size) into the next cell of the flow.
  void Place(TCell& cell, TvgVisualObject* v) {
    const float w = v->GetWidth() + 2 * kMargin, h = v->GetHeight() + 2 * kMargin;
    if (x_ + w > kRowWidth && x_ > 0) {
      x_ = 0;
      y_ += rowHeight_;
      rowHeight_ = 0;
    }
    cell.Cell = vgRect(x_, y_, x_ + w, y_ + h);
    v->GetPosition()->SetPoint(vgPoint(x_ + kMargin, y_ + kMargin));
    x_ += w;
    rowHeight_ = std::max(rowHeight_, h);
  }

  // Adds three captioned items to the lists, combo boxes, tabs, trees and headers; captions to
  // text controls; rows to grids. Answers the objects whose captions are judged.
  std::vector<TvgVisualObject*> Dress(TvgVisualObject* v) {
    std::vector<TvgVisualObject*> captions;
    if (auto* list = dynamic_cast<TvgStringListBox*>(v)) {
      for (const char16_t* c : kCaptions) list->GetItems()->Add(c);
      list->SetItemIndex(1);
      for (int32_t i = 0; i < list->Count(); ++i) captions.push_back(list->ItemByIndex(i));
    } else if (auto* list = dynamic_cast<TvgListBox*>(v)) {
      for (const char16_t* c : kCaptions) {
        auto* item = new TvgListBoxItem(nullptr);
        item->SetText(c);
        // A horizontal list keeps its items' own widths (ItemWidth 0): they are given one that
        // holds their captions.
        if (list->GetListStyle() == vgListHorizontal) item->SetWidth(45);
        list->AddObject(item);
        // The third item of a horizontal list lies partly beyond the viewport.
        if (list->GetListStyle() == vgListVertical || c != kCaptions[2]) captions.push_back(item);
      }
      list->SetItemIndex(1);
    } else if (auto* combo = dynamic_cast<TvgStringComboBox*>(v)) {
      for (const char16_t* c : kCaptions) combo->GetItems()->Add(c);
      combo->SetItemIndex(1);
    } else if (auto* combo = dynamic_cast<TvgComboBox*>(v)) {
      for (const char16_t* c : kCaptions) {
        auto* item = new TvgListBoxItem(nullptr);
        item->SetText(c);
        combo->AddObject(item);
      }
      combo->SetItemIndex(1);
    } else if (auto* combo = dynamic_cast<TvgComboTextBox*>(v)) {
      for (const char16_t* c : kCaptions) combo->GetItems()->Add(c);
      combo->SetItemIndex(1);
    } else if (auto* tabs = dynamic_cast<TvgTabControl*>(v)) {
      // Three tabs of their own width (80) in a control 200 wide: the strip is wider than it.
      const bool hud = tabs->Is<TvgHudTabControl>();
      for (const char16_t* c : kCaptions) {
        TvgTabItem* item = hud ? new TvgHudTabItem(nullptr) : new TvgTabItem(nullptr);
        item->SetText(c);
        item->SetParent(tabs);
        auto* page = new TvgLayout(nullptr);
        page->SetParent(tabs);
        item->SetLayout(page);
        if (c != kCaptions[2]) captions.push_back(item);
      }
      tabs->SetItemIndex(1);
    } else if (auto* inspector = dynamic_cast<TvgInspector*>(v)) {
      inspector->SetSelectedObject(inspected_);
    } else if (auto* tree = dynamic_cast<TvgTreeView*>(v)) {
      for (const char16_t* c : kCaptions) {
        auto* item = new TvgTreeViewItem(nullptr);
        item->SetText(c);
        tree->AddObject(item);
        captions.push_back(item);
      }
    } else if (auto* header = dynamic_cast<TvgHeader*>(v)) {
      for (const char16_t* c : kCaptions) {
        auto* item = new TvgHeaderItem(nullptr);
        item->SetText(c);
        item->SetWidth(50);
        header->AddObject(item);
        // Only the first lies inside the header's own 50 units.
        if (c == kCaptions[0]) captions.push_back(item);
      }
      header->Realign();  // as a designer does after inserting
    } else if (auto* grid = dynamic_cast<TvgStringGrid*>(v)) {
      for (int col = 0; col < 2; ++col) {
        auto* column = new TvgStringColumn(nullptr);
        column->SetWidth(80);
        column->SetHeader(col == 0 ? u"Name" : u"Value");
        grid->AddObject(column);
      }
      grid->SetRowCount(3);
      for (int row = 0; row < 3; ++row) grid->SetCell(0, row, kCaptions[row]);
    } else if (auto* memo = dynamic_cast<TvgMemo*>(v)) {
      memo->SetText(u"One\r\nTwo\r\nThree");
    } else if (auto* box = dynamic_cast<TvgCustomTextBox*>(v)) {
      if (box->GetText().empty()) box->SetText(u"Text");
    } else if (auto* text = dynamic_cast<TvgTextControl*>(v)) {
      if (text->GetText().empty()) text->SetText(u"Text");
    } else if (auto* shape = dynamic_cast<TvgText*>(v)) {
      shape->SetText(u"Text");
    }
    if (auto* button = dynamic_cast<TvgBitmapStateButton*>(v)) {
      TvgBitmap glyph(32, 32);
      glyph.Clear(0xFFE0A030u);
      button->SetBitmap(&glyph);
    }
    if (auto* check = dynamic_cast<TvgCheckBox*>(v)) check->SetIsChecked(true);
    if (auto* radio = dynamic_cast<TvgRadioButton*>(v)) radio->SetIsChecked(true);
    if (auto* box = dynamic_cast<TvgScrollBox*>(v); box != nullptr && box->ClassInfo()->Name.find("ScrollBox") != std::string::npos) {
      // Content wider and taller than the box.
      auto* big = new TvgRectangle(nullptr);
      big->SetBounds(10, 10, 300, 300);
      big->GetFill()->SetSolidColor(kContentColor);
      box->AddObject(big);
      box->Realign();
    }
    return captions;
  }

  // A grid with one column of the class: columns show only inside a grid.
  TvgVisualObject* GridWithColumn(const TClassInfo* cls) {
    auto* grid = new TvgGrid(nullptr);
    auto* column = dynamic_cast<TvgColumn*>(cls->Create(nullptr));
    column->SetHeader(u"Column");
    grid->AddObject(column);
    grid->SetRowCount(3);
    return grid;
  }

  // A rectangle carrying the effect: the effect is judged against the same rectangle without it.
  TvgVisualObject* RectangleWith(TvgObject* effect) {
    auto* rect = new TvgRectangle(nullptr);
    rect->SetBounds(0, 0, 60, 40);
    rect->GetFill()->SetSolidColor(0xFF80A0C0u);
    if (effect != nullptr) rect->AddObject(effect);
    return rect;
  }

  std::vector<TCell> Build() {
    std::vector<TCell> cells;
    std::set<const TClassInfo*> seen;
    inspected_ = new TvgRectangle(nullptr);
    inspected_->SetName("Inspected");
    reference_ = RectangleWith(nullptr);
    reference_->SetParent(form);
    TCell ref;
    ref.Name = "reference rectangle";
    ref.Object = reference_;
    Place(ref, reference_);
    for (const auto& [category, cls] : vgObjectCategories()) {
      if (!seen.insert(cls).second || IsSceneEngineClass(category, cls->Name)) continue;
      TCell cell;
      cell.Name = cls->Name;
      cell.Category = category;
      TObject* made = nullptr;
      if (cls->InheritsFrom(TvgColumn::StaticClassInfo())) {
        cell.Object = GridWithColumn(cls);
      } else {
        made = cls->Create(nullptr);
        if (auto* effect = dynamic_cast<TvgEffect*>(made)) {
          cell.Object = RectangleWith(effect);
          cell.Effect = true;
        } else {
          cell.Object = dynamic_cast<TvgVisualObject*>(made);
        }
      }
      if (cell.Object == nullptr) {
        // Animations and other non-visual objects have nothing to draw.
        EXPECT_TRUE(dynamic_cast<TvgAnimation*>(made) != nullptr) << cls->Name << " is neither visual nor an animation";
        delete made;
        continue;
      }
      cell.Blank = BlankClasses().count(cls->Name) != 0;
      cell.Allowance = AllowanceOf(cls->Name);
      cell.Object->SetAlign(vaNone);
      cell.Object->SetParent(form);
      if (auto* control = dynamic_cast<TvgControl*>(cell.Object)) control->ApplyResource();
      cell.Captions = Dress(cell.Object);
      Place(cell, cell.Object);
      cells.push_back(cell);
    }
    return cells;
  }

  TvgManualAniTimer* ticker = nullptr;
  TTestScene scene;
  TvgBackground* form = nullptr;
  TvgRectangle* inspected_ = nullptr;
  TvgVisualObject* reference_ = nullptr;
  float x_ = 0, y_ = 0, rowHeight_ = 0;
};

TEST_F(GalleryTest, EveryRegisteredClassDrawsItsPartsAtItsDefaultSize) {
  ASSERT_NE(vgDefaultStyle(), nullptr);
  // Texts are measured through the scene's canvas while the objects are set up.
  TvgBitmap measuring(8, 8);
  scene.canvas = measuring.GetCanvas();
  std::vector<TCell> cells = Build();
  ASSERT_GT(cells.size(), 100u);
  form->SetBounds(0, 0, kRowWidth, y_ + rowHeight_);
  for (int i = 0; i < 30; ++i) ticker->Advance(33);  // trigger animations run to their end
  const bool text = DrawsText();

  TvgBitmap bitmap(static_cast<int32_t>(form->GetWidth()), static_cast<int32_t>(form->GetHeight()));
  bitmap.Clear(0);
  scene.canvas = bitmap.GetCanvas();
  form->PaintTo(bitmap.GetCanvas(), form->GetLocalRect());
  EXPECT_TRUE(bitmap.SaveToFile("widgets_gallery.png"));
  WriteCellMap(cells, "widgets_gallery.txt");

  // --- Drawn, and only inside its bounds
  for (const TCell& c : cells) {
    const TvgRect bounds = PixelRect(c.Object);
    TvgRect reach = c.Effect ? c.Object->GetUpdateRect() : bounds;
    vgInflateRect(reach, c.Allowance, c.Allowance);
    const TInk inside = InkIn(bitmap, bounds, kBackground);
    const TInk outside = InkIn(bitmap, c.Cell, kBackground, &reach);
    if (c.Blank) {
      EXPECT_EQ(inside.Count + outside.Count, 0) << c.Name << " drew although it has nothing of its own to show";
      continue;
    }
    EXPECT_GE(inside.Count, MinInkOf(c.Name)) << c.Name << " (" << c.Category << ") left the background as it was";
    EXPECT_EQ(outside.Count, 0) << c.Name << " drew beyond its bounds: (" << outside.Left << "," << outside.Top
                                << ")-(" << outside.Right << "," << outside.Bottom << ") outside (" << reach.Left
                                << "," << reach.Top << ")-(" << reach.Right << "," << reach.Bottom << ")";
  }

  // --- Effects: each changes the look of the rectangle it sits on
  const TvgRect ref = PixelRect(reference_);
  for (const TCell& c : cells) {
    if (!c.Effect) continue;
    const TvgRect own = PixelRect(c.Object);
    int changed = 0;
    for (int y = -static_cast<int>(kMargin); y < ref.Bottom - ref.Top + kMargin; ++y)
      for (int x = -static_cast<int>(kMargin); x < ref.Right - ref.Left + kMargin; ++x)
        if (bitmap.Pixel(static_cast<int>(own.Left) + x, static_cast<int>(own.Top) + y) !=
            bitmap.Pixel(static_cast<int>(ref.Left) + x, static_cast<int>(ref.Top) + y))
          ++changed;
    EXPECT_GT(changed, 50) << c.Name << " left its rectangle as it was";
  }

  // --- Parts: ramps in the colour bars, vertical boxes without a horizontal bar, captions
  for (const TCell& c : cells) {
    std::vector<TvgBitmapTrackBar*> bars;
    if (auto* bar = dynamic_cast<TvgBitmapTrackBar*>(c.Object)) bars.push_back(bar);
    if (auto* panel = dynamic_cast<TvgColorPanel*>(c.Object)) bars = {panel->GetHueBar(), panel->GetAlphaBar()};
    for (TvgBitmapTrackBar* bar : bars) ExpectRamp(bitmap, c.Name, bar);
    if (c.Object->Is<TvgVertScrollBox>()) ExpectNoHorizontalBar(bitmap, c.Name, dynamic_cast<TvgScrollBox*>(c.Object));
    if (!text) continue;
    for (TvgVisualObject* owner : c.Captions) {
      auto* part = dynamic_cast<TvgText*>(dynamic_cast<TvgControl*>(owner)->FindResource("text"));
      EXPECT_NE(part, nullptr) << c.Name << ": an item without a text part";
      if (part == nullptr) continue;
      const TInk own = CaptionInk(part, 0), free = CaptionInk(part, 300);
      EXPECT_GT(own.Count, 0) << c.Name << ": the caption of an item is not drawn";
      EXPECT_GE(own.Width(), free.Width()) << c.Name << ": a caption is cut to " << own.Width() << " of its "
                                           << free.Width() << " pixels";
      EXPECT_GE(own.Height(), free.Height()) << c.Name << ": a caption is cut in height";
    }
  }
  scene.canvas = nullptr;
}

}  // namespace
