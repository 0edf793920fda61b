// The JPEG picture: decoding into a TBitmap and compressing one, through libjpeg.
#include "Jpeg.h"

#include <algorithm>
#include <utility>

#include "JpegBinding.h"

KBL_PUBLISHED(TJPEGImage) {}

namespace {

// Largest working memory libjpeg may take for one image (progressive images keep all their
// coefficients); beyond it the image fails instead of exhausting the host's address space.
constexpr long kMaxCodecMemory = 256L * 1024 * 1024;

// --- Decoding

struct TDecoding {
  jpeg_decompress_struct Info{};
  TJPEGErrorManager Errors;
  TJPEGMemorySource Source;
  bool Created = false;
  const std::vector<uint8_t>* Data = nullptr;
  TBitmap* Target = nullptr;

  ~TDecoding() {
    if (Created) jpeg_destroy_decompress(&Info);
  }
};

void ReadHeader(void* context) {
  auto& d = *static_cast<TDecoding*>(context);
  jpeg_create_decompress(&d.Info);
  d.Created = true;
  d.Info.mem->max_memory_to_use = kMaxCodecMemory;
  JPEGMemorySource(&d.Info, d.Source, d.Data->data(), d.Data->size());
  jpeg_read_header(&d.Info, TRUE);
}

// Rows straight into the bitmap; libjpeg's RGB is red first, a bitmap's pixels blue first.
void ReadPixels(void* context) {
  auto& d = *static_cast<TDecoding*>(context);
  jpeg_start_decompress(&d.Info);
  const bool swap = d.Info.output_components == 3;
  while (d.Info.output_scanline < d.Info.output_height) {
    JSAMPROW row = d.Target->ScanLine(static_cast<int32_t>(d.Info.output_scanline));
    if (jpeg_read_scanlines(&d.Info, &row, 1) != 1) break;
    if (swap)
      for (JDIMENSION x = 0; x < d.Info.output_width; ++x) std::swap(row[3 * x], row[3 * x + 2]);
  }
  if (d.Info.output_scanline == d.Info.output_height)
    jpeg_finish_decompress(&d.Info);
  else
    jpeg_abort_decompress(&d.Info);
}

TPaletteEntries GreyPalette() {
  TPaletteEntries palette(256);
  for (int i = 0; i < 256; ++i) {
    uint8_t v = static_cast<uint8_t>(i);
    palette[i] = TPaletteEntry{v, v, v, 0};
  }
  return palette;
}

// --- Compressing

bool IsGreyPalette(const TBitmap& bitmap) {
  if (bitmap.GetPixelFormat() != pf8bit || bitmap.GetPalette().empty()) return false;
  for (const TPaletteEntry& e : bitmap.GetPalette())
    if (e.peRed != e.peGreen || e.peRed != e.peBlue) return false;
  return true;
}

struct TCompressing {
  jpeg_compress_struct Info{};
  TJPEGErrorManager Errors;
  TJPEGMemoryDestination Destination;
  bool Created = false;
  const TBitmap* Source = nullptr;
  bool Grey = false;
  int32_t Quality = 90;
  std::vector<uint8_t>* Output = nullptr;
  std::vector<uint8_t>* Line = nullptr;

  ~TCompressing() {
    if (Created) jpeg_destroy_compress(&Info);
  }
};

// One row of the bitmap as libjpeg's input: grey values, or red, green, blue.
void RowOf(const TBitmap& bitmap, int32_t y, bool grey, uint8_t* out) {
  const uint8_t* in = bitmap.ScanLine(y);
  const int32_t width = bitmap.GetWidth();
  if (grey) {
    const TPaletteEntries& palette = bitmap.GetPalette();
    for (int32_t x = 0; x < width; ++x) out[x] = in[x] < palette.size() ? palette[in[x]].peRed : 0;
    return;
  }
  switch (bitmap.GetPixelFormat()) {
    case pf24bit:
      for (int32_t x = 0; x < width; ++x, in += 3, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
      }
      return;
    case pfDevice:
    case pf32bit:
      for (int32_t x = 0; x < width; ++x, in += 4, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
      }
      return;
    default:
      for (int32_t x = 0; x < width; ++x, out += 3) {
        TColor c = bitmap.GetPixelColor(x, y);
        out[0] = static_cast<uint8_t>(c);
        out[1] = static_cast<uint8_t>(c >> 8);
        out[2] = static_cast<uint8_t>(c >> 16);
      }
  }
}

void WriteImage(void* context) {
  auto& c = *static_cast<TCompressing*>(context);
  jpeg_create_compress(&c.Info);
  c.Created = true;
  JPEGMemoryDestination(&c.Info, c.Destination, *c.Output);
  c.Info.image_width = static_cast<JDIMENSION>(c.Source->GetWidth());
  c.Info.image_height = static_cast<JDIMENSION>(c.Source->GetHeight());
  c.Info.input_components = c.Grey ? 1 : 3;
  c.Info.in_color_space = c.Grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c.Info);
  jpeg_set_quality(&c.Info, c.Quality, TRUE);
  jpeg_start_compress(&c.Info, TRUE);
  uint8_t* line = c.Line->data();
  while (c.Info.next_scanline < c.Info.image_height) {
    RowOf(*c.Source, static_cast<int32_t>(c.Info.next_scanline), c.Grey, line);
    JSAMPROW row = line;
    jpeg_write_scanlines(&c.Info, &row, 1);
  }
  jpeg_finish_compress(&c.Info);
}

}  // namespace

