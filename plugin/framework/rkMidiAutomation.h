// The MIDI controller map shared by every plug-in instance in the process, kept in
// "Midi Map.xml" in the user's data folder, and each instance's access to it.
#pragma once

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

// An ordered list of bindings. GUI thread only; no lock.
class TMidiMap : public TObject {
 public:
  int32_t Count() const { return static_cast<int32_t>(bindings_.size()); }
  // Appends a binding; answers its index.
  int32_t Add(uint8_t midiCC, int32_t parameterID, uint8_t automationType, const std::string& parameterName);
  // Raises EListError for an index outside 0 .. Count − 1.
  void Delete(int32_t i);
  void Clear();
  const TMidiBinding& GetBinding(int32_t i) const;
  // Index of the first binding with both values, −1 when none.
  int32_t FindBinding(int32_t parameterID, uint8_t automationType) const;

  // Writes the map as indented UTF-8 XML with CR LF line ends. The file is written beside the
  // target under a temporary name and then put in its place, so a failed save leaves the old
  // file as it was. Raises on failure.
  void SaveToXmlFile(const std::string& fileName) const;
  // Appends the bindings of the file. Raises the XML library's errors for unreadable text and
  // EMidiMapError for a file that is no MIDI map; elements lacking an attribute are skipped.
  void LoadFromXmlFile(const std::string& fileName);

 private:
  void CheckIndex(int32_t i) const;
  std::vector<TMidiBinding> bindings_;
};

// One plug-in's access to the shared map. The first one created in the process creates the map
// and loads it from the data folder; when the last one is destroyed the map is saved back (when
// the settings ask for it, the data folder exists and the file was read without error).
class TMidiAutomation : public TObject {
 public:
  using TSetParameter = TMethod<void(int32_t, float)>;

  TMidiAutomation(TObject* plugin, TSetParameter setParameter);
  ~TMidiAutomation() override;

  TMidiMap& Map() { return *map; }
  // Removes the binding of that parameter and type, if there is one.
  void Unlearn(int32_t parameterID, uint8_t automationType);

  // The reason the map file could not be read, empty when it was read or did not exist.
  static std::string LoadError();
  // "Midi Map.xml" in the data folder; empty when there is no data folder.
  static std::string MapFileName();

 private:
  bool learning = false;
  TSetParameter setParameter;
  TObject* plugin;
  TMidiMap* map;
};

// Saves the shared map (if no instance has saved it since it was loaded) and frees it. Runs by
// itself when the module unloads; callable earlier.
void FinalizeMidiAutomation();
