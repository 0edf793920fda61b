// The bitmap editor form.
#include "vg_dsgn_bmp.h"

#include <algorithm>
#include <cmath>

#include "classlib/Clipbrd.h"
#include "classlib/Dialogs.h"
#include "classlib/Graphics.h"
#include "scene/controls/vg_scrollbox.h"
#include "scene/core/vg_canvas.h"
#include "scene/shapes/vg_objects.h"
#include "scene/widgets/vg_textbox.h"

KBL_PUBLISHED(TvgBitmapEditor) {
  KBL_METHOD(FormCreate);
  KBL_METHOD(FormDestroy);
  KBL_METHOD(Button1Click);
  KBL_METHOD(btnSaveClick);
  KBL_METHOD(btnOkClick);
  KBL_METHOD(Button2Click);
  KBL_METHOD(btnPasteClick);
  KBL_METHOD(Button3Click);
  KBL_METHOD(cropButtonClick);
  KBL_METHOD(trackScaleChange);
  KBL_METHOD(trackScaleMouseDown);
  KBL_METHOD(btnFitClick);
  KBL_METHOD(btnOriginalClick);
  KBL_METHOD(btnResizeClick);
  KBL_METHOD(newWidthChange);
  KBL_METHOD(newHeightChange);
  KBL_METHOD(Button4Click);
  KBL_METHOD(Button5Click);
  KBL_METHOD(PreviewPaint);
}

TvgBitmapEditor::TvgBitmapEditor(TComponent* owner) : TForm(owner) {}

TvgBitmapEditor::~TvgBitmapEditor() {
  // The destroy handler runs while the form is whole: the base would call it after this part of
  // the object is gone.
  const TNotifyEvent destroyHandler = OnDestroy;
  OnDestroy = TNotifyEvent();
  try {
    destroyHandler(this);
  } catch (...) {
    Application().HandleException(this);
  }
  delete bitmap_;
}

void TvgBitmapEditor::FormCreate(TObject*) {
  BindFormField(this, editControl, "editControl");
  BindFormField(this, btnOk, "btnOk");
  BindFormField(this, cropButton, "cropButton");
  BindFormField(this, labelScale, "labelScale");
  BindFormField(this, trackScale, "trackScale");
  BindFormField(this, ScrollBox1, "ScrollBox1");
  BindFormField(this, Preview, "Preview");
  BindFormField(this, resizeLayout, "resizeLayout");
  BindFormField(this, newWidth, "newWidth");
  BindFormField(this, newHeight, "newHeight");
  BindFormField(this, SaveDialog1, "SaveDialog1");
  if (resizeLayout != nullptr) resizeLayout->SetVisible(false);
  delete bitmap_;
  bitmap_ = new TvgBitmap(1, 1);
  bitmapRect_ = vgRect(0, 0, 1, 1);
  lastScale_ = 1;
}

void TvgBitmapEditor::FormDestroy(TObject*) {
  delete bitmap_;
  bitmap_ = nullptr;
}

float TvgBitmapEditor::GetScale() const { return trackScale != nullptr ? trackScale->GetValue() : 1.0f; }

void TvgBitmapEditor::SetScale(float value) {
  if (trackScale != nullptr) trackScale->SetValue(value);
}

void TvgBitmapEditor::UpdatePreview() {
  if (Preview == nullptr || bitmap_ == nullptr) return;
  const float scale = GetScale();
  Preview->SetSizeNoAlign(bitmap_->GetWidth() * scale, bitmap_->GetHeight() * scale);
  Preview->Repaint();
  if (ScrollBox1 != nullptr) ScrollBox1->Realign();
}

void TvgBitmapEditor::EnableEditing() {
  if (editControl != nullptr) editControl->SetEnabled(true);
  if (btnOk != nullptr) btnOk->SetEnabled(true);
}

void TvgBitmapEditor::AssignFromBitmap(TvgBitmap* source) {
  fileName_.clear();
  if (source != nullptr && bitmap_ != nullptr) {
    // A copy of the pixels even when the source is linked to a resource.
    TvgBitmap* pixels = source->GetBitmap() != nullptr ? source->GetBitmap() : source;
    bitmap_->SetSize(pixels->GetWidth(), pixels->GetHeight());
    if (!pixels->IsEmpty()) vgMoveLongword(pixels->Bits(), bitmap_->Bits(), pixels->GetWidth() * pixels->GetHeight());
    bitmap_->BitmapChanged();
  }
  bitmapRect_ = vgRect(0, 0, static_cast<float>(bitmap_->GetWidth()), static_cast<float>(bitmap_->GetHeight()));
  UpdatePreview();
  if (bitmap_->GetWidth() > 1) EnableEditing();
}

