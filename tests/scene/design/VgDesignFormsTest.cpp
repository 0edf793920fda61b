// The design-time forms under Wine, each made from its form resource, shown modally, driven from
// inside its modal loop and answered OK or Cancel: the bitmap editor (crop cut to the picture,
// scale changes keeping the crop, resize keeping the aspect, paste from the clipboard), the brush
// dialog (only the offered tabs, colours through the component boxes, gradients opened without
// their angle being rewritten, resources of the scene, the colour button's dialog) and the path
// data designer (preview, paste). Pictures of each are kept beside the test.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Clipbrd.h"
#include "classlib/Dialogs.h"
#include "classlib/ExtCtrls.h"
#include "classlib/WindowTestUtils.h"
#include "FakeDesigner.h"
#include "scene/widgets/SceneWindowFixture.h"
#include "scene/controls/vg_controls.h"
#include "scene/controls/vg_layouts.h"
#include "scene/core/win32/vg_gdiplus.h"
#include "scene/core/win32/vg_scene.h"
#include "scene/design/vg_inspector.h"
#include "scene/design/win32/vg_dsgn.h"
#include "scene/design/win32/vg_dsgn_bmp.h"
#include "scene/design/win32/vg_dsgn_path.h"
#include "scene/shapes/vg_animations.h"
#include "scene/shapes/vg_effects.h"
#include "scene/shapes/vg_objects.h"
#include "scene/widgets/vg_colors.h"
#include "scene/widgets/vg_listbox.h"
#include "scene/widgets/vg_memo.h"
#include "scene/widgets/vg_tabcontrol.h"
#include "scene/widgets/vg_textbox.h"

namespace {

// Drives the design forms shown next, one step per form in the order they are shown (a form
// shown from inside another's step takes the next step): each step runs from inside its form's
// modal loop (a timer of the loop) and then ends the loop with its result.
class FormDriver {
 public:
  struct Step {
    std::function<void(TCustomForm*)> act;
    TModalResult result;
  };
  FormDriver(std::function<void(TCustomForm*)> act, TModalResult result) : FormDriver({Step{std::move(act), result}}) {}
  explicit FormDriver(std::vector<Step> steps) : steps_(std::move(steps)) {
    vgSetDesignFormHook([this](TCustomForm* form) {
      if (next_ >= steps_.size()) return;
      auto runner = std::make_unique<Runner>();
      runner->driver = this;
      runner->form = form;
      runner->step = next_++;
      runner->timer = std::make_unique<TTimer>(nullptr);
      runner->timer->SetInterval(60);
      runner->timer->SetOnTimer(TNotifyEvent::Of<&Runner::Tick>(runner.get()));
      runners_.push_back(std::move(runner));
    });
  }
  ~FormDriver() { vgSetDesignFormHook(nullptr); }
  bool ran = false;

