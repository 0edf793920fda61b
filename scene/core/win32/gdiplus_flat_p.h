// The GDI+ flat API as the scene engine calls it: its records, and one table of entry points
// resolved by name from gdiplus.dll at run time (see vg_gdiplus.cpp). Private to the back end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vg_gdip {

using GpStatus = int32_t;
using GpHandle = void*;  // every GDI+ object handle (graphics, brush, path, image, ...)
using ARGB = uint32_t;
using BOOL32 = int32_t;

constexpr GpStatus Ok = 0;
constexpr GpStatus InvalidParameter = 2;
constexpr GpStatus OutOfMemory = 3;
constexpr GpStatus GdiplusNotInitialized = 18;

struct GpPointF {
  float X, Y;
};
struct GpRectF {
  float X, Y, Width, Height;
};
struct GpRect {
  int32_t X, Y, Width, Height;
};
struct GpGuid {
  uint32_t Data1;
  uint16_t Data2, Data3;
  uint8_t Data4[8];
};
struct GpBitmapData {
  uint32_t Width, Height;
  int32_t Stride;
  int32_t PixelFormat;
  void* Scan0;
  uintptr_t Reserved;
};
struct GpCharacterRange {
  int32_t First, Length;
};
struct GpPathData {
  int32_t Count;
  GpPointF* Points;
  uint8_t* Types;
};
struct GpColorMatrix {
  float m[5][5];
};
struct GdiplusStartupInput {
  uint32_t GdiplusVersion;
  void* DebugEventCallback;
  BOOL32 SuppressBackgroundThread;
  BOOL32 SuppressExternalCodecs;
};
// The platform's image-codec record (76 bytes in a 32-bit process).
struct GpImageCodecInfo {
  GpGuid Clsid;
  GpGuid FormatID;
  const char16_t* CodecName;
  const char16_t* DllName;
  const char16_t* FormatDescription;
  const char16_t* FilenameExtension;
  const char16_t* MimeType;
  uint32_t Flags, Version, SigCount, SigSize;
  const uint8_t* SigPattern;
  const uint8_t* SigMask;
};
struct GpEncoderParameter {
  GpGuid Guid;
  uint32_t NumberOfValues;
  uint32_t Type;
  void* Value;
};

constexpr int32_t PixelFormat32bppARGB = 0x26200A;
constexpr int32_t PixelFormat32bppPARGB = 0xE200B;

#if defined(_WIN32)
#define VG_GDIP_API __stdcall
#else
#define VG_GDIP_API
#endif

