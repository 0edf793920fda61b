// Controls that open menus and dialogs, driven through the dialog hooks: popup box items, popup
// button, colour button, and the image control's fitting, drops and data.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ControlsTestSupport.h"
#include "classlib/FormText.h"

// A codec that lists two file types and "loads" a 4 x 2 picture.
class TListingFilter : public TvgFilter {
  KBL_DECLARE_CLASS(TListingFilter, TvgFilter)
 public:
  std::string GetFileTypes() override { return "*.png;*.bmp"; }
  bool LoadFromFile(const std::string&, TvgBitmap& bitmap, float) override {
    bitmap.SetSize(4, 2);
    return true;
  }
  bool LoadThumbnailFromFile(const std::string&, bool, float, float, TvgBitmap&) override { return false; }
  bool SaveToFile(const std::string&, TvgBitmap&, const std::string&) override { return false; }
  bool LoadFromStream(TStream&, TvgBitmap&) override { return false; }
  bool SaveToStream(TStream&, TvgBitmap&, const std::string&, const std::string&) override { return false; }
};
KBL_PUBLISHED(TListingFilter) {}

namespace {

class DialogControlsTest : public ControlsFixture {
 protected:
  void SetUp() override {
    ControlsFixture::SetUp();
    savedDialogs = vgDialogHooks();
  }
  void TearDown() override {
    vgDialogHooks() = savedDialogs;
    ControlsFixture::TearDown();
  }
  TvgDialogHooks savedDialogs;
};

TEST_F(DialogControlsTest, APopupBoxWithoutItemsKeepsNoSelectionWhateverTextIsSet) {
  auto* box = Add<TvgPopupBox>();
  box->SetText(u"anything");
  EXPECT_EQ(box->GetItemIndex(), -1);
  EXPECT_EQ(box->GetText(), u"");
  box->SetItemIndex(0);
  EXPECT_EQ(box->GetItemIndex(), -1);
  EXPECT_EQ(box->GetText(), u"");
}

TEST_F(DialogControlsTest, APopupBoxSelectsByIndexTextAndData) {
  auto* box = Add<TvgPopupBox>();
  box->GetItems()->Add(u"Off");
  box->GetItems()->Add(u"Slow");
  box->GetItems()->Add(u"Fast");
  TCounter changes;
  box->OnChange = changes.Event();
  box->SetItemIndex(1);
  EXPECT_EQ(box->GetText(), u"Slow");
  EXPECT_EQ(changes.count, 1);
  box->SetText(u"Fast");
  EXPECT_EQ(box->GetItemIndex(), 2);
  box->SetText(u"Medium");
  EXPECT_EQ(box->GetItemIndex(), -1);
  EXPECT_EQ(box->GetText(), u"");
  box->SetItemIndex(7);  // beyond the list: nothing
  EXPECT_EQ(box->GetItemIndex(), -1);
  EXPECT_EQ(box->GetText(), u"");
  box->SetData(Variant(0));
  EXPECT_EQ(box->GetText(), u"Off");
  box->SetData(Variant("Fast"));
  EXPECT_EQ(box->GetItemIndex(), 2);
  EXPECT_EQ(box->GetData().ToWideString(), u"Fast");
  box->SetData(Variant::Null());
  EXPECT_EQ(box->GetItemIndex(), -1);
  // The items and the index stream, the text does not.
  box->SetItemIndex(1);
  const std::string text = ComponentToText(box);
  EXPECT_EQ(text.find("Text ="), std::string::npos) << text;
  std::unique_ptr<TvgObject> copy(box->Clone(nullptr));
  auto* again = dynamic_cast<TvgPopupBox*>(copy.get());
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->GetItems()->GetCount(), 3);
  EXPECT_EQ(again->GetItemIndex(), 1);
  EXPECT_EQ(again->GetText(), u"Slow");
}

