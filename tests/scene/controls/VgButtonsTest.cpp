// Caption controls, buttons, check boxes and radio buttons: style parts driven, triggers, mouse
// and keys, the repeat timer on a manual clock, and streams of non-default values.
#include <gtest/gtest.h>

#include "ControlsTestSupport.h"
#include "classlib/FormText.h"
#include "classlib/ImgList.h"

namespace {

using TextTest = ControlsFixture;

TvgText* TextOf(TvgControl* c) { return dynamic_cast<TvgText*>(c->FindResource("text")); }

TEST_F(TextTest, TheCaptionReachesTheTextPartWithAlignmentWrapAndFont) {
  auto* label = Add<TvgLabel>();
  TvgText* text = TextOf(label);
  ASSERT_NE(text, nullptr);
  label->SetText(u"Delay");
  EXPECT_EQ(text->GetText(), u"Delay");
  EXPECT_TRUE(text->GetWordWrap());  // a label wraps by default
  label->SetTextAlign(vgTextAlignFar);
  EXPECT_EQ(text->GetHorzTextAlign(), vgTextAlignFar);
  label->SetWordWrap(false);
  EXPECT_FALSE(text->GetWordWrap());
  label->GetFont()->SetSize(17);
  EXPECT_EQ(text->GetFont()->GetSize(), 17);
  label->GetForeground()->SetSolidColor(0xFF00FF00u);
  EXPECT_EQ(text->GetFill()->GetSolidColor(), 0xFF00FF00u);
  // A fresh style gets the stored values again.
  label->SetResource("labelstyle");
  label->UpdateStyle();
  text = TextOf(label);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->GetText(), u"Delay");
  EXPECT_EQ(text->GetHorzTextAlign(), vgTextAlignFar);
  EXPECT_EQ(text->GetFont()->GetSize(), 17);
}

TEST_F(TextTest, TheStylesForegroundBrushDecidesTheCaptionColour) {
  auto* button = Add<TvgButton>();
  EXPECT_EQ(button->GetForeground()->GetSolidColor(), 0xFF112233u);
  ASSERT_NE(TextOf(button), nullptr);
  EXPECT_EQ(TextOf(button)->GetFill()->GetSolidColor(), 0xFF112233u);
}

TEST_F(TextTest, WithoutATextPartTheControlKeepsTheTextAndRepaints) {
  auto* box = Add<TvgTrack>();  // a style without "text"
  ASSERT_NE(box->GetStyleObject(), nullptr);
  auto* c = new TvgTextControl(nullptr);
  c->SetBounds(0, 0, 50, 20);
  c->SetParent(form);
  c->SetResource("trackstyle");
  scene.updates.clear();
  c->SetText(u"kept");
  EXPECT_EQ(c->GetText(), u"kept");
  EXPECT_FALSE(scene.updates.empty());
  scene.updates.clear();
  c->SetTextAlign(vgTextAlignNear);
  EXPECT_FALSE(scene.updates.empty());
}

TEST_F(TextTest, SetDataTakesTextAndNullEmptiesIt) {
  auto* label = Add<TvgLabel>();
  label->SetData(Variant(5));
  EXPECT_EQ(label->GetText(), u"5");
  EXPECT_EQ(label->GetData().ToWideString(), u"5");
  label->SetData(Variant::Null());
  EXPECT_EQ(label->GetText(), u"");
}

TEST_F(TextTest, AutoTranslateTranslatesOutsideDesignModeOnly) {
  vgTranslation().Translate = [](const WideString& t) { return t == u"Feedback" ? WideString(u"Rueckkopplung") : WideString(); };
  auto* label = new TvgLabel(nullptr);
  label->SetParent(form);
  label->SetText(u"Feedback");
  label->ApplyResource();
  EXPECT_EQ(TextOf(label)->GetText(), u"Rueckkopplung");
  auto* value = new TvgValueLabel(nullptr);
  value->SetParent(form);
  value->SetText(u"Feedback");
  value->ApplyResource();
  EXPECT_EQ(TextOf(value)->GetText(), u"Feedback");
  EXPECT_FALSE(value->GetWordWrap());
  scene.designTime = true;
  auto* designed = new TvgLabel(nullptr);
  designed->SetParent(form);
  designed->SetText(u"Feedback");
  designed->ApplyResource();
  EXPECT_EQ(TextOf(designed)->GetText(), u"Feedback");
  vgTranslation().Translate = nullptr;
}

