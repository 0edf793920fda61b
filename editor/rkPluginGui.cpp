// The editor form: creation from the form resource, the display refresh from the plug-in and its
// engine, the knob, switch and menu handlers, and the editor services of the host adapter.
#include "rkPluginGui.h"

#include <cmath>
#include <memory>
#include <mutex>
#include <string>

#include "classlib/ResourceStream.h"
#include "classlib/VersionInfo.h"
#include "editor/controls/uSkinData.h"
#include "editor/controls/uSkinWizard.h"
#include "editor/controls/zel_Controls.h"
#include "plugin/framework/Swap.h"
#include "plugin/framework/rkEditorServices.h"
#include "plugin/framework/rkPlugin.h"
#include "scene/controls/vg_controls.h"
#include "scene/controls/vg_layouts.h"
#include "scene/core/win32/vg_gdiplus.h"
#include "scene/shapes/vg_animations.h"
#include "scene/shapes/vg_effects.h"
#include "vgAboutBoxForm.h"

KBL_PUBLISHED(TPluginGui) {
  KBL_METHOD(FormCreate);
  KBL_METHOD(FormDestroy);
  KBL_METHOD(FormClose);
  KBL_METHOD(UpdateReadWriteHeads);
  KBL_METHOD(ButtonMouseDown);
  KBL_METHOD(KnobMouseDown);
  KBL_METHOD(BackgroundMouseDown);
  KBL_METHOD(KnobChange);
  KBL_METHOD(MainMenuPopup);
  KBL_METHOD(KnobMenuPopup);
  KBL_METHOD(miAboutClick);
  KBL_METHOD(miMidiLearnClick);
  KBL_METHOD(miUnlearnMIDIControllerClick);
  KBL_METHOD(ZelBitmapButton2Click);
}

namespace {

const char kProductTitle[] = "Tarvik: KBL Delay";

// The skin menu's entries as menu items of the class library.
class TSkinMenuItems final : public ISkinMenu {
 public:
  explicit TSkinMenuItems(TMenuItem* parent) : parent_(parent) {}
  void Clear() override { parent_->Clear(); }
  void Add(const std::string& caption, bool checked) override {
    auto* item = new TMenuItem(parent_->GetOwner());
    item->SetCaption(caption);
    item->SetChecked(checked);
    parent_->Add(item);
  }