TEST_F(DialogControlsTest, APopupBoxClickOffersItsItemsCentredOnItself) {
  auto* box = Add<TvgPopupBox>(10, 50, 100, 21);
  box->GetItems()->Add(u"Off");
  box->GetItems()->Add(u"On");
  box->SetItemIndex(1);
  std::vector<std::string> offered;
  int32_t checked = -5, px = 0, py = 0;
  vgDialogHooks().PopupList = [&](TComponent*, const std::vector<std::string>& items, int32_t c, int32_t x, int32_t y,
                                  std::function<void(int32_t)> pick) {
    offered = items;
    checked = c;
    px = x;
    py = y;
    pick(0);
  };
  box->Click();
  ASSERT_EQ(offered.size(), 2u);
  EXPECT_EQ(offered[1], "On");
  EXPECT_EQ(checked, 1);
  EXPECT_EQ(px, 1000 + 10);
  EXPECT_EQ(py, 2000 + 50 + 10 - 20);  // 10.5 - 20: the half rounds to even
  EXPECT_EQ(box->GetItemIndex(), 0);
}

TEST_F(DialogControlsTest, APopupButtonOpensItsMenuBelowItselfAndForgetsAFreedMenu) {
  auto* button = Add<TvgPopupButton>(10, 50, 80, 22);
  TComponent* shownMenu = nullptr;
  int32_t px = 0, py = 0;
  vgDialogHooks().PopupMenu = [&](TComponent* menu, int32_t x, int32_t y) {
    shownMenu = menu;
    px = x;
    py = y;
  };
  button->Click();
  EXPECT_EQ(shownMenu, nullptr);
  auto* menu = new TComponent(nullptr);
  button->SetPopupMenu(menu);
  button->Click();
  EXPECT_EQ(shownMenu, menu);
  EXPECT_EQ(px, 1010);
  EXPECT_EQ(py, 2072);
  delete menu;
  EXPECT_EQ(button->GetPopupMenu(), nullptr);
}

TEST_F(DialogControlsTest, AColourButtonShowsAndChoosesItsColour) {
  auto* button = Add<TvgColorButton>();
  auto* fill = dynamic_cast<TvgShape*>(button->FindResource("fill"));
  ASSERT_NE(fill, nullptr);
  EXPECT_EQ(fill->GetFill()->GetSolidColor(), 0xFF000000u);
  TCounter changes;
  button->OnChange = changes.Event();
  button->SetColor(vgColorToStr(0xFF00FF00u));
  EXPECT_EQ(fill->GetFill()->GetSolidColor(), 0xFF00FF00u);
  EXPECT_EQ(changes.count, 1);
  uint32_t offered = 0;
  vgDialogHooks().ChooseColor = [&](uint32_t& color) {
    offered = color;
    color = 0x00123456u;
    return true;
  };
  button->Click();
  EXPECT_EQ(offered, 0xFF00FF00u);
  EXPECT_EQ(button->GetColor(), vgColorToStr(0xFF123456u));
  EXPECT_EQ(fill->GetFill()->GetSolidColor(), 0xFF123456u);
  vgDialogHooks().ChooseColor = [&](uint32_t&) { return false; };
  button->Click();
  EXPECT_EQ(button->GetColor(), vgColorToStr(0xFF123456u));
  EXPECT_EQ(changes.count, 2);
  // Without the standard dialog the brush dialog chooses, alpha included.
  button->SetUseStandardDialog(false);
  vgDialogHooks().ChooseBrushColor = [&](uint32_t& color) {
    offered = color;
    color = 0x80654321u;
    return true;
  };
  button->Click();
  EXPECT_EQ(offered, 0xFF123456u);
  EXPECT_EQ(button->GetColor(), vgColorToStr(0x80654321u));
  vgDialogHooks().ChooseBrushColor = nullptr;
}