void TvgBitmapEditor::AssignToBitmap(TvgBitmap* target) {
  if (target == nullptr || bitmap_ == nullptr) return;
  TvgRect crop;
  const float scale = GetScale();
  if (cropSelection_ != nullptr && cropSelection_->GetWidth() > 0 && cropSelection_->GetHeight() > 0 && scale > 0) {
    const TvgPoint at = cropSelection_->GetPosition()->GetPoint();
    crop = vgRect(at.X / scale, at.Y / scale, (at.X + cropSelection_->GetWidth()) / scale,
                  (at.Y + cropSelection_->GetHeight()) / scale);
  }
  // The selection may reach past the picture (dragged out, or the scale changed): only the part
  // over the picture is read.
  TvgRect inside;
  const bool cropping = vgIsRectEmpty(crop) ? false : vgIntersectRect(inside, crop, bitmapRect_);
  const int32_t left = cropping ? static_cast<int32_t>(std::trunc(inside.Left)) : 0;
  const int32_t top = cropping ? static_cast<int32_t>(std::trunc(inside.Top)) : 0;
  const int32_t width = cropping ? std::min(static_cast<int32_t>(std::trunc(vgRectWidth(inside))), bitmap_->GetWidth() - left) : 0;
  const int32_t height = cropping ? std::min(static_cast<int32_t>(std::trunc(vgRectHeight(inside))), bitmap_->GetHeight() - top) : 0;
  if (width <= 0 || height <= 0) {
    target->SetSize(bitmap_->GetWidth(), bitmap_->GetHeight());
    if (!bitmap_->IsEmpty()) vgMoveLongword(bitmap_->Bits(), target->Bits(), bitmap_->GetWidth() * bitmap_->GetHeight());
    target->BitmapChanged();
    return;
  }
  target->SetSize(width, height);
  for (int32_t y = 0; y < height; ++y) vgMoveLongword(bitmap_->Scanline(top + y) + left, target->Scanline(y), width);
  target->BitmapChanged();
}

bool TvgBitmapEditor::LoadFile(const std::string& fileName) {
  if (bitmap_ == nullptr || !bitmap_->LoadFromFile(fileName)) return false;
  fileName_ = fileName;
  bitmapRect_ = vgRect(0, 0, static_cast<float>(bitmap_->GetWidth()), static_cast<float>(bitmap_->GetHeight()));
  UpdatePreview();
  EnableEditing();
  return true;
}

bool TvgBitmapEditor::PasteFromClipboard() {
  TBitmap picture;
  if (bitmap_ == nullptr || !Clipboard().GetAsBitmap(picture)) return false;
  bitmap_->AssignStraightPixels(picture.GetWidth(), picture.GetHeight(),
                                reinterpret_cast<const uint32_t*>(picture.ScanLine(0)), picture.RowStride() / 4);
  AssignFromBitmap(nullptr);
  return true;
}

void TvgBitmapEditor::FitToView() {
  if (ScrollBox1 == nullptr || bitmap_ == nullptr || bitmap_->IsEmpty()) return;
  SetScale(std::min(ScrollBox1->GetWidth() / bitmapRect_.Right, ScrollBox1->GetHeight() / bitmapRect_.Bottom));
}

void TvgBitmapEditor::ToggleCrop() {
  if (cropSelection_ == nullptr) {
    FitToView();
    const float scale = GetScale();
    const float w = bitmap_->GetWidth() * scale, h = bitmap_->GetHeight() * scale;
    cropSelection_ = new TvgSelection(this);
    cropSelection_->SetParent(Preview);
    cropSelection_->SetStored(false);
    cropSelection_->SetBounds(std::trunc(0.1f * w), std::trunc(0.1f * h), 0.8f * w, std::trunc(0.8f * h));
    if (cropButton != nullptr) cropButton->SetText(u"Full");
  } else {
    delete cropSelection_;
    cropSelection_ = nullptr;
    if (Preview != nullptr) Preview->Repaint();
    if (cropButton != nullptr) cropButton->SetText(u"Crop");
  }
}

// --- Handlers

void TvgBitmapEditor::Button1Click(TObject*) {
  TOpenDialog dialog(nullptr);
  auto filter = vgCreateDefaultFilter();
  dialog.SetFilter("Images|" + (filter != nullptr ? filter->GetFileTypes() : std::string("*.*")));
  if (dialog.Execute()) LoadFile(dialog.GetFileName());
}

void TvgBitmapEditor::btnSaveClick(TObject*) {
  if (SaveDialog1 != nullptr && SaveDialog1->Execute() && bitmap_ != nullptr)
    bitmap_->SaveToFile(SaveDialog1->GetFileName());
}

void TvgBitmapEditor::btnOkClick(TObject*) { SetModalResult(mrOk); }

void TvgBitmapEditor::Button2Click(TObject*) { SetModalResult(mrCancel); }

