// JPEG strips of TIFF files through libjpeg, where the build has it.
#include <algorithm>
#include <cstring>

#include "GraphicCompression.h"
#include "GraphicStrings.h"

using namespace GraphicStrings;

namespace {
TTIFFJPEGDecoder::TWarningHandler g_warningHandler = nullptr;
}

void TTIFFJPEGDecoder::SetWarningHandler(TWarningHandler handler) { g_warningHandler = handler; }

void TTIFFJPEGDecoder::Warn(const std::string& message) {
  if (g_warningHandler) g_warningHandler(gesWarning, message);
}

#ifdef KBL_HAVE_JPEG

#include <csetjmp>
#include <cstdio>

extern "C" {
#include <jpeglib.h>
}

namespace {

// libjpeg's fatal errors come back here by longjmp; only plain C frames lie in between.
struct TErrorManager {
  jpeg_error_mgr Public;
  jmp_buf Jump;
  int Code = 0;
};

void ErrorExit(j_common_ptr info) {
  auto* manager = reinterpret_cast<TErrorManager*>(info->err);
  manager->Code = info->err->msg_code;
  longjmp(manager->Jump, 1);
}

void OutputMessage(j_common_ptr info) {
  char buffer[JMSG_LENGTH_MAX];
  info->err->format_message(info, buffer);
  TTIFFJPEGDecoder::Warn(buffer);
}

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

struct TSource {
  jpeg_source_mgr Public;
  const JOCTET* Data = nullptr;
  size_t Size = 0;
};

void InitSource(j_decompress_ptr info) {
  auto* source = reinterpret_cast<TSource*>(info->src);
  source->Public.next_input_byte = source->Data;
  source->Public.bytes_in_buffer = source->Size;
}

boolean FillInputBuffer(j_decompress_ptr info) {
  // Data ended early: warn and finish the image as if complete.
  TTIFFJPEGDecoder::Warn(gesJPEGEOI);
  info->src->next_input_byte = kEndOfImage;
  info->src->bytes_in_buffer = 2;
  return TRUE;
}

void SkipInputData(j_decompress_ptr info, long count) {
  if (count <= 0) return;
  if (static_cast<size_t>(count) > info->src->bytes_in_buffer) {
    FillInputBuffer(info);
    return;
  }
  info->src->next_input_byte += count;
  info->src->bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) {}

}  // namespace

struct TTIFFJPEGDecoder::TState {
  jpeg_decompress_struct Info{};
  TErrorManager Error;
  TSource Tables;
  TSource Strip;
  bool Created = false;
  uint16_t HSampling = 1;
  uint16_t VSampling = 1;
  std::vector<JSAMPLE> Line;
};

bool TTIFFJPEGDecoder::Available() { return true; }

TTIFFJPEGDecoder::TTIFFJPEGDecoder(TImageProperties* properties)
    : state_(std::make_unique<TState>()), properties_(properties) {}

TTIFFJPEGDecoder::~TTIFFJPEGDecoder() {
  if (state_->Created) jpeg_destroy_decompress(&state_->Info);
}

namespace {

void PrepareSource(TSource& source, const uint8_t* data, size_t size) {
  source.Public.init_source = InitSource;
  source.Public.fill_input_buffer = FillInputBuffer;
  source.Public.skip_input_data = SkipInputData;
  source.Public.resync_to_restart = jpeg_resync_to_restart;
  source.Public.term_source = TermSource;
  source.Public.next_input_byte = data;
  source.Public.bytes_in_buffer = size;
  source.Data = data;
  source.Size = size;
}

[[noreturn]] void RaiseJPEGError(int code) {
  throw EInvalidGraphic(FormatMessage(gesJPEGError, {std::to_string(code)}));
}

}  // namespace

void TTIFFJPEGDecoder::DecodeInit() {
  TState& s = *state_;
  s.Info.err = jpeg_std_error(&s.Error.Public);
  s.Error.Public.error_exit = ErrorExit;
  s.Error.Public.output_message = OutputMessage;
  if (setjmp(s.Error.Jump)) {
    RaiseJPEGError(s.Error.Code);
  }
  jpeg_create_decompress(&s.Info);
  s.Created = true;
  const auto& sub = properties_->YCbCrSubSampling;
  s.HSampling = sub.size() >= 1 ? sub[0] : 1;
  s.VSampling = sub.size() >= 2 ? sub[1] : 1;
  if (sub.empty()) s.HSampling = s.VSampling = 1;
  if (!properties_->JPEGTables.empty()) {
    PrepareSource(s.Tables, properties_->JPEGTables.data(), properties_->JPEGTables.size());
    s.Info.src = &s.Tables.Public;
    if (jpeg_read_header(&s.Info, FALSE) != JPEG_HEADER_TABLES_ONLY)
      throw EGraphicCompression(gesJPEGBogusTableField);
  }
  s.Info.src = &s.Strip.Public;
  PrepareSource(s.Strip, nullptr, 0);
}

