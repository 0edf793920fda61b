// JPEG strips of TIFF files through libjpeg.
#include <algorithm>
#include <cstring>

#include "GraphicCompression.h"
#include "GraphicStrings.h"
#include "classlib/JpegBinding.h"
#include "detail/GraphicWarning_p.h"

using namespace GraphicStrings;

namespace {

TTIFFJPEGDecoder::TWarningHandler g_warningHandler = ShowGraphicWarning;

void WarnFromLibrary(void*, const std::string& text) { TTIFFJPEGDecoder::Warn(text); }

}  // namespace

void TTIFFJPEGDecoder::SetWarningHandler(TWarningHandler handler) { g_warningHandler = handler; }

void TTIFFJPEGDecoder::Warn(const std::string& message) {
  if (g_warningHandler) g_warningHandler(gesWarning, message);
}

namespace {

// The decompressor and the strip being decoded, shared with the steps below.
struct TStripDecoding {
  jpeg_decompress_struct Info{};
  TJPEGErrorManager Errors;
  TJPEGMemorySource Tables;
  TJPEGMemorySource Strip;
  bool Created = false;
  bool TablesOnly = false;
  uint16_t HSampling = 1;
  uint16_t VSampling = 1;
  const uint8_t* Source = nullptr;
  size_t SourceSize = 0;
  uint8_t* Dest = nullptr;
  int32_t Rows = 0;
  int32_t RowSize = 0;
  std::vector<JSAMPLE> Line;
};

}  // namespace

struct TTIFFJPEGDecoder::TState : TStripDecoding {};

TTIFFJPEGDecoder::TTIFFJPEGDecoder(TImageProperties* properties)
    : state_(std::make_unique<TState>()), properties_(properties) {}

TTIFFJPEGDecoder::~TTIFFJPEGDecoder() { DecodeEnd(); }

namespace {

// --- Steps run under JPEGTry: libjpeg leaves them by a jump, so they own nothing to destroy.

void CreateAndReadTables(void* context) {
  auto& s = *static_cast<TStripDecoding*>(context);
  jpeg_create_decompress(&s.Info);
  s.Created = true;
  if (s.Source) {
    JPEGMemorySource(&s.Info, s.Tables, s.Source, s.SourceSize, gesJPEGEOI);
    s.TablesOnly = jpeg_read_header(&s.Info, FALSE) == JPEG_HEADER_TABLES_ONLY;
  }
}

void ReadStripHeader(void* context) {
  auto& s = *static_cast<TStripDecoding*>(context);
  jpeg_abort_decompress(&s.Info);
  JPEGMemorySource(&s.Info, s.Strip, s.Source, s.SourceSize, gesJPEGEOI);
  jpeg_read_header(&s.Info, TRUE);
}

// This library's RGB output is red first; the TIFF reader expects blue first.
void ReadStripRows(void* context) {
  auto& s = *static_cast<TStripDecoding*>(context);
  jpeg_start_decompress(&s.Info);
  const int32_t outputBytes = static_cast<int32_t>(s.Info.output_width) * s.Info.output_components;
  const bool swap = s.Info.output_components == 3;
  const size_t copy = static_cast<size_t>(std::min(outputBytes, s.RowSize));
  JSAMPLE* line = s.Line.data();
  for (int32_t r = 0; r < s.Rows; ++r) {
    JSAMPROW row = line;
    if (jpeg_read_scanlines(&s.Info, &row, 1) != 1) break;
    if (swap)
      for (int32_t x = 0; x + 2 < outputBytes; x += 3) std::swap(line[x], line[x + 2]);
    std::memcpy(s.Dest, line, copy);
    s.Dest += s.RowSize;
  }
  // A strip read to its end is finished, which also reads past its last marker; one that held
  // more rows than the TIFF wanted is dropped.
  if (s.Info.output_scanline == s.Info.output_height)
    jpeg_finish_decompress(&s.Info);
  else
    jpeg_abort_decompress(&s.Info);
}

}  // namespace

void TTIFFJPEGDecoder::DecodeInit() {
  TState& s = *state_;
  DecodeEnd();
  JPEGUseErrorManager(reinterpret_cast<j_common_ptr>(&s.Info), s.Errors, WarnFromLibrary);
  const auto& sub = properties_->YCbCrSubSampling;
  s.HSampling = sub.size() >= 1 ? sub[0] : 1;
  s.VSampling = sub.size() >= 2 ? sub[1] : 1;
  if (sub.empty()) s.HSampling = s.VSampling = 1;
  const auto& tables = properties_->JPEGTables;
  s.Source = tables.empty() ? nullptr : tables.data();
  s.SourceSize = tables.size();
  if (!JPEGTry(s.Errors, CreateAndReadTables, &s)) JPEGRaise(s.Errors);
  if (s.Source && !s.TablesOnly) throw EGraphicCompression(gesJPEGBogusTableField);
}