class ImageControlTest : public DialogControlsTest {
 protected:
  void SetUp() override {
    DialogControlsTest::SetUp();
    RegisterClass<TListingFilter>();
    savedFilter = vgDefaultFilterClass();
    vgSetDefaultFilterClass(TListingFilter::StaticClassInfo());
    dir = std::filesystem::temp_directory_path() / ("kbl_imagecontrol_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(dir);
    for (const char* name : {"a.png", "b.txt", "c.PNG"}) std::ofstream(dir / name) << "x";
  }
  void TearDown() override {
    vgSetDefaultFilterClass(savedFilter);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    DialogControlsTest::TearDown();
  }
  WideString File(const char* name) { return Utf8ToWide((dir / name).string()); }
  const TClassInfo* savedFilter = nullptr;
  std::filesystem::path dir;
};

TEST_F(ImageControlTest, DropsAreAcceptedForListedExistingFilesAndImagesOnly) {
  auto* control = Add<TvgImageControl>(0, 0, 50, 50);
  bool accept = true;
  TvgDragObject data;
  data.Files = {File("b.txt")};
  control->DragOver(data, TvgPoint(), accept);
  EXPECT_FALSE(accept);
  data.Files = {File("missing.png")};
  control->DragOver(data, TvgPoint(), accept);
  EXPECT_FALSE(accept);
  data.Files = {File("b.txt"), File("c.PNG")};
  control->DragOver(data, TvgPoint(), accept);
  EXPECT_TRUE(accept);
  TvgImage image(nullptr);
  image.GetBitmap()->SetSize(6, 3);
  TvgDragObject fromImage;
  fromImage.Source = &image;
  accept = false;
  control->DragOver(fromImage, TvgPoint(), accept);
  EXPECT_TRUE(accept);
  control->DragDrop(fromImage, TvgPoint());
  EXPECT_EQ(control->GetBitmap()->GetWidth(), 6);
  data.Files = {File("a.png")};
  control->DragDrop(data, TvgPoint());
  EXPECT_EQ(control->GetBitmap()->GetWidth(), 4);
}

TEST_F(ImageControlTest, TheBitmapIsFittedIntoTheImagePartAndTheDialogLoadsFiles) {
  auto* control = Add<TvgImageControl>(0, 0, 50, 50);
  auto* part = dynamic_cast<TvgImage*>(control->FindResource("image"));
  ASSERT_NE(part, nullptr);
  TCounter changes;
  control->OnChange = changes.Event();
  control->GetBitmap()->SetSize(100, 40);
  EXPECT_EQ(part->GetBitmap()->GetWidth(), 50);
  EXPECT_EQ(part->GetBitmap()->GetHeight(), 20);
  EXPECT_GT(changes.count, 0);
  std::string filter;
  vgDialogHooks().OpenFile = [&](const std::string& f, std::string& name) {
    filter = f;
    name = (dir / "a.png").string();
    return true;
  };
  control->Click();
  EXPECT_NE(filter.find("*.png;*.bmp"), std::string::npos);
  EXPECT_EQ(control->GetBitmap()->GetWidth(), 4);
  control->SetEnableOpenDialog(false);
  control->GetBitmap()->SetSize(9, 9);
  control->Click();
  EXPECT_EQ(control->GetBitmap()->GetWidth(), 9);
  control->SetData(Variant::Null());
  EXPECT_EQ(control->GetBitmap()->GetWidth(), 1);
  EXPECT_TRUE(vgVarIsObject(control->GetData()));
}

TEST_F(DialogControlsTest, BitmapValuesTravelBetweenImagesAndImageControls) {
  const auto bitmapOf = [](TvgVisualObject* obj) {
    auto* control = dynamic_cast<TvgImageControl*>(obj);
    return control != nullptr ? control->GetBitmap() : dynamic_cast<TvgImage*>(obj)->GetBitmap();
  };
  const auto make = [this](bool control) -> TvgVisualObject* {
    if (control) return Add<TvgImageControl>();
    auto* image = new TvgImage(nullptr);
    image->SetParent(form);
    return image;
  };
  for (const bool sourceIsControl : {false, true}) {
    for (const bool targetIsControl : {false, true}) {
      SCOPED_TRACE(std::to_string(sourceIsControl) + std::to_string(targetIsControl));
      TvgVisualObject* source = make(sourceIsControl);
      TvgVisualObject* target = make(targetIsControl);
      bitmapOf(source)->SetSize(3, 2);
      bitmapOf(source)->Clear(0xFF336699u);
      const Variant value = source->GetData();
      target->SetData(value);
      EXPECT_EQ(bitmapOf(target)->GetWidth(), 3);
      EXPECT_EQ(bitmapOf(target)->Pixel(2, 1), 0xFF336699u);
      // A value whose bitmap is gone changes nothing.
      delete source;
      bitmapOf(target)->SetSize(5, 5);
      target->SetData(value);
      EXPECT_EQ(bitmapOf(target)->GetWidth(), 5);
      delete target;
    }
  }
  // Bound image controls follow their source.
  auto* source = Add<TvgImageControl>();
  auto* bound = Add<TvgImageControl>();
  source->GetBitmap()->SetSize(6, 4);
  bound->SetBindingSource(source);
  EXPECT_EQ(bound->GetBitmap()->GetWidth(), 6);
}

}  // namespace
