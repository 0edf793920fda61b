// The brush designer form and the brush dialog.
#include "vg_dsgn.h"

#include <algorithm>
#include <cmath>

#include "classlib/Dialogs.h"
#include "scene/controls/vg_controls.h"
#include "scene/core/vg_designer.h"
#include "scene/core/vg_registry.h"
#include "scene/shapes/vg_objects.h"
#include "scene/widgets/vg_colors.h"
#include "scene/widgets/vg_listbox.h"
#include "scene/widgets/vg_tabcontrol.h"
#include "scene/widgets/vg_textbox.h"
#include "vg_dsgn_bmp.h"

KBL_PUBLISHED(TvgBrushDesign) {
  KBL_METHOD(FormCreate);
  KBL_METHOD(FormClose);
  KBL_METHOD(brushListChange);
  KBL_METHOD(brushTabControlChange);
  KBL_METHOD(solidQuadChange);
  KBL_METHOD(textSolidChange);
  KBL_METHOD(textSolidHexChange);
  KBL_METHOD(gradQuadChange);
  KBL_METHOD(textGradChange);
  KBL_METHOD(textGradHexChange);
  KBL_METHOD(gradEditorChange);
  KBL_METHOD(gradEditorSelectPoint);
  KBL_METHOD(gradKindChange);
  KBL_METHOD(gradAngleChange);
  KBL_METHOD(btnSelectBitmapClick);
  KBL_METHOD(tileModeListChange);
  KBL_METHOD(resListChange);
  KBL_METHOD(btnMakeResClick);
  KBL_METHOD(btnOKClick);
  KBL_METHOD(btnCancelClick);
}

KBL_PUBLISHED(TvgBrushDialog) {
  KBL_PROP(ShowStyles);
  KBL_PROP(ShowBrushList).Default(true);
  KBL_PROP(ShowMakeResource).Default(false);
  KBL_PROP(Title);
}

namespace {

std::function<void(TCustomForm*)> g_designFormHook;
TvgBrushDesign* g_designer = nullptr;  // the modeless designer while it is open

// Holds the designer's "filling the controls" count for a scope.
class UpdatingScope {
 public:
  explicit UpdatingScope(int& count) : count_(count) { ++count_; }
  ~UpdatingScope() { --count_; }

 private:
  int& count_;
};

constexpr TvgBrushStyle kTabStyles[5] = {vgBrushNone, vgBrushSolid, vgBrushGradient, vgBrushBitmap, vgBrushResource};
const char* const kTabNames[5] = {"tabNone", "tabSolid", "tabGradient", "tabBitmap", "tabRes"};

}  // namespace

void vgSetDesignFormHook(std::function<void(TCustomForm*)> hook) { g_designFormHook = std::move(hook); }

TModalResult vgShowDesignForm(TCustomForm* form) {
  if (g_designFormHook) g_designFormHook(form);
  return form->ShowModal();
}

// --- Form

TvgBrushDesign::TvgBrushDesign(TComponent* owner) : TForm(owner) {}

TvgBrushDesign::~TvgBrushDesign() {
  if (g_designer == this) g_designer = nullptr;
}

