// The file format list and the library's start-up and shut-down registrations.
#include "GraphicFileFormats.h"

#include "GraphicAutodesk.h"
#include "GraphicCUT.h"
#include "GraphicPCD.h"
#include "GraphicPCX.h"
#include "GraphicPNG.h"
#include "GraphicPPM.h"
#include "GraphicPSD.h"
#include "GraphicPSP.h"
#include "GraphicRLA.h"
#include "GraphicSGI.h"
#include "GraphicStrings.h"
#include "GraphicTIFF.h"
#include "GraphicTarga.h"
#include "classlib/Jpeg.h"

using namespace GraphicStrings;

namespace {

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool SameExtension(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

std::unique_ptr<TFileFormatList> g_list;

}  // namespace

TFileFormatList::~TFileFormatList() { Clear(); }

void TFileFormatList::Clear() {
  for (auto& entry : classes_) TPicture::UnregisterGraphicClass(entry->GraphicClass);
  classes_.clear();
  formats_.clear();
}

int32_t TFileFormatList::FindExtension(const std::string& extension) const {
  if (extension.empty()) return -1;
  for (size_t i = 0; i < formats_.size(); ++i)
    if (SameExtension(formats_[i]->Extension, extension)) return static_cast<int32_t>(i);
  return -1;
}

int32_t TFileFormatList::FindGraphicClass(const TClassInfo* graphicClass) const {
  for (size_t i = 0; i < classes_.size(); ++i)
    if (classes_[i]->GraphicClass == graphicClass) return static_cast<int32_t>(i);
  return -1;
}

TFileFormatList::TClassEntry* TFileFormatList::Link(TExtensionEntry& entry,
                                                    const std::string& common,
                                                    const TClassInfo* graphicClass) {
  int32_t index = FindGraphicClass(graphicClass);
  TClassEntry* classEntry;
  if (index < 0) {
    classes_.push_back(std::make_unique<TClassEntry>());
    classEntry = classes_.back().get();
    classEntry->GraphicClass = graphicClass;
  } else {
    classEntry = classes_[static_cast<size_t>(index)].get();
  }
  if (!common.empty()) classEntry->Description = common;
  ++classEntry->Count;
  entry.ClassEntry = classEntry;
  return classEntry;
}

void TFileFormatList::RemoveClassEntry(TClassEntry* entry) {
  for (auto it = classes_.begin(); it != classes_.end(); ++it) {
    if (it->get() == entry) {
      classes_.erase(it);
      return;
    }
  }
}

void TFileFormatList::RegisterFileFormat(const std::string& extension, const std::string& common,
                                         const std::string& individual, uint8_t kinds,
                                         bool replace, const TClassInfo* graphicClass) {
  if (extension.empty()) return;
  int32_t index = FindExtension(extension);
  TExtensionEntry* entry;
  if (index < 0) {
    formats_.push_back(std::make_unique<TExtensionEntry>());
    entry = formats_.back().get();
    entry->Extension = extension;
    entry->Description = individual;
    entry->Kinds = kinds;
    Link(*entry, common, graphicClass);
  } else if (replace) {
    entry = formats_[static_cast<size_t>(index)].get();
    TClassEntry* old = entry->ClassEntry;
    if (old->GraphicClass != graphicClass) {
      Link(*entry, common, graphicClass);
      if (--old->Count == 0) {
        // The old class has no formats left: it leaves the list and the picture registry.
        TPicture::UnregisterGraphicClass(old->GraphicClass);
        RemoveClassEntry(old);
      }
    }
  } else {
    throw EInvalidGraphic(FormatMessage(gesRegistration, {extension}));
  }
  std::string description =
      entry->Description.empty() ? entry->ClassEntry->Description : entry->Description;
  TPicture::RegisterFileFormat(extension, description, graphicClass);
}

void TFileFormatList::UnregisterFileFormat(const std::string& extension,
                                           const TClassInfo* graphicClass) {
  if (!extension.empty()) {
    int32_t index = FindExtension(extension);
    if (index < 0) return;
    TExtensionEntry* entry = formats_[static_cast<size_t>(index)].get();
    TClassEntry* classEntry = entry->ClassEntry;
    if (--classEntry->Count == 0) {
      TPicture::UnregisterGraphicClass(classEntry->GraphicClass);
      RemoveClassEntry(classEntry);
    } else {
      // Only this extension leaves the picture registry; the class keeps its others.
      TPicture::UnregisterFileFormat(entry->Extension);
    }
    formats_.erase(formats_.begin() + index);
    return;
  }
  int32_t classIndex = FindGraphicClass(graphicClass);
  if (classIndex < 0) throw EListError("List index out of bounds (-1)");
  TClassEntry* classEntry = classes_[static_cast<size_t>(classIndex)].get();
  for (int32_t i = FormatCount() - 1; i >= 0 && classEntry->Count > 0; --i) {
    if (formats_[static_cast<size_t>(i)]->ClassEntry == classEntry) {
      formats_.erase(formats_.begin() + i);
      --classEntry->Count;
    }
  }
  TPicture::UnregisterGraphicClass(graphicClass);
  RemoveClassEntry(classEntry);
}

// --- Start-up and shut-down

TFileFormatList* FileFormatList() { return g_list.get(); }

void RegisterImageFormats() {
  if (g_list) return;
  g_list = std::make_unique<TFileFormatList>();
  TFileFormatList& l = *g_list;
  const TClassInfo* bitmap = TBitmap::StaticClassInfo();
  const TClassInfo* jpeg = TJPEGImage::StaticClassInfo();
  const TClassInfo* targa = TTargaGraphic::StaticClassInfo();
  l.RegisterFileFormat("bmp", "Windows bitmaps", "", fkRaster, false, bitmap);
  l.RegisterFileFormat("ico", "Windows icons", "", fkRaster, false, TIcon::StaticClassInfo());
  l.RegisterFileFormat("wmf", "Windows metafiles", "", fkVector, false,
                       TMetafile::StaticClassInfo());
  l.RegisterFileFormat("emf", "Windows metafiles", "Windows enhanced meta files", fkVector, false,
                       TMetafile::StaticClassInfo());
  l.RegisterFileFormat("jfif", "JPG images", "JFIF images", fkRaster, false, jpeg);
  l.RegisterFileFormat("jpg", "", "JPG images", fkRaster, false, jpeg);
  l.RegisterFileFormat("jpe", "", "JPE images", fkRaster, false, jpeg);
  l.RegisterFileFormat("jpeg", "", "JPEG images", fkRaster, false, jpeg);
  l.RegisterFileFormat("rle", "Windows bitmaps", "Run length encoded Windows bitmaps", fkRaster,
                       false, bitmap);
  l.RegisterFileFormat("dib", "", "Device independant Windows bitmaps", fkRaster, false, bitmap);
  l.RegisterFileFormat("win", "Truevision images", "", fkRaster, false, targa);
  l.RegisterFileFormat("vst", "", "", fkRaster, false, targa);
  l.RegisterFileFormat("vda", "", "", fkRaster, false, targa);
  l.RegisterFileFormat("tga", "", "", fkRaster, false, targa);
  l.RegisterFileFormat("icb", "", "", fkRaster, false, targa);
  const TClassInfo* tiff = TTIFFGraphic::StaticClassInfo();
  l.RegisterFileFormat("tiff", "Tagged image file format images", "Macintosh TIFF images",
                       fkRaster | fkMultiImage, false, tiff);
  l.RegisterFileFormat("tif", "", "PC TIF images", fkRaster | fkMultiImage, false, tiff);
  l.RegisterFileFormat("fax", "", "GFI fax images", fkRaster | fkMultiImage, false, tiff);
  l.RegisterFileFormat("eps", "Encapsulated Postscript images", "", fkRaster, false,
                       TEPSGraphic::StaticClassInfo());
  const TClassInfo* pcx = TPCXGraphic::StaticClassInfo();
  l.RegisterFileFormat("pcx", "ZSoft Paintbrush images", "", fkRaster, false, pcx);
  l.RegisterFileFormat("pcc", "", "", fkRaster, false, pcx);
  l.RegisterFileFormat("scr", "", "Word 5.x screen capture images", fkRaster, false, pcx);
  const TClassInfo* rla = TRLAGraphic::StaticClassInfo();
  l.RegisterFileFormat("rpf", "Alias/Wavefront images", "", fkRaster, false, rla);
  l.RegisterFileFormat("rla", "", "", fkRaster, false, rla);
  const TClassInfo* sgi = TSGIGraphic::StaticClassInfo();
  l.RegisterFileFormat("sgi", "SGI images", "SGI true color images", fkRaster, false, sgi);
  l.RegisterFileFormat("rgba", "", "SGI true color images with alpha", fkRaster, false, sgi);
  l.RegisterFileFormat("rgb", "", "SGI true color images", fkRaster, false, sgi);
  l.RegisterFileFormat("bw", "", "SGI black/white images", fkRaster, false, sgi);
  const TClassInfo* psd = TPSDGraphic::StaticClassInfo();
  l.RegisterFileFormat("psd", "Photoshop images", "", fkRaster | fkLayered, false, psd);
  l.RegisterFileFormat("pdd", "", "", fkRaster | fkLayered, false, psd);
  const TClassInfo* ppm = TPPMGraphic::StaticClassInfo();
  l.RegisterFileFormat("ppm", "Portable map images", "Portable pixel map images", fkRaster, false,
                       ppm);
  l.RegisterFileFormat("pgm", "", "Portable gray map images", fkRaster, false, ppm);
  l.RegisterFileFormat("pbm", "", "Portable bitmap images", fkRaster, false, ppm);
  const TClassInfo* autodesk = TAutodeskGraphic::StaticClassInfo();
  l.RegisterFileFormat("cel", "Autodesk images", "", fkRaster, false, autodesk);
  l.RegisterFileFormat("pic", "Autodesk images", "", fkRaster, false, autodesk);
  l.RegisterFileFormat("pcd", "Kodak Photo-CD images", "", fkRaster, false,
                       TPCDGraphic::StaticClassInfo());
  l.RegisterFileFormat("cut", "Dr. Halo images", "", fkRaster, false,
                       TCUTGraphic::StaticClassInfo());
  l.RegisterFileFormat("psp", "Paintshop Pro images", "", fkRaster | fkVector, false,
                       TPSPGraphic::StaticClassInfo());
  l.RegisterFileFormat("png", "Portable network graphic images", "", fkRaster, false,
                       TPNGGraphic::StaticClassInfo());
}

void UnregisterImageFormats() {
  if (!g_list) return;
  TFileFormatList& l = *g_list;
  for (const TClassInfo* cls :
       {TPSPGraphic::StaticClassInfo(), TPSDGraphic::StaticClassInfo(),
        TTargaGraphic::StaticClassInfo(), TTIFFGraphic::StaticClassInfo(),
        TSGIGraphic::StaticClassInfo(), TPCXGraphic::StaticClassInfo(),
        TAutodeskGraphic::StaticClassInfo(), TPCDGraphic::StaticClassInfo(),
        TPPMGraphic::StaticClassInfo(), TCUTGraphic::StaticClassInfo(),
        TRLAGraphic::StaticClassInfo()})
    l.UnregisterFileFormat("", cls);
  l.UnregisterFileFormat("rle", TBitmap::StaticClassInfo());
  l.UnregisterFileFormat("dib", TBitmap::StaticClassInfo());
  l.UnregisterFileFormat("", TPNGGraphic::StaticClassInfo());
  g_list.reset();  // Clear removes the classes still listed from the picture registry
}
