// Decode throughput of the PNG and TIFF readers on a 4000 x 3000 RGB picture (a photo-like
// pattern: gradients, edges and noise), written here as PNG with adaptive row filters and as TIFF
// uncompressed, PackBits and deflate, beside libpng and libtiff decoding the same bytes in the
// same run when they were found at build time. Prints milliseconds per picture; asserts nothing.
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "classlib/Streams.h"
#include "imageformats/GraphicPNG.h"
#include "imageformats/GraphicTIFF.h"

#ifdef KBL_BENCH_LIBPNG
#include <png.h>
#endif
#ifdef KBL_BENCH_LIBTIFF
#include <tiffio.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kWidth = 4000, kHeight = 3000;

// Best of a few runs, in milliseconds.
double Milliseconds(const std::function<void()>& work) {
  double best = 1e30;
  for (int run = 0; run < 5; ++run) {
    auto start = std::chrono::steady_clock::now();
    work();
    std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
    if (elapsed.count() < best) best = elapsed.count();
  }
  return best;
}

Bytes Picture() {
  Bytes rgb(static_cast<size_t>(kWidth) * kHeight * 3);
  std::mt19937 random(3);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      uint8_t* p = &rgb[(static_cast<size_t>(y) * kWidth + x) * 3];
      int noise = static_cast<int>(random() % 9) - 4;
      bool band = ((x / 250) + (y / 200)) % 2 == 0;
      p[0] = static_cast<uint8_t>((x * 255 / kWidth + noise) & 255);
      p[1] = static_cast<uint8_t>(((y * 255 / kHeight) ^ (band ? 0x40 : 0)) + noise);
      p[2] = static_cast<uint8_t>(((x + y) / 30 * 7 + noise) & 255);
    }
  }
  return rgb;
}

void Put32(Bytes& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Chunk(Bytes& file, const char* type, const Bytes& data) {
  Put32(file, static_cast<uint32_t>(data.size()));
  size_t start = file.size();
  file.insert(file.end(), type, type + 4);
  file.insert(file.end(), data.begin(), data.end());
  Put32(file, static_cast<uint32_t>(crc32(0, file.data() + start, static_cast<uInt>(file.size() - start))));
}

Bytes Deflate(const Bytes& data, int level) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes out(size);
  compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level);
  out.resize(size);
  return out;
}