void TvgBrushDesign::FormCreate(TObject*) {
  BindFormField(this, dsgnRoot, "dsgnRoot");
  BindFormField(this, HudWindow1, "HudWindow1");
  BindFormField(this, brushList, "brushList");
  BindFormField(this, brushTabControl, "brushTabControl");
  for (int i = 0; i < 5; ++i) BindFormField(this, tabs[i], kTabNames[i]);
  BindFormField(this, solidQuad, "solidQuad");
  BindFormField(this, solidPicker, "solidPicker");
  BindFormField(this, solidColorRect, "solidColorRect");
  BindFormField(this, gradEditor, "gradEditor");
  BindFormField(this, gradQuad, "gradQuad");
  BindFormField(this, gradPicker, "gradPicker");
  const char* channels = "RGBA";
  for (int i = 0; i < 4; ++i) {
    BindFormField(this, textSolid[i], std::string("textSolid") + channels[i]);
    BindFormField(this, textGrad[i], std::string("textGrad") + channels[i]);
  }
  BindFormField(this, textSolidHex, "textSolidHex");
  BindFormField(this, textGradHex, "textGradHex");
  BindFormField(this, gradKind, "gradKind");
  BindFormField(this, gradAngle, "gradAngle");
  BindFormField(this, gradAngleLabel, "gradAngleLabel");
  BindFormField(this, bitmapImage, "bitmapImage");
  BindFormField(this, tileModeList, "tileModeList");
  BindFormField(this, resList, "resList");
  BindFormField(this, Layout6, "Layout6");
  BindFormField(this, makeResLayout, "makeResLayout");
  BindFormField(this, btnOK, "btnOK");
  BindFormField(this, btnCancel, "btnCancel");
  // The colour boxes are filled by the designer: their own links are made here.
  if (solidPicker != nullptr) solidPicker->SetColorQuad(solidQuad);
  if (solidQuad != nullptr) solidQuad->SetColorBox(solidColorRect);
  if (gradPicker != nullptr) gradPicker->SetColorQuad(gradQuad);
  TvgColorBox* gradColorRect = nullptr;
  BindFormField(this, gradColorRect, "gradColorRect");
  gradQuad->SetColorBox(gradColorRect);
  if (gradEditor != nullptr) gradEditor->SetColorPicker(gradPicker);
}

void TvgBrushDesign::FormClose(TObject*, TCloseAction& action) {
  // The modeless designer goes when it is closed; a modal run is freed by its caller.
  if (!Modal()) action = caFree;
  if (g_designer == this) g_designer = nullptr;
}

TvgObject* TvgBrushDesign::SceneRoot() const { return sceneLink_ != nullptr ? sceneLink_->GetRoot() : nullptr; }

void TvgBrushDesign::SetComponent(TObject* object) {
  editedComponent_ = object;
  sceneLink_ = vgQueryScene(object);
  if (sceneLink_ == nullptr)
    if (auto* sceneObject = dynamic_cast<TvgObject*>(object)) sceneLink_ = sceneObject->GetScene();
  SetBrush(nullptr);
  brushItems_.clear();
  if (brushList != nullptr) {
    brushList->Clear();
    brushList->SetHeight(4);
  }
  if (object == nullptr || brushList == nullptr) return;
  for (const TPropInfo* prop : GetPropList(object->ClassInfo())) {
    // Only properties declared as TvgBrush itself, by name: a descendant class does not count.
    if (prop->PropType->Kind != tkClass || prop->PropType->GetClassType() == nullptr ||
        prop->PropType->GetClassType()->Name != "TvgBrush")
      continue;
    auto* brush = dynamic_cast<TvgBrush*>(GetObjectProp(object, prop));
    if (brush == nullptr) continue;
    auto* item = new TvgListBoxItem(this);
    item->SetHeight(23);
    auto* label = new TvgLabel(this);
    label->SetParent(item);
    label->SetAlign(vaClient);
    label->SetHitTest(false);
    label->SetText(Utf8ToWide(prop->Name));
    brushList->AddObject(item);
    brushList->SetHeight(brushList->GetHeight() + item->GetHeight());
    brushItems_.push_back({item, brush});
    if (editedBrush_ == nullptr) SetBrush(brush);
  }
  if (!brushItems_.empty()) brushList->SetItemIndex(0);
}

void TvgBrushDesign::brushListChange(TObject*) {
  if (brushList == nullptr || sceneLink_ == nullptr || editedComponent_ == nullptr) return;
  TvgListBoxItem* selected = brushList->GetSelected();
  for (const auto& [item, brush] : brushItems_)
    if (item == selected && brush != editedBrush_) SetBrush(brush);
}

bool TvgBrushDesign::GradientAngle(const TvgGradient& gradient, float& angle) {
  const TvgPoint a = gradient.GetStartPosition()->GetPoint(), b = gradient.GetStopPosition()->GetPoint();
  const double dx = b.X - a.X, dy = b.Y - a.Y;
  if (dx == 0 && dy == 0) return false;
  angle = static_cast<float>(std::atan2(-dy, dx) * 180 / 3.14159265358979323846);
  return true;
}

