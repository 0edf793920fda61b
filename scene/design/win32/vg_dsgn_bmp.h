// The bitmap editor: a modal form (streamed from the form resource TVGBITMAPEDITOR) that loads a
// picture from a file or the clipboard, shows it at a chosen scale, crops it with a movable
// selection, resizes, clears and saves it. Win32 only; GUI thread only.
#pragma once

#include <string>

#include "classlib/Forms.h"
#include "scene/core/vg_bitmap.h"
#include "scene/core/vg_geometry.h"

class TSaveDialog;
class TvgCanvas;
class TvgControl;
class TvgCustomButton;
class TvgLabel;
class TvgNumberBox;
class TvgPaintBox;
class TvgScrollBox;
class TvgSelection;
class TvgTrack;
class TvgVisualObject;

class TvgBitmapEditor : public TForm {
  KBL_DECLARE_CLASS(TvgBitmapEditor, TForm)
 public:
  explicit TvgBitmapEditor(TComponent* owner);
  ~TvgBitmapEditor() override;

  // Edits a copy of `source` (nothing is copied for nullptr); the buttons that need a picture
  // are enabled once it is wider than one pixel.
  void AssignFromBitmap(TvgBitmap* source);
  // Writes the result into `target`: the part under the crop selection (cut to the picture)
  // when there is one of some size, else the whole picture.
  void AssignToBitmap(TvgBitmap* target);
  // Loads a picture file through the scene's image codec (the "Load..." button after its dialog).
  bool LoadFile(const std::string& fileName);
  // Takes the clipboard's picture; false when it holds none.
  bool PasteFromClipboard();
  // Scale of the preview (1 = one pixel per unit); also what the track shows.
  float GetScale() const;
  void SetScale(float value);
  // Shows the whole picture in the preview area.
  void FitToView();
  // Starts or ends cropping ("Crop" / "Full").
  void ToggleCrop();
  TvgBitmap* GetBitmap() const { return bitmap_; }
  TvgSelection* GetCropSelection() const { return cropSelection_; }
  const std::string& GetFileName() const { return fileName_; }

  // --- Handlers named by the form resource
  void FormCreate(TObject* sender);
  void FormDestroy(TObject* sender);
  void Button1Click(TObject* sender);
  void btnSaveClick(TObject* sender);
  void btnOkClick(TObject* sender);
  void Button2Click(TObject* sender);
  void btnPasteClick(TObject* sender);
  void Button3Click(TObject* sender);
  void cropButtonClick(TObject* sender);
  void trackScaleChange(TObject* sender);
  void trackScaleMouseDown(TObject* sender, TMouseButton button, TShiftState shift, float x, float y);
  void btnFitClick(TObject* sender);
  void btnOriginalClick(TObject* sender);
  void btnResizeClick(TObject* sender);
  void newWidthChange(TObject* sender);
  void newHeightChange(TObject* sender);
  void Button4Click(TObject* sender);
  void Button5Click(TObject* sender);
  void PreviewPaint(TObject* sender, TvgCanvas* canvas);

  // --- Parts of the form (found by name when it is created)
  TvgControl* editControl = nullptr;
  TvgCustomButton* btnOk = nullptr;
  TvgCustomButton* cropButton = nullptr;
  TvgLabel* labelScale = nullptr;
  TvgTrack* trackScale = nullptr;
  TvgScrollBox* ScrollBox1 = nullptr;
  TvgPaintBox* Preview = nullptr;
  TvgVisualObject* resizeLayout = nullptr;
  TvgNumberBox* newWidth = nullptr;
  TvgNumberBox* newHeight = nullptr;
  TSaveDialog* SaveDialog1 = nullptr;

 private:
  // The preview sized to the picture at the scale, the scroll box laid out again.
  void UpdatePreview();
  void EnableEditing();
  void SlideResizePanel(bool in);

  TvgBitmap* bitmap_ = nullptr;
  TvgRect bitmapRect_;
  TvgSelection* cropSelection_ = nullptr;
  float lastScale_ = 1;
  std::string fileName_;
  bool keepingAspect_ = false;
};
