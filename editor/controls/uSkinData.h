// TSkinData: the ten images of the editor's look (knob film strip, background, and the on and off
// images of the four switches), each read from the default skin folder "Reliable" when its file
// is there and otherwise from the module's RCDATA resources (the built-in skin). GUI thread.
#pragma once

#include <string>

#include "scene/core/vg_bitmap.h"

class TSkinData : public TObject {
 public:
  // The skins folder below the plug-in's folder (DllPath). A file that exists but cannot be
  // decoded is passed over for the built-in image. Raises EResNotFound for a missing resource and
  // Exception for a resource that does not decode.
  TSkinData();
  // The same below another plug-in folder (a trailing delimiter is added when missing).
  explicit TSkinData(const std::string& pluginFolder);
  ~TSkinData() override;
  TSkinData(const TSkinData&) = delete;
  TSkinData& operator=(const TSkinData&) = delete;

  // plug-in folder + "Tarvik Data\Skins\".
  std::string SkinsFolder;
  TvgBitmap* Knob = nullptr;
  TvgBitmap* RecordOff = nullptr;
  TvgBitmap* RecordOn = nullptr;
  TvgBitmap* PlayOn = nullptr;
  TvgBitmap* PlayOff = nullptr;
  TvgBitmap* FixedOn = nullptr;
  TvgBitmap* FixedOff = nullptr;
  TvgBitmap* SlaveOn = nullptr;
  TvgBitmap* SlaveOff = nullptr;
  TvgBitmap* Background = nullptr;

  // The default skin folder: SkinsFolder + "Reliable\".
  std::string DefaultSkinFolder() const;
  // Which images came from files (true) rather than resources, by file name ("Knob.png").
  bool FromFile(const std::string& fileName) const;

 private:
  void Load();
  TvgBitmap* LoadImage(const std::string& fileName, const std::string& resourceName);
  void FreeImages();

  std::string fromFiles_;
};

// The folders of the skins, below a plug-in folder; both end with a path delimiter.
std::string SkinsFolderOf(const std::string& pluginFolder);
