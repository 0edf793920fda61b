// The design-time forms behind the inspector's "Edit..." button and the colour button.
#include <windows.h>

#include "classlib/Dialogs.h"
#include "scene/controls/vg_formhooks.h"
#include "scene/design/vg_design_p.h"
#include "scene/design/vg_inspector.h"
#include "scene/widgets/vg_memo.h"
#include "vg_dsgn.h"
#include "vg_dsgn_bmp.h"
#include "vg_dsgn_path.h"

namespace {

// Runs a form made from its resource modally and frees it; `accept` takes the result over.
template <typename T, typename Prepare, typename Accept>
bool RunForm(Prepare prepare, Accept accept) {
  T* form = TCustomForm::Create<T>(nullptr);
  bool accepted = false;
  try {
    prepare(form);
    accepted = vgShowDesignForm(form) == mrOk;
    if (accepted) accept(form);
  } catch (...) {
    delete form;
    throw;
  }
  delete form;
  return accepted;
}

std::wstring Wide(const std::string& text) {
  const WideString w = Utf8ToWide(text);
  return std::wstring(w.begin(), w.end());
}

}  // namespace

void vgRegisterPlatformDesignClasses() {
  // The forms' streams name these classes.
  RegisterClass<TSaveDialog, TvgBitmapEditor, TvgBrushDesign, TvgPathDataDesigner, TvgBrushDialog>();
}

void vgInstallPlatformDesignEditors() {
  TvgInspectorEditors& editors = vgInspectorEditors();
  editors.EditBrush = [](TvgBrush* brush, TComponent* context) {
    TvgBrushDialog dialog(nullptr);
    dialog.GetBrush()->Assign(brush);
    dialog.SetContext(context);
    if (!dialog.Execute()) return false;
    brush->Assign(dialog.GetBrush());
    return true;
  };
  editors.EditGradient = [](TvgGradient* gradient) { return ShowGradientDialog(gradient); };
  editors.EditBitmap = [](TvgBitmap* bitmap) {
    return RunForm<TvgBitmapEditor>([&](TvgBitmapEditor* f) { f->AssignFromBitmap(bitmap); },
                                    [&](TvgBitmapEditor* f) { f->AssignToBitmap(bitmap); });
  };
  editors.EditPath = [](TvgPathData* path) {
    return RunForm<TvgPathDataDesigner>(
        [&](TvgPathDataDesigner* f) {
          if (f->PathData != nullptr) f->PathData->SetText(Utf8ToWide(path->GetData()));
          f->PathDataChange(f->PathData);
        },
        [&](TvgPathDataDesigner* f) {
          if (f->PathData != nullptr) path->SetData(WideToUtf8(f->PathData->GetText()));
        });
  };
  editors.EditFont = [](TvgFont* font) {
    TFontDialog dialog(nullptr);
    TvgFontDesc desc;
    font->AssignToDesc(desc);
    dialog.GetFont()->SetName(desc.Name);
    dialog.GetFont()->SetHeight(desc.Height);
    TFontStyles style;
    if (desc.Bold) style.Include(fsBold);
    if (desc.Italic) style.Include(fsItalic);
    dialog.GetFont()->SetStyle(style);
    if (!dialog.Execute()) return false;
    desc.Name = dialog.GetFont()->GetName();
    desc.Height = dialog.GetFont()->GetHeight();
    desc.Bold = dialog.GetFont()->GetStyle().Contains(fsBold);
    desc.Italic = dialog.GetFont()->GetStyle().Contains(fsItalic);
    desc.Underline = dialog.GetFont()->GetStyle().Contains(fsUnderline);
    desc.StrikeOut = dialog.GetFont()->GetStyle().Contains(fsStrikeOut);
    font->AssignFromDesc(desc);
    return true;
  };
  editors.ShowMessage = [](const std::string& message) {
    MessageBoxW(GetActiveWindow(), Wide(message).c_str(), L"Property Inspector", MB_OK | MB_ICONWARNING);
  };
  vgDialogHooks().ChooseBrushColor = [](uint32_t& color) {
    TvgBrushDialog dialog(nullptr);
    dialog.GetBrush()->SetStyle(vgBrushSolid);
    dialog.GetBrush()->SetSolidColor(color);
    dialog.SetShowStyles(TvgBrushStyles{vgBrushSolid});
    if (!dialog.Execute()) return false;
    color = dialog.GetBrush()->GetSolidColorValue();
    return true;
  };
}
