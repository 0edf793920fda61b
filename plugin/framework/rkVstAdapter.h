// Binds the delay plug-in to a VST 2 host: requests answered from the plug-in and the settings,
// host blocks split at incoming MIDI events, time information copied into the transport
// globals, outgoing MIDI sent back with events beyond a block carried over.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "classlib/Streams.h"
#include "plugin/vst/AEffEditor.h"
#include "plugin/vst/AudioEffectX.h"
#include "rkEditorServices.h"
#include "TrkMidiEventList.h"
#include "rkPlugin.h"

class TrkVstAdapter : public AudioEffectX {
 public:
  explicit TrkVstAdapter(audioMasterCallback audioMaster);
  // Builds the adapter around a given plug-in (a derived one, in tests); takes ownership.
  TrkVstAdapter(audioMasterCallback audioMaster, std::unique_ptr<TrkPlugin> ownPlugin);
  ~TrkVstAdapter() override;

  TrkPlugin& Plugin() { return *plugin; }

  // --- Overrides of the VST 2 layer
  void suspend() override;
  void resume() override;
  void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override {}
  void setParameter(VstInt32 index, float value) override;
  // Applies the value as setParameter does and reports the applied (clamped) value to the host.
  void setParameterAutomated(VstInt32 index, float value) override;
  float getParameter(VstInt32 index) override;
  VstInt32 getProgram() override { return 0; }
  void setProgram(VstInt32 program) override {}
  void setProgramName(char* name) override;
  void getProgramName(char* name) override;
  void getParameterLabel(VstInt32 index, char* label) override;
  void getParameterDisplay(VstInt32 index, char* text) override;
  void getParameterName(VstInt32 index, char* text) override;
  VstInt32 getChunk(void** data, bool isPreset) override;
  VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset) override;
  void process(float** inputs, float** outputs, VstInt32 sampleFrames) override;
  bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) override;
  bool getInputProperties(VstInt32 index, VstPinProperties* properties) override;
  bool getOutputProperties(VstInt32 index, VstPinProperties* properties) override;
  bool setBypass(bool onOff) override;
  VstInt32 processEvents(VstEvents* events) override;
  bool getVendorString(char* text) override;
  bool getProductString(char* text) override;
  VstInt32 canDo(char* text) override;
  VstInt32 getPlugCategory() override;

  // --- Block routines (audio thread)
  void ProcessWholeBlock(float** inputs, float** outputs, VstInt32 frames);
  void ProcessSplitAtEvents(float** inputs, float** outputs, VstInt32 frames);

 private:
  int32_t SetNumInputsHandler(int32_t count);
  int32_t SetNumOutputsHandler(int32_t count);
  void SizeWindowHandler(int32_t width, int32_t height, bool& result);
  void AutomateHandler(int32_t index, float value) { setParameterAutomated(index, value); }
  void SetParameterHandler(int32_t index, float value) { setParameter(index, value); }
  bool BeginEditHandler(int32_t index) { return beginEdit(index); }
  bool EndEditHandler(int32_t index) { return endEdit(index); }

  void PrepareBlock(float** inputs, float** outputs, VstInt32 frames);
  void ApplyTimeInfo(const VstTimeInfo* info);
  void CarryOverEvents(VstInt32 frames);
  void SendOutputEvents();
  static void ConvertVstEvents(const VstEvents* events, TrkMidiEventList& list);
  void FillPinProperties(const TPinProperties& pin, VstPinProperties* properties);

  TMemoryStream chunk;
  std::unique_ptr<TrkPlugin> plugin;
  bool initialised = false;
  VstEvents outgoingBlock{};
  std::vector<VstMidiEvent> outgoingRecords;
  TrkMidiEventList pendingEvents;
};

class TReleasedForms;

// The editor object: hosts the editor form inside the host's window while it is open, through
// the editor services (rkEditorServices.h). GUI thread; nothing raised by the form leaves it.
class TVstEditor : public AEffEditor {
 public:
  TVstEditor(AudioEffect* effect, TrkPlugin* plugin);
  // Also frees the forms closed while their code ran that the message loop has not freed yet
  // (those of this thread whose code has returned): the host may unload the module next. Those
  // of another thread are left to that thread's loop.
  ~TVstEditor() override;

  VstInt32 getRect(ERect** rect) override;
  // Creates the form in `parent`; answers 0 (and holds no form) without editor services, without
  // a parent window or when the form cannot be made. An editor open in `parent` answers 1 again;
  // one open elsewhere or whose window the host destroyed moves into `parent`.
  VstInt32 open(void* parent) override;
  // Ends MIDI learning and commits a controller learned just before.
  void close() override;
  // Commits a controller learned on the audio thread, then refreshes the form.
  void idle() override;

  // Editor objects alive in the module. The vector GUI starts with the first open and runs
  // while there is one, and until the forms released to another thread's loop are freed there.
  static int32_t EditorCount();
  // The open form's window handle, or nullptr (also when the host destroyed it).
  void* FormHandle() const;

 private:
  void FreeForm();

  bool isOpenFlag = false;
  TrkPlugin* plugin;
  TPluginGui* form = nullptr;
  void* parentWindow = nullptr;
  uint32_t formThread = 0;  // the thread that made the form (LockOwnerId)
  std::unique_ptr<TReleasedForms> released;  // made at the first close
};