// name, result, parameters
#define VG_GDIP_FUNCTIONS(X)                                                                              \
  X(GdipAlloc, void*, (size_t))                                                                           \
  X(GdipFree, void, (void*))                                                                              \
  X(GdiplusStartup, GpStatus, (uintptr_t*, const GdiplusStartupInput*, void*))                            \
  X(GdiplusShutdown, void, (uintptr_t))                                                                   \
  X(GdipCreateRegion, GpStatus, (GpHandle*))                                                              \
  X(GdipCreateRegionPath, GpStatus, (GpHandle, GpHandle*))                                                \
  X(GdipSetEmpty, GpStatus, (GpHandle))                                                                   \
  X(GdipCombineRegionRect, GpStatus, (GpHandle, const GpRectF*, int32_t))                                 \
  X(GdipGetRegionBounds, GpStatus, (GpHandle, GpHandle, GpRectF*))                                        \
  X(GdipDeleteRegion, GpStatus, (GpHandle))                                                               \
  X(GdipCreateFontFamilyFromName, GpStatus, (const char16_t*, GpHandle, GpHandle*))                       \
  X(GdipGetGenericFontFamilySansSerif, GpStatus, (GpHandle*))                                             \
  X(GdipCloneFontFamily, GpStatus, (GpHandle, GpHandle*))                                                 \
  X(GdipNewInstalledFontCollection, GpStatus, (GpHandle*))                                                \
  X(GdipGetFontCollectionFamilyCount, GpStatus, (GpHandle, int32_t*))                                     \
  X(GdipGetFontCollectionFamilyList, GpStatus, (GpHandle, int32_t, GpHandle*, int32_t*))                  \
  X(GdipGetFamilyName, GpStatus, (GpHandle, char16_t*, uint16_t))                                         \
  X(GdipIsStyleAvailable, GpStatus, (GpHandle, int32_t, BOOL32*))                                         \
  X(GdipDeleteFontFamily, GpStatus, (GpHandle))                                                           \
  X(GdipNewPrivateFontCollection, GpStatus, (GpHandle*))                                                  \
  X(GdipPrivateAddMemoryFont, GpStatus, (GpHandle, const void*, int32_t))                                 \
  X(GdipDeletePrivateFontCollection, GpStatus, (GpHandle*))                                               \
  X(GdipCreateFont, GpStatus, (GpHandle, float, int32_t, int32_t, GpHandle*))                             \
  X(GdipDeleteFont, GpStatus, (GpHandle))                                                                 \
  X(GdipLoadImageFromStream, GpStatus, (void*, GpHandle*))                                                \
  X(GdipLoadImageFromStreamICM, GpStatus, (void*, GpHandle*))                                             \
  X(GdipGetImageWidth, GpStatus, (GpHandle, uint32_t*))                                                   \
  X(GdipGetImageHeight, GpStatus, (GpHandle, uint32_t*))                                                  \
  X(GdipGetImageHorizontalResolution, GpStatus, (GpHandle, float*))                                       \
  X(GdipGetImageVerticalResolution, GpStatus, (GpHandle, float*))                                         \
  X(GdipGetImageThumbnail, GpStatus, (GpHandle, uint32_t, uint32_t, GpHandle*, void*, void*))             \
  X(GdipImageRotateFlip, GpStatus, (GpHandle, int32_t))                                                   \
  X(GdipSaveImageToFile, GpStatus, (GpHandle, const char16_t*, const GpGuid*, const void*))               \
  X(GdipSaveImageToStream, GpStatus, (GpHandle, void*, const GpGuid*, const void*))                       \
  X(GdipDisposeImage, GpStatus, (GpHandle))                                                               \
  X(GdipCreateBitmapFromStream, GpStatus, (void*, GpHandle*))                                             \
  X(GdipCreateBitmapFromStreamICM, GpStatus, (void*, GpHandle*))                                          \
  X(GdipCreateBitmapFromScan0, GpStatus, (int32_t, int32_t, int32_t, int32_t, uint8_t*, GpHandle*))       \
  X(GdipBitmapLockBits, GpStatus, (GpHandle, const GpRect*, uint32_t, int32_t, GpBitmapData*))            \
  X(GdipBitmapUnlockBits, GpStatus, (GpHandle, GpBitmapData*))                                            \
  X(GdipBitmapSetResolution, GpStatus, (GpHandle, float, float))                                          \
  X(GdipCreateImageAttributes, GpStatus, (GpHandle*))                                                     \
  X(GdipSetImageAttributesColorMatrix, GpStatus,                                                          \
    (GpHandle, int32_t, BOOL32, const GpColorMatrix*, const GpColorMatrix*, int32_t))                     \
  X(GdipDisposeImageAttributes, GpStatus, (GpHandle))                                                     \
  X(GdipCreateMatrix2, GpStatus, (float, float, float, float, float, float, GpHandle*))                   \
  X(GdipShearMatrix, GpStatus, (GpHandle, float, float, int32_t))                                         \
  X(GdipDeleteMatrix, GpStatus, (GpHandle))                                                               \
  X(GdipCloneBrush, GpStatus, (GpHandle, GpHandle*))                                                      \
  X(GdipDeleteBrush, GpStatus, (GpHandle))                                                                \
  X(GdipCreateSolidFill, GpStatus, (ARGB, GpHandle*))                                                     \
  X(GdipCreateTexture, GpStatus, (GpHandle, int32_t, GpHandle*))                                          \
  X(GdipCreateTextureIA, GpStatus, (GpHandle, GpHandle, float, float, float, float, GpHandle*))           \
  X(GdipScaleTextureTransform, GpStatus, (GpHandle, float, float, int32_t))                               \
  X(GdipSetTextureWrapMode, GpStatus, (GpHandle, int32_t))                                                \
  X(GdipCreateLineBrush, GpStatus, (const GpPointF*, const GpPointF*, ARGB, ARGB, int32_t, GpHandle*))    \
  X(GdipSetLinePresetBlend, GpStatus, (GpHandle, const ARGB*, const float*, int32_t))                     \
  X(GdipScaleLineTransform, GpStatus, (GpHandle, float, float, int32_t))                                  \
  X(GdipSetLineWrapMode, GpStatus, (GpHandle, int32_t))                                                   \
  X(GdipCreatePathGradientFromPath, GpStatus, (GpHandle, GpHandle*))                                      \
  X(GdipSetPathGradientPresetBlend, GpStatus, (GpHandle, const ARGB*, const float*, int32_t))             \
  X(GdipSetPathGradientTransform, GpStatus, (GpHandle, GpHandle))                                         \
  X(GdipSetPathGradientWrapMode, GpStatus, (GpHandle, int32_t))                                           \
  X(GdipCreatePen1, GpStatus, (ARGB, float, int32_t, GpHandle*))                                          \
  X(GdipCreatePen2, GpStatus, (GpHandle, float, int32_t, GpHandle*))                                      \
  X(GdipSetPenWidth, GpStatus, (GpHandle, float))                                                         \
  X(GdipSetPenLineCap197819, GpStatus, (GpHandle, int32_t, int32_t, int32_t))                             \
  X(GdipSetPenLineJoin, GpStatus, (GpHandle, int32_t))                                                    \
  X(GdipSetPenDashStyle, GpStatus, (GpHandle, int32_t))                                                   \
  X(GdipSetPenDashOffset, GpStatus, (GpHandle, float))                                                    \
  X(GdipSetPenDashArray, GpStatus, (GpHandle, const float*, int32_t))                                     \
  X(GdipDeletePen, GpStatus, (GpHandle))                                                                  \
  X(GdipCreateStringFormat, GpStatus, (int32_t, uint16_t, GpHandle*))                                     \
  X(GdipGetStringFormatFlags, GpStatus, (GpHandle, int32_t*))                                             \
  X(GdipSetStringFormatFlags, GpStatus, (GpHandle, int32_t))                                              \
  X(GdipSetStringFormatAlign, GpStatus, (GpHandle, int32_t))                                              \
  X(GdipSetStringFormatLineAlign, GpStatus, (GpHandle, int32_t))                                          \
  X(GdipSetStringFormatMeasurableCharacterRanges, GpStatus, (GpHandle, int32_t, const GpCharacterRange*)) \
  X(GdipGetStringFormatMeasurableCharacterRangeCount, GpStatus, (GpHandle, int32_t*))                     \
  X(GdipDeleteStringFormat, GpStatus, (GpHandle))                                                         \
  X(GdipCreatePath, GpStatus, (int32_t, GpHandle*))                                                       \
  X(GdipStartPathFigure, GpStatus, (GpHandle))                                                            \
  X(GdipClosePathFigure, GpStatus, (GpHandle))                                                            \
  X(GdipAddPathLine, GpStatus, (GpHandle, float, float, float, float))                                    \
  X(GdipAddPathBezier, GpStatus, (GpHandle, float, float, float, float, float, float, float, float))      \
  X(GdipAddPathEllipse, GpStatus, (GpHandle, float, float, float, float))                                 \
  X(GdipAddPathString, GpStatus,                                                                          \
    (GpHandle, const char16_t*, int32_t, GpHandle, int32_t, float, const GpRectF*, GpHandle))             \
  X(GdipGetPointCount, GpStatus, (GpHandle, int32_t*))                                                    \
  X(GdipGetPathData, GpStatus, (GpHandle, GpPathData*))                                                   \
  X(GdipIsVisiblePathPoint, GpStatus, (GpHandle, float, float, GpHandle, BOOL32*))                        \
  X(GdipDeletePath, GpStatus, (GpHandle))                                                                 \
  X(GdipCreateFromHDC, GpStatus, (void*, GpHandle*))                                                      \
  X(GdipGetImageGraphicsContext, GpStatus, (GpHandle, GpHandle*))                                         \
  X(GdipSetCompositingMode, GpStatus, (GpHandle, int32_t))                                                \
  X(GdipSetTextRenderingHint, GpStatus, (GpHandle, int32_t))                                              \
  X(GdipSetTextContrast, GpStatus, (GpHandle, uint32_t))                                                  \
  X(GdipSetInterpolationMode, GpStatus, (GpHandle, int32_t))                                              \
  X(GdipSetSmoothingMode, GpStatus, (GpHandle, int32_t))                                                  \
  X(GdipSetPixelOffsetMode, GpStatus, (GpHandle, int32_t))                                                \
  X(GdipSetWorldTransform, GpStatus, (GpHandle, GpHandle))                                                \
  X(GdipMultiplyWorldTransform, GpStatus, (GpHandle, GpHandle, int32_t))                                  \
  X(GdipScaleWorldTransform, GpStatus, (GpHandle, float, float, int32_t))                                 \
  X(GdipDrawLine, GpStatus, (GpHandle, GpHandle, float, float, float, float))                             \
  X(GdipDrawBezier, GpStatus, (GpHandle, GpHandle, float, float, float, float, float, float, float, float)) \
  X(GdipDrawRectangle, GpStatus, (GpHandle, GpHandle, float, float, float, float))                        \
  X(GdipDrawEllipse, GpStatus, (GpHandle, GpHandle, float, float, float, float))                          \
  X(GdipDrawPath, GpStatus, (GpHandle, GpHandle, GpHandle))                                               \
  X(GdipFillRectangle, GpStatus, (GpHandle, GpHandle, float, float, float, float))                        \
  X(GdipFillPath, GpStatus, (GpHandle, GpHandle, GpHandle))                                               \
  X(GdipDrawString, GpStatus,                                                                             \
    (GpHandle, const char16_t*, int32_t, GpHandle, const GpRectF*, GpHandle, GpHandle))                   \
  X(GdipMeasureCharacterRanges, GpStatus,                                                                 \
    (GpHandle, const char16_t*, int32_t, GpHandle, const GpRectF*, GpHandle, int32_t, GpHandle*))         \
  X(GdipDrawImageRect, GpStatus, (GpHandle, GpHandle, float, float, float, float))                        \
  X(GdipDrawImageI, GpStatus, (GpHandle, GpHandle, int32_t, int32_t))                                     \
  X(GdipDrawImageRectI, GpStatus, (GpHandle, GpHandle, int32_t, int32_t, int32_t, int32_t))               \
  X(GdipDrawImageRectRect, GpStatus,                                                                      \
    (GpHandle, GpHandle, float, float, float, float, float, float, float, float, int32_t, GpHandle, void*, \
     void*))                                                                                              \
  X(GdipSetClipRegion, GpStatus, (GpHandle, GpHandle, int32_t))                                           \
  X(GdipSetClipRect, GpStatus, (GpHandle, float, float, float, float, int32_t))                           \
  X(GdipResetClip, GpStatus, (GpHandle))                                                                  \
  X(GdipGetClipBounds, GpStatus, (GpHandle, GpRectF*))                                                    \
  X(GdipSaveGraphics, GpStatus, (GpHandle, uint32_t*))                                                    \
  X(GdipRestoreGraphics, GpStatus, (GpHandle, uint32_t))                                                  \
  X(GdipDeleteGraphics, GpStatus, (GpHandle))                                                             \
  X(GdipGetImageEncodersSize, GpStatus, (uint32_t*, uint32_t*))                                           \
  X(GdipGetImageEncoders, GpStatus, (uint32_t, uint32_t, GpImageCodecInfo*))

// One pointer per entry point; nullptr until resolved and after unloading.
struct GdiplusApi {
#define VG_GDIP_MEMBER(name, result, params) result(VG_GDIP_API* name) params = nullptr;
  VG_GDIP_FUNCTIONS(VG_GDIP_MEMBER)
#undef VG_GDIP_MEMBER
};

// The table of the loaded library (all nullptr while GDI+ is not loaded).
const GdiplusApi& Api();

// Calls an entry point, answering GdiplusNotInitialized when it is not resolved: a missing
// export or an unloaded library must not crash the GUI thread.
#define VG_GDIP(name, ...) \
  (::vg_gdip::Api().name ? ::vg_gdip::Api().name(__VA_ARGS__) : ::vg_gdip::GdiplusNotInitialized)

}  // namespace vg_gdip