// Measures 6 units per character and 13 per line, without wrapping.
class TMeasuringCanvas : public TObjRecordingCanvas {
 public:
  TMeasuringCanvas() : TObjRecordingCanvas(400, 300) {}
  void MeasureText(TvgRect& r, const TvgRect&, const WideString& text, bool wordWrap, TvgTextAlign,
                   TvgTextAlign) override {
    ++measured;
    lastWrap = wordWrap;
    r = vgRect(r.Left, r.Top, r.Left + 6.0f * static_cast<float>(text.size()), r.Top + 13);
  }
  int measured = 0;
  bool lastWrap = true;
};

TEST_F(TextTest, AnAutoSizedLabelTakesTheSizeOfItsCaptionAndNeverWraps) {
  TMeasuringCanvas canvas;
  scene.canvas = &canvas;
  auto* label = Add<TvgLabel>(0, 0, 10, 10);
  EXPECT_TRUE(label->GetWordWrap());
  label->SetText(u"Feedback");
  label->SetAutoSize(true);
  EXPECT_GT(canvas.measured, 0);
  EXPECT_FALSE(canvas.lastWrap);
  EXPECT_FALSE(label->GetWordWrap());
  // The caption's width plus half the font size; the line's height.
  EXPECT_FLOAT_EQ(label->GetWidth(), 48 + 5.5f);
  EXPECT_FLOAT_EQ(label->GetHeight(), 13);
  TvgText* text = TextOf(label);
  EXPECT_EQ(text->GetAlign(), vaClient);
  EXPECT_FALSE(text->GetAutoSize());
  EXPECT_EQ(text->GetHorzTextAlign(), vgTextAlignNear);
  label->SetText(u"Feedback amount");
  EXPECT_FLOAT_EQ(label->GetWidth(), 90 + 5.5f);
  label->SetWordWrap(true);  // asked for, but an auto-sized label does not wrap
  label->ApplyStyle();
  EXPECT_FALSE(TextOf(label)->GetWordWrap());
  scene.canvas = nullptr;
}

// --- Buttons

using ButtonTest = ControlsFixture;

TEST_F(ButtonTest, APressShowsPressedUntilTheMouseLeavesAndClicksOnlyInside) {
  auto* button = Add<TvgButton>();
  TCounter clicks;
  button->OnClick = clicks.Event();
  TProbeAnimation* down = FindProbe(button->GetStyleObject(), "IsPressed=true");
  ASSERT_NE(down, nullptr);
  EXPECT_FALSE(down->GetRunning());
  button->MouseDown(mbLeft, TShiftState{ssLeft}, 5, 5);
  EXPECT_TRUE(button->GetIsPressed());
  EXPECT_TRUE(down->GetRunning());
  button->MouseMove(TShiftState{ssLeft}, 150, 5, 0, 0);
  EXPECT_FALSE(button->GetIsPressed());
  button->MouseMove(TShiftState{ssLeft}, 6, 5, 0, 0);
  EXPECT_TRUE(button->GetIsPressed());
  button->MouseUp(mbLeft, TShiftState{}, 6, 5);
  EXPECT_FALSE(button->GetIsPressed());
  EXPECT_EQ(clicks.count, 1);
  button->MouseDown(mbLeft, TShiftState{ssLeft}, 5, 5);
  button->MouseUp(mbLeft, TShiftState{}, 500, 5);
  EXPECT_EQ(clicks.count, 1);
  // The right button presses nothing.
  button->MouseDown(mbRight, TShiftState{ssRight}, 5, 5);
  EXPECT_FALSE(button->GetIsPressed());
}

TEST_F(ButtonTest, AStaysPressedButtonTogglesAndIgnoresTheMouseLeaving) {
  auto* button = Add<TvgButton>();
  button->SetIsPressed(true);  // not a toggle button: ignored
  EXPECT_FALSE(button->GetIsPressed());
  button->SetStaysPressed(true);
  button->MouseDown(mbLeft, TShiftState{ssLeft}, 5, 5);
  EXPECT_TRUE(button->GetIsPressed());
  button->MouseMove(TShiftState{ssLeft}, 500, 5, 0, 0);
  EXPECT_TRUE(button->GetIsPressed());
  button->MouseUp(mbLeft, TShiftState{}, 5, 5);
  EXPECT_TRUE(button->GetIsPressed());
  button->MouseDown(mbLeft, TShiftState{ssLeft}, 5, 5);
  button->MouseUp(mbLeft, TShiftState{}, 5, 5);
  EXPECT_FALSE(button->GetIsPressed());
  button->SetIsPressed(true);
  EXPECT_TRUE(button->GetIsPressed());
  // A fresh style shows the state at once.
  button->UpdateStyle();
  EXPECT_TRUE(FindProbe(button->GetStyleObject(), "IsPressed=true")->GetRunning());
}

