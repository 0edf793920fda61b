// TIFF and EPS readers.
#include "GraphicTIFF.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "GraphicCompression.h"
#include "GraphicStrings.h"

using namespace GraphicStrings;

KBL_PUBLISHED(TTIFFGraphic) {}
KBL_PUBLISHED(TEPSGraphic) {}

namespace {

const char* const kName = "TIF/TIFF";

// Data types: 1 BYTE, 2 ASCII, 3 SHORT, 4 LONG, 5 RATIONAL, 6 SBYTE, 7 UNDEFINED, 8 SSHORT,
// 9 SLONG, 10 SRATIONAL, 11 FLOAT, 12 DOUBLE.
uint32_t TypeSize(uint16_t type) {
  static const uint8_t kSizes[13] = {1, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  return type < 13 ? kSizes[type] : 1;
}

// zlib's answers that mean damaged data (stream, data and memory errors).
bool IsDeflateError(int32_t result) { return result == -2 || result == -3 || result == -4; }

[[noreturn]] void ReadError() { throw EReadError("Stream read error"); }

enum : uint16_t {
  tagImageWidth = 256, tagImageLength = 257, tagBitsPerSample = 258, tagCompression = 259,
  tagPhotometric = 262, tagFillOrder = 266, tagStripOffsets = 273, tagSamplesPerPixel = 277,
  tagRowsPerStrip = 278, tagStripByteCounts = 279, tagXResolution = 282, tagYResolution = 283,
  tagPlanarConfig = 284, tagT4Options = 292, tagResolutionUnit = 296, tagPredictor = 317,
  tagColorMap = 320, tagTileWidth = 322, tagTileLength = 323, tagExtraSamples = 338,
  tagJPEGTables = 347, tagYCbCrCoefficients = 529, tagYCbCrSubSampling = 530,
  tagYCbCrPositioning = 531,
};

}  // namespace

// --- Signature

bool TTIFFGraphic::TestSignature(TStream& stream) {
  int64_t position = stream.GetPosition();
  bool result = false;
  if (stream.Remaining() > 8) {
    uint8_t h[8];
    stream.ReadBuffer(h, 8);
    bool little = h[0] == 'I' && h[1] == 'I', big = h[0] == 'M' && h[1] == 'M';
    if (little || big) {
      uint16_t version = big ? ReadBE16(h + 2) : ReadLE16(h + 2);
      uint32_t first = big ? ReadBE32(h + 4) : ReadLE32(h + 4);
      result = version == 42 && first < stream.GetSize() - position;
    }
  }
  stream.SetPosition(position);
  return result;
}

// --- Directory

std::vector<uint8_t> TTIFFGraphic::ReadAt(uint32_t offset, uint64_t count) {
  int64_t size = stream_->GetSize() - StreamStart;
  if (static_cast<int64_t>(offset) > size || count > static_cast<uint64_t>(size - offset)) ReadError();
  std::vector<uint8_t> data(static_cast<size_t>(count));
  stream_->SetPosition(StreamStart + offset);
  if (count) stream_->ReadBuffer(data.data(), static_cast<int32_t>(count));
  return data;
}

void TTIFFGraphic::ReadDirectory(uint32_t offset) {
  std::vector<uint8_t> head = ReadAt(offset, 2);
  uint16_t count = FileWord(head.data());
  std::vector<uint8_t> raw = ReadAt(offset + 2u, uint64_t{count} * 12);
  ifd_.assign(count, TIFDEntry{});
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = raw.data() + 12 * i;
    TIFDEntry& entry = ifd_[i];
    entry.Tag = FileWord(e);
    entry.DataType = FileWord(e + 2);
    entry.DataLength = FileLong(e + 4);
    const uint8_t* v = e + 8;
    uint64_t bytes = uint64_t{TypeSize(entry.DataType)} * entry.DataLength;
    if (!BigEndian()) {
      entry.Offset = ReadLE32(v);
    } else if (bytes > 4) {
      entry.Offset = ReadBE32(v);
    } else {
      // Values in the field keep their places: each is converted in its own width, so that the
      // first value lies in the lowest bytes as in a little-endian file.
      uint8_t field[4] = {v[0], v[1], v[2], v[3]};
      uint32_t width = TypeSize(entry.DataType);
      if (width == 2) {
        std::swap(field[0], field[1]);
        std::swap(field[2], field[3]);
      } else if (width == 4) {
        std::reverse(field, field + 4);
      }
      entry.Offset = ReadLE32(field);
    }
  }
  std::stable_sort(ifd_.begin(), ifd_.end(),
                   [](const TIFDEntry& a, const TIFDEntry& b) { return a.Tag < b.Tag; });
}