 private:
  struct Runner {
    void Tick(TObject*) {
      timer->SetEnabled(false);
      try {
        driver->steps_[step].act(form);
      } catch (...) {
        ADD_FAILURE() << "the step of form " << step << " raised";
      }
      driver->ran = true;
      form->SetModalResult(driver->steps_[step].result);
    }
    FormDriver* driver = nullptr;
    TCustomForm* form = nullptr;
    size_t step = 0;
    std::unique_ptr<TTimer> timer;
  };
  std::vector<Step> steps_;
  size_t next_ = 0;
  std::vector<std::unique_ptr<Runner>> runners_;
};

// The form's scene painted into a picture file.
void SavePicture(TCustomForm* form, const std::string& fileName) {
  TvgScene* scene = nullptr;
  for (int32_t i = 0; i < form->ComponentCount() && scene == nullptr; ++i) scene = dynamic_cast<TvgScene*>(form->GetComponent(i));
  ASSERT_NE(scene, nullptr);
  auto* root = dynamic_cast<TvgVisualObject*>(scene->GetRoot());
  ASSERT_NE(root, nullptr);
  TvgBitmap picture(static_cast<int32_t>(root->GetWidth()), static_cast<int32_t>(root->GetHeight()));
  root->PaintTo(picture.GetCanvas(), root->GetLocalRect());
  EXPECT_TRUE(picture.SaveToFile(fileName));
}

// Types a value into a number or text box and commits it as Enter does.
void Commit(TvgCustomTextBox* box, const std::u16string& text) {
  box->SetFocus();
  box->SetText(text);
  uint16_t enter = 13;
  WideChar none = 0;
  box->KeyDown(enter, none, TShiftState());
}

class DesignForms : public ::testing::Test {
 protected:
  void SetUp() override {
    StartGdiPlus();
    vgInitObjectsUnit();
    vgInitAnimationsUnit();
    vgInitEffectsUnit();
    vgInitLayoutsUnit();
    vgInitInspectorUnit();
  }
  void TearDown() override { vgSetDesignFormHook(nullptr); }
};

// --- Bitmap editor

// 40 x 30: red on the left half, blue on the right.
void HalfAndHalf(TvgBitmap& b) {
  b.SetSize(40, 30);
  for (int32_t y = 0; y < 30; ++y)
    for (int32_t x = 0; x < 40; ++x) b.Scanline(y)[x] = x < 20 ? 0xFFFF0000u : 0xFF0000FFu;
}

TEST_F(DesignForms, BitmapEditorCropsWithinThePicture) {
  TvgBitmap picture;
  HalfAndHalf(picture);
  FormDriver driver(
      [](TCustomForm* f) {
        auto* editor = dynamic_cast<TvgBitmapEditor*>(f);
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(editor->GetBitmap()->GetWidth(), 40);
        EXPECT_TRUE(editor->btnOk->GetEnabled());
        editor->cropButton->Click();
        ASSERT_NE(editor->GetCropSelection(), nullptr);
        EXPECT_EQ(editor->cropButton->GetText(), u"Full");
        // A new scale keeps the selection over the same part of the picture.
        const float scale = editor->GetScale();
        const float before = editor->GetCropSelection()->GetPosition()->GetX() / scale;
        editor->SetScale(scale / 2);
        EXPECT_NEAR(editor->GetCropSelection()->GetPosition()->GetX() / editor->GetScale(), before, 0.01);
        EXPECT_EQ(editor->labelScale->GetText(), Utf8ToWide("Scale: " + std::to_string(static_cast<int>(std::nearbyint(scale * 50))) + "%"));
        // Dragged half out of the picture: only the part over it is taken, from the right half.
        editor->SetScale(1);
        editor->GetCropSelection()->SetBounds(30, 10, 50, 100);
        SavePicture(f, "bitmap_editor.png");
      },
      mrOk);
  ASSERT_TRUE(vgInspectorEditors().EditBitmap(&picture));
  EXPECT_TRUE(driver.ran);
  EXPECT_EQ(picture.GetWidth(), 10);
  EXPECT_EQ(picture.GetHeight(), 20);
  EXPECT_EQ(picture.Pixel(0, 0), 0xFF0000FFu);
}

TEST_F(DesignForms, BitmapEditorCancelResizeAndPaste) {
  TvgBitmap picture;
  HalfAndHalf(picture);
  {
    FormDriver cancel([](TCustomForm* f) { dynamic_cast<TvgBitmapEditor*>(f)->Button3Click(nullptr); }, mrCancel);
    EXPECT_FALSE(vgInspectorEditors().EditBitmap(&picture));
  }
  EXPECT_EQ(picture.GetWidth(), 40);
  // Resize: typing a width makes the height follow the picture's proportions.
  {
    FormDriver resize(
        [](TCustomForm* f) {
          auto* editor = dynamic_cast<TvgBitmapEditor*>(f);
          editor->btnResizeClick(nullptr);
          EXPECT_EQ(editor->newWidth->GetValue(), 40.0f);
          Commit(editor->newWidth, u"80");
          EXPECT_EQ(editor->newHeight->GetValue(), 60.0f);
          editor->Button4Click(nullptr);
          EXPECT_EQ(editor->GetBitmap()->GetWidth(), 80);
        },
        mrOk);
    ASSERT_TRUE(vgInspectorEditors().EditBitmap(&picture));
  }
  EXPECT_EQ(picture.GetWidth(), 80);
  EXPECT_EQ(picture.GetHeight(), 60);
  EXPECT_EQ(picture.Pixel(10, 30) >> 16 & 0xFF, 0xFFu);  // still red on the left
  // Paste: a 2 x 1 picture put on the clipboard as a device-independent bitmap.
  std::vector<uint8_t> dib(40 + 8, 0);
  dib[0] = 40;
  dib[4] = 2;
  dib[8] = 1;
  dib[12] = 1;
  dib[14] = 32;
  const uint8_t pixels[8] = {0x00, 0xFF, 0x00, 0x00, 0x10, 0x20, 0x30, 0x00};
  std::copy(std::begin(pixels), std::end(pixels), dib.begin() + 40);
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, dib.size());
  std::copy(dib.begin(), dib.end(), static_cast<uint8_t*>(GlobalLock(block)));
  GlobalUnlock(block);
  SetClipboardData(CF_DIB, block);
  CloseClipboard();
  ASSERT_TRUE(Clipboard().HasPicture());
  {
    FormDriver paste([](TCustomForm* f) { EXPECT_TRUE(dynamic_cast<TvgBitmapEditor*>(f)->PasteFromClipboard()); }, mrOk);
    ASSERT_TRUE(vgInspectorEditors().EditBitmap(&picture));
  }
  EXPECT_EQ(picture.GetWidth(), 2);
  EXPECT_EQ(picture.Pixel(0, 0), 0xFF00FF00u);
  EXPECT_EQ(picture.Pixel(1, 0), 0xFF302010u);
}

