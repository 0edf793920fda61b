// TPluginGui: the plug-in's editor, a borderless form streamed from its form resource whose
// scene holds the skin, the waveform display with the play and record regions and heads, eight
// film-strip knobs, four switches and the two hot spots that open the about box. The host
// adapter creates it in the host's window, links the plug-in and refreshes it on every idle
// call; its timers move the heads and mark the waveform for redrawing. GUI thread only.
#pragma once

#include <cstdint>

#include "classlib/ExtCtrls.h"
#include "classlib/Forms.h"
#include "classlib/Menus.h"
#include "editor/controls/zel_BitmapButton.h"
#include "editor/controls/zel_Div.h"
#include "editor/controls/zel_Label.h"
#include "editor/controls/zel_SampleDisplay.h"
#include "editor/controls/zel_knobs.h"
#include "scene/core/vg_resources.h"
#include "scene/core/win32/vg_scene.h"
#include "scene/shapes/vg_objects.h"

class TrkPlugin;
class TSkinData;
class TSkinWizard;

class TPluginGui : public TForm {
  KBL_DECLARE_CLASS(TPluginGui, TForm)
 public:
  explicit TPluginGui(TComponent* owner);
  ~TPluginGui() override;

  // --- Components of the form resource (owned by the form; bound by name once it is read)
  TPopupMenu* KnobMenu = nullptr;
  TMenuItem* miMidiLearn = nullptr;
  TMenuItem* miUnlearnMIDIController = nullptr;
  TTimer* TextResetTimer = nullptr;
  TPopupMenu* MainMenu = nullptr;
  TMenuItem* miSkin = nullptr;
  TMenuItem* miAbout = nullptr;
  TvgScene* MainPanel = nullptr;
  TvgBackground* Background = nullptr;
  TvgZelBitmapKnob* RecordEndKnob = nullptr;
  TvgZelBitmapKnob* PlayStartKnob = nullptr;
  TvgZelBitmapKnob* PlayEndKnob = nullptr;
  TvgZelLabel* Label2 = nullptr;
  TvgZelBitmapKnob* RecordStartKnob = nullptr;
  TvgZelBitmapKnob* InputKnob = nullptr;
  TvgZelBitmapKnob* MixKnob = nullptr;
  TvgZelLabel* Label3 = nullptr;
  TvgZelLabel* Label6 = nullptr;
  TvgZelLabel* Label1 = nullptr;
  TvgRectangle* WaveDisplayHolder = nullptr;
  TvgRectangle* PlayBoundsRect = nullptr;
  TvgRectangle* ReadHead = nullptr;
  TvgRectangle* RecordBoundsRect = nullptr;
  TvgRectangle* WriteHead = nullptr;
  TvgZelBitmapKnob* WriteRateKnob = nullptr;
  TvgZelSampleDisplay* SampleDataDisplay = nullptr;
  TTimer* SampleDisplayRefresh = nullptr;
  TvgZelLabel* Label7 = nullptr;
  TvgRectangle* Rectangle1 = nullptr;
  TvgRectangle* Rectangle2 = nullptr;
  TvgZelDiv* ZelDiv1 = nullptr;
  TvgZelDiv* ZelDiv2 = nullptr;
  TvgZelDiv* ZelDiv3 = nullptr;
  TvgZelDiv* ZelDiv4 = nullptr;
  TvgZelDiv* ZelDiv5 = nullptr;
  TvgZelDiv* ZelDiv6 = nullptr;
  TvgRectangle* Rectangle3 = nullptr;
  TvgZelBitmapButton* ZelBitmapButton1 = nullptr;
  TvgZelBitmapButton* ZelBitmapButton2 = nullptr;
  TTimer* UpdateDisplayTimer = nullptr;
  TvgZelDiv* ZelDiv7 = nullptr;
  TvgZelBitmapButton* RecordButton = nullptr;
  TvgZelDiv* ZelDiv8 = nullptr;
  TvgZelDiv* ZelDiv9 = nullptr;
  TvgZelBitmapButton* PlayButton = nullptr;
  TvgZelBitmapButton* FixedButton = nullptr;
  TvgZelBitmapButton* SlaveButton = nullptr;
  TvgZelDiv* ZelDiv10 = nullptr;
  TvgZelDiv* ZelDiv11 = nullptr;
  TvgZelLabel* Label4 = nullptr;
  TvgZelBitmapKnob* FeedbackKnob = nullptr;