bool TTIFFGraphic::FindTag(uint16_t tag, size_t& index) const {
  auto it = std::lower_bound(ifd_.begin(), ifd_.end(), tag,
                             [](const TIFDEntry& e, uint16_t t) { return e.Tag < t; });
  if (it == ifd_.end() || it->Tag != tag) return false;
  index = static_cast<size_t>(it - ifd_.begin());
  return true;
}

uint32_t TTIFFGraphic::GetValue(uint16_t tag, uint32_t defaultValue) const {
  uint32_t count;
  return GetValue(tag, count, defaultValue);
}

uint32_t TTIFFGraphic::GetValue(uint16_t tag, uint32_t& count, uint32_t defaultValue) const {
  size_t i;
  count = 0;
  if (!FindTag(tag, i)) return defaultValue;
  const TIFDEntry& e = ifd_[i];
  count = e.DataLength;
  if (e.DataLength != 1) return e.Offset;
  switch (e.DataType) {
    case 1: return e.Offset & 0xFF;
    case 3:
    case 8: return e.Offset & 0xFFFF;
    case 4:
    case 9: return e.Offset;
    default: return defaultValue;
  }
}

float TTIFFGraphic::GetFloatValue(uint16_t tag, float defaultValue) {
  size_t i;
  if (!FindTag(tag, i) || ifd_[i].DataLength != 1) return defaultValue;
  const TIFDEntry e = ifd_[i];
  switch (e.DataType) {
    case 1: return static_cast<float>(e.Offset & 0xFF);
    case 3: return static_cast<float>(e.Offset & 0xFFFF);
    case 8: return static_cast<float>(static_cast<int16_t>(e.Offset & 0xFFFF));
    case 4: return static_cast<float>(e.Offset);
    case 9: return static_cast<float>(static_cast<int32_t>(e.Offset));
    case 5:
    case 10: {
      std::vector<uint8_t> v = ReadAt(e.Offset, 8);
      uint32_t n = FileLong(v.data()), d = FileLong(v.data() + 4);
      if (d == 0) return defaultValue;  // no division by zero from a damaged file
      if (e.DataType == 10)
        return static_cast<float>(static_cast<double>(static_cast<int32_t>(n)) /
                                  static_cast<int32_t>(d));
      return static_cast<float>(static_cast<double>(n) / d);
    }
    case 11: {
      float f;
      std::memcpy(&f, &e.Offset, 4);
      return f;
    }
    default: return defaultValue;
  }
}

namespace {

// The values of an entry as numbers, from `data` in the given byte order.
std::vector<double> Values(const uint8_t* data, uint32_t count, uint16_t type, bool big) {
  std::vector<double> out(count);
  auto w16 = [&](const uint8_t* p) { return big ? ReadBE16(p) : ReadLE16(p); };
  auto w32 = [&](const uint8_t* p) { return big ? ReadBE32(p) : ReadLE32(p); };
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* p = data + static_cast<size_t>(i) * TypeSize(type);
    switch (type) {
      case 3: out[i] = w16(p); break;
      case 8: out[i] = static_cast<int16_t>(w16(p)); break;
      case 4: out[i] = w32(p); break;
      case 9: out[i] = static_cast<int32_t>(w32(p)); break;
      case 5:
      case 10: {
        uint32_t n = w32(p), d = w32(p + 4);
        double num = type == 10 ? static_cast<int32_t>(n) : static_cast<double>(n);
        double den = type == 10 ? static_cast<int32_t>(d) : static_cast<double>(d);
        out[i] = den != 0 ? num / den : 0;
        break;
      }
      case 11: {
        uint32_t bits = w32(p);
        float f;
        std::memcpy(&f, &bits, 4);
        out[i] = f;
        break;
      }
      case 12: {
        uint64_t bits = big ? (uint64_t{w32(p)} << 32) | w32(p + 4)
                            : (uint64_t{w32(p + 4)} << 32) | w32(p);
        double d;
        std::memcpy(&d, &bits, 8);
        out[i] = d;
        break;
      }
      case 6: out[i] = static_cast<int8_t>(*p); break;
      default: out[i] = *p; break;
    }
  }
  return out;
}

}  // namespace