// --- Brush designer and dialog

TEST_F(DesignForms, BrushDialogOffersItsStylesAndEditsItsBrush) {
  TvgBrushDialog dialog(nullptr);
  dialog.SetShowStyles(TvgBrushStyles{vgBrushSolid});
  dialog.GetBrush()->SetSolidColor(0xFF204080u);
  {
    FormDriver driver(
        [](TCustomForm* f) {
          auto* d = dynamic_cast<TvgBrushDesign*>(f);
          ASSERT_NE(d, nullptr);
          EXPECT_FALSE(d->tabs[0]->GetVisible());
          EXPECT_TRUE(d->tabs[1]->GetVisible());
          EXPECT_FALSE(d->tabs[2]->GetVisible());
          EXPECT_TRUE(d->btnOK->GetVisible());
          EXPECT_FALSE(d->brushList->GetVisible());
          EXPECT_EQ(d->textSolidHex->GetText(), u"#FF204080");
          EXPECT_EQ(d->textSolid[2]->GetValue(), 128.0f);
          Commit(d->textSolid[0], u"255");
          Commit(d->textSolid[3], u"128");
          SavePicture(f, "brush_dialog.png");
        },
        mrOk);
    EXPECT_TRUE(dialog.Execute());
  }
  EXPECT_EQ(dialog.GetBrush()->GetSolidColorValue(), 0x80FF4080u);
  // Cancelled: false, and the brush is as it was before, although the form showed the edit.
  uint32_t shownBeforeCancel = 0;
  FormDriver cancel(
      [&shownBeforeCancel](TCustomForm* f) {
        auto* d = dynamic_cast<TvgBrushDesign*>(f);
        Commit(d->textSolidHex, u"#FF00FF00");
        shownBeforeCancel = static_cast<uint32_t>(d->textSolid[1]->GetValue());
      },
      mrCancel);
  EXPECT_FALSE(dialog.Execute());
  EXPECT_EQ(shownBeforeCancel, 255u);
  EXPECT_EQ(dialog.GetBrush()->GetSolidColorValue(), 0x80FF4080u);
}

