// The maker's waveform display.
#include "zel_SampleDisplay.h"

#include <algorithm>
#include <cmath>

#include "classlib/TypInfo.h"
#include "scene/core/vg_registry.h"

namespace {

// The selection's rectangle when the shapes library (TvgRectangle) is not linked in: a plain
// filled box.
class TZelSelectionBox : public TvgVisualObject {
  KBL_DECLARE_CLASS(TZelSelectionBox, TvgVisualObject)
 public:
  explicit TZelSelectionBox(TComponent* owner) : TvgVisualObject(owner), fill_(new TvgBrush(vgBrushSolid, 0xFFFFFFFFu)) {}
  ~TZelSelectionBox() override {
    DestroyTree();
    delete fill_;
  }
  TvgBrush* GetFill() const { return fill_; }
  void SetFill(TvgBrush* value) { fill_->Assign(value); }
  void Paint() override {
    TvgCanvas* canvas = GetCanvas();
    if (canvas == nullptr) return;
    canvas->SetFill(fill_);
    canvas->FillRect(GetLocalRect(), 0, 0, vgAllCorners, GetAbsoluteOpacity());
  }

 private:
  TvgBrush* fill_;
};

const char kSelectionFill[] = "#5EFFBEBE";

TvgVisualObject* CreateSelectionRect(TComponent* owner) {
  TObject* obj = nullptr;
  if (const TClassInfo* cls = GetClass("TvgRectangle"); cls != nullptr) obj = cls->Create(owner);
  auto* visual = dynamic_cast<TvgVisualObject*>(obj);
  if (visual == nullptr) {
    delete obj;
    visual = new TZelSelectionBox(owner);
  }
  TObject* brush = nullptr;
  if (const TPropInfo* prop = FindPropPath(visual, "Fill.Color", brush); prop != nullptr && brush != nullptr) {
    SetStrProp(brush, prop, kSelectionFill);
  }
  return visual;
}

}  // namespace

KBL_PUBLISHED(TZelSelectionBox) { KBL_PROP(Fill); }

KBL_PUBLISHED(TvgZelSampleDisplay) {
  KBL_PROP(Fill);
  KBL_PROP(Stroke);
  KBL_PROP(StrokeThickness);
  KBL_PROP(StrokeJoin).Default(vgJoinMiter);
  KBL_PROP(StrokeCap).Default(vgCapFlat);
  KBL_PROP(StrokeDash).Default(vgDashSolid);
  KBL_PROP(AutoSelection).Default(true);
  p.Property("OnSelectionChange", &TvgZelSampleDisplay::OnSelectionChange, &TvgZelSampleDisplay::OnSelectionChange);
}

TvgZelSampleDisplay::TvgZelSampleDisplay(TComponent* owner)
    : TvgControlWithStrokeAndFill(owner), picture_(new TvgBitmap(10, 10)), path_(new TvgPathData()) {
  selectionRect_ = CreateSelectionRect(this);
  selectionRect_->SetName("SelectionRect");
  selectionRect_->SetAlign(vaVertical);
  selectionRect_->SetHitTest(false);
  selectionRect_->SetDesignHide(true);
  selectionRect_->SetVisible(false);
  selectionRect_->SetParent(this);
  selectionRect_->SetStored(false);
}

TvgZelSampleDisplay::~TvgZelSampleDisplay() {
  DestroyTree();
  delete picture_;
  delete path_;
}

// --- Data and view

void TvgZelSampleDisplay::SetSampleData(const TSampleDataInfo& info) {
  sampleData_ = info;
  if (sampleData_.Length < 0) sampleData_.HasData = 0;
  Rebuild();
}

void TvgZelSampleDisplay::SetScrollPos(float value) {
  if (scrollPos_ == value) return;
  scrollPos_ = value;
  Rebuild();
}

void TvgZelSampleDisplay::SetZoom(float value) {
  if (zoom_ == value) return;
  zoom_ = value;
  Rebuild();
}