// RGB rows, the filter of each row chosen in turn from the five (as encoders mix them).
Bytes EncodePng(const Bytes& rgb) {
  const size_t row = static_cast<size_t>(kWidth) * 3;
  Bytes raw;
  raw.reserve((row + 1) * kHeight);
  for (int y = 0; y < kHeight; ++y) {
    const uint8_t* cur = &rgb[y * row];
    const uint8_t* up = y > 0 ? &rgb[(y - 1) * row] : nullptr;
    // The filter giving the smallest sum of absolute differences, as encoders choose it.
    Bytes best;
    long bestSum = -1;
    for (uint8_t filter = 0; filter < 5; ++filter) {
      Bytes line(row + 1);
      line[0] = filter;
      long sum = 0;
      for (size_t i = 0; i < row; ++i) {
        int a = i >= 3 ? cur[i - 3] : 0, b = up ? up[i] : 0, c = (up && i >= 3) ? up[i - 3] : 0;
        int predictor = 0;
        if (filter == 1) predictor = a;
        if (filter == 2) predictor = b;
        if (filter == 3) predictor = (a + b) / 2;
        if (filter == 4) {
          int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
          predictor = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
        }
        line[i + 1] = static_cast<uint8_t>(cur[i] - predictor);
        sum += std::abs(static_cast<int8_t>(line[i + 1]));
      }
      if (bestSum < 0 || sum < bestSum) {
        bestSum = sum;
        best = std::move(line);
      }
    }
    raw.insert(raw.end(), best.begin(), best.end());
  }
  Bytes file{0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  Bytes header;
  Put32(header, kWidth);
  Put32(header, kHeight);
  header.insert(header.end(), {8, 2, 0, 0, 0});
  Chunk(file, "IHDR", header);
  Bytes packed = Deflate(raw, 6);
  // Image data in chunks of 256 KB, as encoders write it.
  for (size_t at = 0; at < packed.size(); at += 262144)
    Chunk(file, "IDAT", Bytes(packed.begin() + at, packed.begin() + std::min(packed.size(), at + 262144)));
  Chunk(file, "IEND", {});
  return file;
}

Bytes PackBits(const uint8_t* data, size_t n) {
  Bytes out;
  size_t i = 0;
  while (i < n) {
    size_t run = 1;
    while (i + run < n && run < 128 && data[i + run] == data[i]) ++run;
    if (run >= 2) {
      out.push_back(static_cast<uint8_t>(257 - run));
      out.push_back(data[i]);
      i += run;
      continue;
    }
    size_t start = i, literal = 0;
    while (i < n && literal < 128 && !(i + 1 < n && data[i + 1] == data[i])) ++i, ++literal;
    if (literal == 0) ++i, literal = 1;
    out.push_back(static_cast<uint8_t>(literal - 1));
    out.insert(out.end(), data + start, data + start + literal);
  }
  return out;
}

// A little-endian TIFF of RGB strips of 16 rows: compression 1, 32773 or 8.
Bytes EncodeTiff(const Bytes& rgb, uint16_t compression) {
  const uint32_t rowsPerStrip = 16, row = kWidth * 3;
  std::vector<Bytes> strips;
  for (uint32_t y = 0; y < kHeight; y += rowsPerStrip) {
    uint32_t rows = std::min<uint32_t>(rowsPerStrip, kHeight - y);
    const uint8_t* start = &rgb[static_cast<size_t>(y) * row];
    Bytes strip(start, start + static_cast<size_t>(rows) * row);
    if (compression == 32773) {
      Bytes packed;
      for (uint32_t r = 0; r < rows; ++r) {
        Bytes line = PackBits(start + static_cast<size_t>(r) * row, row);
        packed.insert(packed.end(), line.begin(), line.end());
      }
      strip = packed;
    } else if (compression == 8) {
      strip = Deflate(strip, 6);
    }
    strips.push_back(std::move(strip));
  }
  Bytes file{'I', 'I', 42, 0, 0, 0, 0, 0};
  std::vector<uint32_t> offsets, counts;
  for (const Bytes& s : strips) {
    offsets.push_back(static_cast<uint32_t>(file.size()));
    counts.push_back(static_cast<uint32_t>(s.size()));
    file.insert(file.end(), s.begin(), s.end());
  }
  auto put16 = [&](uint32_t v) { file.push_back(static_cast<uint8_t>(v)); file.push_back(static_cast<uint8_t>(v >> 8)); };
  auto put32le = [&](uint32_t v) { put16(v & 0xFFFF); put16(v >> 16); };
  uint32_t arrays = static_cast<uint32_t>(file.size());
  for (uint32_t v : offsets) put32le(v);
  for (uint32_t v : counts) put32le(v);
  uint32_t bits = static_cast<uint32_t>(file.size());
  put16(8); put16(8); put16(8);
  if (file.size() & 1) file.push_back(0);
  uint32_t ifd = static_cast<uint32_t>(file.size());
  std::memcpy(&file[4], &ifd, 4);
  struct Entry { uint16_t tag, type; uint32_t count, value; };
  const uint32_t stripCount = static_cast<uint32_t>(strips.size());
  const Entry entries[] = {{256, 4, 1, kWidth}, {257, 4, 1, kHeight}, {258, 3, 3, bits}, {259, 3, 1, compression},
                           {262, 3, 1, 2}, {273, 4, stripCount, arrays}, {277, 3, 1, 3}, {278, 4, 1, rowsPerStrip},
                           {279, 4, stripCount, arrays + 4 * stripCount}, {284, 3, 1, 1}};
  put16(sizeof entries / sizeof entries[0]);
  for (const Entry& e : entries) {
    put16(e.tag);
    put16(e.type);
    put32le(e.count);
    put32le(e.value);
  }
  put32le(0);
  return file;
}

template <typename T>
void Ours(const char* label, const Bytes& file, double reference) {
  TMemoryStream stream;
  stream.WriteBuffer(file.data(), static_cast<int32_t>(file.size()));
  T graphic;
  double ms = Milliseconds([&] {
    stream.SetPosition(0);
    graphic.LoadFromStream(stream);
  });
  std::printf("%-22s %7.1f MB  ours %7.1f ms", label, file.size() / 1e6, ms);
  if (reference > 0) std::printf("   reference %7.1f ms   ours / reference = %.2f", reference, ms / reference);
  std::printf("\n");
}

#ifdef KBL_BENCH_LIBPNG
double LibPng(const Bytes& file) {
  return Milliseconds([&] {
    // A fresh picture each time, as each load of ours makes a fresh bitmap.
    Bytes out(static_cast<size_t>(kWidth) * kHeight * 3);
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    png_image_begin_read_from_memory(&image, file.data(), file.size());
    image.format = PNG_FORMAT_BGR;
    png_image_finish_read(&image, nullptr, out.data(), 0, nullptr);
  });
}
#endif

#ifdef KBL_BENCH_LIBTIFF
struct TMemoryFile {
  const Bytes* Data;
  toff_t Position = 0;
};

double LibTiff(const Bytes& file) {
  return Milliseconds([&] {
    Bytes out(static_cast<size_t>(kWidth) * kHeight * 3);
    TMemoryFile memory{&file};
    TIFF* tiff = TIFFClientOpen(
        "memory", "rm", &memory,
        [](thandle_t h, tdata_t buffer, tmsize_t size) -> tmsize_t {
          auto* m = static_cast<TMemoryFile*>(h);
          tmsize_t n = std::min<tmsize_t>(size, static_cast<tmsize_t>(m->Data->size() - m->Position));
          std::memcpy(buffer, m->Data->data() + m->Position, static_cast<size_t>(n));
          m->Position += static_cast<toff_t>(n);
          return n;
        },
        [](thandle_t, tdata_t, tmsize_t) -> tmsize_t { return 0; },
        [](thandle_t h, toff_t offset, int whence) -> toff_t {
          auto* m = static_cast<TMemoryFile*>(h);
          m->Position = whence == SEEK_SET ? offset : whence == SEEK_CUR ? m->Position + offset : m->Data->size() + offset;
          return m->Position;
        },
        [](thandle_t) { return 0; }, [](thandle_t h) -> toff_t { return static_cast<TMemoryFile*>(h)->Data->size(); },
        nullptr, nullptr);
    tmsize_t stripSize = TIFFStripSize(tiff);
    uint8_t* target = out.data();
    for (tstrip_t s = 0; s < TIFFNumberOfStrips(tiff); ++s) {
      tmsize_t n = TIFFReadEncodedStrip(tiff, s, target, stripSize);
      if (n > 0) target += n;
    }
    TIFFClose(tiff);
  });
}
#endif

}  // namespace