TEST_F(DesignForms, GradientsOpenWithoutTheirAngleRewritten) {
  struct Case {
    TvgPoint start, stop;
    float shown;
  };
  for (const Case& c : {Case{{0.5f, 0}, {0.5f, 1}, -90}, Case{{0, 0.5f}, {1, 0.5f}, 0}, Case{{0.1f, 0.9f}, {0.9f, 0.4f}, 30}}) {
    TvgGradient gradient;
    gradient.GetStartPosition()->SetPoint(c.start);
    gradient.GetStopPosition()->SetPoint(c.stop);
    float shown = 999;
    FormDriver driver([&](TCustomForm* f) { shown = dynamic_cast<TvgBrushDesign*>(f)->gradAngle->GetValue(); }, mrOk);
    ASSERT_TRUE(ShowGradientDialog(&gradient));
    // The control shows the angle to its step of 5 degrees (32 becomes 30); the positions stay
    // exactly as they were.
    EXPECT_EQ(shown, c.shown);
    EXPECT_EQ(gradient.GetStartPosition()->GetPoint(), c.start);
    EXPECT_EQ(gradient.GetStopPosition()->GetPoint(), c.stop);
  }
  // Turning the angle control does set the positions.
  TvgGradient turned;
  FormDriver driver(
      [](TCustomForm* f) {
        auto* d = dynamic_cast<TvgBrushDesign*>(f);
        d->gradAngle->SetValue(45);
        EXPECT_EQ(d->gradAngleLabel->GetText(), u"45");
        SavePicture(f, "gradient_dialog.png");
      },
      mrOk);
  ASSERT_TRUE(ShowGradientDialog(&turned));
  EXPECT_NEAR(turned.GetStartPosition()->GetX(), 0, 1e-4);
  EXPECT_NEAR(turned.GetStartPosition()->GetY(), 1, 1e-4);
  EXPECT_NEAR(turned.GetStopPosition()->GetX(), 1, 1e-4);
  EXPECT_NEAR(turned.GetStopPosition()->GetY(), 0, 1e-4);
}

// A control whose only brush is published with a descendant class of TvgBrush.
class TvgSpecialBrush : public TvgBrush {
  KBL_DECLARE_CLASS(TvgSpecialBrush, TvgBrush)
};
class TvgSpecialHolder : public TvgVisualObject {
  KBL_DECLARE_CLASS(TvgSpecialHolder, TvgVisualObject)
 public:
  explicit TvgSpecialHolder(TComponent* owner) : TvgVisualObject(owner) {}
  TvgSpecialBrush* GetSpecial() const { return const_cast<TvgSpecialBrush*>(&special_); }
  void SetSpecial(TvgSpecialBrush*) {}

 private:
  TvgSpecialBrush special_;
};

TEST_F(DesignForms, DesignerListsBrushPropertiesAndSceneResources) {
  TForeignWindow host(300, 200);
  auto* scene = TWinControl::CreateParented<TvgScene>(host.handle);
  auto* root = new TvgBackground(nullptr);
  scene->AddObject(root);
  auto* resource = new TvgBrushObject(nullptr);
  resource->SetResourceName("gloss");
  resource->GetBrush()->SetSolidColor(0xFF112233u);
  root->AddObject(resource);
  auto* rectangle = new TvgRectangle(nullptr);
  rectangle->SetParent(root);
  auto* form = TCustomForm::Create<TvgBrushDesign>(nullptr);
  form->SetComponent(rectangle);
  // Fill and Stroke, Fill edited first.
  EXPECT_EQ(form->brushList->Count(), 2);
  EXPECT_EQ(form->GetEditedBrush(), rectangle->GetFill());
  form->SetBrush(rectangle->GetStroke());
  EXPECT_EQ(form->brushList->GetItemIndex(), 1);
  // The None tab leaves no "Make a Resource"; the Resource tab lists the scene's resources.
  form->brushTabControl->SetItemIndex(form->tabs[0]->GetTabIndex());
  EXPECT_FALSE(form->makeResLayout->GetVisible());
  EXPECT_EQ(rectangle->GetStroke()->GetStyle(), vgBrushNone);
  form->brushTabControl->SetItemIndex(form->tabs[4]->GetTabIndex());
  ASSERT_EQ(form->resList->Count(), 1);
  form->resList->SetItemIndex(0);
  EXPECT_EQ(rectangle->GetStroke()->GetStyle(), vgBrushResource);
  EXPECT_EQ(rectangle->GetStroke()->GetSolidColor(), 0xFF112233u);
  TvgBrushObject* made = form->MakeResource("second");
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(form->resList->Count(), 2);
  // A brush published with a descendant class does not count.
  auto* special = new TvgSpecialHolder(nullptr);
  special->SetParent(root);
  form->SetComponent(special);
  EXPECT_EQ(form->brushList->Count(), 0);
  EXPECT_EQ(form->GetEditedBrush(), nullptr);
  delete form;
  delete scene;
}

