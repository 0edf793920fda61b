// The waveform display: peak tables from known buffers (float and 16-bit, one and two channels),
// the envelope paths drawn into its picture (again only where peaks changed), the picture kept
// below four samples per pixel, pixel and sample conversions and mouse selections.
#include <gtest/gtest.h>

#include <vector>

#include "ZelTestSupport.h"
#include "editor/controls/zel_SampleDisplay.h"

namespace {

// 88200 frames: in bucket i (441 samples) one sample of (i + 1) / 250 at offset 100 and one of
// -(i + 1) / 500 at offset 200, zeros elsewhere.
std::vector<float> Buckets(int32_t frames, int32_t bucket, float sign = 1) {
  std::vector<float> v(static_cast<size_t>(frames), 0.0f);
  for (int32_t k = 0; k < frames; ++k) {
    const int32_t i = k / bucket, o = k % bucket;
    if (o == 100) v[static_cast<size_t>(k)] = sign * static_cast<float>(i + 1) / 250;
    if (o == 200) v[static_cast<size_t>(k)] = -sign * static_cast<float>(i + 1) / 500;
  }
  return v;
}

class ZelSample : public ::testing::Test {
 protected:
  void SetUp() override {
    d = f.Add(new TvgZelSampleDisplay(nullptr));
    d->SetWidth(400);
    d->SetHeight(100);
    d->OnSelectionChange = TNotifyEvent::Of<&ZelSample::Changed>(this);
  }
  void Changed(TObject*) { ++changes; }
  void Stereo(const std::vector<float>& l, const std::vector<float>& r) {
    TSampleDataInfo info;
    info.HasData = 1;
    info.Channels = 2;
    info.Length = static_cast<int32_t>(l.size());
    info.Left = l.data();
    info.Right = r.data();
    d->SetSampleData(info);
  }
  void Mono(const std::vector<float>& l) {
    TSampleDataInfo info;
    info.HasData = 1;
    info.Channels = 1;
    info.Length = static_cast<int32_t>(l.size());
    info.Left = l.data();
    d->SetSampleData(info);
  }
  TZelRecordingCanvas& PictureCanvas() { return *static_cast<TZelRecordingCanvas*>(d->GetPicture()->GetCanvas()); }