void TTIFFJPEGDecoder::DecodeEnd() {
  if (state_->Created) {
    jpeg_destroy_decompress(&state_->Info);
    state_->Created = false;
  }
}

namespace {

// Why a strip's JPEG header does not fit the TIFF image, or nullptr when it does.
const char* StripMismatch(const jpeg_decompress_struct& info, const TImageProperties& p, uint16_t hSampling,
                          uint16_t vSampling) {
  uint32_t rowsPerStrip = p.RowsPerStrip.empty() ? p.Height : p.RowsPerStrip[0];
  uint32_t width = p.Width;
  uint32_t height = std::min(p.Height - std::min(p.RowIndex, p.Height), rowsPerStrip);
  if (p.PlanarConfig == 2 && p.StripIndex == p.StripCount) {
    width = (width + hSampling - 1) / std::max<uint16_t>(hSampling, 1);
    height = (height + vSampling - 1) / std::max<uint16_t>(vSampling, 1);
  }
  if (info.image_width != width || info.image_height != height) return gesJPEGStripSize;
  if (p.PlanarConfig == 1 && info.num_components != p.SamplesPerPixel) return gesJPEGComponentCount;
  if (info.data_precision != p.BitsPerSample) return gesJPEGDataPrecision;
  bool ok;
  if (p.PlanarConfig == 1) {
    ok = info.comp_info[0].h_samp_factor == hSampling && info.comp_info[0].v_samp_factor == vSampling;
    for (int i = 1; i < info.num_components; ++i)
      ok = ok && info.comp_info[i].h_samp_factor == 1 && info.comp_info[i].v_samp_factor == 1;
  } else {
    ok = info.comp_info[0].h_samp_factor == 1 && info.comp_info[0].v_samp_factor == 1;
  }
  return ok ? nullptr : gesJPEGSamplingFactors;
}

// The colour space of the strip's samples, from the TIFF's photometric interpretation: one
// component is grey, YCbCr is converted to RGB, RGB is taken as it is; anything else is handed
// over unconverted.
void ChooseColorSpaces(jpeg_decompress_struct& info, const TImageProperties& p) {
  if (info.num_components == 1) {
    info.jpeg_color_space = info.out_color_space = JCS_GRAYSCALE;
  } else if (p.ColorScheme == psYCbCr && info.num_components == 3) {
    info.jpeg_color_space = JCS_YCbCr;
    info.out_color_space = JCS_RGB;
  } else if (p.ColorScheme == psRGB) {
    info.jpeg_color_space = info.out_color_space = JCS_RGB;
  } else {
    info.jpeg_color_space = info.out_color_space = JCS_UNKNOWN;
  }
  info.raw_data_out = FALSE;
}

}  // namespace

void TTIFFJPEGDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize, int32_t unpackedSize) {
  TState& s = *state_;
  if (!s.Created) throw EGraphicCompression(gesLZ77Error);
  const TImageProperties& p = *properties_;
  s.Source = source;
  s.SourceSize = static_cast<size_t>(std::max(packedSize, 0));
  if (!JPEGTry(s.Errors, ReadStripHeader, &s)) {
    jpeg_abort_decompress(&s.Info);
    JPEGRaise(s.Errors);
  }
  const char* failure = StripMismatch(s.Info, p, s.HSampling, s.VSampling);
  s.RowSize = static_cast<int32_t>(p.BytesPerLine);
  if (!failure && (s.RowSize <= 0 || unpackedSize % s.RowSize != 0)) failure = gesJPEGFractionalLine;
  if (failure) {
    jpeg_abort_decompress(&s.Info);
    throw EGraphicCompression(failure);
  }
  ChooseColorSpaces(s.Info, p);
  s.Rows = unpackedSize / s.RowSize;
  s.Dest = dest;
  s.Line.resize(std::max<size_t>(static_cast<size_t>(s.Info.image_width) * s.Info.num_components,
                                 static_cast<size_t>(s.RowSize)));
  if (!JPEGTry(s.Errors, ReadStripRows, &s)) {
    jpeg_abort_decompress(&s.Info);
    JPEGRaise(s.Errors);
  }
  dest = s.Dest;
}