TEST_F(DesignForms, ColourButtonChoosesThroughTheBrushDialog) {
  TvgColorButton button(nullptr);
  button.SetUseStandardDialog(false);
  button.SetColor("#FF000080");
  FormDriver driver([](TCustomForm* f) { Commit(dynamic_cast<TvgBrushDesign*>(f)->textSolidHex, u"#C0FF8000"); }, mrOk);
  button.Click();
  EXPECT_TRUE(driver.ran);
  EXPECT_EQ(button.GetColor(), "#C0FF8000");
}

// --- Path data designer

TEST_F(DesignForms, PathDesignerPreviewsAndPastes) {
  TvgPathData path;
  path.SetData("M 0,0 L 10,0 L 10,10 Z");
  {
    FormDriver driver(
        [](TCustomForm* f) {
          auto* d = dynamic_cast<TvgPathDataDesigner*>(f);
          ASSERT_NE(d, nullptr);
          EXPECT_FALSE(d->previewPath->GetData()->GetData().empty());
          d->PathData->SetText(u"M 0,0 L 20,0 L 0,20 Z");
          d->PathDataChange(d->PathData);
          const TvgRect bounds = d->previewPath->GetData()->GetBounds();
          EXPECT_EQ(bounds.Right, 20.0f);
          SavePicture(f, "path_designer.png");
        },
        mrOk);
    ASSERT_TRUE(vgInspectorEditors().EditPath(&path));
  }
  EXPECT_EQ(path.GetBounds().Bottom, 20.0f);
  // Paste replaces the text with the clipboard's; Cancel leaves the path alone.
  Clipboard().SetAsWideText(u"M 1,1 L 5,5");
  FormDriver paste(
      [](TCustomForm* f) {
        auto* d = dynamic_cast<TvgPathDataDesigner*>(f);
        d->Button1Click(nullptr);
        EXPECT_EQ(d->PathData->GetText(), u"M 1,1 L 5,5");
      },
      mrCancel);
  EXPECT_FALSE(vgInspectorEditors().EditPath(&path));
  EXPECT_EQ(path.GetBounds().Bottom, 20.0f);
}

TEST_F(DesignForms, BrushBitmapsComeFromTheBitmapEditorWithATileMode) {
  const std::string file = (std::filesystem::temp_directory_path() / "kbl_brush_bitmap.png").string();
  {
    TvgBitmap source(6, 4);
    source.Clear(0xFF10A040u);
    ASSERT_TRUE(source.SaveToFile(file));
  }
  TvgBrushDialog dialog(nullptr);
  dialog.GetBrush()->SetStyle(vgBrushBitmap);
  FormDriver driver({{[](TCustomForm* f) {
                        auto* d = dynamic_cast<TvgBrushDesign*>(f);
                        ASSERT_NE(d, nullptr);
                        d->btnSelectBitmapClick(nullptr);  // the bitmap editor, modally: the next step
                        EXPECT_EQ(d->bitmapImage->GetBitmap()->GetWidth(), 6);
                        d->tileModeList->SetItemIndex(2);
                      },
                      mrOk},
                     {[&file](TCustomForm* f) { EXPECT_TRUE(dynamic_cast<TvgBitmapEditor*>(f)->LoadFile(file)); }, mrOk}});
  ASSERT_TRUE(dialog.Execute());
  std::filesystem::remove(file);
  EXPECT_EQ(dialog.GetBrush()->GetBitmap()->GetBitmap()->GetWidth(), 6);
  EXPECT_EQ(dialog.GetBrush()->GetBitmap()->GetBitmap()->Pixel(2, 2), 0xFF10A040u);
  EXPECT_EQ(dialog.GetBrush()->GetBitmap()->GetWrapMode(), vgWrapTileStretch);
}