void TvgBrushDesign::AngleToPositions(float degrees, TvgPoint& start, TvgPoint& stop) {
  const double a = degrees * 3.14159265358979323846 / 180;
  const double c = std::cos(a), s = std::sin(a);
  // Stretched so that diagonal directions reach the corners of the unit square.
  const double kx = c != 0 && std::fabs(1 / c) <= 1.42 ? std::fabs(1 / c) : 1;
  const double ky = s != 0 && std::fabs(1 / s) <= 1.42 ? std::fabs(1 / s) : 1;
  const double r = 0.5 * std::max(kx, ky);
  start = vgPoint(static_cast<float>(0.5 - c * r), static_cast<float>(0.5 + s * r));
  stop = vgPoint(static_cast<float>(0.5 + c * r), static_cast<float>(0.5 - s * r));
}

void TvgBrushDesign::ShowAngle(float degrees) {
  if (gradAngleLabel != nullptr)
    gradAngleLabel->SetText(Utf8ToWide(std::to_string(static_cast<int32_t>(std::trunc(degrees)))));
}

bool TvgBrushDesign::ShowsColor(TvgColorQuad* quad, TvgColor color) const {
  float h, s, l;
  vgRGBtoHSL(color, h, s, l);
  return quad != nullptr && (vgHSLtoRGB(h, s, l) & 0x00FFFFFFu) == QuadColor(quad);
}

TvgColor TvgBrushDesign::QuadColor(TvgColorQuad* quad) const {
  return quad != nullptr ? vgHSLtoRGB(quad->GetHue(), quad->GetSat(), quad->GetLum()) & 0x00FFFFFFu : 0;
}

void TvgBrushDesign::ShowComponents(TvgNumberBox* const boxes[4], TvgTextBox* hex, TvgColor color) {
  UpdatingScope scope(updating_);
  const int shifts[4] = {16, 8, 0, 24};
  for (int i = 0; i < 4; ++i)
    if (boxes[i] != nullptr) boxes[i]->SetValue(static_cast<float>(color >> shifts[i] & 0xFF));
  if (hex != nullptr) hex->SetText(Utf8ToWide(vgColorToStr(color)));
}

TvgColor TvgBrushDesign::ComponentsColor(TvgNumberBox* const boxes[4]) const {
  uint8_t c[4] = {0, 0, 0, 255};
  for (int i = 0; i < 4; ++i)
    if (boxes[i] != nullptr) c[i] = static_cast<uint8_t>(std::clamp(static_cast<int32_t>(std::trunc(boxes[i]->GetValue())), 0, 255));
  return vgMakeColor(c[0], c[1], c[2], c[3]);
}

void TvgBrushDesign::SelectTabOf(TvgBrushStyle style) {
  if (brushTabControl == nullptr) return;
  for (int i = 0; i < 5; ++i)
    if (kTabStyles[i] == style && tabs[i] != nullptr) brushTabControl->SetItemIndex(tabs[i]->GetTabIndex());
}

TvgBrushStyle TvgBrushDesign::StyleOfSelectedTab() const {
  if (brushTabControl != nullptr)
    for (int i = 0; i < 5; ++i)
      if (tabs[i] != nullptr && tabs[i]->GetVisible() && tabs[i]->GetTabIndex() == brushTabControl->GetItemIndex())
        return kTabStyles[i];
  return vgBrushNone;
}