  // --- Called by the host adapter
  // The plug-in shown (not owned); nullptr while unlinked, when every refresh does nothing.
  TrkPlugin* GetPlugin() const { return plugin_; }
  // A plug-in that goes loses the form's hold on its engine's change event.
  void SetPlugin(TrkPlugin* value);
  // Points the engine's change event and the waveform timer at SampleDataChanged and starts
  // the timer. Needs the plug-in.
  void StartDisplayUpdates();
  // Stops the waveform timer and clears the engine's change event (when it is this form's).
  void StopDisplayUpdates();
  // Refreshes the waveform when marked, the region rectangles, the switches and the knobs from
  // the plug-in and its engine. Knob values written here fire no parameter change. A plug-in
  // unlinked meanwhile by another thread (SetPlugin) is read to the end of the refresh.
  void UpdateDisplay();
  // Marks the waveform for handing over at the next UpdateDisplay.
  void SampleDataChanged(TObject* sender);
  // Sets the plug-in's parameter without telling the host.
  void SetParameterFromKnob(int32_t index, float value);

  // --- State, for the host's tests and benchmarks
  bool WaveformDirty() const { return waveformDirty_; }
  int32_t MenuParameter() const { return menuParameter_; }
  TSkinData* SkinData() const { return skinData_; }
  TSkinWizard* SkinWizard() const { return skinWizard_; }

  // --- Event handlers, bound by name from the form resource
  void FormCreate(TObject* sender);
  void FormDestroy(TObject* sender);
  void FormClose(TObject* sender, TCloseAction& action);
  // The 25 ms timer: the read and write heads follow the engine.
  void UpdateReadWriteHeads(TObject* sender);
  void ButtonMouseDown(TObject* sender, TMouseButton button, TShiftState shift, float x, float y);
  void KnobMouseDown(TObject* sender, TMouseButton button, TShiftState shift, float x, float y);
  void BackgroundMouseDown(TObject* sender, TMouseButton button, TShiftState shift, float x, float y);
  void KnobChange(TObject* sender);
  void MainMenuPopup(TObject* sender);
  // Shows the controller bound to the menu's parameter ("Midi Learn  [CC: n]", "--" for none),
  // checked while that parameter is being learned.
  void KnobMenuPopup(TObject* sender);
  void miAboutClick(TObject* sender);
  // Arms learning for the menu's parameter: the next controller message binds its controller.
  // Chosen again on the parameter being learned, it ends learning.
  void miMidiLearnClick(TObject* sender);
  // Removes the parameter's binding and ends learning.
  void miUnlearnMIDIControllerClick(TObject* sender);
  void ZelBitmapButton2Click(TObject* sender);

 protected:
  // Binds the component fields to the components the resource made, then runs OnCreate.
  // Raises EComponentError naming the first component that is missing or of another class.
  void DoCreate() override;

 private:
  void BindComponents();
  // Clears the engine's change event when it still points at this form, so that nothing calls
  // into the form once its display updates have stopped or it is gone.
  void ReleaseEngineEvent();
  // Pops `menu` up at the screen point of the local point (x, y) of `sender`.
  void PopupAt(TPopupMenu* menu, TObject* sender, float x, float y);
  void PlaceRegion(TvgRectangle* rect, float start, float end);
  void ShowAboutBox();

  TrkPlugin* plugin_ = nullptr;
  bool updating_ = false;
  bool waveformDirty_ = false;
  int32_t menuParameter_ = 0;
  TSkinData* skinData_ = nullptr;
  TSkinWizard* skinWizard_ = nullptr;
};

// Start and stop the vector GUI: the first start registers the editor's classes (the form, the
// about box, the scene's and the maker's controls, and every class unit linked in), each start
// starts the drawing back end (GDI+), each stop stops it. The host adapter starts it for its
// first editor window and stops it with its last editor object. GUI thread.
void StartVectorGui();
void StopVectorGui();

// Installs the editor services the host adapter uses; calling it again changes nothing. Runs at
// start-up, before the first plug-in is created; the GUI itself waits for the first editor.
void InstallPluginEditor();

// The text "Version " shows in the about box: the module's file version ("1.0.0.0").
std::string ModuleVersionText();