TEST_F(ButtonTest, ARepeatingButtonClicksAfter600MsThenEvery100AndLaterPressesAfter200) {
  auto* button = Add<TvgSpeedButton>();
  EXPECT_TRUE(button->GetRepeatClick());
  EXPECT_FALSE(button->GetCanFocused());
  TCounter clicks;
  button->OnClick = clicks.Event();
  button->MouseDown(mbLeft, TShiftState{ssLeft}, 5, 5);
  ASSERT_NE(LastTimer(), nullptr);
  TvgManualAniTimer* timer = LastTimer();
  timer->Advance(599);
  EXPECT_EQ(clicks.count, 0);
  timer->Advance(1);
  EXPECT_EQ(clicks.count, 1);
  timer->Advance(100);
  EXPECT_EQ(clicks.count, 2);
  timer->Advance(300);
  EXPECT_EQ(clicks.count, 5);
  button->MouseUp(mbLeft, TShiftState{}, 500, 500);  // outside: no click of its own
  EXPECT_FALSE(timer->Running());
  timer->Advance(1000);
  EXPECT_EQ(clicks.count, 5);
  // The second press keeps the 100 ms interval: the start handler runs after 100, the first
  // repeated click after 200.
  button->MouseDown(mbLeft, TShiftState{ssLeft}, 5, 5);
  EXPECT_EQ(timers.size(), 1u);
  timer->Advance(199);
  EXPECT_EQ(clicks.count, 5);
  timer->Advance(1);
  EXPECT_EQ(clicks.count, 6);
  button->MouseUp(mbLeft, TShiftState{}, 5, 5);  // inside: the release clicks once
  EXPECT_EQ(clicks.count, 7);
  timer->Advance(1000);
  EXPECT_EQ(clicks.count, 7);
}

TEST_F(ButtonTest, EnterAndSpaceClickAndDialogKeysClickDefaultAndCancelButtons) {
  auto* ok = Add<TvgButton>();
  auto* cancel = Add<TvgButton>(10, 40);
  TCounter okClicks, cancelClicks;
  ok->OnClick = okClicks.Event();
  cancel->OnClick = cancelClicks.Event();
  uint16_t key = 32;
  WideChar ch = u' ';
  ok->KeyDown(key, ch, TShiftState{});
  EXPECT_EQ(okClicks.count, 1);
  EXPECT_EQ(key, 32);  // not consumed
  key = 13;
  ok->KeyDown(key, ch, TShiftState{});
  EXPECT_EQ(okClicks.count, 2);
  ok->SetDefault(true);
  cancel->SetCancel(true);
  key = 13;
  cancel->DialogKey(key, TShiftState{});
  EXPECT_EQ(key, 13);
  EXPECT_EQ(cancelClicks.count, 0);
  ok->DialogKey(key, TShiftState{});
  EXPECT_EQ(key, 0);
  EXPECT_EQ(okClicks.count, 3);
  key = 27;
  ok->DialogKey(key, TShiftState{});
  EXPECT_EQ(key, 27);
  cancel->DialogKey(key, TShiftState{});
  EXPECT_EQ(key, 0);
  EXPECT_EQ(cancelClicks.count, 1);
}

TEST_F(ButtonTest, AModalResultWithoutAFormInTheOwnerChainOnlyClicks) {
  auto* button = Add<TvgButton>();
  button->SetModalResult(1);
  TCounter clicks;
  button->OnClick = clicks.Event();
  int hookCalls = 0;
  auto saved = vgFormHooks().SetModalResult;
  vgFormHooks().SetModalResult = [&](TComponent*, TvgModalResult) { ++hookCalls; };
  button->Click();
  EXPECT_EQ(clicks.count, 1);
  EXPECT_EQ(hookCalls, 0);
  EXPECT_EQ(vgFindSceneForm(button), nullptr);
  vgFormHooks().SetModalResult = saved;
}