 private:
  TMenuItem* parent_;
};

// Resets a flag however the block is left.
class TFlagScope {
 public:
  explicit TFlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~TFlagScope() { flag_ = false; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& flag_;
};

}  // namespace

// --- Creation and destruction

TPluginGui::TPluginGui(TComponent* owner) : TForm(owner) {}

TPluginGui::~TPluginGui() {
  // The destroy handler runs here, while the form is whole; the base would run it after this
  // part of the object is gone.
  const TNotifyEvent destroyHandler = OnDestroy;
  OnDestroy = TNotifyEvent();
  try {
    if (destroyHandler) destroyHandler(this);
  } catch (...) {
    Application().HandleException(this);
  }
  ReleaseEngineEvent();
}

void TPluginGui::DoCreate() {
  BindComponents();
  inherited::DoCreate();
}

void TPluginGui::BindComponents() {
#define KBL_BIND(Name) BindFormField(this, Name, #Name)
  KBL_BIND(KnobMenu); KBL_BIND(miMidiLearn); KBL_BIND(miUnlearnMIDIController); KBL_BIND(TextResetTimer);
  KBL_BIND(MainMenu); KBL_BIND(miSkin); KBL_BIND(miAbout); KBL_BIND(MainPanel); KBL_BIND(Background);
  KBL_BIND(RecordEndKnob); KBL_BIND(PlayStartKnob); KBL_BIND(PlayEndKnob); KBL_BIND(Label2);
  KBL_BIND(RecordStartKnob); KBL_BIND(InputKnob); KBL_BIND(MixKnob); KBL_BIND(Label3); KBL_BIND(Label6);
  KBL_BIND(Label1); KBL_BIND(WaveDisplayHolder); KBL_BIND(PlayBoundsRect); KBL_BIND(ReadHead);
  KBL_BIND(RecordBoundsRect); KBL_BIND(WriteHead); KBL_BIND(WriteRateKnob); KBL_BIND(SampleDataDisplay);
  KBL_BIND(SampleDisplayRefresh); KBL_BIND(Label7); KBL_BIND(Rectangle1); KBL_BIND(Rectangle2);
  KBL_BIND(ZelDiv1); KBL_BIND(ZelDiv2); KBL_BIND(ZelDiv3); KBL_BIND(ZelDiv4); KBL_BIND(ZelDiv5);
  KBL_BIND(ZelDiv6); KBL_BIND(Rectangle3); KBL_BIND(ZelBitmapButton1); KBL_BIND(ZelBitmapButton2);
  KBL_BIND(UpdateDisplayTimer); KBL_BIND(ZelDiv7); KBL_BIND(RecordButton); KBL_BIND(ZelDiv8); KBL_BIND(ZelDiv9);
  KBL_BIND(PlayButton); KBL_BIND(FixedButton); KBL_BIND(SlaveButton); KBL_BIND(ZelDiv10); KBL_BIND(ZelDiv11);
  KBL_BIND(Label4); KBL_BIND(FeedbackKnob);
#undef KBL_BIND
}

void TPluginGui::FormCreate(TObject*) {
  // 1-2: the heads and regions span the display; writing shows only while recording.
  for (TvgRectangle* r : {PlayBoundsRect, RecordBoundsRect, ReadHead, WriteHead}) r->GetPosition()->SetY(0);
  for (TvgRectangle* r : {PlayBoundsRect, RecordBoundsRect, ReadHead, WriteHead})
    r->SetHeight(SampleDataDisplay->GetHeight());
  WriteHead->SetVisible(false);
  RecordBoundsRect->SetVisible(false);

  // 3-4: the skin's images.
  skinData_ = new TSkinData();
  for (TvgZelBitmapKnob* knob : {PlayStartKnob, PlayEndKnob, RecordStartKnob, RecordEndKnob, WriteRateKnob,
                                 InputKnob, FeedbackKnob, MixKnob}) {
    knob->SetImageStrip(skinData_->Knob);
    knob->SetNumberOfGlyphs(127);
  }
  auto setImages = [](TvgZelBitmapButton* button, TvgBitmap* on, TvgBitmap* off) {
    button->SetBitmapOn(on);
    button->SetBitmapOnMouseOver(on);
    button->SetBitmapOff(off);
    button->SetBitmapOffMouseOver(off);
  };
  setImages(RecordButton, skinData_->RecordOn, skinData_->RecordOff);
  setImages(PlayButton, skinData_->PlayOn, skinData_->PlayOff);
  setImages(FixedButton, skinData_->FixedOn, skinData_->FixedOff);
  setImages(SlaveButton, skinData_->SlaveOn, skinData_->SlaveOff);
  Background->GetFill()->GetBitmap()->SetBitmap(skinData_->Background);
  Background->GetFill()->SetStyle(vgBrushBitmap);

  // 5-6: the background image carries the frames and captions.
  for (TvgRectangle* r : {WaveDisplayHolder, Rectangle1, Rectangle2}) {
    r->GetStroke()->SetStyle(vgBrushNone);
    r->GetFill()->SetStyle(vgBrushNone);
    r->GetStroke()->SetColor("#FF9C9C9C");
    r->GetStroke()->SetColor("#3F230909");
  }
  Rectangle3->GetStroke()->SetStyle(vgBrushNone);
  SampleDataDisplay->GetFill()->SetColor("#FFFFF0F0");
  for (TvgZelLabel* label : {Label1, Label2, Label3, Label4, Label6, Label7}) label->SetColor("#aF230909");

  // 7-8: the read head paints last; nothing plays or records yet.
  for (TvgRectangle* r : {PlayBoundsRect, RecordBoundsRect, WriteHead, ReadHead}) r->BringToFront();
  PlayButton->SetIsOn(false);
  RecordButton->SetIsOn(false);
  for (TvgRectangle* r : {ReadHead, PlayBoundsRect, WriteHead, RecordBoundsRect}) r->SetVisible(false);

  // 9.
  skinWizard_ = new TSkinWizard(skinData_->SkinsFolder);
}

void TPluginGui::FormDestroy(TObject*) {
  ReleaseEngineEvent();
  // The controls keep pointers to the images until they go with the form: they are not painted
  // again, but they must not find freed images if they were.
  for (TvgZelBitmapKnob* knob : {PlayStartKnob, PlayEndKnob, RecordStartKnob, RecordEndKnob, WriteRateKnob,
                                 InputKnob, FeedbackKnob, MixKnob})
    if (knob) knob->SetImageStrip(nullptr);
  for (TvgZelBitmapButton* button : {RecordButton, PlayButton, FixedButton, SlaveButton}) {
    if (!button) continue;
    button->SetBitmapOn(nullptr);
    button->SetBitmapOnMouseOver(nullptr);
    button->SetBitmapOff(nullptr);
    button->SetBitmapOffMouseOver(nullptr);
  }
  delete skinData_;
  skinData_ = nullptr;
  delete skinWizard_;
  skinWizard_ = nullptr;
}

void TPluginGui::FormClose(TObject*, TCloseAction&) {
  ReleaseEngineEvent();
  if (SampleDisplayRefresh) SampleDisplayRefresh->SetEnabled(false);
}

// --- Display updates

void TPluginGui::SetPlugin(TrkPlugin* value) {
  if (value == plugin_) return;
  ReleaseEngineEvent();
  plugin_ = value;
}

void TPluginGui::ReleaseEngineEvent() {
  if (!plugin_) return;
  TNotifyEvent& event = plugin_->Engine().OnChange;
  if (event.Object() == static_cast<void*>(this)) event = TNotifyEvent();
}

void TPluginGui::StartDisplayUpdates() {
  if (!plugin_) return;
  const TNotifyEvent changed = TNotifyEvent::Of<&TPluginGui::SampleDataChanged>(this);
  plugin_->Engine().OnChange = changed;
  SampleDisplayRefresh->SetOnTimer(changed);
  SampleDisplayRefresh->SetEnabled(true);
}

void TPluginGui::StopDisplayUpdates() {
  ReleaseEngineEvent();
  SampleDisplayRefresh->SetEnabled(false);
}

void TPluginGui::SampleDataChanged(TObject*) { waveformDirty_ = true; }

void TPluginGui::SetParameterFromKnob(int32_t index, float value) {
  if (plugin_) plugin_->SetParameter(index, value);
}

void TPluginGui::PlaceRegion(TvgRectangle* rect, float start, float end) {
  if (end < start) Swap(start, end);
  const float width = SampleDataDisplay->GetWidth();
  rect->GetPosition()->SetX(start * width);
  const float w = end * width - start * width;
  if (w + 1 != rect->GetWidth()) {
    rect->SetWidth(w + 1);
    rect->Repaint();
  }
}

void TPluginGui::UpdateDisplay() {
  // Read once: a host that closes the editor on another thread unlinks the plug-in there while
  // this thread may be half-way through (its idle call); the plug-in itself stays until the host
  // ends it, after its idle calls.
  TrkPlugin* const plugin = plugin_;
  if (!plugin) return;
  TFlagScope updating(updating_);
  // What changes is painted at once, at the end.
  TvgUpdateBatch batch(MainPanel->Engine());
  T1973& engine = plugin->Engine();
  if (waveformDirty_) {
    waveformDirty_ = false;
    const TLoopBufferView buffer = engine.Buffer();
    TSampleDataInfo info;
    info.HasData = 1;
    info.Channels = 2;
    info.Length = buffer.length;
    info.Left = buffer.left;
    info.Right = buffer.right;
    info.Int16Samples = 0;
    SampleDataDisplay->SetSampleData(info);
  }
  PlaceRegion(RecordBoundsRect, engine.RecordRegionStartShown(), engine.RecordRegionEndShown());
  PlaceRegion(PlayBoundsRect, engine.PlayRegionStart(), engine.PlayRegionEnd());

  struct Switch {
    TvgZelBitmapButton* button;
    int32_t parameter;
    TvgRectangle* head;
    TvgRectangle* region;
  };
  const Switch switches[] = {{PlayButton, TrkPlugin::kPlay, ReadHead, PlayBoundsRect},
                             {RecordButton, TrkPlugin::kRecord, WriteHead, RecordBoundsRect},
                             {FixedButton, TrkPlugin::kFixed, nullptr, nullptr},
                             {SlaveButton, TrkPlugin::kSlave, nullptr, nullptr}};
  for (const Switch& s : switches) {
    const bool on = plugin->GetParameter(s.parameter) >= 0.5f;
    if (on == s.button->GetIsOn()) continue;
    s.button->SetIsOn(on);
    if (s.head) s.head->SetVisible(on);
    if (s.region) s.region->SetVisible(on);
  }

  TvgZelBitmapKnob* const knobs[] = {PlayStartKnob, PlayEndKnob, RecordStartKnob, RecordEndKnob,
                                     WriteRateKnob, InputKnob,   FeedbackKnob,    MixKnob};
  for (int32_t i = 0; i < 8; ++i) {
    const float value = plugin->GetParameter(TrkPlugin::kPlayStart + i);
    if (knobs[i]->GetPos() != value) knobs[i]->SetPos(value);
  }
}

void TPluginGui::UpdateReadWriteHeads(TObject*) {
  if (!plugin_) return;
  // Both heads are painted at once, when both have moved.
  TvgUpdateBatch batch(MainPanel->Engine());
  const T1973& engine = plugin_->Engine();
  const float width = SampleDataDisplay->GetWidth();
  ReadHead->GetPosition()->SetX((width - ReadHead->GetWidth()) * engine.ReadPosition());
  WriteHead->GetPosition()->SetX((width - WriteHead->GetWidth()) * engine.WritePosition());
}

// --- Knobs and switches

void TPluginGui::KnobChange(TObject* sender) {
  if (updating_ || !plugin_) return;
  auto* knob = dynamic_cast<TvgZelCustomKnob*>(sender);
  if (!knob) return;
  const bool slave = plugin_->Engine().Slave();
  // Per tag: the knob's own parameter, the one it drives in slave mode, and the knob that then
  // mirrors it (the record knobs move the play region while slave mode is on).
  struct Binding {
    int32_t parameter;
    int32_t slaveParameter;
    TvgZelCustomKnob* mirror;
  };
  const int32_t tag = knob->GetTag();
  Binding b{0, 0, nullptr};
  switch (tag) {
    case 1: b = {TrkPlugin::kPlayStart, TrkPlugin::kPlayStart, RecordStartKnob}; break;
    case 2: b = {TrkPlugin::kPlayEnd, TrkPlugin::kPlayEnd, RecordEndKnob}; break;
    case 3: b = {TrkPlugin::kRecordStart, TrkPlugin::kPlayStart, PlayStartKnob}; break;
    case 4: b = {TrkPlugin::kRecordEnd, TrkPlugin::kPlayEnd, PlayEndKnob}; break;
    case 5: b = {TrkPlugin::kRate, TrkPlugin::kRate, nullptr}; break;
    case 6: b = {TrkPlugin::kInput, TrkPlugin::kInput, nullptr}; break;
    case 7: b = {TrkPlugin::kFeedBack, TrkPlugin::kFeedBack, nullptr}; break;
    case 8: b = {TrkPlugin::kMix, TrkPlugin::kMix, nullptr}; break;
    default: break;
  }
  SetParameterFromKnob(slave ? b.slaveParameter : b.parameter, knob->GetValueVst());
  if (slave && b.mirror) b.mirror->SetPos(knob->GetPos());
}

void TPluginGui::ButtonMouseDown(TObject* sender, TMouseButton button, TShiftState, float x, float y) {
  auto* control = dynamic_cast<TvgZelBitmapButton*>(sender);
  if (!control || !plugin_) return;
  int32_t parameter = 0;
  bool on = false;
  bool known = true;
  const T1973& engine = plugin_->Engine();
  switch (control->GetTag()) {
    case 1: parameter = TrkPlugin::kRecord; on = engine.Recording(); break;
    case 2: parameter = TrkPlugin::kPlay; on = engine.Playing(); break;
    case 3: parameter = TrkPlugin::kFixed; on = engine.FixedParam(); break;
    case 4: parameter = TrkPlugin::kSlave; on = engine.Slave(); break;
    default: known = false; break;
  }
  if (button == mbLeft) {
    const float value = known && !on ? 1.0f : 0.0f;
    // The automation path tells the host; the button's look follows at the next refresh.
    if (plugin_->OnAutomate) plugin_->OnAutomate(parameter, value);
    else plugin_->SetParameter(parameter, value);
  } else if (button == mbRight) {
    menuParameter_ = parameter;
    PopupAt(KnobMenu, sender, x, y);
  }
}

void TPluginGui::KnobMouseDown(TObject* sender, TMouseButton button, TShiftState, float x, float y) {
  auto* knob = dynamic_cast<TvgZelCustomKnob*>(sender);
  if (!knob || !plugin_ || button != mbRight) return;
  const int32_t tag = knob->GetTag();
  menuParameter_ = tag >= 1 && tag <= 8 ? tag + 1 : 0;
  PopupAt(KnobMenu, sender, x, y);
}

void TPluginGui::BackgroundMouseDown(TObject* sender, TMouseButton button, TShiftState, float x, float y) {
  if (button == mbRight) PopupAt(MainMenu, sender, x, y);
}

void TPluginGui::PopupAt(TPopupMenu* menu, TObject* sender, float x, float y) {
  TvgPoint point = vgPoint(x, y);
  if (auto* object = dynamic_cast<TvgVisualObject*>(sender)) point = object->LocalToAbsolute(point);
  point = MainPanel->LocalToScreen(point);
  menu->SetPopupComponent(MainPanel);
  menu->Popup(static_cast<int32_t>(std::lround(point.X)), static_cast<int32_t>(std::lround(point.Y)));
}

// --- Menus

void TPluginGui::MainMenuPopup(TObject*) {
  TSkinMenuItems items(miSkin);
  skinWizard_->BuildMenu(items);
  miSkin->SetVisible(false);
}

void TPluginGui::KnobMenuPopup(TObject*) {
  std::string cc = "--";
  bool learning = false;
  if (plugin_) {
    TMidiAutomation& automation = plugin_->Automation();
    // A controller learned since the last idle call shows at once.
    automation.CommitLearned();
    const int32_t controller = automation.BoundController(menuParameter_, 0);
    if (controller >= 0) cc = IntToStr(controller);
    learning = automation.LearningParameter() == menuParameter_;
  }
  miMidiLearn->SetCaption("Midi Learn  [CC: " + cc + "]");
  miMidiLearn->SetChecked(learning);
}

void TPluginGui::miMidiLearnClick(TObject*) {
  if (!plugin_) return;
  TMidiAutomation& automation = plugin_->Automation();
  // Chosen again on the parameter being learned, it ends learning without a binding.
  if (automation.LearningParameter() == menuParameter_) automation.EndLearning();
  else automation.Learn(menuParameter_);
}

void TPluginGui::miUnlearnMIDIControllerClick(TObject*) {
  if (!plugin_) return;
  TMidiAutomation& automation = plugin_->Automation();
  // Unlearning also ends learning; a controller already taken for this parameter goes with
  // its binding.
  automation.EndLearning();
  automation.CommitLearned();
  automation.Unlearn(menuParameter_, 0);
}

void TPluginGui::miAboutClick(TObject*) { ShowAboutBox(); }

void TPluginGui::ZelBitmapButton2Click(TObject*) { ShowAboutBox(); }

void TPluginGui::ShowAboutBox() {
  TStringList lines;
  if (TResourceStream::Exists("ABOUT")) {
    TResourceStream about("ABOUT");
    lines.SetText(std::string(reinterpret_cast<const char*>(about.Memory()), static_cast<size_t>(about.GetSize())));
  }
  if (lines.Count() == 0) lines.Add(kProductTitle);
  lines.Insert(1, "Version " + ModuleVersionText());
  ShowAbout(lines, 300, 300, this);
}

std::string ModuleVersionText() { return GetModuleFileVersion().ToString(); }

// --- The vector GUI and the editor services

namespace {

// The GUI's start-up: the class units linked in (scene, shapes, controls, widgets, design)
// register in the order their initialisers handed in their registrations, then the class
// library's controls, the maker's controls and the editor's forms, which stream by class name.
void RegisterEditorClasses() {
  static std::once_flag registered;
  std::call_once(registered, [] {
    RunClassRegistrations();
    RegisterControlClasses();
    vgRegisterSceneClasses();
    vgInitObjectsUnit();
    vgInitEffectsUnit();
    vgInitAnimationsUnit();
    vgInitLayoutsUnit();
    vgInitControlsUnit();
    ZelRegisterControls();
    RegisterClass<TPluginGui, TAboutForm>();
  });
}

}  // namespace

void StartVectorGui() {
  RegisterEditorClasses();
  StartGdiPlus();
}

void StopVectorGui() { StopGdiPlus(); }

namespace {

TPluginGui* CreateEditorForm(void* parentWindow) {
  return TCustomForm::CreateParented<TPluginGui>(static_cast<HWND>(parentWindow));
}

const TrkEditorServices kEditorServices = {
    StartVectorGui,
    StopVectorGui,
    CreateEditorForm,
    [](TPluginGui* form, TrkPlugin* plugin) { form->SetPlugin(plugin); },
    [](TPluginGui* form) { form->StartDisplayUpdates(); },
    [](TPluginGui* form) { form->StopDisplayUpdates(); },
    [](TPluginGui* form) { form->UpdateDisplay(); },
    [](TPluginGui* form) { form->Show(); },
    // Out of the host's window at once (the host may destroy it as the close returns); freed
    // once the form's own code returns (a close asked inside the knob menu's loop).
    [](TPluginGui* form) { form->Release(); },
    [](TPluginGui* form) -> void* { return form->HandleAllocated() ? form->GetHandle() : nullptr; },
    [](TPluginGui* form) -> TComponent* { return form; },
};

}  // namespace

void InstallPluginEditor() { SetEditorServices(&kEditorServices); }
