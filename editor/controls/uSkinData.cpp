// Loading the skin images.
#include "uSkinData.h"

#include <memory>

#include "classlib/ResourceStream.h"
#include "detail/zel_platform_p.h"
#include "plugin/framework/TrkPluginSettings.h"

namespace {

std::string WithDelimiter(std::string folder) {
  if (!folder.empty() && folder.back() != kPathDelimiter) folder += kPathDelimiter;
  return folder;
}

}  // namespace

std::string SkinsFolderOf(const std::string& pluginFolder) {
  return WithDelimiter(pluginFolder) + "Tarvik Data" + kPathDelimiter + "Skins" + kPathDelimiter;
}

TSkinData::TSkinData() : TSkinData(GetDllPath()) {}

TSkinData::TSkinData(const std::string& pluginFolder) : SkinsFolder(SkinsFolderOf(pluginFolder)) {
  try {
    Load();
  } catch (...) {
    FreeImages();
    throw;
  }
}

TSkinData::~TSkinData() { FreeImages(); }

std::string TSkinData::DefaultSkinFolder() const { return SkinsFolder + "Reliable" + kPathDelimiter; }

bool TSkinData::FromFile(const std::string& fileName) const {
  return fromFiles_.find("|" + fileName + "|") != std::string::npos;
}

void TSkinData::Load() {
  Knob = LoadImage("Knob.png", "KNOB");
  RecordOn = LoadImage("RecordOn.png", "RECORDON");
  RecordOff = LoadImage("RecordOff.png", "RECORDOFF");
  Background = LoadImage("Background.png", "BACKGROUND");
  PlayOn = LoadImage("PlayOn.png", "PLAYON");
  PlayOff = LoadImage("PlayOff.png", "PLAYOFF");
  FixedOn = LoadImage("FixedOn.png", "FIXEDON");
  FixedOff = LoadImage("FixedOff.png", "FIXEDOFF");
  SlaveOn = LoadImage("SlaveOn.png", "SLAVEON");
  SlaveOff = LoadImage("SlaveOff.png", "SLAVEOFF");
}

// Each image falls back on its own: a skin folder may replace any subset of the ten files.
TvgBitmap* TSkinData::LoadImage(const std::string& fileName, const std::string& resourceName) {
  auto bitmap = std::make_unique<TvgBitmap>(1, 1);
  const std::string path = DefaultSkinFolder() + fileName;
  // A file that is there but does not decode counts as missing: a broken skin file must not keep
  // the editor from opening, nor show a 1 x 1 image.
  if (zel_detail::PlatformFileExists(path) && bitmap->LoadFromFile(path)) {
    fromFiles_ += "|" + fileName + "|";
    return bitmap.release();
  }
  TResourceStream stream(resourceName);
  if (!bitmap->LoadFromStream(stream)) throw Exception("Cannot read the skin image resource " + resourceName);
  return bitmap.release();
}

void TSkinData::FreeImages() {
  for (TvgBitmap** image : {&Knob, &RecordOff, &RecordOn, &PlayOn, &PlayOff, &FixedOn, &FixedOff, &SlaveOn,
                            &SlaveOff, &Background}) {
    delete *image;
    *image = nullptr;
  }
}