void TvgBrushDesign::SetBrush(TvgBrush* brush) {
  editedBrush_ = brush;
  if (brush == nullptr) return;
  {
    // Filling the controls writes nothing back: the brush is shown as it is (a gradient's angle
    // is shown to the control's step, its positions stay exact).
    UpdatingScope scope(updating_);
    SelectTabOf(brush->GetStyle());
    switch (brush->GetStyle()) {
      case vgBrushSolid:
      case vgBrushGradient:
        if (solidPicker != nullptr) solidPicker->SetColor(brush->GetSolidColorValue());
        ShowComponents(textSolid, textSolidHex, brush->GetSolidColorValue());
        if (gradEditor != nullptr) {
          gradEditor->GetGradient()->Assign(brush->GetGradient());
          gradEditor->UpdateColorPicker();
        }
        if (gradKind != nullptr) gradKind->SetItemIndex(static_cast<int32_t>(brush->GetGradient()->GetStyle()));
        if (float angle = gradAngle != nullptr ? gradAngle->GetValue() : 0;
            gradAngle != nullptr && GradientAngle(*brush->GetGradient(), angle)) {
          gradAngle->SetValue(angle);
          ShowAngle(angle);
        }
        if (gradAngle != nullptr) gradAngle->SetVisible(brush->GetGradient()->IsLinear());
        ShowSelectedStop();
        break;
      case vgBrushBitmap:
        if (bitmapImage != nullptr) bitmapImage->GetBitmap()->Assign(brush->GetBitmap()->GetBitmap());
        if (tileModeList != nullptr) tileModeList->SetItemIndex(static_cast<int32_t>(brush->GetBitmap()->GetWrapMode()));
        break;
      case vgBrushResource:
        RebuildResources();
        break;
      default:
        break;
    }
  }
  if (brushList != nullptr)
    for (size_t i = 0; i < brushItems_.size(); ++i)
      if (brushItems_[i].second == brush) brushList->SetItemIndex(static_cast<int32_t>(i));
}

void TvgBrushDesign::brushTabControlChange(TObject*) {
  const TvgBrushStyle style = StyleOfSelectedTab();
  if (makeResLayout != nullptr) {
    const bool show = style != vgBrushNone && style != vgBrushResource;
    makeResLayout->SetVisible(show);
    if (!show) RebuildResources();
  }
  if (updating_ > 0 || editedBrush_ == nullptr || brushTabControl == nullptr || brushTabControl->GetItemIndex() < 0) return;
  editedBrush_->SetStyle(style);
  if (style == vgBrushGradient) {
    gradQuadChange(gradQuad);
    if (gradAngle != nullptr) ShowAngle(gradAngle->GetValue());
  }
}

// --- Solid colour

void TvgBrushDesign::solidQuadChange(TObject*) {
  if (updating_ > 0 || editedBrush_ == nullptr || solidQuad == nullptr) return;
  UpdatingScope scope(updating_);
  const TvgColor alpha = editedBrush_->GetSolidColorValue() & 0xFF000000u;
  solidQuad->SetAlpha(static_cast<float>(alpha >> 24) / 255.0f);
  // A quad showing the brush's own colour gives it back through hue, saturation and lightness:
  // the brush keeps its exact colour then.
  if (ShowsColor(solidQuad, editedBrush_->GetSolidColorValue())) return;
  const TvgColor color = alpha | QuadColor(solidQuad);
  editedBrush_->SetSolidColor(color);
  ShowComponents(textSolid, textSolidHex, color);
}

void TvgBrushDesign::textSolidChange(TObject*) {
  if (updating_ > 0 || editedBrush_ == nullptr) return;
  const TvgColor color = ComponentsColor(textSolid);
  editedBrush_->SetSolidColor(color);
  UpdatingScope scope(updating_);
  if (solidPicker != nullptr) solidPicker->SetColor(color);
  if (textSolidHex != nullptr) textSolidHex->SetText(Utf8ToWide(vgColorToStr(color)));
}

void TvgBrushDesign::textSolidHexChange(TObject*) {
  if (updating_ > 0 || editedBrush_ == nullptr || textSolidHex == nullptr) return;
  TvgColor color;
  try {
    color = vgStrToColorStrict(WideToUtf8(textSolidHex->GetText()));
  } catch (const EConvertError&) {
    // Not a colour: the text shows the brush's colour again.
    ShowComponents(textSolid, textSolidHex, editedBrush_->GetSolidColorValue());
    return;
  }
  editedBrush_->SetSolidColor(color);
  UpdatingScope scope(updating_);
  if (solidPicker != nullptr) solidPicker->SetColor(color);
  ShowComponents(textSolid, nullptr, color);
}

// --- Gradient

void TvgBrushDesign::ShowSelectedStop() {
  if (gradEditor == nullptr) return;
  const int32_t current = gradEditor->GetCurrentPoint();
  TvgGradientPoints* points = gradEditor->GetGradient()->GetPoints();
  if (current < 0 || current >= points->Count()) return;
  ShowComponents(textGrad, textGradHex, points->Point(current)->GetIntColor());
}