int main() {
  try {
    const Bytes rgb = Picture();
    std::printf("%d x %d RGB; reference: libpng for PNG, libtiff for TIFF, decoding the same bytes\n", kWidth, kHeight);
    const Bytes png = EncodePng(rgb);
    double reference = 0;
#ifdef KBL_BENCH_LIBPNG
    reference = LibPng(png);
#endif
    Ours<TPNGGraphic>("PNG", png, reference);
    const struct {
      const char* Label;
      uint16_t Compression;
    } tiffs[] = {{"TIFF uncompressed", 1}, {"TIFF PackBits", 32773}, {"TIFF deflate", 8}};
    for (const auto& t : tiffs) {
      const Bytes tiff = EncodeTiff(rgb, t.Compression);
      reference = 0;
#ifdef KBL_BENCH_LIBTIFF
      TIFFSetWarningHandler(nullptr);
      reference = LibTiff(tiff);
#endif
      Ours<TTIFFGraphic>(t.Label, tiff, reference);
    }
#if !defined(KBL_BENCH_LIBPNG) || !defined(KBL_BENCH_LIBTIFF)
    std::printf("(references missing from this build: libpng and libtiff are measured natively when libpng-dev and libtiff-dev are installed)\n");
#endif
  } catch (const std::exception& e) {
    std::printf("error: %s\n", e.what());
    return 1;
  }
  return 0;
}