template <typename T>
static void CollectValues(TTIFFGraphic&, const std::vector<double>& numbers, std::vector<T>& values) {
  values.clear();
  values.reserve(numbers.size());
  for (double n : numbers) {
    if constexpr (std::is_same_v<T, float>) {
      values.push_back(static_cast<float>(n));
    } else {
      // Integers keep their low bits, as the file's field would.
      int64_t whole = n < 0 ? static_cast<int64_t>(n) : static_cast<int64_t>(static_cast<uint64_t>(n));
      values.push_back(static_cast<T>(static_cast<uint64_t>(whole)));
    }
  }
}

#define KBL_TIFF_VALUE_LIST(T)                                                              \
  void TTIFFGraphic::GetValueList(uint16_t tag, std::vector<T>& values) {                 \
    values.clear();                                                                         \
    size_t i;                                                                               \
    if (!FindTag(tag, i) || ifd_[i].DataLength == 0) return;                                \
    const TIFDEntry e = ifd_[i];                                                            \
    uint64_t bytes = uint64_t{TypeSize(e.DataType)} * e.DataLength;                         \
    if (bytes > 4) {                                                                        \
      std::vector<uint8_t> data = ReadAt(e.Offset, bytes);                                  \
      CollectValues(*this, Values(data.data(), e.DataLength, e.DataType, BigEndian()), values); \
    } else {                                                                                \
      uint8_t field[4] = {static_cast<uint8_t>(e.Offset), static_cast<uint8_t>(e.Offset >> 8), \
                          static_cast<uint8_t>(e.Offset >> 16),                             \
                          static_cast<uint8_t>(e.Offset >> 24)};                            \
      CollectValues(*this, Values(field, e.DataLength, e.DataType, false), values);        \
    }                                                                                       \
  }

KBL_TIFF_VALUE_LIST(uint8_t)
KBL_TIFF_VALUE_LIST(uint32_t)
KBL_TIFF_VALUE_LIST(float)
#undef KBL_TIFF_VALUE_LIST

// --- Properties