BOOL CALLBACK FindThreadDialog(HWND window, LPARAM data) {
  char name[16] = {};
  GetClassNameA(window, name, sizeof(name));
  if (std::string(name) == "#32770" && IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(data) = window;
    return FALSE;
  }
  return TRUE;
}

// Types a file name into the thread's file dialog once it shows and accepts it.
struct TFileDialogAnswer {
  void Tick(TObject*) {
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &FindThreadDialog, reinterpret_cast<LPARAM>(&dialog));
    if (dialog == nullptr || done) return;
    done = true;
    const std::wstring wide(path.begin(), path.end());
    for (int id : {1148, 1152}) SetDlgItemTextW(dialog, id, wide.c_str());  // the name box, either style
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  }
  std::string path;
  bool done = false;
};

// Reads the text the thread's input box proposes once it shows and accepts it.
struct TQueryAnswer {
  void Tick(TObject*) {
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &FindThreadDialog, reinterpret_cast<LPARAM>(&dialog));
    if (dialog == nullptr || !proposed.empty()) return;
    char text[64] = {};
    GetDlgItemTextA(dialog, 100, text, sizeof text);
    proposed = text;
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  }
  std::string proposed;
};

TEST_F(DesignForms, MakeAResourceProposesTheDesignersNameElseANumberedBrush) {
  TForeignWindow host(300, 200);
  auto* scene = TWinControl::CreateParented<TvgScene>(host.handle);
  auto* root = new TvgBackground(nullptr);
  scene->AddObject(root);
  auto* rectangle = new TvgRectangle(nullptr);
  rectangle->SetParent(root);
  auto* form = TCustomForm::Create<TvgBrushDesign>(nullptr);
  form->SetComponent(rectangle);
  TFakeDesigner designer;
  std::vector<std::string> proposed;
  for (bool active : {true, false}) {
    vgSetDesigner(active ? &designer : nullptr);
    TQueryAnswer answer;
    TTimer timer(nullptr);
    timer.SetInterval(50);
    timer.SetOnTimer(TNotifyEvent::Of<&TQueryAnswer::Tick>(&answer));
    form->btnMakeResClick(nullptr);
    proposed.push_back(answer.proposed);
  }
  vgSetDesigner(nullptr);
  EXPECT_EQ(designer.names, std::vector<std::string>{"Brush"});
  ASSERT_EQ(proposed.size(), 2u);
  EXPECT_EQ(proposed[0], "Brush42");
  EXPECT_EQ(proposed[1].rfind("Brush", 0), 0u);
  EXPECT_GT(proposed[1].size(), 5u);
  EXPECT_EQ(proposed[1].find_first_not_of("0123456789", 5), std::string::npos);
  EXPECT_EQ(form->resList->Count(), 2);  // both made under the scene's root
  delete form;
  delete scene;
}

TEST_F(DesignForms, BitmapEditorSavesThroughItsSaveDialog) {
  const std::string file = (std::filesystem::temp_directory_path() / "kbl_saved_bitmap.png").string();
  std::filesystem::remove(file);
  TvgBitmap picture;
  HalfAndHalf(picture);
  TFileDialogAnswer answer{file};
  FormDriver driver(
      [&answer](TCustomForm* f) {
        auto* editor = dynamic_cast<TvgBitmapEditor*>(f);
        EXPECT_EQ(editor->SaveDialog1->GetDefaultExt(), "png");
        TTimer timer(nullptr);
        timer.SetInterval(100);
        timer.SetOnTimer(TNotifyEvent::Of<&TFileDialogAnswer::Tick>(&answer));
        editor->btnSaveClick(nullptr);
      },
      mrCancel);
  EXPECT_FALSE(vgInspectorEditors().EditBitmap(&picture));
  EXPECT_TRUE(answer.done);
  TvgBitmap saved;
  ASSERT_TRUE(saved.LoadFromFile(file));
  std::filesystem::remove(file);
  EXPECT_EQ(saved.GetWidth(), 40);
  EXPECT_EQ(saved.Pixel(30, 10), 0xFF0000FFu);
}

