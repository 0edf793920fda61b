// Reader of Dr. Halo CUT images, whose palette lies in a ".pal" file beside them.
#pragma once

#include <string>

#include "GraphicFormats.h"

// Reads 8-bit run-length CUT images. The palette comes from PaletteFile (set by LoadFromFile to
// the file's name with the extension ".pal"); without one the image gets a grey ramp. CUT files
// have no signature, so TestSignature always answers false.
class TCUTGraphic : public TFormatGraphic {
  KBL_DECLARE_CLASS(TCUTGraphic, TFormatGraphic)
 public:
  TCUTGraphic() = default;
  bool TestSignature(TStream& stream) override;
  bool ReadImageInfo(TStream& stream, int32_t imageIndex) override;
  void LoadFromFile(const std::string& fileName) override;
  void LoadFromStream(TStream& stream) override;

  // The palette file used by the next stream load ("" for none).
  std::string PaletteFile;

 private:
  // The palette file's entries; empty when it cannot be opened.
  TPaletteEntries ReadPaletteFile() const;
};