TEST_F(ButtonTest, ACornerButtonPassesItsCornersToTheBackgroundAndStreamsEmptySides) {
  auto* button = Add<TvgCornerButton>();
  auto* background = dynamic_cast<TvgRectangle*>(button->FindResource("Background"));
  ASSERT_NE(background, nullptr);
  EXPECT_EQ(background->GetxRadius(), 3);
  button->SetxRadius(7);
  button->SetSides(TvgSides{});
  button->SetCorners(TvgCorners{vgCornerTopLeft});
  background = dynamic_cast<TvgRectangle*>(button->FindResource("Background"));
  EXPECT_EQ(background->GetxRadius(), 7);
  EXPECT_TRUE(background->GetSides() == TvgSides{});
  EXPECT_TRUE(background->GetCorners() == TvgCorners{vgCornerTopLeft});
  std::unique_ptr<TvgObject> copy(button->Clone(nullptr));
  auto* again = dynamic_cast<TvgCornerButton*>(copy.get());
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->GetSides() == TvgSides{});
  EXPECT_TRUE(again->GetCorners() == TvgCorners{vgCornerTopLeft});
  EXPECT_EQ(again->GetxRadius(), 7);
  EXPECT_EQ(again->GetyRadius(), 3);
}

TEST_F(ButtonTest, StreamsHoldOnlyWhatDiffersFromTheConstructorsValues) {
  std::unique_ptr<TvgButton> fresh(new TvgButton(nullptr));
  fresh->SetName("Plain");
  const std::string plain = ComponentToText(fresh.get());
  for (const char* name : {"Width", "Height", "AutoTranslate", "CanFocused", "TextAlign", "WordWrap", "IsPressed",
                           "ModalResult", "RepeatClick", "Text"})
    EXPECT_EQ(plain.find(name), std::string::npos) << name << "\n" << plain;
  fresh->SetText(u"Go");
  fresh->SetModalResult(2);
  fresh->SetStaysPressed(true);
  fresh->SetIsPressed(true);
  fresh->SetRepeatClick(true);
  fresh->SetWidth(90);
  std::unique_ptr<TvgObject> copy(fresh->Clone(nullptr));
  auto* again = dynamic_cast<TvgButton*>(copy.get());
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->GetText(), u"Go");
  EXPECT_EQ(again->GetModalResult(), 2);
  EXPECT_TRUE(again->GetIsPressed());
  EXPECT_TRUE(again->GetRepeatClick());
  EXPECT_EQ(again->GetWidth(), 90);
  EXPECT_EQ(again->GetHeight(), 22);

  std::unique_ptr<TvgSpeedButton> speed(new TvgSpeedButton(nullptr));
  const std::string speedText = ComponentToText(speed.get());
  for (const char* name : {"Width", "Height", "CanFocused", "RepeatClick"})
    EXPECT_EQ(speedText.find(name), std::string::npos) << name;
  std::unique_ptr<TvgLabel> label(new TvgLabel(nullptr));
  const std::string labelText = ComponentToText(label.get());
  for (const char* name : {"Width", "Height", "HitTest", "WordWrap", "AutoTranslate", "AutoSize"})
    EXPECT_EQ(labelText.find(name), std::string::npos) << name;
  label->SetWordWrap(false);
  label->SetAutoSize(true);
  std::unique_ptr<TvgObject> labelCopy(label->Clone(nullptr));
  EXPECT_FALSE(dynamic_cast<TvgLabel*>(labelCopy.get())->GetWordWrap());
  EXPECT_TRUE(dynamic_cast<TvgLabel*>(labelCopy.get())->GetAutoSize());
}

// --- Check box and radio button

using CheckTest = ControlsFixture;

