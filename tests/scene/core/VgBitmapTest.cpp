// The scene bitmap: pixel operations, premultiplication at the straight-alpha boundary, the
// resource link, and loading, saving and the "PNG" property through a small test codec.
#include "scene/core/vg_bitmap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "TestFiles.h"
#include "classlib/Filer.h"
#include "scene/core/vg_registry.h"

namespace {

// A codec of its own making: "TRAW", the format and parameter texts (length-prefixed), width,
// height, then the premultiplied pixels, little-endian.
struct CodecLog {
  std::string format, params;
  int loads = 0;
};
CodecLog g_log;

void PutU32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}

uint32_t GetU32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(s[at + i])) << (8 * i);
  return v;
}

}  // namespace

class TTestFilter : public TvgFilter {
  KBL_DECLARE_CLASS(TTestFilter, TvgFilter)
 public:
  TTestFilter() = default;
  bool LoadFromFile(const std::string& fileName, TvgBitmap& bitmap, float) override {
    TFileStream f(fileName, fmOpenRead);
    return LoadFromStream(f, bitmap);
  }
  bool LoadThumbnailFromFile(const std::string&, bool, float, float, TvgBitmap&) override { return false; }
  bool SaveToFile(const std::string& fileName, TvgBitmap& bitmap, const std::string& params) override {
    TFileStream f(fileName, fmCreate);
    return SaveToStream(f, bitmap, "raw", params);
  }
  bool LoadFromStream(TStream& stream, TvgBitmap& bitmap) override {
    ++g_log.loads;
    std::string data(static_cast<size_t>(stream.Remaining()), '\0');
    if (!data.empty()) stream.ReadBuffer(data.data(), static_cast<int32_t>(data.size()));
    if (data.size() < 4 || data.compare(0, 4, "TRAW") != 0) return false;
    size_t at = 4;
    for (int text = 0; text < 2; ++text) {
      if (at >= data.size()) return false;
      at += 1 + static_cast<uint8_t>(data[at]);
    }
    if (at + 8 > data.size()) return false;
    const uint32_t w = GetU32(data, at), h = GetU32(data, at + 4);
    at += 8;
    if (w > 4096 || h > 4096 || data.size() - at < size_t(w) * h * 4) return false;
    bitmap.SetSize(static_cast<int32_t>(w), static_cast<int32_t>(h));
    for (uint32_t i = 0; i < w * h; ++i) bitmap.Bits()[i] = GetU32(data, at + 4 * i);
    return true;
  }
  bool SaveToStream(TStream& stream, TvgBitmap& bitmap, const std::string& format, const std::string& params) override {
    g_log.format = format;
    g_log.params = params;
    std::string data = "TRAW";
    data += static_cast<char>(format.size()) + format + static_cast<char>(params.size()) + params;
    PutU32(data, static_cast<uint32_t>(bitmap.GetWidth()));
    PutU32(data, static_cast<uint32_t>(bitmap.GetHeight()));
    for (int32_t i = 0; i < bitmap.GetWidth() * bitmap.GetHeight(); ++i) PutU32(data, bitmap.Bits()[i]);
    stream.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    return true;
  }
};

KBL_PUBLISHED(TTestFilter) {}

namespace {

// Stands in for the bitmap resource objects of the style system, matched by class name.
class TvgBitmapObject : public TComponent, public IvgSceneEntry {
  KBL_DECLARE_CLASS(TvgBitmapObject, TComponent)
 public:
  explicit TvgBitmapObject(TComponent* owner) : TComponent(owner) { vgRegisterSceneObject(this); }
  ~TvgBitmapObject() override {
    vgUnregisterSceneObject(this);
    delete bitmap_;
  }
  std::string GetSceneResourceName() const override { return ResourceName; }
  bool GetSceneStored() const override { return true; }
  TvgBitmap* GetBitmap() const { return bitmap_; }
  void SetBitmap(TvgBitmap* b) { bitmap_->Assign(b); }
  std::string ResourceName;

