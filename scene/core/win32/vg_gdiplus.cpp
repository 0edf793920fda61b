// The GDI+ binding: loading gdiplus.dll by name, start and stop, encoder lookup and the wrappers.
#include "vg_gdiplus.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "vg_canvas.h"
#include "vg_canvas_gdiplus.h"
#include "vg_filter_gdiplus.h"

namespace vg_gdip {

namespace {

GdiplusApi g_api;
HMODULE g_library = nullptr;
uintptr_t g_token = 0;
std::string g_libraryPath;
// The generic objects handed out by the wrapper layer; only the sans-serif family is asked for.
GpHandle g_genericSansSerif = nullptr;
// The installed family chosen when no generic family exists: a clone owned here.
GpHandle g_installedSansSerif = nullptr;

}  // namespace

const GdiplusApi& Api() { return g_api; }

}  // namespace vg_gdip

using namespace vg_gdip;

namespace {

const char kLibraryName[] = "gdiplus.dll";

bool FileExistsA(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The host's own folder, with its trailing delimiter.
std::string HostFolder() {
  char path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path, n);
  const size_t cut = s.find_last_of("\\/:");
  return cut == std::string::npos ? std::string() : s.substr(0, cut + 1);
}

void ResolveEntries() {
#define VG_GDIP_RESOLVE(name, result, params) \
  g_api.name = reinterpret_cast<decltype(g_api.name)>(reinterpret_cast<void*>(GetProcAddress(g_library, #name)));
  VG_GDIP_FUNCTIONS(VG_GDIP_RESOLVE)
#undef VG_GDIP_RESOLVE
}

void LoadLibraryFromFolders() {
  const std::string folder = HostFolder();
  const std::string candidates[] = {folder + kLibraryName, folder + "..\\" + kLibraryName,
                                    folder + "..\\projects\\bpl\\" + kLibraryName, folder + "..\\..\\" + kLibraryName};
  std::string chosen = kLibraryName;
  for (const std::string& candidate : candidates) {
    if (FileExistsA(candidate)) {
      chosen = candidate;
      break;
    }
  }
  g_library = LoadLibraryA(chosen.c_str());
  if (!g_library) return;
  char path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(g_library, path, MAX_PATH);
  g_libraryPath.assign(path, n);
  ResolveEntries();
}

void Unload() {
  if (g_library) FreeLibrary(g_library);
  g_library = nullptr;
  g_api = GdiplusApi();
  g_libraryPath.clear();
  g_token = 0;
}

// Start-up installs the classes; the finaliser must not shut GDI+ down from inside the loader
// (GDI+ may not be shut down from DllMain: its background thread would wait on the loader lock),
// so at unload it only lets go of what it can without calling into GDI+.
struct TGdiPlusUnit {
  TGdiPlusUnit() { vgInstallGdiPlusClasses(); }
  ~TGdiPlusUnit() {
    if (g_library) {
      g_genericSansSerif = nullptr;
      g_installedSansSerif = nullptr;
      g_api = GdiplusApi();
    }
  }
} g_unit;

}  // namespace

void vgInstallGdiPlusClasses() {
  vgSetDefaultFilterClass(TvgFilterGdiPlus::StaticClassInfo());
  if (!vgDefaultCanvasClass()) vgSetDefaultCanvasClass(vgCanvasClassOf<TvgCanvasGdiPlus>());
}

void StartGdiPlus() {
  vgInstallGdiPlusClasses();
  if (g_library) return;
  LoadLibraryFromFolders();
  if (!g_library) return;
  GdiplusStartupInput input = {};
  input.GdiplusVersion = 1;
  if (!g_api.GdiplusStartup || g_api.GdiplusStartup(&g_token, &input, nullptr) != Ok) {
    // A library that cannot start is no use: drop it so that every call answers "not initialised".
    Unload();
  }
}

void StopGdiPlus() {
  if (!g_library) return;
  vgReleaseBitmapHandles();
  if (g_genericSansSerif) VG_GDIP(GdipDeleteFontFamily, g_genericSansSerif);
  g_genericSansSerif = nullptr;
  if (g_installedSansSerif) VG_GDIP(GdipDeleteFontFamily, g_installedSansSerif);
  g_installedSansSerif = nullptr;
  if (g_api.GdiplusShutdown) g_api.GdiplusShutdown(g_token);
  Unload();
}

bool GdiPlusStarted() { return g_library != nullptr; }

std::string GdiPlusLibraryPath() { return g_libraryPath; }

int32_t GetEncoderClsid(const std::string& mimeType, GpGuid& clsid) {
  uint32_t count = 0, size = 0;
  if (VG_GDIP(GdipGetImageEncodersSize, &count, &size) != Ok || size == 0) return -1;
  std::vector<uint8_t> block;
  try {
    block.resize(size);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  auto* info = reinterpret_cast<GpImageCodecInfo*>(block.data());
  if (VG_GDIP(GdipGetImageEncoders, count, size, info) != Ok) return -1;
  const uint32_t fit = size / sizeof(GpImageCodecInfo);
  if (count > fit) count = fit;
  int32_t found = -1;
  for (uint32_t i = 0; i < count; ++i) {
    std::string mime;
    for (const char16_t* p = info[i].MimeType; p && *p; ++p) mime.push_back(*p < 0x80 ? char(*p) : '?');
    if (mime == mimeType) {
      clsid = info[i].Clsid;
      found = static_cast<int32_t>(i);
    }
  }
  return found;
}

// --- Wrapper objects

namespace vg_gdip {

// GDI+'s heap when it is loaded, the ordinary one otherwise (wrappers then answer "not
// initialised" to every call). A header records which heap a block came from, so that a block
// outliving the library is still given back to the right one.
namespace {
constexpr size_t kHeader = 16;
constexpr uint32_t kFromGdiPlus = 0x47445021;
constexpr uint32_t kFromHeap = 0x48454150;
}  // namespace

void* TGdiplusBase::operator new(size_t size) {
  uint8_t* block = nullptr;
  uint32_t tag = kFromGdiPlus;
  if (g_api.GdipAlloc && g_api.GdipFree) block = static_cast<uint8_t*>(g_api.GdipAlloc(size + kHeader));
  if (!block) {
    tag = kFromHeap;
    block = static_cast<uint8_t*>(::operator new(size + kHeader));
  }
  std::memcpy(block, &tag, sizeof(tag));
  return block + kHeader;
}

void TGdiplusBase::operator delete(void* p) {
  if (!p) return;
  uint8_t* block = static_cast<uint8_t*>(p) - kHeader;
  uint32_t tag = 0;
  std::memcpy(&tag, block, sizeof(tag));
  if (tag == kFromHeap) {
    ::operator delete(block);
  } else if (g_api.GdipFree) {
    g_api.GdipFree(block);
  }
  // else: GDI+'s heap went with the library.
}

// Region

TGPRegion::TGPRegion() { lastResult_ = VG_GDIP(GdipCreateRegion, &handle_); }
TGPRegion::TGPRegion(GpHandle path) { lastResult_ = VG_GDIP(GdipCreateRegionPath, path, &handle_); }
TGPRegion::~TGPRegion() {
  if (handle_) VG_GDIP(GdipDeleteRegion, handle_);
}
TGPRegion* TGPRegion::Adopt(GpHandle handle) {
  auto* r = new TGPRegion(AdoptTag{});
  r->handle_ = handle;
  return r;
}
GpStatus TGPRegion::MakeEmpty() { return SetStatus(VG_GDIP(GdipSetEmpty, handle_)); }
GpStatus TGPRegion::Union(const GpRectF& r) { return SetStatus(VG_GDIP(GdipCombineRegionRect, handle_, &r, 2)); }
GpStatus TGPRegion::GetBounds(GpRectF& r, GpHandle graphics) {
  return SetStatus(VG_GDIP(GdipGetRegionBounds, handle_, graphics, &r));
}

// Fonts

TGPPrivateFontCollection::TGPPrivateFontCollection() {
  lastResult_ = VG_GDIP(GdipNewPrivateFontCollection, &handle_);
}
TGPPrivateFontCollection::~TGPPrivateFontCollection() {
  if (handle_) VG_GDIP(GdipDeletePrivateFontCollection, &handle_);
}
GpStatus TGPPrivateFontCollection::AddMemoryFont(const void* memory, int32_t length) {
  return SetStatus(VG_GDIP(GdipPrivateAddMemoryFont, handle_, memory, length));
}

TGPFontFamily::TGPFontFamily(const std::u16string& name, TGPFontCollection* collection) {
  lastResult_ = VG_GDIP(GdipCreateFontFamilyFromName, name.c_str(), collection ? collection->Handle() : nullptr,
                        &handle_);
  if (lastResult_ != Ok) handle_ = nullptr;
}
TGPFontFamily::~TGPFontFamily() {
  if (handle_) VG_GDIP(GdipDeleteFontFamily, handle_);
}
bool TGPFontFamily::IsStyleAvailable(int32_t style) {
  BOOL32 available = 0;
  if (SetStatus(VG_GDIP(GdipIsStyleAvailable, handle_, style, &available)) != Ok) return false;
  return available != 0;
}
TGPFontFamily* TGPFontFamily::CloneGenericSansSerif() {
  if (!g_genericSansSerif && VG_GDIP(GdipGetGenericFontFamilySansSerif, &g_genericSansSerif) != Ok)
    g_genericSansSerif = nullptr;
  auto* family = new TGPFontFamily();
  family->lastResult_ = VG_GDIP(GdipCloneFontFamily, g_genericSansSerif, &family->handle_);
  if (family->lastResult_ != Ok) family->handle_ = nullptr;
  return family;
}

namespace {

std::u16string FamilyName(GpHandle family) {
  char16_t name[33] = {};  // LF_FACESIZE characters and a terminator
  if (VG_GDIP(GdipGetFamilyName, family, name, 0) != Ok) return {};
  name[32] = 0;
  return name;
}

// Picks the sans-serif face among the installed families; nullptr when there are none.
GpHandle ChooseInstalledSansSerif() {
  GpHandle collection = nullptr;  // GDI+'s own object: never deleted
  int32_t count = 0;
  if (VG_GDIP(GdipNewInstalledFontCollection, &collection) != Ok || !collection) return nullptr;
  if (VG_GDIP(GdipGetFontCollectionFamilyCount, collection, &count) != Ok || count <= 0) return nullptr;
  std::vector<GpHandle> families(static_cast<size_t>(count));
  int32_t found = 0;
  if (VG_GDIP(GdipGetFontCollectionFamilyList, collection, count, families.data(), &found) != Ok || found <= 0)
    return nullptr;
  families.resize(static_cast<size_t>(std::min(found, count)));
  std::vector<std::u16string> names;
  for (GpHandle f : families) names.push_back(FamilyName(f));
  for (const char16_t* preferred : {u"Tahoma", u"Verdana", u"Arial", u"Liberation Sans", u"DejaVu Sans",
                                    u"Noto Sans", u"FreeSans", u"Microsoft Sans Serif"})
    for (size_t i = 0; i < names.size(); ++i)
      if (names[i] == preferred) return families[i];
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i].find(u"Sans") != std::u16string::npos && names[i].find(u"Mono") == std::u16string::npos)
      return families[i];
  return families.front();
}

}  // namespace

TGPFontFamily* TGPFontFamily::CloneInstalledSansSerif() {
  if (!g_installedSansSerif) {
    GpHandle chosen = ChooseInstalledSansSerif();
    if (chosen && VG_GDIP(GdipCloneFontFamily, chosen, &g_installedSansSerif) != Ok) g_installedSansSerif = nullptr;
  }
  auto* family = new TGPFontFamily();
  family->lastResult_ = VG_GDIP(GdipCloneFontFamily, g_installedSansSerif, &family->handle_);
  if (family->lastResult_ != Ok) family->handle_ = nullptr;
  return family;
}

std::u16string TGPFontFamily::Name() { return handle_ ? FamilyName(handle_) : std::u16string(); }

TGPFont::TGPFont(TGPFontFamily* family, float emSize, int32_t style, int32_t unit) {
  lastResult_ = VG_GDIP(GdipCreateFont, family ? family->Handle() : nullptr, emSize, style, unit, &handle_);
  if (lastResult_ != Ok) handle_ = nullptr;
}
TGPFont::~TGPFont() {
  if (handle_) VG_GDIP(GdipDeleteFont, handle_);
}

// Images

TGPImage::TGPImage(void* stream, bool icm) {
  lastResult_ = icm ? VG_GDIP(GdipLoadImageFromStreamICM, stream, &handle_)
                    : VG_GDIP(GdipLoadImageFromStream, stream, &handle_);
  if (lastResult_ != Ok) handle_ = nullptr;
}
TGPImage::~TGPImage() {
  if (handle_) VG_GDIP(GdipDisposeImage, handle_);
}
uint32_t TGPImage::GetWidth() {
  uint32_t w = 0;
  SetStatus(VG_GDIP(GdipGetImageWidth, handle_, &w));
  return w;
}
uint32_t TGPImage::GetHeight() {
  uint32_t h = 0;
  SetStatus(VG_GDIP(GdipGetImageHeight, handle_, &h));
  return h;
}
float TGPImage::GetHorizontalResolution() {
  float r = 0;
  SetStatus(VG_GDIP(GdipGetImageHorizontalResolution, handle_, &r));
  return r;
}
float TGPImage::GetVerticalResolution() {
  float r = 0;
  SetStatus(VG_GDIP(GdipGetImageVerticalResolution, handle_, &r));
  return r;
}
TGPImage* TGPImage::GetThumbnailImage(uint32_t width, uint32_t height) {
  GpHandle thumb = nullptr;
  if (SetStatus(VG_GDIP(GdipGetImageThumbnail, handle_, width, height, &thumb, nullptr, nullptr)) != Ok || !thumb)
    return nullptr;
  auto* image = new TGPImage();
  image->handle_ = thumb;
  return image;
}
GpStatus TGPImage::RotateFlip(int32_t type) { return SetStatus(VG_GDIP(GdipImageRotateFlip, handle_, type)); }
GpStatus TGPImage::Save(const std::u16string& fileName, const GpGuid& clsid, const void* params) {
  return SetStatus(VG_GDIP(GdipSaveImageToFile, handle_, fileName.c_str(), &clsid, params));
}
GpStatus TGPImage::Save(void* stream, const GpGuid& clsid, const void* params) {
  return SetStatus(VG_GDIP(GdipSaveImageToStream, handle_, stream, &clsid, params));
}

TGPBitmap::TGPBitmap(void* stream, bool icm, int) {
  lastResult_ = icm ? VG_GDIP(GdipCreateBitmapFromStreamICM, stream, &handle_)
                    : VG_GDIP(GdipCreateBitmapFromStream, stream, &handle_);
  if (lastResult_ != Ok) handle_ = nullptr;
}
TGPBitmap::TGPBitmap(int32_t width, int32_t height, int32_t stride, int32_t format, void* scan0) {
  lastResult_ = VG_GDIP(GdipCreateBitmapFromScan0, width, height, stride, format, static_cast<uint8_t*>(scan0),
                        &handle_);
  if (lastResult_ != Ok) handle_ = nullptr;
}
GpStatus TGPBitmap::LockBits(const GpRect& r, uint32_t flags, int32_t format, GpBitmapData& data) {
  return SetStatus(VG_GDIP(GdipBitmapLockBits, handle_, &r, flags, format, &data));
}
GpStatus TGPBitmap::UnlockBits(GpBitmapData& data) { return SetStatus(VG_GDIP(GdipBitmapUnlockBits, handle_, &data)); }
GpStatus TGPBitmap::SetResolution(float x, float y) {
  return SetStatus(VG_GDIP(GdipBitmapSetResolution, handle_, x, y));
}

TGPImageAttributes::TGPImageAttributes() { lastResult_ = VG_GDIP(GdipCreateImageAttributes, &handle_); }
TGPImageAttributes::~TGPImageAttributes() {
  if (handle_) VG_GDIP(GdipDisposeImageAttributes, handle_);
}
GpStatus TGPImageAttributes::SetColorMatrix(const GpColorMatrix& m, int32_t flags, int32_t type) {
  return SetStatus(VG_GDIP(GdipSetImageAttributesColorMatrix, handle_, type, 1, &m, nullptr, flags));
}

// Matrix

TGPMatrix::TGPMatrix(float m11, float m12, float m21, float m22, float dx, float dy) {
  lastResult_ = VG_GDIP(GdipCreateMatrix2, m11, m12, m21, m22, dx, dy, &handle_);
}
TGPMatrix::~TGPMatrix() {
  if (handle_) VG_GDIP(GdipDeleteMatrix, handle_);
}
GpStatus TGPMatrix::Shear(float x, float y, int32_t order) {
  return SetStatus(VG_GDIP(GdipShearMatrix, handle_, x, y, order));
}

// Brushes

TGPBrush::~TGPBrush() {
  if (handle_) VG_GDIP(GdipDeleteBrush, handle_);
}
TGPBrush* TGPBrush::Clone() {
  auto* copy = new TGPBrush();
  copy->lastResult_ = VG_GDIP(GdipCloneBrush, handle_, &copy->handle_);
  return copy;
}

TGPSolidBrush::TGPSolidBrush(ARGB color) { lastResult_ = VG_GDIP(GdipCreateSolidFill, color, &handle_); }

TGPTextureBrush::TGPTextureBrush(TGPImage* image, int32_t wrapMode) {
  lastResult_ = VG_GDIP(GdipCreateTexture, image->Handle(), wrapMode, &handle_);
}
TGPTextureBrush::TGPTextureBrush(TGPImage* image, const GpRectF& r, TGPImageAttributes* attributes) {
  lastResult_ = VG_GDIP(GdipCreateTextureIA, image->Handle(), attributes ? attributes->Handle() : nullptr, r.X, r.Y,
                        r.Width, r.Height, &handle_);
}
GpStatus TGPTextureBrush::ScaleTransform(float sx, float sy, int32_t order) {
  return SetStatus(VG_GDIP(GdipScaleTextureTransform, handle_, sx, sy, order));
}
GpStatus TGPTextureBrush::SetWrapMode(int32_t mode) { return SetStatus(VG_GDIP(GdipSetTextureWrapMode, handle_, mode)); }

TGPLinearGradientBrush::TGPLinearGradientBrush(const GpPointF& p1, const GpPointF& p2, ARGB c1, ARGB c2,
                                               int32_t wrapMode) {
  lastResult_ = VG_GDIP(GdipCreateLineBrush, &p1, &p2, c1, c2, wrapMode, &handle_);
}
GpStatus TGPLinearGradientBrush::SetInterpolationColors(const ARGB* colors, const float* positions, int32_t count) {
  return SetStatus(VG_GDIP(GdipSetLinePresetBlend, handle_, colors, positions, count));
}
GpStatus TGPLinearGradientBrush::ScaleTransform(float sx, float sy, int32_t order) {
  return SetStatus(VG_GDIP(GdipScaleLineTransform, handle_, sx, sy, order));
}
GpStatus TGPLinearGradientBrush::SetWrapMode(int32_t mode) {
  return SetStatus(VG_GDIP(GdipSetLineWrapMode, handle_, mode));
}

TGPPathGradientBrush::TGPPathGradientBrush(TGPGraphicsPath* path) {
  lastResult_ = VG_GDIP(GdipCreatePathGradientFromPath, path->Handle(), &handle_);
}
GpStatus TGPPathGradientBrush::SetInterpolationColors(const ARGB* colors, const float* positions, int32_t count) {
  return SetStatus(VG_GDIP(GdipSetPathGradientPresetBlend, handle_, colors, positions, count));
}
GpStatus TGPPathGradientBrush::SetTransform(TGPMatrix* matrix) {
  return SetStatus(VG_GDIP(GdipSetPathGradientTransform, handle_, matrix->Handle()));
}
GpStatus TGPPathGradientBrush::SetWrapMode(int32_t mode) {
  return SetStatus(VG_GDIP(GdipSetPathGradientWrapMode, handle_, mode));
}

// Pen

TGPPen::TGPPen(ARGB color, float width) { lastResult_ = VG_GDIP(GdipCreatePen1, color, width, 0, &handle_); }
TGPPen::TGPPen(TGPBrush* brush, float width) {
  lastResult_ = VG_GDIP(GdipCreatePen2, brush ? brush->Handle() : nullptr, width, 0, &handle_);
}
TGPPen::~TGPPen() {
  if (handle_) VG_GDIP(GdipDeletePen, handle_);
}
GpStatus TGPPen::SetWidth(float width) { return SetStatus(VG_GDIP(GdipSetPenWidth, handle_, width)); }
GpStatus TGPPen::SetLineCap(int32_t start, int32_t end, int32_t dash) {
  return SetStatus(VG_GDIP(GdipSetPenLineCap197819, handle_, start, end, dash));
}
GpStatus TGPPen::SetLineJoin(int32_t join) { return SetStatus(VG_GDIP(GdipSetPenLineJoin, handle_, join)); }
GpStatus TGPPen::SetDashStyle(int32_t style) { return SetStatus(VG_GDIP(GdipSetPenDashStyle, handle_, style)); }
GpStatus TGPPen::SetDashOffset(float offset) { return SetStatus(VG_GDIP(GdipSetPenDashOffset, handle_, offset)); }
GpStatus TGPPen::SetDashPattern(const float* values, int32_t count) {
  return SetStatus(VG_GDIP(GdipSetPenDashArray, handle_, values, count));
}

// String format

TGPStringFormat::TGPStringFormat(int32_t flags) { lastResult_ = VG_GDIP(GdipCreateStringFormat, flags, 0, &handle_); }
TGPStringFormat::~TGPStringFormat() {
  if (handle_) VG_GDIP(GdipDeleteStringFormat, handle_);
}
int32_t TGPStringFormat::GetFormatFlags() {
  int32_t flags = 0;
  SetStatus(VG_GDIP(GdipGetStringFormatFlags, handle_, &flags));
  return flags;
}
GpStatus TGPStringFormat::SetFormatFlags(int32_t flags) {
  return SetStatus(VG_GDIP(GdipSetStringFormatFlags, handle_, flags));
}
GpStatus TGPStringFormat::SetAlignment(int32_t align) { return SetStatus(VG_GDIP(GdipSetStringFormatAlign, handle_, align)); }
GpStatus TGPStringFormat::SetLineAlignment(int32_t align) {
  return SetStatus(VG_GDIP(GdipSetStringFormatLineAlign, handle_, align));
}
GpStatus TGPStringFormat::SetMeasurableCharacterRanges(int32_t count, const GpCharacterRange* ranges) {
  return SetStatus(VG_GDIP(GdipSetStringFormatMeasurableCharacterRanges, handle_, count, ranges));
}
int32_t TGPStringFormat::GetMeasurableCharacterRangeCount() {
  int32_t count = 0;
  SetStatus(VG_GDIP(GdipGetStringFormatMeasurableCharacterRangeCount, handle_, &count));
  return count;
}

// Path

TGPGraphicsPath::TGPGraphicsPath(int32_t fillMode) { lastResult_ = VG_GDIP(GdipCreatePath, fillMode, &handle_); }
TGPGraphicsPath::~TGPGraphicsPath() {
  if (handle_) VG_GDIP(GdipDeletePath, handle_);
}
GpStatus TGPGraphicsPath::StartFigure() { return SetStatus(VG_GDIP(GdipStartPathFigure, handle_)); }
GpStatus TGPGraphicsPath::CloseFigure() { return SetStatus(VG_GDIP(GdipClosePathFigure, handle_)); }
GpStatus TGPGraphicsPath::AddLine(float x1, float y1, float x2, float y2) {
  return SetStatus(VG_GDIP(GdipAddPathLine, handle_, x1, y1, x2, y2));
}
GpStatus TGPGraphicsPath::AddBezier(const GpPointF& p1, const GpPointF& p2, const GpPointF& p3, const GpPointF& p4) {
  return SetStatus(VG_GDIP(GdipAddPathBezier, handle_, p1.X, p1.Y, p2.X, p2.Y, p3.X, p3.Y, p4.X, p4.Y));
}
GpStatus TGPGraphicsPath::AddEllipse(float x, float y, float w, float h) {
  return SetStatus(VG_GDIP(GdipAddPathEllipse, handle_, x, y, w, h));
}
GpStatus TGPGraphicsPath::AddString(const std::u16string& text, TGPFontFamily* family, int32_t style, float emSize,
                                   const GpRectF& layout, TGPStringFormat* format) {
  return SetStatus(VG_GDIP(GdipAddPathString, handle_, text.c_str(), -1, family ? family->Handle() : nullptr, style,
                           emSize, &layout, format ? format->Handle() : nullptr));
}
int32_t TGPGraphicsPath::GetPointCount() {
  int32_t count = 0;
  SetStatus(VG_GDIP(GdipGetPointCount, handle_, &count));
  return count;
}
GpStatus TGPGraphicsPath::GetPathData(std::vector<GpPointF>& points, std::vector<uint8_t>& types) {
  points.clear();
  types.clear();
  const int32_t count = GetPointCount();
  if (count <= 0) return lastResult_;
  try {
    points.resize(static_cast<size_t>(count));
    types.resize(static_cast<size_t>(count));
  } catch (const std::bad_alloc&) {
    points.clear();
    types.clear();
    return SetStatus(OutOfMemory);
  }
  GpPathData data = {count, points.data(), types.data()};
  const GpStatus status = SetStatus(VG_GDIP(GdipGetPathData, handle_, &data));
  if (status != Ok) {
    points.clear();
    types.clear();
  }
  return status;
}
bool TGPGraphicsPath::IsVisible(float x, float y) {
  BOOL32 visible = 0;
  if (SetStatus(VG_GDIP(GdipIsVisiblePathPoint, handle_, x, y, nullptr, &visible)) != Ok) return false;
  return visible != 0;
}

// Graphics

TGPGraphics::TGPGraphics(void* hdc) {
  lastResult_ = VG_GDIP(GdipCreateFromHDC, hdc, &handle_);
  if (lastResult_ != Ok) handle_ = nullptr;
}
TGPGraphics::TGPGraphics(TGPImage* image) {
  lastResult_ = VG_GDIP(GdipGetImageGraphicsContext, image ? image->Handle() : nullptr, &handle_);
  if (lastResult_ != Ok) handle_ = nullptr;
}
TGPGraphics::~TGPGraphics() {
  if (handle_) VG_GDIP(GdipDeleteGraphics, handle_);
}
GpStatus TGPGraphics::SetCompositingMode(int32_t mode) {
  return SetStatus(VG_GDIP(GdipSetCompositingMode, handle_, mode));
}
GpStatus TGPGraphics::SetTextRenderingHint(int32_t hint) {
  return SetStatus(VG_GDIP(GdipSetTextRenderingHint, handle_, hint));
}
GpStatus TGPGraphics::SetTextContrast(uint32_t contrast) {
  return SetStatus(VG_GDIP(GdipSetTextContrast, handle_, contrast));
}
GpStatus TGPGraphics::SetInterpolationMode(int32_t mode) {
  return SetStatus(VG_GDIP(GdipSetInterpolationMode, handle_, mode));
}
GpStatus TGPGraphics::SetSmoothingMode(int32_t mode) { return SetStatus(VG_GDIP(GdipSetSmoothingMode, handle_, mode)); }
GpStatus TGPGraphics::SetPixelOffsetMode(int32_t mode) {
  return SetStatus(VG_GDIP(GdipSetPixelOffsetMode, handle_, mode));
}
GpStatus TGPGraphics::SetTransform(TGPMatrix* matrix) {
  return SetStatus(VG_GDIP(GdipSetWorldTransform, handle_, matrix->Handle()));
}
GpStatus TGPGraphics::MultiplyTransform(TGPMatrix* matrix, int32_t order) {
  return SetStatus(VG_GDIP(GdipMultiplyWorldTransform, handle_, matrix->Handle(), order));
}
GpStatus TGPGraphics::ScaleTransform(float sx, float sy, int32_t order) {
  return SetStatus(VG_GDIP(GdipScaleWorldTransform, handle_, sx, sy, order));
}
GpStatus TGPGraphics::DrawLine(TGPPen* pen, float x1, float y1, float x2, float y2) {
  return SetStatus(VG_GDIP(GdipDrawLine, handle_, pen->Handle(), x1, y1, x2, y2));
}
GpStatus TGPGraphics::DrawBezier(TGPPen* pen, const GpPointF& p1, const GpPointF& p2, const GpPointF& p3,
                                 const GpPointF& p4) {
  return SetStatus(
      VG_GDIP(GdipDrawBezier, handle_, pen->Handle(), p1.X, p1.Y, p2.X, p2.Y, p3.X, p3.Y, p4.X, p4.Y));
}
GpStatus TGPGraphics::DrawRectangle(TGPPen* pen, float x, float y, float w, float h) {
  return SetStatus(VG_GDIP(GdipDrawRectangle, handle_, pen->Handle(), x, y, w, h));
}
GpStatus TGPGraphics::DrawEllipse(TGPPen* pen, float x, float y, float w, float h) {
  return SetStatus(VG_GDIP(GdipDrawEllipse, handle_, pen->Handle(), x, y, w, h));
}
GpStatus TGPGraphics::DrawPath(TGPPen* pen, TGPGraphicsPath* path) {
  return SetStatus(VG_GDIP(GdipDrawPath, handle_, pen->Handle(), path->Handle()));
}
GpStatus TGPGraphics::FillRectangle(TGPBrush* brush, float x, float y, float w, float h) {
  return SetStatus(VG_GDIP(GdipFillRectangle, handle_, brush->Handle(), x, y, w, h));
}
GpStatus TGPGraphics::FillPath(TGPBrush* brush, TGPGraphicsPath* path) {
  return SetStatus(VG_GDIP(GdipFillPath, handle_, brush->Handle(), path->Handle()));
}
GpStatus TGPGraphics::DrawString(const std::u16string& text, TGPFont* font, const GpRectF& layout,
                                 TGPStringFormat* format, TGPBrush* brush) {
  return SetStatus(VG_GDIP(GdipDrawString, handle_, text.c_str(), -1, font->Handle(), &layout,
                           format ? format->Handle() : nullptr, brush->Handle()));
}
GpStatus TGPGraphics::MeasureCharacterRanges(const std::u16string& text, TGPFont* font, const GpRectF& layout,
                                             TGPStringFormat* format, int32_t count, TGPRegion** regions) {
  std::vector<GpHandle> handles(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) handles[size_t(i)] = regions[i]->Handle();
  return SetStatus(VG_GDIP(GdipMeasureCharacterRanges, handle_, text.c_str(), static_cast<int32_t>(text.size()),
                           font->Handle(), &layout, format ? format->Handle() : nullptr, count, handles.data()));
}
GpStatus TGPGraphics::DrawImage(TGPImage* image, float x, float y, float w, float h) {
  return SetStatus(VG_GDIP(GdipDrawImageRect, handle_, image->Handle(), x, y, w, h));
}
GpStatus TGPGraphics::DrawImage(TGPImage* image, int32_t x, int32_t y) {
  return SetStatus(VG_GDIP(GdipDrawImageI, handle_, image->Handle(), x, y));
}
GpStatus TGPGraphics::DrawImage(TGPImage* image, int32_t x, int32_t y, int32_t w, int32_t h) {
  return SetStatus(VG_GDIP(GdipDrawImageRectI, handle_, image->Handle(), x, y, w, h));
}
GpStatus TGPGraphics::DrawImage(TGPImage* image, const GpRectF& dst, float sx, float sy, float sw, float sh,
                                int32_t unit, TGPImageAttributes* attributes) {
  return SetStatus(VG_GDIP(GdipDrawImageRectRect, handle_, image->Handle(), dst.X, dst.Y, dst.Width, dst.Height, sx,
                           sy, sw, sh, unit, attributes ? attributes->Handle() : nullptr, nullptr, nullptr));
}
GpStatus TGPGraphics::SetClip(TGPRegion* region, int32_t mode) {
  return SetStatus(VG_GDIP(GdipSetClipRegion, handle_, region->Handle(), mode));
}
GpStatus TGPGraphics::SetClip(const GpRectF& r, int32_t mode) {
  return SetStatus(VG_GDIP(GdipSetClipRect, handle_, r.X, r.Y, r.Width, r.Height, mode));
}
GpStatus TGPGraphics::ResetClip() { return SetStatus(VG_GDIP(GdipResetClip, handle_)); }
GpStatus TGPGraphics::GetClipBounds(GpRectF& r) { return SetStatus(VG_GDIP(GdipGetClipBounds, handle_, &r)); }
uint32_t TGPGraphics::Save() {
  uint32_t state = 0;
  SetStatus(VG_GDIP(GdipSaveGraphics, handle_, &state));
  return state;
}
GpStatus TGPGraphics::Restore(uint32_t state) { return SetStatus(VG_GDIP(GdipRestoreGraphics, handle_, state)); }

}  // namespace vg_gdip