TEST_F(CheckTest, AClickInsideTogglesAndAReleaseOutsideDoesNot) {
  auto* box = Add<TvgCheckBox>();
  EXPECT_EQ(box->GetTextAlign(), vgTextAlignNear);
  TCounter changes;
  box->OnChange = changes.Event();
  box->MouseDown(mbLeft, TShiftState{ssLeft}, 5, 5);
  EXPECT_TRUE(box->GetIsPressed());
  EXPECT_TRUE(FindProbe(box->GetStyleObject(), "IsPressed=true")->GetRunning());
  box->MouseMove(TShiftState{ssLeft}, 500, 5, 0, 0);
  EXPECT_FALSE(box->GetIsPressed());
  box->MouseUp(mbLeft, TShiftState{}, 500, 5);
  EXPECT_FALSE(box->GetIsChecked());
  EXPECT_EQ(changes.count, 0);
  box->MouseDown(mbLeft, TShiftState{ssLeft}, 5, 5);
  box->MouseUp(mbLeft, TShiftState{}, 5, 5);
  EXPECT_TRUE(box->GetIsChecked());
  EXPECT_FALSE(box->GetIsPressed());
  EXPECT_EQ(changes.count, 1);
  EXPECT_TRUE(FindProbe(box->GetStyleObject(), "IsChecked=true")->GetRunning());
  uint16_t key = 32;
  WideChar ch = u' ';
  box->KeyDown(key, ch, TShiftState{});
  EXPECT_FALSE(box->GetIsChecked());
  EXPECT_EQ(changes.count, 2);
  box->SetIsChecked(false);
  EXPECT_EQ(changes.count, 2);
}

TEST_F(CheckTest, SetDataTakesBooleansAndTreatsOtherValuesAsUnchecked) {
  auto* box = Add<TvgCheckBox>();
  box->SetData(Variant(true));
  EXPECT_TRUE(box->GetIsChecked());
  EXPECT_TRUE(box->GetData().ToBool());
  box->SetData(Variant("yes"));
  EXPECT_FALSE(box->GetIsChecked());
}

TEST_F(CheckTest, APathCheckBoxHandsItsPathToTheCheckmark) {
  auto* box = Add<TvgPathCheckBox>();
  auto* mark = dynamic_cast<TvgPath*>(box->FindResource("checkmark"));
  ASSERT_NE(mark, nullptr);
  EXPECT_FALSE(mark->GetData()->IsEmpty());
  EXPECT_EQ(mark->GetData()->GetData(), box->GetPath()->GetData());
  box->GetPath()->SetData("M 0,0 L 10,10");
  EXPECT_EQ(mark->GetData()->GetData(), box->GetPath()->GetData());
}

TEST_F(CheckTest, CheckingARadioButtonUnchecksItsGroupAcrossParentsButNoOtherSpelling) {
  auto* panel = new TvgVisualObject(nullptr);
  panel->SetParent(form);
  auto* a = Add<TvgRadioButton>();
  auto* b = new TvgRadioButton(nullptr);
  b->SetParent(panel);
  auto* other = Add<TvgRadioButton>(10, 60);
  a->SetGroupName("rate");
  b->SetGroupName("rate");
  other->SetGroupName("Rate");
  other->SetIsChecked(true);
  TCounter changes;
  a->OnChange = changes.Event();
  a->SetIsChecked(true);
  EXPECT_TRUE(a->GetIsChecked());
  EXPECT_EQ(changes.count, 1);
  b->SetIsChecked(true);
  EXPECT_TRUE(b->GetIsChecked());
  EXPECT_FALSE(a->GetIsChecked());
  EXPECT_EQ(changes.count, 2);
  EXPECT_TRUE(other->GetIsChecked());
  // The only checked one of its group stays checked, by click and by setter.
  b->MouseDown(mbLeft, TShiftState{ssLeft}, 5, 5);
  b->MouseUp(mbLeft, TShiftState{}, 5, 5);
  EXPECT_TRUE(b->GetIsChecked());
  other->SetIsChecked(false);
  EXPECT_TRUE(other->GetIsChecked());
}

TEST_F(CheckTest, ARadioButtonOutsideASceneCanBeCheckedButNotUnchecked) {
  TvgRadioButton lone(nullptr);
  lone.SetIsChecked(true);
  EXPECT_TRUE(lone.GetIsChecked());
  lone.SetIsChecked(false);
  EXPECT_TRUE(lone.GetIsChecked());
  const std::string text = ComponentToText(&lone);
  EXPECT_NE(text.find("IsChecked = True"), std::string::npos) << text;
  EXPECT_EQ(text.find("Width"), std::string::npos) << text;
}

}  // namespace