 private:
  TvgBitmap* bitmap_ = new TvgBitmap(3, 1);
};

KBL_PUBLISHED(TvgBitmapObject) { KBL_PROP(Bitmap); }

class TBitmapHolder : public TComponent {
  KBL_DECLARE_CLASS(TBitmapHolder, TComponent)
 public:
  explicit TBitmapHolder(TComponent* owner) : TComponent(owner) {}
  ~TBitmapHolder() override { delete bitmap_; }
  TvgBitmap* GetBitmap() const { return bitmap_; }
  void SetBitmap(TvgBitmap* b) { bitmap_->Assign(b); }

 private:
  TvgBitmap* bitmap_ = new TvgBitmap;
};

KBL_PUBLISHED(TBitmapHolder) { KBL_PROP(Bitmap); }

struct Counter {
  int hits = 0;
  void Hit(TObject*) { ++hits; }
  TNotifyEvent Event() { return TNotifyEvent::Of<&Counter::Hit>(this); }
};

class VgBitmap : public ::testing::Test {
 protected:
  void SetUp() override {
    vgSetDefaultFilterClass(TTestFilter::StaticClassInfo());
    g_log = CodecLog();
  }
  void TearDown() override { vgSetDefaultFilterClass(nullptr); }
};

std::string Bytes(TMemoryStream& s) {
  return std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<size_t>(s.GetSize()));
}

TEST(VgFilterParams, QualitiesAreReadInOrderAndClamped) {
  EXPECT_EQ(vgFilterQualities("quality=5"), (std::vector<int32_t>{5}));
  EXPECT_EQ(vgFilterQualities("other=1 quality=100"), (std::vector<int32_t>{100}));
  EXPECT_EQ(vgFilterQualities("QUALITY=150 quality=-3 quality=x quality 7"), (std::vector<int32_t>{100, 0}));
  EXPECT_TRUE(vgFilterQualities("").empty());
}

TEST_F(VgBitmap, SizeAndClear) {
  TvgBitmap bitmap(4, 3);
  EXPECT_FALSE(bitmap.IsEmpty());
  EXPECT_EQ(bitmap.Pixel(3, 2), 0u);
  Counter counter;
  bitmap.OnChange = counter.Event();
  bitmap.Clear(0x80FF0000u);
  EXPECT_EQ(bitmap.Pixel(0, 0), 0x80800000u);  // stored premultiplied
  EXPECT_EQ(counter.hits, 1);
  bitmap.SetSize(4, 3);
  EXPECT_EQ(counter.hits, 1);  // unchanged size: nothing
  bitmap.SetSize(2, 0);
  EXPECT_TRUE(bitmap.IsEmpty());
  EXPECT_EQ(bitmap.Bits(), nullptr);
  EXPECT_EQ(bitmap.Scanline(0), nullptr);
  TvgBitmap negative(-5, 7);
  EXPECT_TRUE(negative.IsEmpty());
  EXPECT_THROW(TvgBitmap(100000, 100000), EOutOfMemory);
}

TEST_F(VgBitmap, ClearRectClipsToTheBitmap) {
  TvgBitmap bitmap(4, 4);
  Counter counter;
  bitmap.OnChange = counter.Event();
  bitmap.ClearRect(vgRect(-5, -5, 1.6f, 1.4f), 0xFFFFFFFFu);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(bitmap.Pixel(x, y), (y == 0 && x < 2) ? 0xFFFFFFFFu : 0u) << x << y;
  EXPECT_EQ(counter.hits, 0);
  bitmap.ClearRect(vgRect(2, 2, 100, 100), 0xFF00FF00u);
  EXPECT_EQ(bitmap.Pixel(3, 3), 0xFF00FF00u);
  bitmap.ClearRect(vgRect(10, 10, 20, 20), 0xFF0000FFu);
  bitmap.ClearRect(vgRect(3, 3, 1, 1), 0xFF0000FFu);
  bitmap.ClearRect(vgRect(-1e30f, -1e30f, 1e30f, 1e30f), 0xFF123456u);
  EXPECT_EQ(bitmap.Pixel(3, 3), 0xFF123456u);
}