void TvgBrushDesign::gradQuadChange(TObject*) {
  if (updating_ > 0 || editedBrush_ == nullptr || gradEditor == nullptr) return;
  TvgGradientPoints* points = gradEditor->GetGradient()->GetPoints();
  const int32_t current = gradEditor->GetCurrentPoint();
  if (current >= 0 && current < points->Count()) {
    TvgGradientPoint* point = points->Point(current);
    if (!ShowsColor(gradQuad, point->GetIntColor())) {
      point->SetIntColor((point->GetIntColor() & 0xFF000000u) | QuadColor(gradQuad));
      gradEditor->Repaint();
    }
  }
  editedBrush_->GetGradient()->Assign(gradEditor->GetGradient());
  ShowSelectedStop();
}

void TvgBrushDesign::textGradChange(TObject*) {
  if (updating_ > 0 || gradEditor == nullptr) return;
  TvgGradientPoints* points = gradEditor->GetGradient()->GetPoints();
  const int32_t current = gradEditor->GetCurrentPoint();
  if (current < 0 || current >= points->Count()) return;
  const TvgColor color = ComponentsColor(textGrad);
  points->Point(current)->SetIntColor(color);
  {
    UpdatingScope scope(updating_);
    if (textGradHex != nullptr) textGradHex->SetText(Utf8ToWide(vgColorToStr(color)));
  }
  gradEditor->DoChanged();
  gradEditor->Repaint();
}

void TvgBrushDesign::textGradHexChange(TObject*) {
  if (updating_ > 0 || gradEditor == nullptr || textGradHex == nullptr) return;
  TvgGradientPoints* points = gradEditor->GetGradient()->GetPoints();
  const int32_t current = gradEditor->GetCurrentPoint();
  if (current < 0 || current >= points->Count()) return;
  try {
    points->Point(current)->SetIntColor(vgStrToColorStrict(WideToUtf8(textGradHex->GetText())));
  } catch (const EConvertError&) {
    ShowSelectedStop();
    return;
  }
  {
    UpdatingScope scope(updating_);
    ShowComponents(textGrad, nullptr, points->Point(current)->GetIntColor());
  }
  gradEditor->DoChanged();
  gradEditor->Repaint();
}

void TvgBrushDesign::gradEditorChange(TObject*) {
  if (updating_ > 0 || editedBrush_ == nullptr || gradEditor == nullptr) return;
  editedBrush_->GetGradient()->Assign(gradEditor->GetGradient());
}

void TvgBrushDesign::gradEditorSelectPoint(TObject*) { ShowSelectedStop(); }

void TvgBrushDesign::gradKindChange(TObject*) {
  if (gradKind == nullptr || gradEditor == nullptr) return;
  const bool linear = gradKind->GetItemIndex() != static_cast<int32_t>(vgRadialGradient);
  if (gradAngle != nullptr) gradAngle->SetVisible(linear);
  if (updating_ > 0 || editedBrush_ == nullptr) return;
  gradEditor->GetGradient()->SetStyle(linear ? vgLinearGradient : vgRadialGradient);
  editedBrush_->GetGradient()->Assign(gradEditor->GetGradient());
}

void TvgBrushDesign::gradAngleChange(TObject*) {
  if (gradAngle == nullptr) return;
  ShowAngle(gradAngle->GetValue());
  if (updating_ > 0 || gradEditor == nullptr) return;
  TvgPoint start, stop;
  AngleToPositions(gradAngle->GetValue(), start, stop);
  gradEditor->GetGradient()->GetStartPosition()->SetPoint(start);
  gradEditor->GetGradient()->GetStopPosition()->SetPoint(stop);
  gradEditor->Repaint();
  if (editedBrush_ != nullptr) editedBrush_->GetGradient()->Assign(gradEditor->GetGradient());
}

// --- Bitmap

