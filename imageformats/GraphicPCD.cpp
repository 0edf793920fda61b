// Photo-CD reader.
#include "GraphicPCD.h"

#include <algorithm>
#include <cstring>

#include "GraphicStrings.h"

using namespace GraphicStrings;

KBL_PUBLISHED(TPCDGraphic) {}

namespace {

const int32_t kSector = 2048;
const int32_t kBaseWidth = 768;
const int32_t kBaseHeight = 512;
const int32_t kImageSector = 96;     // the base image of an image pack
const int32_t kOverviewSector = 5;   // the first image of an overview file
const int32_t kRotationByte = 0x0E02;

}  // namespace

bool TPCDGraphic::TestSignature(TStream& stream) {
  int64_t position = stream.GetPosition();
  bool result = false;
  if (stream.Remaining() > 3 * kSector) {
    uint8_t head[2051];
    stream.ReadBuffer(head, sizeof head);
    result = std::memcmp(head, "PCD_OPA", 7) == 0 || std::memcmp(head + 2048, "PCD", 3) == 0;
  }
  stream.SetPosition(position);
  return result;
}

bool TPCDGraphic::ReadImageInfo(TStream& stream, int32_t imageIndex) {
  imageIndex = std::clamp(imageIndex, 0, 5);
  inherited::ReadImageInfo(stream, imageIndex);
  std::vector<uint8_t> head(3 * kSector);
  stream.ReadBuffer(head.data(), 3 * kSector);
  TImageProperties& p = imageProperties_;
  p.IsOverviewFile = std::memcmp(head.data(), "PCD_OPA", 7) == 0;
  if (!p.IsOverviewFile && std::memcmp(head.data() + 2048, "PCD", 3) != 0) return false;
  p.Rotation = head[kRotationByte] & 3;
  if (p.IsOverviewFile) imageIndex = 0;
  p.Width = 192u << imageIndex;
  p.Height = 128u << imageIndex;
  if (p.Rotation == 1 || p.Rotation == 3) std::swap(p.Width, p.Height);
  p.ColorScheme = psPhotoYCC;
  p.BitsPerSample = 8;
  p.SamplesPerPixel = 3;
  p.BitsPerPixel = 24;
  p.Compression = imageIndex < 3 ? icNone : icPhotoCDHuffman;
  p.ImageCount = ReadBE16(head.data() + 10);
  return true;
}

void DoublePlane(uint8_t* plane, int32_t width, int32_t height, int32_t stride) {
  if (width <= 0 || height <= 0) return;
  std::vector<uint8_t> in(static_cast<size_t>(width));
  // Rows spread out from the last to the first, so no source row is overwritten before use.
  for (int32_t y = height - 1; y >= 0; --y) {
    std::memcpy(in.data(), plane + static_cast<size_t>(y) * stride, in.size());
    uint8_t* out = plane + static_cast<size_t>(2 * y) * stride;
    for (int32_t x = 0; x + 1 < width; ++x) {
      out[2 * x] = in[x];
      out[2 * x + 1] = static_cast<uint8_t>((in[x] + in[x + 1] + 1) / 2);
    }
    out[2 * width - 2] = in[width - 1];
    out[2 * width - 1] = in[width - 1];
  }
  int32_t wide = 2 * width;
  for (int32_t y = 0; y + 1 < height; ++y) {
    const uint8_t* a = plane + static_cast<size_t>(2 * y) * stride;
    const uint8_t* b = a + 2 * static_cast<size_t>(stride);
    uint8_t* out = plane + static_cast<size_t>(2 * y + 1) * stride;
    for (int32_t x = 0; x + 2 < wide; x += 2) {
      out[x] = static_cast<uint8_t>((a[x] + b[x] + 1) / 2);
      out[x + 1] = static_cast<uint8_t>((a[x] + a[x + 2] + b[x] + b[x + 2] + 2) / 4);
    }
    uint8_t last = static_cast<uint8_t>((a[wide - 2] + b[wide - 2] + 1) / 2);
    out[wide - 2] = last;
    out[wide - 1] = last;
  }
  std::memcpy(plane + static_cast<size_t>(2 * height - 1) * stride,
              plane + static_cast<size_t>(2 * height - 2) * stride, static_cast<size_t>(wide));
}