namespace {

using GlyphTest = ControlsFixture;

TEST_F(GlyphTest, ABitmapButtonLaysItsGlyphOutByLayoutAndLeavesAnEmptyOneUnaligned) {
  auto* button = Add<TvgBitmapButton>(0, 0, 120, 60);
  auto* image = dynamic_cast<TvgImage*>(button->FindResource("image"));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->GetAlign(), vaNone);  // 1 x 1: empty
  EXPECT_EQ(image->GetPadding()->GetLeft(), 2);
  button->SetBitmapSpacing(5);
  button->GetBitmap()->SetSize(16, 16);
  EXPECT_EQ(image->GetBitmap()->GetWidth(), 16);
  EXPECT_EQ(image->GetAlign(), vaLeft);
  EXPECT_EQ(image->GetWidth(), 32);
  EXPECT_EQ(image->GetPadding()->GetRight(), 5);
  EXPECT_EQ(image->GetPadding()->GetLeft(), 2);
  button->SetBitmapLayout(vgGlyphBottom);
  EXPECT_EQ(image->GetAlign(), vaBottom);
  EXPECT_EQ(image->GetHeight(), 32);
  EXPECT_EQ(image->GetPadding()->GetTop(), 5);
  EXPECT_EQ(image->GetPadding()->GetRight(), 2);
  button->SetBitmapSize(20);
  button->SetBitmapLayout(vgGlyphCenter);
  EXPECT_EQ(image->GetAlign(), vaCenter);
  EXPECT_EQ(image->GetWidth(), 20);
  EXPECT_EQ(image->GetHeight(), 20);
  EXPECT_EQ(image->GetPadding()->GetLeft(), 5);
  button->SetBitmapPadding(4);
  EXPECT_EQ(dynamic_cast<TvgVisualObject*>(button->FindResource("text"))->GetPadding()->GetTop(), 4);
  auto* tool = Add<TvgToolButton>(0, 80, 60, 60);
  EXPECT_FALSE(tool->GetCanFocused());
  EXPECT_EQ(tool->GetBitmapLayout(), vgGlyphTop);
}

TEST_F(GlyphTest, APathButtonHandsItsPathAndStrokeToThePathPart) {
  auto* button = Add<TvgPathButton>(0, 0, 120, 60);
  auto* owner = dynamic_cast<TvgVisualObject*>(button->FindResource("pathowner"));
  auto* path = dynamic_cast<TvgPath*>(button->FindResource("path"));
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(owner->GetAlign(), vaNone);  // no points yet
  button->GetPath()->SetData("M 0,0 L 10,0 L 10,10 Z");
  EXPECT_EQ(owner->GetAlign(), vaLeft);
  EXPECT_EQ(owner->GetWidth(), 32);
  EXPECT_EQ(path->GetData()->GetData(), button->GetPath()->GetData());
  EXPECT_EQ(path->GetFill()->GetSolidColor(), 0xFFFFFFFFu);
  button->GetPathStroke()->SetSolidColor(0xFF0000FFu);
  button->SetPathStrokeThickness(3);
  button->SetPathStrokeDash(vgDashDot);
  EXPECT_EQ(path->GetStroke()->GetSolidColor(), 0xFF0000FFu);
  EXPECT_EQ(path->GetStrokeThickness(), 3);
  EXPECT_EQ(path->GetStrokeDash(), vgDashDot);
  TvgPathButton plain(nullptr);
  const std::string defaults = ComponentToText(&plain);
  for (const char* name : {"PathStrokeThickness", "PathLayout", "PathSize", "PathPadding", "Width", "Height"})
    EXPECT_EQ(defaults.find(name), std::string::npos) << name << "\n" << defaults;
  std::unique_ptr<TvgObject> copy(button->Clone(nullptr));
  auto* again = dynamic_cast<TvgPathButton*>(copy.get());
  EXPECT_EQ(again->GetPathStrokeThickness(), 3);
  EXPECT_EQ(again->GetPath()->GetData(), button->GetPath()->GetData());
  EXPECT_EQ(again->GetPathStroke()->GetSolidColor(), 0xFF0000FFu);
}

