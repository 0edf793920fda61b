// The path data designer form.
#include "vg_dsgn_path.h"

#include "scene/shapes/vg_objects.h"
#include "scene/widgets/vg_memo.h"

KBL_PUBLISHED(TvgPathDataDesigner) {
  KBL_METHOD(FormCreate);
  KBL_METHOD(PathDataChange);
  KBL_METHOD(Button1Click);
  KBL_METHOD(Button2Click);
  KBL_METHOD(Button3Click);
}

TvgPathDataDesigner::TvgPathDataDesigner(TComponent* owner) : TForm(owner) {}

void TvgPathDataDesigner::FormCreate(TObject*) {
  BindFormField(this, PathData, "PathData");
  BindFormField(this, previewPath, "previewPath");
  BindFormField(this, previewLayout, "previewLayout");
}

void TvgPathDataDesigner::PathDataChange(TObject*) {
  if (PathData == nullptr || previewPath == nullptr || previewLayout == nullptr || !previewLayout->GetVisible()) return;
  previewPath->GetData()->SetData(WideToUtf8(PathData->GetText()));
}

void TvgPathDataDesigner::Button1Click(TObject*) {
  if (PathData == nullptr) return;
  PathData->SelectAll();
  PathData->DeleteSelection();
  PathData->PasteFromClipboard();
}

void TvgPathDataDesigner::Button2Click(TObject*) { SetModalResult(mrOk); }

void TvgPathDataDesigner::Button3Click(TObject*) { SetModalResult(mrCancel); }