TEST_F(VgBitmap, FlipMaskAndAlphaOperations) {
  TvgBitmap bitmap(2, 3);
  for (int y = 0; y < 3; ++y) bitmap.ClearRect(vgRect(0, y, 2, y + 1), 0xFF000000u | y);
  bitmap.FlipVertical();
  EXPECT_EQ(bitmap.Pixel(0, 0), 0xFF000002u);
  EXPECT_EQ(bitmap.Pixel(1, 1), 0xFF000001u);
  EXPECT_EQ(bitmap.Pixel(0, 2), 0xFF000000u);
  const std::vector<uint8_t> full(6, 255);
  TvgBitmap shifted(2, 3);
  shifted.Clear(0xFFFFFFFFu);
  shifted.ApplyMask(full, 2, 0);  // the mask lies beside the bitmap
  EXPECT_EQ(shifted.Pixel(1, 2), 0xFFFFFFFFu);
  shifted.ApplyMask(full, 1, 0);
  EXPECT_EQ(shifted.Pixel(0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(shifted.Pixel(1, 0), 0u);
  shifted.ApplyMask(std::vector<uint8_t>(5, 255), 0, 0);  // too short: nothing
  EXPECT_EQ(shifted.Pixel(0, 0), 0xFFFFFFFFu);
  shifted.ApplyMask(full, 0, 0);
  EXPECT_EQ(shifted.CreateMask(), std::vector<uint8_t>(6, 0));
  TvgBitmap half(1, 1);
  half.Clear(0xFF804020u);
  half.ApplyMask({128}, 0, 0);  // keeps 127/255 of the coverage
  EXPECT_EQ(half.Pixel(0, 0) >> 24, 127u);
  TvgBitmap alpha(2, 1);
  alpha.Clear(0x40FFFFFFu);
  alpha.InvertAlpha();
  EXPECT_EQ(alpha.Pixel(0, 0), vgPremultiplyAlpha(0xBFFFFFFFu));
  alpha.ClearRect(vgRect(1, 0, 2, 1), 0);
  alpha.FillColor(0xFF00FF00u);
  EXPECT_EQ(alpha.Pixel(0, 0), vgPremultiplyAlpha(0xBF00FF00u));
  EXPECT_EQ(alpha.Pixel(1, 0), 0u);  // no coverage stays empty
}

TEST_F(VgBitmap, StraightAlphaIsPremultipliedAtTheBoundary) {
  const uint32_t straight[4] = {0x80FF8040u, 0xFF112233u, 0x00FFFFFFu, 0x01FF00FFu};
  TvgBitmap bitmap;
  bitmap.AssignStraightPixels(2, 2, straight, 2);
  EXPECT_EQ(bitmap.Pixel(0, 0), 0x80804020u);
  EXPECT_EQ(bitmap.Pixel(1, 0), 0xFF112233u);
  EXPECT_EQ(bitmap.Pixel(0, 1), 0u);
  uint32_t back[4] = {};
  bitmap.CopyToStraightPixels(back, 2);
  EXPECT_EQ(back[0] >> 24, 0x80u);
  EXPECT_NEAR(static_cast<int>(back[0] >> 16 & 255), 0xFF, 2);
  EXPECT_NEAR(static_cast<int>(back[0] >> 8 & 255), 0x80, 2);
  EXPECT_EQ(back[1], 0xFF112233u);
  // Invalid premultiplied data (a channel above its alpha) clamps to 255 on the way out.
  bitmap.Bits()[3] = 0x10FF0808u;
  bitmap.CopyToStraightPixels(back, 2);
  EXPECT_EQ(back[3], 0x10FF7F7Fu);
  // Transparent colour keying, 32 and 24 bits.
  bitmap.AssignStraightPixels(2, 2, straight, 2, true, 0x112233);
  EXPECT_EQ(bitmap.Pixel(1, 0), 0u);
  const uint8_t rgb[2 * 3 + 2] = {0x33, 0x22, 0x11, 0x01, 0x02, 0x03, 0, 0};  // padded row
  bitmap.AssignRgbPixels(2, 1, rgb, 8, true, 0x030201);
  EXPECT_EQ(bitmap.Pixel(0, 0), 0xFF112233u);
  EXPECT_EQ(bitmap.Pixel(1, 0), 0u);
}

TEST_F(VgBitmap, SavesJpegWhenOpaqueAndPngOtherwise) {
  TvgBitmap bitmap(2, 2);
  bitmap.Clear(0xFF102030u);
  TMemoryStream opaque;
  ASSERT_TRUE(bitmap.SaveToStream(opaque));
  EXPECT_EQ(g_log.format, "jpeg");
  EXPECT_EQ(g_log.params, "quality=100");
  bitmap.ClearRect(vgRect(1, 1, 2, 2), 0x80FFFFFFu);
  TMemoryStream translucent;
  ASSERT_TRUE(bitmap.SaveToStream(translucent));
  EXPECT_EQ(g_log.format, "png");
  EXPECT_EQ(g_log.params, "");
  // Loading from the middle of a stream hands the codec the rest from position 0.
  TMemoryStream padded;
  padded.WriteBuffer("xyz", 3);
  translucent.SetPosition(0);
  padded.CopyFrom(translucent, 0);
  padded.SetPosition(3);
  TvgBitmap back;
  Counter counter;
  back.OnChange = counter.Event();
  ASSERT_TRUE(back.LoadFromStream(padded));
  EXPECT_GE(counter.hits, 1);
  EXPECT_EQ(back.Pixel(1, 1), bitmap.Pixel(1, 1));
  EXPECT_EQ(back.Pixel(0, 0), 0xFF102030u);
  // A failed decode fires nothing.
  const int before = counter.hits;
  TStringStream junk("not an image");
  EXPECT_FALSE(back.LoadFromStream(junk));
  EXPECT_EQ(counter.hits, before);
  vgSetDefaultFilterClass(nullptr);
  TStringStream any("TRAW");
  EXPECT_FALSE(back.LoadFromStream(any));  // no codec installed
}

TEST_F(VgBitmap, FilesGoThroughTheCodec) {
  TempDir dir;
  TvgBitmap bitmap(3, 2);
  bitmap.Clear(0x80402010u);
  ASSERT_TRUE(bitmap.SaveToFile(dir.File("image.raw")));
  TvgBitmap back;
  ASSERT_TRUE(back.LoadFromFile(dir.File("image.raw")));
  EXPECT_EQ(back.GetWidth(), 3);
  EXPECT_EQ(back.Pixel(2, 1), bitmap.Pixel(2, 1));
  const int loads = g_log.loads;
  EXPECT_FALSE(back.LoadFromFile(dir.File("missing.raw")));
  EXPECT_EQ(g_log.loads, loads);  // a missing file reaches no codec
}

TEST_F(VgBitmap, PngPropertyRoutesThroughTheCodec) {
  TBitmapHolder holder(nullptr);
  TMemoryStream none;
  WriteComponentToStream(none, &holder);
  EXPECT_EQ(Bytes(none).find("PNG"), std::string::npos);  // 0 x 0 writes nothing
  holder.GetBitmap()->SetSize(2, 2);
  holder.GetBitmap()->Clear(0xFF0000FFu);
  holder.GetBitmap()->ClearRect(vgRect(0, 0, 1, 1), 0x80FF0000u);
  TMemoryStream stream;
  WriteComponentToStream(stream, &holder);
  const std::string bytes = Bytes(stream);
  const size_t at = bytes.find("Bitmap.PNG");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(static_cast<uint8_t>(bytes[at + 10]), vaBinary);
  EXPECT_EQ(bytes.substr(at + 15, 8), std::string("TRAW\x03png", 8));
  stream.SetPosition(0);
  TBitmapHolder copy(nullptr);
  ReadComponentFromStream(stream, &copy);
  EXPECT_EQ(copy.GetBitmap()->GetWidth(), 2);
  EXPECT_EQ(copy.GetBitmap()->Pixel(0, 0), holder.GetBitmap()->Pixel(0, 0));
  EXPECT_EQ(copy.GetBitmap()->Pixel(1, 1), 0xFF0000FFu);
}

TEST_F(VgBitmap, AssignCopiesPixelsOrLinksToTheResource) {
  vgFreeRegistries();
  auto* resource = new TvgBitmapObject(nullptr);
  resource->ResourceName = "Knob";
  resource->GetBitmap()->Clear(0xFFABCDEFu);
  TvgBitmap linked;
  Counter counter;
  linked.OnChange = counter.Event();
  linked.SetResourceName("knob");
  EXPECT_EQ(linked.GetBitmap(), resource->GetBitmap());
  EXPECT_EQ(linked.GetResource(), resource);
  TvgBitmap copy(5, 5);
  copy.Assign(&linked);
  EXPECT_EQ(copy.GetResource(), resource);  // linked, not copied
  EXPECT_EQ(copy.GetWidth(), 5);
  EXPECT_EQ(copy.GetBitmap(), resource->GetBitmap());
  delete resource;  // the links are dropped, not left dangling
  EXPECT_EQ(linked.GetResource(), nullptr);
  EXPECT_EQ(copy.GetResource(), nullptr);
  EXPECT_EQ(linked.GetBitmap(), nullptr);
  TvgBitmap plain(2, 1);
  plain.Clear(0xFF010203u);
  copy.Assign(&plain);
  EXPECT_EQ(copy.GetWidth(), 2);
  EXPECT_EQ(copy.Pixel(1, 0), 0xFF010203u);
  EXPECT_EQ(copy.GetResourceName(), "");
  TCollection other(TCollectionItem::StaticClassInfo());
  EXPECT_THROW(copy.Assign(&other), EConvertError);
  vgFreeRegistries();
}

TEST_F(VgBitmap, CopiesOfTheSamePixelsAreSkippedAndEveryChangeIsSeen) {
  TvgBitmap source(3, 2), copy;
  source.Clear(0xFF102030u);
  const uint64_t cleared = source.PixelsId();
  EXPECT_NE(cleared, 0u);
  copy.Assign(&source);
  EXPECT_EQ(copy.PixelsId(), cleared);
  EXPECT_EQ(copy.Pixel(2, 1), 0xFF102030u);
  // The same pixels assigned again: nothing to copy, and what is there is still right.
  copy.Assign(&source);
  EXPECT_EQ(copy.Pixel(2, 1), 0xFF102030u);
  // Each way the pixels can change names them anew, and the next copy takes them.
  const std::vector<std::function<void(TvgBitmap&)>> changes = {
      [](TvgBitmap& b) { b.Bits()[5] = 0xFF0000FFu; },
      [](TvgBitmap& b) { b.Scanline(1)[2] = 0xFF00FF00u; },
      [](TvgBitmap& b) { b.ClearRect(vgRect(2, 1, 3, 2), 0xFFFF0000u); },
      [](TvgBitmap& b) { b.FillColor(0xFF445566u); },
      [](TvgBitmap& b) { b.InvertAlpha(); },
      [](TvgBitmap& b) { b.FlipVertical(); },
      [](TvgBitmap& b) { b.PixelsChanged(); },
  };
  for (size_t i = 0; i < changes.size(); ++i) {
    const uint64_t before = source.PixelsId();
    changes[i](source);
    EXPECT_NE(source.PixelsId(), before) << i;
    copy.Assign(&source);
    for (int32_t y = 0; y < 2; ++y)
      for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(copy.Pixel(x, y), source.Pixel(x, y)) << i << ": " << x << "," << y;
  }
  // A change of the copy's own pixels makes it differ again: the next copy is made.
  copy.Bits()[0] = 0;
  copy.Assign(&source);
  EXPECT_EQ(copy.Pixel(0, 0), source.Pixel(0, 0));
  // Reading does not rename them.
  const uint64_t id = source.PixelsId();
  const TvgBitmap& view = source;
  EXPECT_NE(view.Bits(), nullptr);
  EXPECT_EQ(source.Pixel(0, 0), view.Bits()[0]);
  EXPECT_EQ(source.PixelsId(), id);
}

}  // namespace