void TvgBrushDesign::btnSelectBitmapClick(TObject*) {
  if (editedBrush_ == nullptr) return;
  auto* editor = TCustomForm::Create<TvgBitmapEditor>(nullptr);
  try {
    editor->AssignFromBitmap(editedBrush_->GetBitmap()->GetBitmap());
    if (vgShowDesignForm(editor) == mrOk) {
      editor->AssignToBitmap(editedBrush_->GetBitmap()->GetBitmap());
      if (bitmapImage != nullptr) bitmapImage->GetBitmap()->Assign(editedBrush_->GetBitmap()->GetBitmap());
      if (auto* visual = dynamic_cast<TvgVisualObject*>(editedComponent_)) visual->Repaint();
    }
  } catch (...) {
    delete editor;
    throw;
  }
  delete editor;
}

void TvgBrushDesign::tileModeListChange(TObject*) {
  if (updating_ > 0 || editedBrush_ == nullptr || tileModeList == nullptr || tileModeList->GetItemIndex() < 0) return;
  editedBrush_->GetBitmap()->SetWrapMode(static_cast<TvgWrapMode>(std::min(tileModeList->GetItemIndex(), 2)));
  if (auto* visual = dynamic_cast<TvgVisualObject*>(editedComponent_)) visual->Repaint();
}

// --- Resources

void TvgBrushDesign::RebuildResources() {
  if (resList == nullptr) return;
  UpdatingScope scope(updating_);
  resList->Clear();
  resourceItems_.clear();
  TvgObject* root = SceneRoot();
  if (root == nullptr) return;
  std::vector<TvgObject*> all;
  root->AddObjectsToList(all);
  for (TvgObject* obj : all) {
    auto* resource = dynamic_cast<TvgBrushObject*>(obj);
    if (resource == nullptr) continue;
    auto* item = new TvgListBoxItem(this);
    item->SetHeight(25);
    auto* label = new TvgLabel(this);
    label->SetParent(item);
    label->SetAlign(vaClient);
    label->SetHitTest(false);
    label->GetFont()->SetSize(13);
    label->GetPadding()->SetLeft(30);
    label->SetTextAlign(vgTextAlignNear);
    label->SetText(Utf8ToWide(resource->GetResourceName()));
    auto* swatch = new TvgRectangle(this);
    swatch->SetParent(item);
    swatch->SetAlign(vaLeft);
    swatch->SetWidth(24);
    swatch->GetPadding()->SetRect(vgRect(2, 2, 2, 2));
    swatch->SetHitTest(false);
    swatch->GetFill()->SetStyle(vgBrushResource);
    swatch->GetFill()->GetResource()->SetResource(resource);
    swatch->GetStroke()->SetSolidColor(0x80FFFFFFu);
    resList->AddObject(item);
    resourceItems_.push_back({item, resource});
    if (editedBrush_ != nullptr && editedBrush_->GetResource()->GetResource() == resource)
      resList->SetItemIndex(static_cast<int32_t>(resourceItems_.size()) - 1);
  }
}

void TvgBrushDesign::resListChange(TObject*) {
  if (updating_ > 0 || editedBrush_ == nullptr || resList == nullptr || sceneLink_ == nullptr) return;
  TvgListBoxItem* selected = resList->GetSelected();
  for (const auto& [item, resource] : resourceItems_) {
    if (item != selected) continue;
    editedBrush_->Assign(resource->GetBrush());
    editedBrush_->GetResource()->SetResource(resource);
    editedBrush_->SetStyle(vgBrushResource);
  }
}

TvgBrushObject* TvgBrushDesign::MakeResource(const std::string& name) {
  TvgObject* root = SceneRoot();
  if (root == nullptr || editedBrush_ == nullptr) return nullptr;
  auto* resource = new TvgBrushObject(sceneLink_->GetOwner());
  resource->SetResourceName(name);
  resource->GetBrush()->Assign(editedBrush_);
  root->AddObject(resource);
  RebuildResources();
  return resource;
}

void TvgBrushDesign::btnMakeResClick(TObject*) {
  static int32_t counter = 0;
  IvgDesigner* designer = vgDesigner();
  std::string name = designer != nullptr ? designer->UniqueName("Brush") : "Brush" + std::to_string(++counter);
  if (InputQuery("New TvgBrushObject", "Enter resource name:", name) && !name.empty()) MakeResource(name);
}

void TvgBrushDesign::btnOKClick(TObject*) { SetModalResult(mrOk); }