TEST_F(GlyphTest, ABitmapStateButtonPaintsTheBitmapOfItsState) {
  TObjRecordingCanvas canvas(400, 300);
  scene.canvas = &canvas;
  auto* button = Add<TvgBitmapStateButton>(0, 0, 64, 64);
  button->GetBitmap()->SetSize(16, 16);
  button->GetBitmapDown()->SetSize(8, 8);
  button->GetBitmapHot()->SetSize(128, 64);
  button->Paint();
  ASSERT_EQ(canvas.bitmaps.size(), 1u);
  EXPECT_EQ(canvas.bitmaps[0].Left, 24);  // own size, centred
  EXPECT_EQ(canvas.bitmaps[0].Right, 40);
  button->MouseEnter();
  button->Paint();
  EXPECT_EQ(canvas.bitmaps[1].Left, 0);  // larger: fitted
  EXPECT_EQ(canvas.bitmaps[1].Right, 64);
  EXPECT_EQ(canvas.bitmaps[1].Bottom - canvas.bitmaps[1].Top, 32);
  button->MouseDown(mbLeft, TShiftState{ssLeft}, 5, 5);
  button->Paint();
  EXPECT_EQ(canvas.bitmaps[2].Right - canvas.bitmaps[2].Left, 8);
  button->MouseUp(mbLeft, TShiftState{}, 5, 5);
  scene.canvas = nullptr;
}

}  // namespace

namespace {

using ActionTest = ControlsFixture;

struct TActionSink {
  int runs = 0, updates = 0;
  TObject* lastSender = nullptr;
  void Run(TObject* sender) {
    ++runs;
    lastSender = sender;
  }
  void Update(TObject*) { ++updates; }
};

TEST_F(ActionTest, AnActionEnablesCaptionsAndRunsTheButtonWhileItsValuesAreLinked) {
  TActionSink sink;
  auto* action = new TAction(nullptr);
  action->SetCaption("Record");
  action->SetHint("Starts recording");
  action->SetOnExecute(TNotifyEvent::Of<&TActionSink::Run>(&sink));
  action->OnUpdate = TNotifyEvent::Of<&TActionSink::Update>(&sink);
  auto* button = Add<TvgButton>();
  button->SetAction(action);
  EXPECT_EQ(button->GetAction(), action);
  EXPECT_EQ(button->GetText(), u"Record");
  EXPECT_EQ(button->GetHint(), u"Starts recording");
  button->Click();
  EXPECT_EQ(sink.runs, 1);
  EXPECT_EQ(sink.lastSender, button);
  // Linked values follow the action.
  action->SetEnabled(false);
  EXPECT_FALSE(button->GetEnabled());
  action->SetCaption("Stop");
  EXPECT_EQ(button->GetText(), u"Stop");
  action->SetVisible(false);
  EXPECT_FALSE(button->GetVisible());
  action->SetVisible(true);
  button->InitiateAction();
  EXPECT_EQ(sink.updates, 1);
  // A caption the button changed itself is no longer the action's.
  button->SetText(u"Own");
  action->SetCaption("Play");
  EXPECT_EQ(button->GetText(), u"Own");
  // Freeing the action leaves the button as it is, without an action.
  delete action;
  EXPECT_EQ(button->GetAction(), nullptr);
  EXPECT_FALSE(button->GetEnabled());
  // Only styled controls can be linked.
  TAction other(nullptr);
  EXPECT_THROW(TvgControlActionLink link(&other), EInvalidCast);
}

TEST_F(ActionTest, ALoadingActionOnlyFillsDefaultsAndABitmapButtonTakesItsImage) {
  TAction action(nullptr);
  action.SetCaption("Skin");
  action.SetEnabled(false);
  TImageList images(nullptr);
  images.SetWidth(4);
  images.SetHeight(4);
  TBitmap strip;
  strip.SetPixelFormat(pf24bit);
  strip.SetSize(8, 4);
  strip.FillColor(static_cast<TColor>(0xFF0000));  // blue (0xBBGGRR); two images of 4 x 4
  images.Add(&strip);
  ASSERT_EQ(images.GetCount(), 2);
  TActionList list(nullptr);
  list.SetImages(&images);
  action.SetActionList(&list);
  action.SetImageIndex(1);
  auto* button = Add<TvgBitmapButton>();
  button->SetText(u"Mine");
  action.IncludeState(csLoading);
  button->SetAction(&action);
  EXPECT_EQ(button->GetText(), u"Mine");  // not a default: kept
  EXPECT_FALSE(button->GetEnabled());     // enabled is the default: taken
  EXPECT_EQ(button->GetBitmapSize(), 4);
  EXPECT_EQ(button->GetBitmap()->GetWidth(), 4);
  EXPECT_EQ(button->GetBitmap()->Pixel(1, 1), 0xFF0000FFu);
  button->SetAction(nullptr);
}

}  // namespace