// --- TJPEGImage

void TJPEGImage::LoadFromStream(TStream& stream) {
  std::vector<uint8_t> data(static_cast<size_t>(std::max<int64_t>(stream.Remaining(), 0)));
  if (!data.empty()) stream.ReadBuffer(data.data(), static_cast<int32_t>(data.size()));
  TDecoding d;
  d.Data = &data;
  JPEGUseErrorManager(reinterpret_cast<j_common_ptr>(&d.Info), d.Errors);
  if (!JPEGTry(d.Errors, ReadHeader, &d)) JPEGRaise(d.Errors);

  bool grey = d.Info.num_components == 1;
  d.Info.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  TBitmap bitmap;
  bitmap.SetPixelFormat(grey ? pf8bit : pf24bit);
  if (grey) bitmap.SetPalette(GreyPalette());
  if (d.Info.image_width > static_cast<JDIMENSION>(TBitmap::kMaxSide) ||
      d.Info.image_height > static_cast<JDIMENSION>(TBitmap::kMaxSide))
    throw EInvalidGraphic("Bitmap image is too large");
  bitmap.SetSize(static_cast<int32_t>(d.Info.image_width), static_cast<int32_t>(d.Info.image_height));
  d.Target = &bitmap;
  if (!JPEGTry(d.Errors, ReadPixels, &d)) JPEGRaise(d.Errors);

  bitmap_.Assign(&bitmap);
  data_ = std::move(data);
  grayscale_ = grey;
}

void TJPEGImage::Compress() {
  if (bitmap_.GetEmpty()) throw EInvalidGraphic("JPEG image is empty");
  std::vector<uint8_t> output, line(static_cast<size_t>(bitmap_.GetWidth()) * 3);
  TCompressing c;
  c.Source = &bitmap_;
  c.Grey = IsGreyPalette(bitmap_);
  c.Quality = quality_;
  c.Output = &output;
  c.Line = &line;
  JPEGUseErrorManager(reinterpret_cast<j_common_ptr>(&c.Info), c.Errors);
  if (!JPEGTry(c.Errors, WriteImage, &c)) JPEGRaise(c.Errors);
  data_ = std::move(output);
  grayscale_ = c.Grey;
}

void TJPEGImage::SaveToStream(TStream& stream) {
  if (data_.empty()) Compress();
  stream.WriteBuffer(data_.data(), static_cast<int32_t>(data_.size()));
}

void TJPEGImage::Assign(TPersistent* source) {
  if (auto* jpeg = dynamic_cast<TJPEGImage*>(source)) {
    if (jpeg == this) return;
    bitmap_.Assign(&jpeg->bitmap_);
    data_ = jpeg->data_;
    grayscale_ = jpeg->grayscale_;
    quality_ = jpeg->quality_;
    return;
  }
  if (auto* bitmap = dynamic_cast<TBitmap*>(source)) {
    bitmap_.Assign(bitmap);
    data_.clear();
    grayscale_ = IsGreyPalette(bitmap_);
    return;
  }
  inherited::Assign(source);
}

void TJPEGImage::AssignTo(TPersistent* dest) {
  if (auto* bitmap = dynamic_cast<TBitmap*>(dest)) {
    bitmap->Assign(&bitmap_);
    return;
  }
  inherited::AssignTo(dest);
}

void TJPEGImage::SetCompressionQuality(int32_t value) { quality_ = std::clamp(value, 1, 100); }