void TvgBrushDesign::btnCancelClick(TObject*) { SetModalResult(mrCancel); }

// --- Dialog

TvgBrushDialog::TvgBrushDialog(TComponent* owner)
    : TComponent(owner), showStyles_(TvgBrushStyles{vgBrushNone, vgBrushSolid, vgBrushGradient, vgBrushBitmap, vgBrushResource}),
      brush_(new TvgBrush(vgBrushSolid, 0xFF808080u)) {}

TvgBrushDialog::~TvgBrushDialog() { delete brush_; }

bool TvgBrushDialog::Execute() {
  // The form edits a copy: Brush takes it over on OK only, so Cancel leaves it as it was.
  // Every part is copied, not only the current style's, so that each page opens on the brush's own.
  TvgBrush edited;
  edited.Assign(brush_);
  edited.SetGradient(brush_->GetGradient());
  edited.SetBitmap(brush_->GetBitmap());
  edited.SetResource(brush_->GetResource());
  auto* form = TCustomForm::Create<TvgBrushDesign>(nullptr);
  TModalResult result = mrCancel;
  try {
    // The dialog offers no component's brushes, only resources of its context's scene.
    if (form->brushList != nullptr) form->brushList->SetVisible(false);
    form->SetComponent(nullptr);
    if (context_ != nullptr) {
      // Resources of the context's scene, without offering its brushes.
      form->SetComponent(context_);
      if (form->brushList != nullptr) form->brushList->SetVisible(false);
    }
    if (form->HudWindow1 != nullptr) form->HudWindow1->SetText(title_);
    if (form->brushTabControl != nullptr) {
      form->brushTabControl->SetItemIndex(-1);
      for (int i = 0; i < 5; ++i)
        if (form->tabs[i] != nullptr) form->tabs[i]->SetVisible(showStyles_.Contains(kTabStyles[i]));
      form->brushTabControl->Realign();
    }
    if (form->btnOK != nullptr) form->btnOK->SetVisible(true);
    if (form->btnCancel != nullptr) form->btnCancel->SetVisible(true);
    form->SetBrush(&edited);
    if (form->makeResLayout != nullptr) form->makeResLayout->SetVisible(showMakeResource_);
    if (form->dsgnRoot != nullptr) form->dsgnRoot->SetHeight(form->dsgnRoot->GetHeight() - 1);
    if (form->Layout6 != nullptr && form->HudWindow1 != nullptr) {
      const TvgRect margins = form->HudWindow1->GetMargins()->GetRect();
      form->SetClientHeight(static_cast<int32_t>(std::trunc(form->Layout6->GetPosition()->GetY() +
                                                            form->Layout6->GetHeight() + margins.Top + margins.Bottom)));
    }
    result = vgShowDesignForm(form);
  } catch (...) {
    delete form;
    throw;
  }
  delete form;
  if (result != mrOk) return false;
  brush_->Assign(&edited);
  return true;
}

// --- Module-level entries

TvgBrushDesign* ShowBrushDesign(TvgBrush* brush, TComponent* component) {
  if (g_designer == nullptr) g_designer = TCustomForm::Create<TvgBrushDesign>(nullptr);
  g_designer->SetComponent(component);
  g_designer->SetBrush(brush);
  g_designer->Show();
  return g_designer;
}

TvgBrushDesign* ShowBrushDesign(TObject* object) {
  if (g_designer == nullptr) g_designer = TCustomForm::Create<TvgBrushDesign>(nullptr);
  g_designer->SetComponent(dynamic_cast<TvgObject*>(object) != nullptr ? object : nullptr);
  g_designer->Show();
  return g_designer;
}

bool ShowGradientDialog(TvgGradient* gradient) {
  if (gradient == nullptr) return false;
  TvgBrushDialog dialog(nullptr);
  dialog.GetBrush()->SetStyle(vgBrushGradient);
  dialog.GetBrush()->GetGradient()->Assign(gradient);
  dialog.SetShowStyles(TvgBrushStyles{vgBrushGradient});
  dialog.SetShowBrushList(false);
  if (!dialog.Execute()) return false;
  gradient->Assign(dialog.GetBrush()->GetGradient());
  return true;
}