bool TTIFFGraphic::ReadImageInfo(TStream& stream, int32_t imageIndex) {
  inherited::ReadImageInfo(stream, imageIndex);
  TImageProperties& p = imageProperties_;
  stream_ = &stream;
  StreamStart = stream.GetPosition();
  ifd_.clear();
  uint8_t h[8];
  stream.ReadBuffer(h, 8);
  if (h[0] == 'M' && h[1] == 'M') p.Options |= ifBigEndian;
  else if (h[0] != 'I' || h[1] != 'I') return false;
  p.Version = FileWord(h + 2);
  p.FirstDirectory = FileLong(h + 4);
  if (p.Version != 42 || p.FirstDirectory == 0) return false;
  uint32_t offset = p.FirstDirectory;
  for (int32_t i = 0; i < imageIndex; ++i) {
    std::vector<uint8_t> head = ReadAt(offset, 2);
    uint32_t entries = FileWord(head.data());
    std::vector<uint8_t> next = ReadAt(offset + 2u + entries * 12u, 4);
    offset = FileLong(next.data());
    if (offset == 0) return false;
  }
  ReadDirectory(offset);

  p.Width = GetValue(tagImageWidth, 0);
  p.Height = GetValue(tagImageLength, 0);
  if (p.Width == 0 || p.Height == 0) return false;
  GetValueList(tagRowsPerStrip, p.RowsPerStrip);
  if (p.RowsPerStrip.empty() || p.RowsPerStrip[0] == 0xFFFFFFFF) p.RowsPerStrip = {p.Height};
  p.SamplesPerPixel = static_cast<uint8_t>(GetValue(tagSamplesPerPixel, 1));
  std::vector<uint32_t> bits;
  GetValueList(tagBitsPerSample, bits);
  p.BitsPerSample = static_cast<uint8_t>(bits.empty() ? 1 : bits[0]);
  p.TileWidth = GetValue(tagTileWidth, 0);
  p.TileLength = GetValue(tagTileLength, 0);
  if (p.TileWidth != 0 && p.TileLength != 0) p.Options |= ifTiled;
  std::vector<uint32_t> extra;
  GetValueList(tagExtraSamples, extra);
  p.HasAlpha = !extra.empty() && std::all_of(extra.begin(), extra.end(), [](uint32_t v) { return v <= 2; });
  p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);

  switch (GetValue(tagCompression, 0)) {
    case 1: p.Compression = icNone; break;
    case 2: p.Compression = icFaxMH; break;
    case 3: p.Compression = icFax3; break;
    case 4: p.Compression = icFax4; break;
    case 5: p.Compression = icLZW; break;
    case 6: p.Compression = icOldJPEG; break;
    case 7: p.Compression = icJPEG; break;
    case 8:
    case 32946: p.Compression = icDeflate; break;
    case 32766: p.Compression = icNeXT; break;
    case 32771: p.Compression = icFaxMHWord; break;
    case 32773: p.Compression = icPackBits; break;
    case 32809: p.Compression = icThunderScan; break;
    case 32895: p.Compression = icIT8CTPAD; break;
    case 32896: p.Compression = icIT8LW; break;
    case 32897: p.Compression = icIT8MP; break;
    case 32898: p.Compression = icIT8BL; break;
    case 32908: p.Compression = icPixarFilm; break;
    case 32909: p.Compression = icPixarLog; break;
    case 32947: p.Compression = icDCS; break;
    case 34661: p.Compression = icJBIG; break;
    default: p.Compression = icUnknown; break;
  }

  switch (GetValue(tagPhotometric, 0)) {
    case 0:
      p.ColorScheme = psGray;
      p.Options |= ifMinIsWhite;
      break;
    case 1: p.ColorScheme = psGray; break;
    case 2: p.ColorScheme = p.SamplesPerPixel < 4 ? psRGB : psRGBA; break;
    case 3: p.ColorScheme = psIndexed; break;
    case 5: p.ColorScheme = psCMYK; break;
    case 6: {
      p.ColorScheme = psYCbCr;
      GetValueList(tagYCbCrSubSampling, p.YCbCrSubSampling);
      if (p.YCbCrSubSampling.empty()) p.YCbCrSubSampling = {2, 2};
      YCbCrPositioning = GetValue(tagYCbCrPositioning, 1);
      GetValueList(tagYCbCrCoefficients, YCbCrCoefficients);
      if (YCbCrCoefficients.empty()) YCbCrCoefficients = {0.299f, 0.587f, 0.114f};
      break;
    }
    case 8: p.ColorScheme = psLab; break;
    default: p.ColorScheme = psUnknown; break;
  }

  // No directory tag supplies these; the JPEG decoder reads them as fixed.
  p.JPEGColorMode = 0;
  p.JPEGTablesMode = 3;
  p.PlanarConfig = GetValue(tagPlanarConfig, 0);
  p.XResolution = GetFloatValue(tagXResolution, 0);
  p.YResolution = GetFloatValue(tagYResolution, 0);
  if (GetValue(tagResolutionUnit, 2) == 3) {
    p.XResolution *= 2.54f;
    p.YResolution *= 2.54f;
  }
  p.Predictor = GetValue(tagPredictor, 0);
  if (GetValue(tagFillOrder, 1) == 2) p.Options |= ifReversed;
  return true;
}

// --- Loading

void TTIFFGraphic::LoadFromStream(TStream& stream) { LoadTIFF(stream); }

