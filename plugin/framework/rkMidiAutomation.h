// The MIDI controller map shared by every plug-in instance in the process, kept in
// "Midi Map.xml" in the user's data folder, and each instance's access to it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Methods.h"
#include "classlib/SysUtils.h"

// Raised by TMidiMap::LoadFromXmlFile for a file that is no MIDI map.
KBL_DECLARE_EXCEPTION(EMidiMapError, Exception);

// The integer of `text`, or `fallback` when it is no integer.
int32_t StrToIntDefault(const std::string& text, int32_t fallback);

struct TMidiBinding {
  uint8_t MidiCC = 0;
  int32_t ParameterID = 0;
  std::string ParameterName;
  uint8_t AutomationType = 0;  // 1 or 0
};

// Controller numbers of MIDI (0..127) and the parameters a controller table can address.
constexpr int32_t kMidiControllerCount = 128;
constexpr int32_t kMaxControlledParameters = 32;

// An ordered list of bindings with the controller table built from it. The list is changed and
// read on one thread at a time (the GUI side); the table may be read on any thread meanwhile.
class TMidiMap : public TObject {
 public:
  int32_t Count() const { return static_cast<int32_t>(bindings_.size()); }
  // Appends a binding; answers its index.
  int32_t Add(uint8_t midiCC, int32_t parameterID, uint8_t automationType, const std::string& parameterName);
  // Binds a controller to a parameter: the parameter's bindings of that automation type and
  // every other binding of the controller with that type go, the new binding is appended.
  // Answers its index.
  int32_t Bind(uint8_t midiCC, int32_t parameterID, uint8_t automationType, const std::string& parameterName);
  // Raises EListError for an index outside 0 .. Count − 1.
  void Delete(int32_t i);
  void Clear();
  const TMidiBinding& GetBinding(int32_t i) const;
  // Index of the first binding with both values, −1 when none.
  int32_t FindBinding(int32_t parameterID, uint8_t automationType) const;

  // Any thread, without lock or allocation: the parameters that controller `midiCC` drives, bit
  // i for parameter i. Bindings of automation type 0 count; those of a controller above 127 or a
  // parameter outside 0 .. 31 drive nothing. Each change of the list republishes the table.
  uint32_t ControlledParameters(uint8_t midiCC) const;

  // Writes the map as indented UTF-8 XML with CR LF line ends. The file is written beside the
  // target under a temporary name and then put in its place, so a failed save leaves the old
  // file as it was; a file that holds these bytes already is not written again. Raises on
  // failure.
  void SaveToXmlFile(const std::string& fileName) const;
  // Appends the bindings of the file. Raises the XML library's errors for unreadable text and
  // EMidiMapError for a file that is no MIDI map; elements lacking an attribute are skipped.
  void LoadFromXmlFile(const std::string& fileName);

 private:
  void CheckIndex(int32_t i) const;
  void PublishControllers();
  std::vector<TMidiBinding> bindings_;
  std::atomic<uint32_t> controllers_[kMidiControllerCount] = {};
};

// One plug-in's access to the shared map. The first one created in the process creates the map
// and loads it from the data folder; when the last one is destroyed the map is saved back (when
// the settings ask for it, the data folder exists and the file was read without error).
//
// Learning is per instance: the GUI side arms it for a parameter, the audio thread takes the
// next controller message as the controller to bind and hands the pair back through an atomic
// slot, and the GUI side turns it into a binding of the shared map (CommitLearned). The audio
// thread so never changes the map, takes no lock and allocates nothing.
class TMidiAutomation : public TObject {
 public:
  using TSetParameter = TMethod<void(int32_t, float)>;

  TMidiAutomation(TObject* plugin, TSetParameter setParameter);
  // Commits a learned controller still pending, then saves the map when this is the last one.
  ~TMidiAutomation() override;

  // The shared map. Changes made through it directly are not guarded against another
  // instance's GUI thread; the operations below are.
  TMidiMap& Map() { return *map; }
  // GUI thread. Removes the binding of that parameter and type, if there is one.
  void Unlearn(int32_t parameterID, uint8_t automationType);
  // GUI thread: the controller number bound to that parameter and type, or −1.
  int32_t BoundController(int32_t parameterID, uint8_t automationType) const;

  // --- Learning
  // GUI thread: the next controller message this instance receives binds its controller to
  // `parameterID` (automation type 0). Replaces learning armed for another parameter; a
  // parameter outside 0 .. 31 ends learning instead.
  void Learn(int32_t parameterID);
  // Any thread: ends learning without a binding. A controller already taken stays pending.
  void EndLearning();
  // Any thread: the parameter being learned, or −1.
  int32_t LearningParameter() const { return learning.load(std::memory_order_acquire); }
  // GUI thread: turns a controller taken by the audio thread into a binding of the shared map,
  // named after the plug-in's parameter. Answers whether there was one.
  bool CommitLearned();
  // Audio thread, without lock or allocation: controller `midiCC` moved. While learning, it
  // ends learning and is taken as the controller to bind (the channel-mode controllers 120 and
  // above, which hosts send by themselves, are not taken). Answers the parameters it drives, bit
  // i for parameter i; a pair taken and not yet committed counts as bound already.
  uint32_t ControllerMoved(uint8_t midiCC);

  // The reason the map file could not be read, empty when it was read or did not exist.
  static std::string LoadError();
  // "Midi Map.xml" in the data folder; empty when there is no data folder.
  static std::string MapFileName();

 private:
  std::string ParameterName(int32_t parameterID) const;

  // The parameter being learned, −1 when not learning.
  std::atomic<int32_t> learning{-1};
  TSetParameter setParameter;
  TObject* plugin;
  TMidiMap* map;
  // A controller taken while learning, not yet a binding: 0, or the top bit set with the
  // controller number in bits 8..15 and the parameter in bits 0..7.
  std::atomic<uint32_t> learned{0};
};

// Saves the shared map (if no instance has saved it since it was loaded) and frees it. Runs by
// itself when the module unloads; callable earlier.
void FinalizeMidiAutomation();
