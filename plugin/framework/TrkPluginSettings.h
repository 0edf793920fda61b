// The plug-in's fixed configuration (names, counts, flags, editor size) and the two module-wide
// folders: the folder of the plug-in module and the per-user data folder.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/SysUtils.h"
#include "classlib/System.h"

// Raised by GetUserDataFolder with "Couldn't find application data folder." or "Couldn't create
// application data folder.".
KBL_DECLARE_EXCEPTION(EDataFolderError, Exception);

// The configuration. The constructor gives the class defaults; GetSettings puts in the product's
// values when it creates the one instance. Fixed from then on, so any thread may read it.
class TrkPluginSettings : public TObject {
 public:
  std::string name = "Untitled Plug-in";
  std::string vendor = "Pellwright";
  std::string version = "Version 1";
  int32_t parameterCount = 10;
  int32_t programCount = 1;
  int32_t category = 0;         // VST 2 plug-in category
  std::string uniqueId = "Plug";  // four characters
  bool midiIn = true;
  bool midiOut = false;
  bool noEditor = true;
  bool programsAreChunks = false;
  bool synth = false;           // an instrument: outputs are zeroed before each block
  int32_t inputs = 2;
  int32_t outputs = 2;
  uint8_t processMode = 0;      // 0 and 2: split at MIDI events; 1: whole block
  bool saveMidiMapOnExit = false;
  int32_t editorWidth = 200;    // pixels
  int32_t editorHeight = 200;
  bool bypassAllowed = false;
};

// Any thread. The settings object, created on first use with the product values ("Tarvik",
// "Pellwright", "1.0", 12 parameters and programs, "qz37", editor 450 × 495, ...); lives until
// the module unloads.
TrkPluginSettings& GetSettings();
TrkPluginSettings& GetPluginSettings();

// --- Folders

// The separator of folder levels: a backslash on Windows.
extern const char kPathDelimiter;

// Any thread. The folder of the plug-in module, asked of the system each call, with a trailing
// delimiter; empty when the system does not tell.
std::string GetDllPath();

// Any thread. The per-user application-data folder with vendor, product and version appended as
// levels, each created when missing; with a trailing delimiter. Raises EDataFolderError when the
// system has no application-data folder or a level cannot be created.
std::string GetUserDataFolder(const std::string& vendor, const std::string& product,
                              const std::string& version);

// As GetUserDataFolder below a given base folder (which must exist).
std::string BuildDataFolder(const std::string& base, const std::string& vendor,
                            const std::string& product, const std::string& version);

// Any thread. The module's folder and the product's data folder, resolved on first use (never
// while the module loads) and then fixed. A data folder that cannot be found or made is left
// empty, its message kept in DataFolderError; users of the folder then skip their work.
const std::string& DllPath();
const std::string& DataFolder();
const std::string& DataFolderError();