void TTIFFGraphic::LoadTIFF(TStream& stream) {
  Clear();
  StreamStart = stream.GetPosition();
  if (!ReadImageInfo(stream, 0)) RaiseInvalidGraphic(gesInvalidImage, {kName});
  TImageProperties& p = imageProperties_;
  if (p.Options & ifTiled) return;  // tiles are not read: the picture stays empty

  ProgressArea = Rect(0, 0, 0, 1);
  ReportStart(gesPreparing);
  std::vector<uint32_t> offsets, byteCounts;
  GetValueList(tagStripOffsets, offsets);
  GetValueList(tagStripByteCounts, byteCounts);

  TColorManager& cm = colorManager_;
  // The JPEG decoder delivers blue-first colour rows, or grey bytes for one sample per pixel.
  bool jpeg = (p.Compression == icJPEG || p.Compression == icOldJPEG) && p.SamplesPerPixel != 1;
  TPixelScheme source = jpeg ? psBGR : p.ColorScheme;
  TPixelScheme target = source;
  uint8_t targetSamples = p.SamplesPerPixel;
  switch (source) {
    case psIndexed:
    case psGray:
      // Grey or palette samples followed by alpha: the alpha samples are stepped over.
      if (p.HasAlpha && p.SamplesPerPixel == 2) {
        source = psGrayAlpha;
        targetSamples = 1;
      }
      break;
    case psRGB: target = psBGR; break;
    case psRGBA: target = psBGRA; break;
    case psCMY:
    case psCMYK:
    case psLab:
    case psYCbCr: target = psBGR; break;
    default: break;
  }
  if (source == psCMYK) targetSamples = 3;
  TPixelFormat format = pfCustom;
  try {
    TPixelOptions options = BigEndian() ? poSwapBytes : 0;
    if (source == psLab) options |= poLabPercent;
    cm.SetSourceOptions(options);
    cm.SetSourceBitsPerSample(p.BitsPerSample);
    // 2-bit samples widen to 4 bits: the bitmap has no 2-bit format.
    cm.SetTargetBitsPerSample(p.BitsPerSample == 16 ? 8 : p.BitsPerSample == 2 ? 4 : p.BitsPerSample);
    cm.SetSourceScheme(source);
    cm.SetTargetScheme(target);
    cm.SetSourceSamplesPerPixel(p.SamplesPerPixel);
    cm.SetTargetSamplesPerPixel(targetSamples);
    if (source == psYCbCr)
      cm.SetYCbCrValues(YCbCrCoefficients, p.YCbCrSubSampling[0],
                        p.YCbCrSubSampling.size() > 1 ? p.YCbCrSubSampling[1] : 1);
    format = source == psGrayAlpha ? pf8bit : cm.PixelFormatFor(1);
  } catch (const EColorConversionError&) {
    RaiseInvalidGraphic(gesInvalidColorFormat, {kName});
  }
  if (format == pfCustom || source == psUnknown) RaiseInvalidGraphic(gesInvalidColorFormat, {kName});
  SetPixelFormat(format);

  bool compressed = p.Compression != icNone;
  int64_t available = stream.GetSize() - StreamStart;
  uint32_t ratio = compressed ? 2048 : 1;
  // The decoded rows must fit what the file can hold; the bitmap may be wider per pixel than
  // the file's rows (2-bit samples become 4-bit pixels, subsampled chroma full pixels).
  uint32_t fileBits = std::max<uint32_t>(p.BitsPerPixel, 1);
  uint32_t bitmapBits = static_cast<uint32_t>(BitsPerPixelOf(format));
  CheckImageSize(p.Width, p.Height, fileBits, available, ratio, kName);
  CheckImageSize(p.Width, p.Height, bitmapBits, available,
                 ratio * std::max<uint32_t>((bitmapBits + fileBits - 1) / fileBits, 1), kName);
  SetSize(static_cast<int32_t>(p.Width), static_cast<int32_t>(p.Height));
  ProgressArea.Right = static_cast<int32_t>(p.Width);

  if (target == psIndexed) {
    uint32_t count = 0;
    GetValue(tagColorMap, count, 0);
    size_t index;
    if (count >= 3 && FindTag(tagColorMap, index)) {
      // Three planes (red, green, blue) of count / 3 16-bit values; at most 256 colours.
      uint32_t plane = count / 3, colours = std::min<uint32_t>(plane, 256);
      uint32_t offset = ifd_[index].Offset;
      for (uint32_t c = 0; c < 3; ++c) {
        std::vector<uint8_t> data = ReadAt(offset + c * plane * 2, uint64_t{colours} * 2);
        std::memcpy(colorMap_ + 256 * c, data.data(), data.size());
      }
      SetPalette(cm.MakeColorPalette({colorMap_, colorMap_ + 256, colorMap_ + 512},
                                     pfPlane16Triple, static_cast<int32_t>(colours), false));
    }
  } else if (target == psGray) {
    SetPalette(cm.MakeGrayPalette((p.Options & ifMinIsWhite) != 0));
  }

  p.BytesPerLine = static_cast<uint32_t>((uint64_t{p.BitsPerPixel} * p.Width + 7) / 8);
  // Horizontal differencing of 8-bit samples: each sample adds the one a pixel before it.
  bool predict = compressed && p.Predictor == 2 && p.BitsPerSample == 8;
  uint32_t distance = std::max<uint32_t>(p.SamplesPerPixel, 1);

  std::unique_ptr<TDecoder> decoder;
  bool swapBits = (p.Options & ifReversed) != 0;
  switch (p.Compression) {
    case icNone: break;
    case icPackBits: decoder = std::make_unique<TPackbitsRLEDecoder>(); break;
    case icFax3:
      decoder = std::make_unique<TCCITTFax3Decoder>(GetValue(tagT4Options, 0), swapBits, false,
                                                    p.Width);
      break;
    case icFaxMH:
    case icFaxMHWord:
      decoder = std::make_unique<TCCITTMHDecoder>(GetValue(tagT4Options, 0), swapBits,
                                                  p.Compression == icFaxMHWord, p.Width);
      break;
    case icDeflate: decoder = std::make_unique<TLZ77Decoder>(1, true); break;
    case icJPEG:
      GetValueList(tagJPEGTables, p.JPEGTables);
      decoder = std::make_unique<TTIFFJPEGDecoder>(&p);
      break;
    case icThunderScan: decoder = std::make_unique<TThunderDecoder>(p.Width); break;
    default: RaiseInvalidGraphic(gesUnsupportedFeature, {gesCompressionScheme, kName});
  }
  if (decoder) decoder->DecodeInit();

  ReportEnd();
  ReportStart(gesTransfering);
  p.RowIndex = 0;
  p.StripIndex = 0;
  p.StripCount = static_cast<uint32_t>(offsets.size());
  std::vector<uint8_t> buffer, packed;
  int64_t bytesPerLine = p.BytesPerLine;
  for (size_t s = 0; s < offsets.size() && p.RowIndex < p.Height; ++s) {
    uint32_t rows = p.RowsPerStrip[std::min(s, p.RowsPerStrip.size() - 1)];
    // The last strip holds only the rows left.
    rows = std::min(rows, p.Height - p.RowIndex);
    if (rows == 0) continue;
    if (offsets[s] > available) ReadError();
    stream.SetPosition(StreamStart + offsets[s]);
    // Decoders that write their output in order have what they did not reach cleared after
    // them; the others write into a cleared buffer.
    const bool sequential = p.Compression == icDeflate || p.Compression == icPackBits;
    if (decoder && !sequential) buffer.assign(static_cast<size_t>(rows * bytesPerLine), 0);
    else buffer.resize(static_cast<size_t>(rows * bytesPerLine));
    if (decoder) {
      int64_t count = s < byteCounts.size() ? byteCounts[s] : stream.Remaining();
      if (count > stream.Remaining()) ReadError();
      packed.resize(static_cast<size_t>(count));
      if (count) stream.ReadBuffer(packed.data(), static_cast<int32_t>(count));
      uint8_t* source = packed.data();
      uint8_t* dest = buffer.data();
      decoder->Decode(source, dest, static_cast<int32_t>(count), static_cast<int32_t>(buffer.size()));
      if (sequential) std::fill(dest, buffer.data() + buffer.size(), uint8_t{0});
      if (auto* lz = dynamic_cast<TLZ77Decoder*>(decoder.get()); lz && IsDeflateError(lz->LastResult()))
        RaiseInvalidGraphic(gesCompression, {kName});
    } else {
      stream.ReadBuffer(buffer.data(), static_cast<int32_t>(buffer.size()));
    }
    for (uint32_t r = 0; r < rows && p.RowIndex < p.Height; ++r) {
      uint8_t* row = buffer.data() + r * bytesPerLine;
      if (predict)
        for (int64_t i = distance; i < static_cast<int64_t>(p.Width) * distance && i < bytesPerLine; ++i)
          row[i] = static_cast<uint8_t>(row[i] + row[i - distance]);
      ConvertRow({row}, static_cast<size_t>(bytesPerLine), static_cast<int32_t>(p.RowIndex));
      ++p.RowIndex;
      ReportRow(p.RowIndex, p.Height);
    }
    ++p.StripIndex;
  }
  ReportEnd();
  if (decoder) decoder->DecodeEnd();
}

// --- EPS

bool TEPSGraphic::TestSignature(TStream& stream) {
  int64_t position = stream.GetPosition();
  bool result = false;
  if (stream.Remaining() > 30) {
    uint8_t h[30];
    stream.ReadBuffer(h, 30);
    // The TIFF offset counts from the header's start.
    result = h[0] == 0xC5 && h[1] == 0xD0 && h[2] == 0xD3 && h[3] == 0xC6 &&
             ReadLE32(h + 20) > 30 && ReadLE32(h + 24) > 0;
  }
  stream.SetPosition(position);
  return result;
}

void TEPSGraphic::LoadFromStream(TStream& stream) {
  Clear();
  int64_t start = stream.GetPosition();
  uint8_t h[30];
  stream.ReadBuffer(h, 30);
  if (h[0] != 0xC5 || h[1] != 0xD0 || h[2] != 0xD3 || h[3] != 0xC6)
    RaiseInvalidGraphic(gesInvalidImage, {"EPS"});
  uint32_t offset = ReadLE32(h + 20);
  if (offset > stream.GetSize() - start) ReadError();
  stream.SetPosition(start + offset);
  LoadTIFF(stream);
}