void TTIFFJPEGDecoder::DecodeEnd() {
  if (state_->Created) {
    jpeg_destroy_decompress(&state_->Info);
    state_->Created = false;
  }
}

void TTIFFJPEGDecoder::Decode(uint8_t*& source, uint8_t*& dest, int32_t packedSize,
                              int32_t unpackedSize) {
  TState& s = *state_;
  if (!s.Created) throw EGraphicCompression(gesLZ77Error);
  const TImageProperties& p = *properties_;
  int32_t rowSize = static_cast<int32_t>(p.BytesPerLine);
  // Kept outside the jump area: a longjmp must not skip C++ destructors.
  const char* failure = nullptr;
  if (setjmp(s.Error.Jump)) {
    jpeg_abort_decompress(&s.Info);
    RaiseJPEGError(s.Error.Code);
  }
  jpeg_abort_decompress(&s.Info);
  PrepareSource(s.Strip, source, static_cast<size_t>(std::max(packedSize, 0)));
  s.Info.src = &s.Strip.Public;
  jpeg_read_header(&s.Info, TRUE);
  uint32_t rowsPerStrip = p.RowsPerStrip.empty() ? p.Height : p.RowsPerStrip[0];
  uint32_t segmentWidth = p.Width;
  uint32_t segmentHeight = std::min(p.Height - std::min(p.RowIndex, p.Height), rowsPerStrip);
  if (p.PlanarConfig == 2 && p.StripIndex == p.StripCount) {
    segmentWidth = (segmentWidth + s.HSampling - 1) / std::max<uint16_t>(s.HSampling, 1);
    segmentHeight = (segmentHeight + s.VSampling - 1) / std::max<uint16_t>(s.VSampling, 1);
  }
  if (s.Info.image_width != segmentWidth || s.Info.image_height != segmentHeight) {
    failure = gesJPEGStripSize;
  } else if (p.PlanarConfig == 1 && s.Info.num_components != p.SamplesPerPixel) {
    failure = gesJPEGComponentCount;
  } else if (s.Info.data_precision != p.BitsPerSample) {
    failure = gesJPEGDataPrecision;
  } else {
    bool ok;
    if (p.PlanarConfig == 1) {
      ok = s.Info.comp_info[0].h_samp_factor == s.HSampling &&
           s.Info.comp_info[0].v_samp_factor == s.VSampling;
      for (int i = 1; i < s.Info.num_components; ++i)
        ok = ok && s.Info.comp_info[i].h_samp_factor == 1 && s.Info.comp_info[i].v_samp_factor == 1;
    } else {
      ok = s.Info.comp_info[0].h_samp_factor == 1 && s.Info.comp_info[0].v_samp_factor == 1;
    }
    if (!ok) failure = gesJPEGSamplingFactors;
  }
  if (!failure && (rowSize <= 0 || unpackedSize % rowSize != 0)) failure = gesJPEGFractionalLine;
  if (failure) {
    jpeg_abort_decompress(&s.Info);
    throw EGraphicCompression(failure);
  }
  s.Info.jpeg_color_space = p.ColorScheme == psYCbCr ? JCS_YCbCr : JCS_UNKNOWN;
  s.Info.out_color_space = JCS_RGB;
  s.Info.raw_data_out = FALSE;
  jpeg_start_decompress(&s.Info);
  int32_t rows = unpackedSize / rowSize;
  int32_t outputBytes = static_cast<int32_t>(s.Info.output_width) * s.Info.output_components;
  std::vector<JSAMPLE>& line = s.Line;
  line.resize(static_cast<size_t>(std::max(outputBytes, rowSize)));
  for (int32_t r = 0; r < rows; ++r) {
    JSAMPROW row = line.data();
    if (jpeg_read_scanlines(&s.Info, &row, 1) != 1) break;
    // This library's RGB output is red first; the TIFF reader expects blue first.
    if (s.Info.output_components == 3)
      for (int32_t x = 0; x + 2 < outputBytes; x += 3) std::swap(line[x], line[x + 2]);
    std::memcpy(dest, line.data(), static_cast<size_t>(std::min(outputBytes, rowSize)));
    dest += rowSize;
  }
  jpeg_abort_decompress(&s.Info);
}

#else  // no JPEG library in this build

struct TTIFFJPEGDecoder::TState {};

bool TTIFFJPEGDecoder::Available() { return false; }
TTIFFJPEGDecoder::TTIFFJPEGDecoder(TImageProperties* properties)
    : state_(std::make_unique<TState>()), properties_(properties) {}
TTIFFJPEGDecoder::~TTIFFJPEGDecoder() = default;
void TTIFFJPEGDecoder::DecodeInit() { throw EGraphicCompression(gesJPEGNotAvailable); }
void TTIFFJPEGDecoder::DecodeEnd() {}
void TTIFFJPEGDecoder::Decode(uint8_t*&, uint8_t*&, int32_t, int32_t) {
  throw EGraphicCompression(gesJPEGNotAvailable);
}

#endif
