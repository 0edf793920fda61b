// The editor form linked into this program with its resources, around a real plug-in: the
// layout its form resource gives, the display refresh from the engine, the heads' repaints
// against whole paints, the engine's change event, the about box's lines and a skin folder
// beside the program.
#include "editor/rkPluginGui.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "classlib/WindowTestUtils.h"
#include "editor/controls/uSkinData.h"
#include "editor/vgAboutBoxForm.h"
#include "plugin/framework/TrkPluginSettings.h"
#include "plugin/framework/rkPlugin.h"
#include "scene/core/win32/vg_canvas_gdiplus.h"
#include "scene/core/win32/vg_gdiplus.h"

namespace {

class PluginGuiTest : public ::testing::Test {
 protected:
  // One host window for all: destroying a top-level window waits for the window manager.
  static void SetUpTestSuite() {
    InstallPluginEditor();
    StartVectorGui();
    host = new TForeignWindow(450, 494);
  }
  static void TearDownTestSuite() {
    delete host;
    StopVectorGui();
  }
  void SetUp() override { Open(); }
  void TearDown() override { Close(); }
  void Open() {
    form = TCustomForm::CreateParented<TPluginGui>(host->handle);
    form->SetPlugin(&plugin);
    form->StartDisplayUpdates();
    form->UpdateDisplay();
    form->Show();
    PumpUntil([] { return false; }, 100);
  }
  void Close() {
    delete form;
    form = nullptr;
  }
  static inline TForeignWindow* host = nullptr;
  TrkPlugin plugin;
  TPluginGui* form = nullptr;
};

TEST_F(PluginGuiTest, FormResourceLaysTheControlsOutWhereTheSkinExpectsThem) {
  EXPECT_EQ(form->GetClientWidth(), 450);
  EXPECT_EQ(form->GetClientHeight(), 494);
  EXPECT_EQ(form->GetBorderStyle(), bsNone);
  const struct {
    TvgVisualObject* object;
    float left, top, width, height;
  } places[] = {
      {form->SampleDataDisplay, 25, 25, 400, 206}, {form->PlayStartKnob, 45, 256, 40, 40},
      {form->PlayEndKnob, 105, 256, 40, 40},       {form->RecordStartKnob, 305, 256, 40, 40},
      {form->RecordEndKnob, 365, 256, 40, 40},     {form->InputKnob, 60, 376, 40, 40},
      {form->FeedbackKnob, 160, 376, 40, 40},      {form->WriteRateKnob, 250, 376, 40, 40},
      {form->MixKnob, 350, 376, 40, 40},           {form->RecordButton, 178, 256, 93, 46},
      {form->PlayButton, 178, 312, 93, 25},        {form->FixedButton, 65, 302, 60, 18},
      {form->SlaveButton, 325, 302, 60, 18},       {form->ZelBitmapButton1, 10, 455, 120, 25},
      {form->ZelBitmapButton2, 320, 455, 120, 25}, {form->Label1, 305, 326, 100, 15},
  };
  for (const auto& p : places) {
    const TvgPoint at = p.object->LocalToAbsolute(vgPoint(0, 0));
    EXPECT_NEAR(at.X, p.left, 0.1) << p.object->GetName();
    EXPECT_NEAR(at.Y, p.top, 0.1) << p.object->GetName();
    EXPECT_EQ(p.object->GetWidth(), p.width) << p.object->GetName();
    EXPECT_EQ(p.object->GetHeight(), p.height) << p.object->GetName();
  }
  EXPECT_EQ(form->MixKnob->GetNumberOfGlyphs(), 127);
  EXPECT_EQ(form->MixKnob->GetImageStrip(), form->SkinData()->Knob);
  EXPECT_FALSE(form->miSkin->GetVisible());
  EXPECT_FALSE(form->Label1->GetVisible());
  // The read head paints last, above the regions and the write head.
  EXPECT_EQ(form->ReadHead->GetIndex(), form->SampleDataDisplay->GetChildrenCount() - 1);
}

TEST_F(PluginGuiTest, RegionsSpanFromTheSmallerToTheLargerEndAndAreAtLeastOnePixelWide) {
  plugin.SetParameter(TrkPlugin::kSlave, 0);
  plugin.SetParameter(TrkPlugin::kRecord, 1);
  const struct {
    float start, end;
  } regions[] = {{0.75f, 0.25f}, {0.5f, 0.5f}, {0.0f, 1.0f}};
  for (const auto& r : regions) {
    plugin.SetParameter(TrkPlugin::kRecordStart, r.start);
    plugin.SetParameter(TrkPlugin::kRecordEnd, r.end);
    form->UpdateDisplay();
    const T1973& engine = plugin.Engine();
    const float a = std::min(engine.RecordRegionStartShown(), engine.RecordRegionEndShown());
    const float b = std::max(engine.RecordRegionStartShown(), engine.RecordRegionEndShown());
    EXPECT_FLOAT_EQ(form->RecordBoundsRect->GetPosition()->GetX(), a * 400) << r.start << "-" << r.end;
    EXPECT_FLOAT_EQ(form->RecordBoundsRect->GetWidth(), b * 400 - a * 400 + 1) << r.start << "-" << r.end;
  }
  EXPECT_TRUE(form->RecordBoundsRect->GetVisible());
  EXPECT_TRUE(form->WriteHead->GetVisible());
  EXPECT_TRUE(form->RecordButton->GetIsOn());
  plugin.SetParameter(TrkPlugin::kRecord, 0);
  form->UpdateDisplay();
  EXPECT_FALSE(form->RecordBoundsRect->GetVisible());
  EXPECT_FALSE(form->WriteHead->GetVisible());
}

TEST_F(PluginGuiTest, MovingHeadsRepaintToThePixelsOfAWholePaintAndOfGdiPlusAlone) {
  // A loop recorded and playing, the regions shown; the heads move forty times, each move
  // repainting only around them.
  T1973& engine = plugin.Engine();
  plugin.SetParameter(TrkPlugin::kSlave, 0);
  plugin.SetParameter(TrkPlugin::kRecordStart, 0.1f);
  plugin.SetParameter(TrkPlugin::kRecordEnd, 0.9f);
  plugin.SetParameter(TrkPlugin::kPlayStart, 0.25f);
  plugin.SetParameter(TrkPlugin::kPlayEnd, 0.6f);
  plugin.SetParameter(TrkPlugin::kInput, 1);
  plugin.SetParameter(TrkPlugin::kRecord, 1);
  plugin.SetParameter(TrkPlugin::kPlay, 1);
  std::vector<float> in(512), out(512);
  int64_t phase = 0;
  auto block = [&] {
    for (float& v : in) v = 0.7f * static_cast<float>(std::sin(0.0627 * phase++));
    engine.Process(in.data(), in.data(), out.data(), out.data(), 512);
  };
  for (int i = 0; i < 90; ++i) block();
  form->SampleDataChanged(nullptr);
  form->UpdateDisplay();
  HWND window = form->MainPanel->GetHandle();
  UpdateWindow(window);
  for (int i = 0; i < 40; ++i) {
    block();
    block();
    form->UpdateReadWriteHeads(nullptr);
    UpdateWindow(window);
  }
  auto buffer = [&] {
    GdiFlush();
    const uint32_t* bits = form->MainPanel->GetCanvas()->GetBufferBits();
    return std::vector<uint32_t>(bits, bits + 450 * 494);
  };
  const std::vector<uint32_t> moved = buffer();
  InvalidateRect(window, nullptr, FALSE);
  UpdateWindow(window);
  EXPECT_TRUE(buffer() == moved);
  auto* canvas = static_cast<TvgCanvasGdiPlus*>(form->MainPanel->GetCanvas());
  ASSERT_TRUE(canvas->DrawsWholePixels());
  canvas->SetDrawsWholePixels(false);
  InvalidateRect(window, nullptr, FALSE);
  UpdateWindow(window);
  const std::vector<uint32_t> gdiplus = buffer();
  canvas->SetDrawsWholePixels(true);
  int differing = 0;
  for (size_t i = 0; i < moved.size(); ++i) differing += moved[i] != gdiplus[i];
  EXPECT_EQ(differing, 0);
}

TEST_F(PluginGuiTest, KnobsFollowTheParametersWithoutSettingThemBack) {
  plugin.SetParameter(TrkPlugin::kRate, 0.3337f);
  form->UpdateDisplay();
  EXPECT_FLOAT_EQ(form->WriteRateKnob->GetPos(), 0.3337f);
  EXPECT_EQ(form->WriteRateKnob->GetValueInt(), 667);
  EXPECT_FLOAT_EQ(plugin.GetParameter(TrkPlugin::kRate), 0.3337f);
}

namespace {
// Once read, has another thread unlink it from the form: a host closing the editor on a worker
// while the form's thread is in its idle call.
struct TUnlinkedOnTheWay : TrkPlugin {
  TPluginGui* form = nullptr;
  float GetParameter(int32_t index) override {
    if (TPluginGui* going = std::exchange(form, nullptr)) std::thread([going] { going->SetPlugin(nullptr); }).join();
    return TrkPlugin::GetParameter(index);
  }
};
}  // namespace

TEST_F(PluginGuiTest, ARefreshGoesOnWithThePlugInItBeganWithWhenAnotherThreadUnlinksIt) {
  TUnlinkedOnTheWay other;
  other.SetParameter(TrkPlugin::kMix, 0.75f);
  form->SetPlugin(&other);
  other.form = form;
  form->UpdateDisplay();
  EXPECT_EQ(form->GetPlugin(), nullptr);
  EXPECT_FLOAT_EQ(form->MixKnob->GetPos(), 0.75f);
}

TEST_F(PluginGuiTest, EngineChangeEventIsReleasedWhenUpdatesStopAndWhenTheFormGoes) {
  TNotifyEvent& changed = plugin.Engine().OnChange;
  EXPECT_EQ(changed.Object(), static_cast<void*>(form));
  changed(nullptr);
  EXPECT_TRUE(form->WaveformDirty());
  form->UpdateDisplay();
  EXPECT_FALSE(form->WaveformDirty());
  form->StopDisplayUpdates();
  EXPECT_FALSE(changed.Assigned());
  EXPECT_FALSE(form->SampleDisplayRefresh->GetEnabled());
  form->StartDisplayUpdates();
  EXPECT_TRUE(changed.Assigned());
  Close();  // freed without stopping, as a host that closes its window first would
  EXPECT_FALSE(changed.Assigned());
}

TEST_F(PluginGuiTest, AboutBoxShowsTheTitleAndTheModuleVersionCentredInTheEditor) {
  form->miAboutClick(nullptr);
  TAboutForm* box = nullptr;
  for (int32_t i = 0; i < form->ComponentCount(); ++i)
    if (auto* found = dynamic_cast<TAboutForm*>(form->GetComponent(i))) box = found;
  ASSERT_NE(box, nullptr);
  TvgWideStrings* lines = box->TextBox->GetLines();
  ASSERT_GE(lines->GetCount(), 3);
  EXPECT_EQ(WideToUtf8(lines->Get(0)), "Tarvik: KBL Delay");
  EXPECT_EQ(WideToUtf8(lines->Get(1)), "Version 1.0.0.0");  // resources/module.rc
  EXPECT_EQ(box->GetLeft(), 75);
  EXPECT_EQ(box->GetTop(), 97);
  EXPECT_TRUE(box->CloseButton->GetVisible());
  box->CloseButtonMouseDown(nullptr, mbLeft, {}, 0, 0);
  PumpUntil([this] {
    for (int32_t i = 0; i < form->ComponentCount(); ++i)
      if (dynamic_cast<TAboutForm*>(form->GetComponent(i))) return false;
    return true;
  });
  for (int32_t i = 0; i < form->ComponentCount(); ++i) EXPECT_EQ(dynamic_cast<TAboutForm*>(form->GetComponent(i)), nullptr);
}

TEST_F(PluginGuiTest, ReliableSkinFolderReplacesOneImageAndTheRestComeFromTheResources) {
  const std::string folder = SkinsFolderOf(GetDllPath()) + "Reliable\\";
  std::filesystem::create_directories(folder);
  TvgBitmap background(450, 494);
  background.Clear(0xFF3060A0u);
  ASSERT_TRUE(background.SaveToFile(folder + "Background.png"));
  Close();
  Open();
  std::filesystem::remove_all(SkinsFolderOf(GetDllPath()) + "..\\");
  EXPECT_TRUE(form->SkinData()->FromFile("Background.png"));
  EXPECT_FALSE(form->SkinData()->FromFile("Knob.png"));
  TWindowPixels pixels(form->MainPanel->GetHandle());
  EXPECT_EQ(pixels.At(3, 3), 0x3060A0u);
  EXPECT_EQ(form->SkinData()->Knob->GetWidth(), 5080);
}

}  // namespace