void TPCDGraphic::LoadFromStream(TStream& stream) {
  Clear();
  StreamStart = stream.GetPosition();
  if (!ReadImageInfo(stream, 2)) RaiseInvalidGraphic(gesInvalidImage, {"PCD"});
  stream.SetPosition(StreamStart);
  TImageProperties& p = imageProperties_;
  ProgressArea = Rect(0, 0, static_cast<int32_t>(p.Width), 1);
  ReportStart(gesPreparing);
  const int32_t width = kBaseWidth, height = kBaseHeight;
  int64_t start = StreamStart + int64_t{p.IsOverviewFile ? kOverviewSector : kImageSector} * kSector;
  // The whole base image must be in the file before the planes are allocated.
  int64_t needed = int64_t{height / 2} * (2 * width + width);
  if (start + needed > stream.GetSize()) throw EReadError("Stream read error");
  std::vector<uint8_t> y(static_cast<size_t>(width) * height);
  std::vector<uint8_t> cb(y.size()), cr(y.size());
  stream.SetPosition(start);

  TColorManager& cm = colorManager_;
  cm.SetSourceScheme(psPhotoYCC);
  cm.SetSourceBitsPerSample(8);
  cm.SetSourceSamplesPerPixel(3);
  cm.SetTargetScheme(psBGR);
  cm.SetTargetBitsPerSample(8);
  cm.SetTargetSamplesPerPixel(3);
  SetPixelFormat(pf24bit);
  cm.SetYCbCrValues({0.2125f, 0.7154f, 0.0721f}, 2, 2);
  ReportEnd();

  ReportStart(gesLoadingData);
  for (int32_t row = 0; row < height; row += 2) {
    Progress(this, psRunning, static_cast<uint8_t>(row * 100 / height), false, ProgressArea, "");
    stream.ReadBuffer(y.data() + static_cast<size_t>(row) * width, 2 * width);
    stream.ReadBuffer(cb.data() + static_cast<size_t>(row / 2) * width, width / 2);
    stream.ReadBuffer(cr.data() + static_cast<size_t>(row / 2) * width, width / 2);
  }
  ReportEnd();

  ReportStart(gesUpsampling);
  DoublePlane(cb.data(), width / 2, height / 2, width);
  Progress(this, psRunning, 50, false, ProgressArea, "");
  DoublePlane(cr.data(), width / 2, height / 2, width);
  Progress(this, psRunning, 100, false, ProgressArea, "");
  ReportEnd();

  ReportStart(gesTransfering);
  bool turned = p.Rotation == 1 || p.Rotation == 3;
  SetSize(turned ? height : width, turned ? width : height);
  std::vector<uint8_t> line(static_cast<size_t>(width) * 3);
  for (int32_t r = 0; r < height; ++r) {
    size_t at = static_cast<size_t>(r) * width;
    const uint8_t* planes[3] = {y.data() + at, cb.data() + at, cr.data() + at};
    // Rotations 0 and 2 keep the stored orientation; only the quarter turns move pixels.
    if (!turned) {
      ConvertRow({planes[0], planes[1], planes[2]}, static_cast<size_t>(width), r);
    } else {
      cm.ConvertPixelRow(planes, 3, line.data(), width, 0xFF);
      for (int32_t x = 0; x < width; ++x) {
        int32_t tx = p.Rotation == 1 ? r : height - 1 - r;
        int32_t ty = p.Rotation == 1 ? width - 1 - x : x;
        std::memcpy(ScanLine(ty) + 3 * tx, line.data() + 3 * x, 3);
      }
    }
    ReportRow(r, height);
  }
  ReportEnd();
}