void TvgBitmapEditor::btnPasteClick(TObject*) { PasteFromClipboard(); }

void TvgBitmapEditor::Button3Click(TObject*) {
  if (editControl != nullptr) editControl->SetEnabled(false);
  if (btnOk != nullptr) btnOk->SetEnabled(true);
  if (cropSelection_ != nullptr) ToggleCrop();
  SetScale(1);
  bitmap_->SetSize(1, 1);
  bitmapRect_ = vgRect(0, 0, 1, 1);
  UpdatePreview();
}

void TvgBitmapEditor::cropButtonClick(TObject*) { ToggleCrop(); }

void TvgBitmapEditor::trackScaleChange(TObject*) {
  const float scale = GetScale();
  UpdatePreview();
  // The selection stays over the same part of the picture.
  if (cropSelection_ != nullptr && lastScale_ > 0) {
    const TvgPoint at = cropSelection_->GetPosition()->GetPoint();
    const float factor = scale / lastScale_;
    cropSelection_->SetBounds(at.X * factor, at.Y * factor, cropSelection_->GetWidth() * factor,
                              cropSelection_->GetHeight() * factor);
  }
  lastScale_ = scale;
  if (labelScale != nullptr)
    labelScale->SetText(u"Scale: " + Utf8ToWide(std::to_string(static_cast<int32_t>(std::nearbyint(scale * 100)))) + u"%");
}

void TvgBitmapEditor::trackScaleMouseDown(TObject*, TMouseButton, TShiftState shift, float, float) {
  if (shift.Contains(ssDouble)) SetScale(1);
}

void TvgBitmapEditor::btnFitClick(TObject*) { FitToView(); }

void TvgBitmapEditor::btnOriginalClick(TObject*) { SetScale(1); }

void TvgBitmapEditor::SlideResizePanel(bool in) {
  if (resizeLayout == nullptr) return;
  if (in) {
    resizeLayout->GetPosition()->SetY(-resizeLayout->GetHeight());
    resizeLayout->SetVisible(true);
    resizeLayout->AnimateFloat("Position.Y", 0, 0.3f);
  } else {
    resizeLayout->AnimateFloatWait("Position.Y", -resizeLayout->GetHeight(), 0.3f);
    resizeLayout->SetVisible(false);
  }
}

void TvgBitmapEditor::btnResizeClick(TObject*) {
  if (newWidth == nullptr || newHeight == nullptr) return;
  keepingAspect_ = true;
  newWidth->SetValue(static_cast<float>(bitmap_->GetWidth()));
  newHeight->SetValue(static_cast<float>(bitmap_->GetHeight()));
  keepingAspect_ = false;
  SlideResizePanel(true);
}

void TvgBitmapEditor::newWidthChange(TObject*) {
  if (keepingAspect_ || newWidth == nullptr || newHeight == nullptr || bitmap_->GetWidth() == 0) return;
  keepingAspect_ = true;
  newHeight->SetValue(std::nearbyint(newWidth->GetValue() * bitmap_->GetHeight() / bitmap_->GetWidth()));
  keepingAspect_ = false;
}

void TvgBitmapEditor::newHeightChange(TObject*) {
  if (keepingAspect_ || newWidth == nullptr || newHeight == nullptr || bitmap_->GetHeight() == 0) return;
  keepingAspect_ = true;
  newWidth->SetValue(std::nearbyint(newHeight->GetValue() * bitmap_->GetWidth() / bitmap_->GetHeight()));
  keepingAspect_ = false;
}

void TvgBitmapEditor::Button4Click(TObject*) {
  if (newWidth == nullptr || newHeight == nullptr) return;
  TvgBitmap resized(static_cast<int32_t>(std::trunc(newWidth->GetValue())), static_cast<int32_t>(std::trunc(newHeight->GetValue())));
  if (TvgCanvas* canvas = resized.GetCanvas(); canvas != nullptr && !bitmap_->IsEmpty()) {
    canvas->DrawBitmap(*bitmap_, bitmapRect_, vgRect(0, 0, static_cast<float>(resized.GetWidth()), static_cast<float>(resized.GetHeight())), 1);
  }
  AssignFromBitmap(&resized);
  SlideResizePanel(false);
}

void TvgBitmapEditor::Button5Click(TObject*) { SlideResizePanel(false); }

void TvgBitmapEditor::PreviewPaint(TObject*, TvgCanvas* canvas) {
  if (canvas == nullptr || bitmap_ == nullptr || bitmap_->IsEmpty()) return;
  const float scale = GetScale();
  canvas->DrawBitmap(*bitmap_, bitmapRect_, vgRect(0, 0, bitmap_->GetWidth() * scale, bitmap_->GetHeight() * scale), 1);
}
