// The path data designer: a modal form (streamed from the form resource TVGPATHDATADESIGNER)
// in which the text of a vector path is typed or pasted while a preview path follows every
// edit. Win32 only; GUI thread only.
#pragma once

#include "classlib/Forms.h"

class TvgMemo;
class TvgPath;
class TvgVisualObject;

class TvgPathDataDesigner : public TForm {
  KBL_DECLARE_CLASS(TvgPathDataDesigner, TForm)
 public:
  explicit TvgPathDataDesigner(TComponent* owner);

  // --- Handlers named by the form resource
  void FormCreate(TObject* sender);
  // The preview takes the memo's text (while it is shown); text the path reader does not
  // understand leaves the preview with what the reader makes of it.
  void PathDataChange(TObject* sender);
  void Button1Click(TObject* sender);
  void Button2Click(TObject* sender);
  void Button3Click(TObject* sender);

  // --- Parts of the form
  TvgMemo* PathData = nullptr;
  TvgPath* previewPath = nullptr;
  TvgVisualObject* previewLayout = nullptr;
};