int32_t TvgZelSampleDisplay::PixelToSample(float x) {
  const double w = GetWidth(), wz = w * zoom_;
  if (wz == 0) return 0;
  const double s = sampleCount_ * (x + (wz - w) * scrollPos_) / wz;
  return static_cast<int32_t>(std::clamp<int64_t>(Round(s), INT32_MIN, INT32_MAX));
}

float TvgZelSampleDisplay::SampleToPixel(float s) {
  const double w = GetWidth(), wz = w * zoom_;
  if (sampleCount_ == 0) return static_cast<float>(-(wz - w) * scrollPos_);
  return static_cast<float>(s / sampleCount_ * wz - (wz - w) * scrollPos_);
}

// --- Rebuild

void TvgZelSampleDisplay::BuildPeaks(const void* samples, std::vector<TPeak>& peaks) {
  const int32_t length = sampleData_.Length;
  peaks.assign(static_cast<size_t>(peakCount_), TPeak(0.0f, 0.0f));
  if (samples == nullptr || length <= 0) return;
  const int64_t bucket = (static_cast<int64_t>(length) + peakCount_ - 1) / peakCount_;
  const auto* floats = static_cast<const float*>(samples);
  const auto* shorts = static_cast<const int16_t*>(samples);
  const bool int16 = sampleData_.Int16Samples != 0;
  for (int32_t i = 0; i < peakCount_; ++i) {
    const int64_t s = static_cast<int64_t>(std::floor(static_cast<double>(i) / peakCount_ * length));
    const int64_t e = std::min<int64_t>(s + bucket, length - 1);
    float lo = 1.0f, hi = -1.0f;
    for (int64_t k = s; k <= e; ++k) {
      const float v = int16 ? static_cast<float>(shorts[k]) / 32767.0f : floats[k];
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    peaks[static_cast<size_t>(i)] = TPeak(-lo, -hi);
  }
}

void TvgZelSampleDisplay::Rebuild() {
  if (!sampleData_.HasData) {
    sampleCount_ = 0;
    return;
  }
  sampleCount_ = sampleData_.Length;
  const float w = GetWidth(), h = GetHeight();
  // Fewer than four samples per pixel are not drawn: the old picture stays.
  if (!(w > 0 && zoom_ > 0 && static_cast<double>(sampleData_.Length) / w / zoom_ >= 4.0)) return;
  const int64_t n = Round(static_cast<double>(w) * zoom_);
  pixelsPerPeak_ = 2;
  peakCount_ = static_cast<int32_t>(std::min<int64_t>(n / 2, sampleData_.Length));
  if (peakCount_ < 1) return;
  const bool stereo = sampleData_.Channels == 2;
  BuildPeaks(sampleData_.Left, peaksLeft_);
  if (stereo) BuildPeaks(sampleData_.Right, peaksRight_);
  else peaksRight_.clear();
  firstPeak_ = static_cast<int32_t>(Round((peakCount_ - w / pixelsPerPeak_ - 1) * scrollPos_));

  const int32_t pw = static_cast<int32_t>(Round(w)), ph = static_cast<int32_t>(Round(h));
  if (picture_->GetWidth() != pw || picture_->GetHeight() != ph) {
    picture_->SetSize(pw, ph);
    pictureStale_ = true;
  }
  // The editor hands the same buffer over every 200 ms: when nothing in it changed, nothing on
  // the screen would, so an idle editor draws nothing; while it records, only the columns it
  // wrote change.
  const TvgRect band = ChangedBand(pw);
  if (vgRectWidth(band) <= 0) return;
  TvgCanvas* canvas = picture_->GetCanvas();
  if (canvas != nullptr) {
    canvas->SetStroke(GetStroke());
    canvas->SetFill(GetFill());
    if (stereo) canvas->SetStrokeThickness(1.0f);
    const bool whole = band.Left <= 0 && band.Right >= pw;
    if (whole) {
      canvas->Clear(0);
    } else {
      // Both outlines of an envelope are functions of x: whether a pixel is inside depends on
      // the outlines at its own column only, so filling the whole envelope within the band
      // gives the pixels a full redraw would give there, and leaves the rest as it is.
      canvas->ClearRect(band, 0);
      canvas->IntersectClipRect(band);
    }
    if (!stereo) {
      DrawEnvelope(*canvas, peaksLeft_, h / 2, h / 2);
    } else {
      DrawEnvelope(*canvas, peaksLeft_, h / 4, h / 4);
      DrawEnvelope(*canvas, peaksRight_, 3 * h / 4, h / 4);
    }
    if (!whole) canvas->ResetClipRect();
    picture_->BitmapChanged();
    drawnLeft_ = peaksLeft_;
    drawnRight_ = peaksRight_;
    drawnFirstPeak_ = firstPeak_;
    pictureStale_ = false;
    RepaintBand(band);
    return;
  }
  Repaint();
}

TvgRect TvgZelSampleDisplay::ChangedBand(int32_t pictureWidth) const {
  const TvgRect whole = vgRect(0, 0, static_cast<float>(pictureWidth), static_cast<float>(picture_->GetHeight()));
  if (pictureStale_ || firstPeak_ != drawnFirstPeak_ || peaksLeft_.size() != drawnLeft_.size() ||
      peaksRight_.size() != drawnRight_.size())
    return whole;
  int32_t lo = -1, hi = -1;
  for (size_t i = 0; i < peaksLeft_.size(); ++i) {
    const bool changed = peaksLeft_[i] != drawnLeft_[i] || (i < peaksRight_.size() && peaksRight_[i] != drawnRight_[i]);
    if (!changed) continue;
    if (lo < 0) lo = static_cast<int32_t>(i);
    hi = static_cast<int32_t>(i);
  }
  if (lo < 0) return TvgRect();
  // Entry i is drawn at x = 2 × (i − first) and joined to its neighbours by straight edges: it
  // reaches the columns two pixels either side; one more on each for the pixel grid.
  const int32_t available = static_cast<int32_t>(peaksLeft_.size());
  const int32_t columns = std::min(static_cast<int32_t>(Round(GetWidth())) / pixelsPerPeak_, available);
  const int32_t first = std::clamp(firstPeak_, 0, std::max(0, available - columns));
  const int32_t lastColumn = columns - 1;
  // An entry beyond the last column still shapes the edge to (W, c) only through the last one.
  const float left = (lo - first <= 0) ? 0.0f : static_cast<float>(pixelsPerPeak_ * (lo - first) - 3);
  const float right = (hi - first >= lastColumn) ? static_cast<float>(pictureWidth)
                                                 : static_cast<float>(pixelsPerPeak_ * (hi - first) + 3);
  if (hi < first || lo > first + lastColumn) return TvgRect();  // no drawn entry changed
  return vgRect(std::max(0.0f, left), 0, std::min(static_cast<float>(pictureWidth), right), whole.Bottom);
}

void TvgZelSampleDisplay::RepaintBand(const TvgRect& band) {
  if (GetHasEffects() || vgRectWidth(band) >= GetWidth()) {
    Repaint();
    return;
  }
  if (!CanRepaint()) return;
  // The band on the scene, within what the display shows of itself and its heads.
  TvgRect visible;
  if (vgIntersectRect(visible, LocalToAbsoluteRect(band), GetUpdateRect())) RequestArea(visible);
}

void TvgZelSampleDisplay::FillChanged(TObject* sender) {
  pictureStale_ = true;
  inherited::FillChanged(sender);
}

void TvgZelSampleDisplay::StrokeChanged(TObject* sender) {
  pictureStale_ = true;
  inherited::StrokeChanged(sender);
}

void TvgZelSampleDisplay::DrawEnvelope(TvgCanvas& canvas, const std::vector<TPeak>& peaks, float c, float a) {
  const float w = GetWidth();
  const int32_t available = static_cast<int32_t>(peaks.size());
  int32_t columns = static_cast<int32_t>(Round(w)) / pixelsPerPeak_;
  // Scroll and zoom settings past the table's ends read only the entries there are.
  columns = std::min(columns, available);
  const int32_t first = std::clamp(firstPeak_, 0, std::max(0, available - columns));
  path_->Clear();
  path_->MoveTo(vgPoint(0, c));
  for (int32_t k = 0; k < columns; ++k) {
    path_->LineTo(vgPoint(static_cast<float>(k * 2), peaks[static_cast<size_t>(first + k)].first * a + c));
  }
  path_->LineTo(vgPoint(w, c));
  for (int32_t k = columns - 1; k >= 0; --k) {
    path_->LineTo(vgPoint(static_cast<float>(k * 2), peaks[static_cast<size_t>(first + k)].second * a + c - 1));
  }
  path_->LineTo(vgPoint(0, c));
  canvas.FillPath(*path_, path_->GetBounds(), 1);
}

// --- Painting

void TvgZelSampleDisplay::Paint() {
  inherited::Paint();
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  const TvgRect r = vgRect(0, 0, GetWidth(), GetHeight());
  canvas->DrawBitmap(*picture_, r, r, 1, false);
  DrawDesignOutline();
}

// --- Selection

void TvgZelSampleDisplay::CheckSelectionPoint(int32_t value) const {
  if (value < 0 || value > sampleData_.Length - 1) throw EZelSampleDisplayError("Selection point is out of sample bounds.");
}

void TvgZelSampleDisplay::SetSelStart(int32_t value) {
  if (!sampleData_.HasData) return;
  CheckSelectionPoint(value);
  selStart_ = value;
  PlaceSelection();
}

void TvgZelSampleDisplay::SetSelEnd(int32_t value) {
  if (!sampleData_.HasData) return;
  CheckSelectionPoint(value);
  selEnd_ = value;
  PlaceSelection();
}

void TvgZelSampleDisplay::SetSelectionVisible(bool value) {
  selectionVisible_ = value;
  selectionRect_->SetVisible(value);
}

void TvgZelSampleDisplay::PlaceSelection() {
  const float x = SampleToPixel(static_cast<float>(std::min(selStart_, selEnd_)));
  selectionRect_->GetPosition()->SetX(x);
  selectionRect_->SetWidth(SampleToPixel(static_cast<float>(std::max(selStart_, selEnd_))) - x);
}

int32_t TvgZelSampleDisplay::ClampedSampleAt(float x) {
  return std::clamp(PixelToSample(x), 0, std::max(0, sampleData_.Length - 1));
}

bool TvgZelSampleDisplay::SelectsWith(TMouseButton button) const {
  return autoSelection_ && sampleData_.HasData && sampleData_.Length > 0 && button == mbLeft;
}

void TvgZelSampleDisplay::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  Capture();
  pressPoint_ = vgPoint(x, y);
  if (!SelectsWith(button)) return;
  dragging_ = true;
  const int32_t s = ClampedSampleAt(x);
  if (!selectionVisible_) {
    SetSelStart(s);
    return;
  }
  // The end farther from the press stays; the press moves the other one.
  const int64_t toStart = std::llabs(static_cast<int64_t>(s) - selStart_);
  const int64_t toEnd = std::llabs(static_cast<int64_t>(s) - selEnd_);
  const bool keepStart = toEnd < toStart || (toEnd == toStart && selStart_ >= selEnd_);
  if (!keepStart) SetSelStart(selEnd_);
  SetSelEnd(s);
}

void TvgZelSampleDisplay::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!dragging_ || !autoSelection_ || !sampleData_.HasData) return;
  if (std::fabs(x - pressPoint_.X) <= 1) return;
  const int32_t s = ClampedSampleAt(x);
  if (s == selStart_) {
    SetSelectionVisible(false);
  } else {
    SetSelEnd(s);
    SetSelectionVisible(true);
  }
  RunHandler(OnSelectionChange, this);
}

void TvgZelSampleDisplay::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  ReleaseCapture();
  if (SelectsWith(button)) {
    dragging_ = false;
    RunHandler(OnSelectionChange, this);
  }
  inherited::MouseUp(button, shift, x, y);
}

void TvgZelSampleDisplay::DblClick() {
  inherited::DblClick();
  if (!selectionVisible_) return;
  SetSelectionVisible(false);
  RunHandler(OnSelectionChange, this);
}

void ZelRegisterSampleDisplay() {
  static bool done = false;
  if (done) return;
  done = true;
  vgRegisterObjects("Zel", {TvgZelSampleDisplay::StaticClassInfo()});
}