  TZelSceneFixture f;
  TvgZelSampleDisplay* d = nullptr;
  int changes = 0;
};

// --- Peaks and envelope

TEST_F(ZelSample, StereoFloatDataGivesTwoHundredPeaksPerChannelAndStackedEnvelopes) {
  const auto left = Buckets(88200, 441), right = Buckets(88200, 441, -1);
  Stereo(left, right);
  ASSERT_EQ(d->GetPeakCount(), 200);
  ASSERT_EQ(d->PeaksLeft().size(), 200u);
  ASSERT_EQ(d->PeaksRight().size(), 200u);
  for (int i = 0; i < 200; ++i) {
    const float hi = static_cast<float>(i + 1) / 250, lo = -static_cast<float>(i + 1) / 500;
    EXPECT_FLOAT_EQ(d->PeaksLeft()[size_t(i)].first, -lo) << i;
    EXPECT_FLOAT_EQ(d->PeaksLeft()[size_t(i)].second, -hi) << i;
    EXPECT_FLOAT_EQ(d->PeaksRight()[size_t(i)].first, hi) << i;   // the mirrored channel
    EXPECT_FLOAT_EQ(d->PeaksRight()[size_t(i)].second, lo) << i;
  }
  EXPECT_EQ(d->GetFirstPeak(), 0);
  EXPECT_EQ(d->GetPicture()->GetWidth(), 400);
  EXPECT_EQ(d->GetPicture()->GetHeight(), 100);

  auto paths = PictureCanvas().Calls("FillPath");
  ASSERT_EQ(paths.size(), 2u);
  // Start, 200 lower points, the right end, 200 upper points, back to the start.
  for (int ch = 0; ch < 2; ++ch) {
    const auto& pts = paths[size_t(ch)].Path;
    const float c = ch == 0 ? 25 : 75, a = 25;
    const auto& peaks = ch == 0 ? d->PeaksLeft() : d->PeaksRight();
    ASSERT_EQ(pts.size(), 403u);
    EXPECT_EQ(pts[0].Point, vgPoint(0, c));
    EXPECT_EQ(pts[0].Kind, vgPathPointMoveTo);
    for (int k = 0; k < 200; ++k) {
      EXPECT_FLOAT_EQ(pts[size_t(1 + k)].Point.X, 2.0f * k);
      EXPECT_FLOAT_EQ(pts[size_t(1 + k)].Point.Y, peaks[size_t(k)].first * a + c);
      EXPECT_FLOAT_EQ(pts[size_t(401 - k)].Point.Y, peaks[size_t(k)].second * a + c - 1);
    }
    EXPECT_EQ(pts[201].Point, vgPoint(400, c));
    EXPECT_EQ(pts[402].Point, vgPoint(0, c));
    EXPECT_EQ(paths[size_t(ch)].Opacity, 1);
  }
  EXPECT_EQ(paths[0].FillColor, 0xFFE0E0E0u) << "the display's Fill";
  EXPECT_EQ(paths[0].StrokeThickness, 1);
}

TEST_F(ZelSample, OneChannelFillsOnlyTheFirstTableAndUsesTheWholeHeight) {
  const auto left = Buckets(88200, 441);
  Stereo(left, left);
  Mono(left);
  EXPECT_EQ(d->PeaksLeft().size(), 200u);
  EXPECT_TRUE(d->PeaksRight().empty());
  auto paths = PictureCanvas().Calls("FillPath");
  ASSERT_EQ(paths.size(), 3u);  // two from the stereo build, one now
  const auto& pts = paths[2].Path;
  EXPECT_EQ(pts[0].Point, vgPoint(0, 50));
  EXPECT_FLOAT_EQ(pts[1].Point.Y, d->PeaksLeft()[0].first * 50 + 50);
}

TEST_F(ZelSample, SixteenBitSamplesAreScaled) {
  std::vector<int16_t> samples(4000, 0);
  samples[5] = 32767;
  samples[7] = -16384;
  TSampleDataInfo info;
  info.HasData = 1;
  info.Length = 4000;
  info.Left = samples.data();
  info.Int16Samples = 1;
  d->SetWidth(100);  // 50 peaks of 80 samples
  d->SetSampleData(info);
  ASSERT_EQ(d->GetPeakCount(), 50);
  EXPECT_FLOAT_EQ(d->PeaksLeft()[0].first, 16384.0f / 32767.0f);
  EXPECT_FLOAT_EQ(d->PeaksLeft()[0].second, -1.0f);
  EXPECT_FLOAT_EQ(d->PeaksLeft()[1].first, 0.0f);
}

TEST_F(ZelSample, FewerThanFourSamplesPerPixelKeepThePreviousPicture) {
  const auto left = Buckets(88200, 441);
  Mono(left);
  const size_t paths = PictureCanvas().Calls("FillPath").size();
  std::vector<float> shortData(1599, 0.5f);  // 3.9975 samples per pixel
  Mono(shortData);
  EXPECT_EQ(PictureCanvas().Calls("FillPath").size(), paths);
  EXPECT_EQ(d->GetSampleCount(), 1599);
  EXPECT_EQ(d->GetPeakCount(), 200) << "the old tables stay";
}

TEST_F(ZelSample, UnchangedPeaksDrawNothingAndAskForNoRepaintWhileNewOnesOrBrushesDo) {
  auto left = Buckets(88200, 441);
  Mono(left);
  const size_t paths = PictureCanvas().Calls("FillPath").size();
  const size_t updates = f.scene.updates.size();
  left[5000] = 0.001f;  // inside a bucket whose extremes stay
  Mono(left);
  EXPECT_EQ(PictureCanvas().Calls("FillPath").size(), paths);
  EXPECT_EQ(f.scene.updates.size(), updates);
  left[5000] = 0.99f;
  Mono(left);
  EXPECT_EQ(PictureCanvas().Calls("FillPath").size(), paths + 1);
  d->GetFill()->SetColor("#FF00FF00");
  Mono(left);
  EXPECT_EQ(PictureCanvas().Calls("FillPath").size(), paths + 2);
}

TEST_F(ZelSample, NewPeaksInAFewBucketsRedrawAndRepaintOnlyTheirColumns) {
  auto left = Buckets(88200, 441);
  Mono(left);
  EXPECT_TRUE(PictureCanvas().Calls("ClearRect").empty());  // the first picture is drawn whole
  left[45 * 441 + 300] = 0.99f;  // bucket 45, drawn at x = 90
  f.scene.updates.clear();
  Mono(left);
  const auto clears = PictureCanvas().Calls("ClearRect");
  const auto clips = PictureCanvas().Calls("IntersectClipRect");
  ASSERT_EQ(clears.size(), 1u);
  ASSERT_EQ(clips.size(), 1u);
  // The entry's edges reach two pixels either side; one more for the pixel grid.
  EXPECT_EQ(clears[0].Rect, vgRect(87, 0, 93, 100));
  EXPECT_EQ(clips[0].Rect, clears[0].Rect);
  EXPECT_EQ(PictureCanvas().Calls("ResetClipRect").size(), 1u);
  ASSERT_EQ(f.scene.updates.size(), 1u);
  EXPECT_EQ(vgRectWidth(f.scene.updates[0]), 6);
  // The first and the last entries reach the picture's sides: all of it is drawn again.
  const int wholeClears = PictureCanvas().clears;
  left[100] = 0.98f;
  left[88199] = -0.97f;
  Mono(left);
  EXPECT_EQ(PictureCanvas().clears, wholeClears + 1);
  EXPECT_EQ(PictureCanvas().Calls("ClearRect").size(), 1u);
}

TEST_F(ZelSample, PaintBlitsThePictureWithQualityScaling) {
  f.Paint(d);
  auto blits = f.canvas.Calls("DrawBitmap");
  ASSERT_EQ(blits.size(), 1u);
  EXPECT_EQ(blits[0].Bitmap, d->GetPicture());
  EXPECT_EQ(blits[0].Source, vgRect(0, 0, 400, 100));
  EXPECT_EQ(blits[0].Rect, vgRect(0, 0, 400, 100));
  EXPECT_FALSE(blits[0].HighSpeed);
}

TEST_F(ZelSample, ScrollPastTheTablesReadsOnlyEntriesThereAre) {
  const auto left = Buckets(88200, 441);
  Mono(left);
  d->SetScrollPos(1);  // FirstPeak = round(-1) outside the table
  d->SetZoom(0.5f);    // 100 peaks for 200 columns
  auto paths = PictureCanvas().Calls("FillPath");
  EXPECT_EQ(paths.back().Path.size(), 203u);
}

// --- Conversions

TEST_F(ZelSample, PixelsAndSamplesConvertBothWays) {
  std::vector<float> data(8000, 0);
  Mono(data);
  EXPECT_EQ(d->PixelToSample(100), 2000);
  EXPECT_FLOAT_EQ(d->SampleToPixel(2000), 100);
  d->SetZoom(2);
  d->SetScrollPos(0.5f);  // 800 wide, 200 hidden on the left
  EXPECT_EQ(d->PixelToSample(0), 2000);
  EXPECT_FLOAT_EQ(d->SampleToPixel(8000), 600);
}

// --- Selection

TEST_F(ZelSample, SelectionSettersCheckTheBoundsWithData) {
  d->SetSelStart(5000);  // without data: nothing
  EXPECT_EQ(d->GetSelStart(), 0);
  std::vector<float> data(8000, 0);
  Mono(data);
  EXPECT_THROW(d->SetSelStart(8000), EZelSampleDisplayError);
  EXPECT_THROW(d->SetSelEnd(-1), EZelSampleDisplayError);
  try {
    d->SetSelEnd(9000);
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Selection point is out of sample bounds.");
  }
  d->SetSelStart(4000);
  d->SetSelEnd(2000);
  EXPECT_FLOAT_EQ(d->GetSelectionRect()->GetPosition()->GetX(), 100);
  EXPECT_FLOAT_EQ(d->GetSelectionRect()->GetWidth(), 100);
}

TEST_F(ZelSample, PressAndReleaseWithoutMovingFiresOnceAndShowsNothing) {
  std::vector<float> data(8000, 0);
  Mono(data);
  d->MouseDown(mbLeft, {}, 100, 50);
  EXPECT_EQ(f.scene.captured, d);
  d->MouseMove({}, 101, 50, 0, 0);  // within a pixel of the press
  EXPECT_EQ(changes, 0);
  d->MouseUp(mbLeft, {}, 101, 50);
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(d->GetSelectionVisible());
  EXPECT_EQ(d->GetSelStart(), 2000);
  EXPECT_EQ(f.scene.captured, nullptr);
}

TEST_F(ZelSample, DraggingSelectsClampsAndDraggingBackHides) {
  std::vector<float> data(8000, 0);
  Mono(data);
  d->MouseDown(mbLeft, {}, -10, 50);  // left of the display: sample 0
  EXPECT_EQ(d->GetSelStart(), 0);
  d->MouseMove({}, 300, 50, 0, 0);
  EXPECT_TRUE(d->GetSelectionVisible());
  EXPECT_TRUE(d->GetSelectionRect()->GetVisible());
  EXPECT_EQ(d->GetSelEnd(), 6000);
  d->MouseMove({}, 900, 50, 0, 0);
  EXPECT_EQ(d->GetSelEnd(), 7999) << "clamped to the last sample";
  d->MouseMove({}, 0, 50, 0, 0);  // back onto the start
  EXPECT_FALSE(d->GetSelectionVisible());
  EXPECT_EQ(changes, 3);
  d->MouseMove({}, 200, 50, 0, 0);
  d->MouseUp(mbLeft, {}, 200, 50);
  EXPECT_TRUE(d->GetSelectionVisible());
  EXPECT_EQ(changes, 5);
}

TEST_F(ZelSample, PressingNearAnEndMovesThatEnd) {
  std::vector<float> data(8000, 0);
  Mono(data);
  d->MouseDown(mbLeft, {}, 100, 50);
  d->MouseMove({}, 300, 50, 0, 0);
  d->MouseUp(mbLeft, {}, 300, 50);  // 2000 .. 6000
  d->MouseDown(mbLeft, {}, 280, 50);  // nearer the end 6000: 2000 stays
  EXPECT_EQ(d->GetSelStart(), 2000);
  EXPECT_EQ(d->GetSelEnd(), 5600);
  d->MouseUp(mbLeft, {}, 280, 50);
  d->MouseDown(mbLeft, {}, 110, 50);  // nearer 2000: 5600 becomes the start
  EXPECT_EQ(d->GetSelStart(), 5600);
  EXPECT_EQ(d->GetSelEnd(), 2200);
  d->MouseUp(mbLeft, {}, 110, 50);
}

TEST_F(ZelSample, DoubleClickHidesTheSelection) {
  std::vector<float> data(8000, 0);
  Mono(data);
  d->MouseDown(mbLeft, {}, 100, 50);
  d->MouseMove({}, 300, 50, 0, 0);
  d->MouseUp(mbLeft, {}, 300, 50);
  const int before = changes;
  d->DblClick();
  EXPECT_FALSE(d->GetSelectionVisible());
  EXPECT_EQ(changes, before + 1);
  d->DblClick();
  EXPECT_EQ(changes, before + 1);
}

TEST_F(ZelSample, NoSelectionWithoutDataOrWithAutoSelectionOff) {
  d->MouseDown(mbLeft, {}, 100, 50);
  d->MouseMove({}, 300, 50, 0, 0);
  d->MouseUp(mbLeft, {}, 300, 50);
  EXPECT_EQ(changes, 0);
  std::vector<float> data(8000, 0);
  Mono(data);
  d->SetAutoSelection(false);
  d->MouseDown(mbLeft, {}, 100, 50);
  d->MouseMove({}, 300, 50, 0, 0);
  d->MouseUp(mbLeft, {}, 300, 50);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(f.scene.captured, nullptr);
}

TEST_F(ZelSample, SelectionRectIsNotStreamed) {
  EXPECT_FALSE(d->GetSelectionRect()->GetStored());
  EXPECT_EQ(d->GetSelectionRect()->GetName(), "SelectionRect");
  EXPECT_FALSE(d->GetSelectionRect()->GetHitTest());
  EXPECT_EQ(d->GetSelectionRect()->GetAlign(), vaVertical);
}

}  // namespace