// --- The inspector over live controls

class InspectorWindow : public SceneWindowFixture {
 protected:
  InspectorWindow() : SceneWindowFixture(560, 420) {}
  void SetUp() override {
    SceneWindowFixture::SetUp();
    vgInitInspectorUnit();
    inspector = Add<TvgInspector>(0, 0, 300, 420);
    button = Add<TvgButton>(360, 30, 140, 32);
    button->SetText(u"Press");
    rectangle = Add<TvgRectangle>(360, 100, 140, 80);
    rectangle->GetFill()->SetSolidColor(0xFF808080u);
    Settle();
  }
  // The window point of the middle of a row's value half, the row scrolled into view first.
  POINT RowPoint(const std::string& path) {
    TvgInspectorItem* row = inspector->FindRow(path);
    EXPECT_NE(row, nullptr) << path;
    if (row == nullptr) return POINT{0, 0};
    if (TvgScrollBar* bar = inspector->GetVScrollBar(); bar != nullptr && bar->GetVisible()) {
      const float y = inspector->GetContent()->AbsoluteToLocal(row->LocalToAbsolute(vgPoint(0, 0))).Y;
      bar->SetValue(y - 100);
      Settle();
    }
    const TvgPoint p = row->LocalToAbsolute(vgPoint(row->GetWidth() - 20, row->GetHeight() / 2));
    return POINT{static_cast<LONG>(p.X), static_cast<LONG>(p.Y)};
  }
  // Pixels of the window inside a rect that differ between two readings.
  static int Changed(const TWindowPixels& a, const TWindowPixels& b, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += a.At(x, y) != b.At(x, y);
    return n;
  }
  TvgInspector* inspector = nullptr;
  TvgButton* button = nullptr;
  TvgRectangle* rectangle = nullptr;
};

TEST_F(InspectorWindow, EditsTheCaptionFontAndFillOfLiveControls) {
  inspector->SetSelectedObject(button);
  Settle();
  const TWindowPixels before = Pixels();
  const POINT text = RowPoint("Text");
  Click(text.x, text.y);
  ASSERT_EQ(scene->GetFocused(), inspector->GetTextEditor());
  Type(u"Go on");
  Key(VK_RETURN);
  EXPECT_EQ(button->GetText(), u"Go on");
  // The font's size, in the nested rows of Font.
  inspector->FindRow("Font")->SetIsExpanded(true);
  Settle();
  const POINT size = RowPoint("Font.Size");
  Click(size.x, size.y);
  Type(u"16");
  Key(VK_RETURN);
  EXPECT_EQ(button->GetFont()->GetSize(), 16.0f);
  const TWindowPixels edited = Pixels();
  EXPECT_GT(Changed(before, edited, 360, 30, 500, 62), 50);
  // The rectangle's fill through "Edit..." and the brush dialog.
  inspector->SetSelectedObject(rectangle);
  Settle();
  const POINT fill = RowPoint("Fill");
  Click(fill.x, fill.y);
  ASSERT_EQ(inspector->GetActiveEditor(), inspector->GetButtonEditor());
  FormDriver driver([](TCustomForm* f) { Commit(dynamic_cast<TvgBrushDesign*>(f)->textSolidHex, u"#FF00C000"); }, mrOk);
  Click(fill.x, fill.y);
  EXPECT_TRUE(driver.ran);
  EXPECT_EQ(rectangle->GetFill()->GetSolidColor(), 0xFF00C000u);
  const TWindowPixels filled = Pixels();
  EXPECT_TRUE(NearRgb(filled.At(430, 140), 0x00C000u, 2));
  EXPECT_TRUE(SavePicture("inspector.png"));
}

}  // namespace

KBL_PUBLISHED(TvgSpecialBrush) {}
KBL_PUBLISHED(TvgSpecialHolder) { KBL_PROP(Special); }
