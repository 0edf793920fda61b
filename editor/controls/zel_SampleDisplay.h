// TvgZelSampleDisplay: the waveform display. It draws the envelope of one or two channels of
// sample data as filled min/max shapes from a peak table (one minimum and maximum per two
// pixels), painted once into an off-screen picture at each rebuild and blitted on every paint,
// and lets the mouse select a range of samples. GUI thread only.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "scene/core/vg_pathdata.h"
#include "zel_BaseControls.h"

// The sample data a display reads; the arrays are the caller's and are not copied.
struct TSampleDataInfo {
  uint8_t HasData = 0;
  int32_t Channels = 1;      // 1 or 2
  int32_t Length = 0;        // frames per channel
  const void* Left = nullptr;
  const void* Right = nullptr;  // read when Channels = 2
  uint8_t Int16Samples = 0;  // 0: 32-bit floats; 1: signed 16-bit samples scaled by 1/32767
};

// Raised by the selection setters for an index outside the data.
KBL_DECLARE_EXCEPTION(EZelSampleDisplayError, Exception);

class TvgZelSampleDisplay : public TvgControlWithStrokeAndFill {
  KBL_DECLARE_CLASS(TvgZelSampleDisplay, TvgControlWithStrokeAndFill)
 public:
  using TPeak = std::pair<float, float>;  // (-minimum, -maximum) of a bucket

  explicit TvgZelSampleDisplay(TComponent* owner);
  ~TvgZelSampleDisplay() override;

  // Copies the record and rebuilds. The caller keeps the arrays alive and their size unchanged
  // while they are in use; they are read only during a rebuild (another thread may write them:
  // a torn picture lasts until the next rebuild). Lengths below 0 count as no data. Data whose
  // peaks are those already drawn leaves the picture alone and asks for no repaint.
  void SetSampleData(const TSampleDataInfo& info);
  const TSampleDataInfo& GetSampleData() const { return sampleData_; }

  float GetScrollPos() const { return scrollPos_; }
  // A different value is stored and the display rebuilt.
  void SetScrollPos(float value);
  float GetZoom() const { return zoom_; }
  void SetZoom(float value);

  // --- Selection (sample indices)
  int32_t GetSelStart() const { return selStart_; }
  int32_t GetSelEnd() const { return selEnd_; }
  // With data: raises EZelSampleDisplayError ("Selection point is out of sample bounds.") for
  // an index outside 0 .. Length - 1, else stores it and places the selection rectangle.
  // Without data: nothing.
  void SetSelStart(int32_t value);
  void SetSelEnd(int32_t value);
  bool GetSelectionVisible() const { return selectionVisible_; }
  void SetSelectionVisible(bool value);
  bool GetAutoSelection() const { return autoSelection_; }
  void SetAutoSelection(bool value) { autoSelection_ = value; }
  // The rectangle child showing the selection (a TvgRectangle when that class is registered).
  TvgVisualObject* GetSelectionRect() const { return selectionRect_; }

  // --- Conversions (W the control's width)
  int32_t PixelToSample(float x);
  float SampleToPixel(float s);

  // --- Rebuild results
  const std::vector<TPeak>& PeaksLeft() const { return peaksLeft_; }
  const std::vector<TPeak>& PeaksRight() const { return peaksRight_; }
  int32_t GetPeakCount() const { return peakCount_; }
  int32_t GetFirstPeak() const { return firstPeak_; }
  int32_t GetSampleCount() const { return sampleCount_; }
  TvgBitmap* GetPicture() const { return picture_; }

  void Paint() override;
  // A new brush redraws the picture at the next rebuild.
  void FillChanged(TObject* sender) override;
  void StrokeChanged(TObject* sender) override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  void DblClick() override;

  TNotifyEvent OnSelectionChange;

 private:
  void Rebuild();
  // The columns of the picture to draw again: all of it when the view, size or brushes
  // changed; around the entries whose peaks differ from those drawn; empty when none do.
  TvgRect ChangedBand(int32_t pictureWidth) const;
  // Queues the part of the display over those picture columns.
  void RepaintBand(const TvgRect& band);
  void BuildPeaks(const void* samples, std::vector<TPeak>& peaks);
  void DrawEnvelope(TvgCanvas& canvas, const std::vector<TPeak>& peaks, float centre, float amplitude);
  void PlaceSelection();
  int32_t ClampedSampleAt(float x);
  bool SelectsWith(TMouseButton button) const;
  void CheckSelectionPoint(int32_t value) const;

  int32_t selStart_ = 0;
  int32_t selEnd_ = 0;
  bool autoSelection_ = true;
  TvgVisualObject* selectionRect_ = nullptr;
  bool selectionVisible_ = false;
  float scrollPos_ = 0;
  float zoom_ = 1.0f;
  std::vector<TPeak> peaksLeft_;
  std::vector<TPeak> peaksRight_;
  // The tables the picture was last drawn from, and whether it must be drawn again whatever
  // they hold (brushes or view changed).
  std::vector<TPeak> drawnLeft_;
  std::vector<TPeak> drawnRight_;
  int32_t drawnFirstPeak_ = 0;
  bool pictureStale_ = true;
  int32_t firstPeak_ = 0;
  int32_t peakCount_ = 0;
  int32_t pixelsPerPeak_ = 2;
  bool dragging_ = false;
  int32_t sampleCount_ = 0;
  TvgBitmap* picture_;
  TSampleDataInfo sampleData_;
  TvgPoint pressPoint_;
  TvgPathData* path_;
};

// Registers TvgZelSampleDisplay under "Zel" (once).
void ZelRegisterSampleDisplay();
