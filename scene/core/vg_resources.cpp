// Background, content, the style container and the scene unit's class registration.
#include "vg_resources.h"

#include "classlib/Filer.h"
#include "classlib/FormText.h"
#include "vg_animation.h"
#include "vg_canvas.h"
#include "vg_effect.h"
#include "vg_hostpath_p.h"
#include "vg_widestrings.h"

KBL_PUBLISHED(TvgBackground) { KBL_PROP(Fill); }
KBL_PUBLISHED(TvgContent) {}
KBL_PUBLISHED(TvgResources) {
  KBL_PROP(Resource).Stored(false);
  KBL_PROP(FileName);
}

// --- Background

TvgBackground::TvgBackground(TComponent* owner) : TvgControl(owner), fill_(new TvgBrush(vgBrushNone, 0xFFE0E0E0u)) {
  fill_->OnChanged = TNotifyEvent::Of<&TvgBackground::FillChanged>(this);
}

TvgBackground::~TvgBackground() {
  DestroyTree();
  delete fill_;
}

void TvgBackground::FillChanged(TObject*) { Repaint(); }

void TvgBackground::Paint() {
  if (fill_->GetStyle() == vgBrushNone) return;
  TvgCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  canvas->SetFill(fill_);
  canvas->FillRect(GetLocalRect(), 0, 0, vgAllCorners, GetAbsoluteOpacity());
}

void TvgBackground::PaintChildren() {
  IvgScene* scene = GetScene();
  const bool transparentRoot = GetParent() == nullptr && scene != nullptr && scene->GetTransparency();
  TvgObject* style = GetStyleObject();
  TvgVisualObject* styleVisual = style != nullptr ? style->Visual() : nullptr;
  if ((fill_->GetStyle() != vgBrushNone || transparentRoot) && styleVisual != nullptr && styleVisual->GetVisible()) {
    // Only the fill shows: the style stays out of this pass.
    styleVisual->SetVisibleRaw(false);
    try {
      inherited::PaintChildren();
    } catch (...) {
      styleVisual->SetVisibleRaw(true);
      throw;
    }
    styleVisual->SetVisibleRaw(true);
    return;
  }
  inherited::PaintChildren();
}

// --- Content

void TvgContent::Realign() {
  TvgObject* parent = GetParent();
  if (parent == nullptr || !parent->HasState(csLoading)) inherited::Realign();
  if (inContentRealign_) return;
  inContentRealign_ = true;
  if (parent != nullptr && parent->IsVisual() && !HasState(csLoading)) parent->Visual()->Realign();
  inContentRealign_ = false;
}

// --- Resources

TvgResources::TvgResources(TComponent* owner) : TComponent(owner), resource_(new TStringList()) {
  resource_->OnChange = TNotifyEvent::Of<&TvgResources::ResourceChanged>(this);
}

TvgResources::~TvgResources() {
  resource_->OnChange = TNotifyEvent();
  delete root_;
  delete resource_;
}

void TvgResources::ReplaceRoot(TvgObject* root) {
  delete root_;
  root_ = root;
  if (root_ != nullptr && root_->IsVisual()) root_->Visual()->SetDesignHideTree(false);
}

void TvgResources::ResourceChanged(TObject*) {
  const std::string text = resource_->GetText();
  TvgObject* root = nullptr;
  if (!Trim(text).empty()) root = dynamic_cast<TvgObject*>(vgCreateObjectFromText(nullptr, text));
  ReplaceRoot(root);
  NotifyScenes();
}

void TvgResources::ReadResources(TStream& stream) {
  TvgObject* root = nullptr;
  try {
    root = dynamic_cast<TvgObject*>(vgCreateObjectFromBinStream(nullptr, stream));
  } catch (const Exception&) {
    root = nullptr;  // a damaged style leaves the scene with its default look
  }
  ReplaceRoot(root);
  NotifyScenes();
}

void TvgResources::WriteResources(TStream& stream) {
  if (root_ != nullptr) root_->SaveToBinStream(stream);
}

void TvgResources::DefineProperties(TFiler& filer) {
  inherited::DefineProperties(filer);
  filer.DefineBinaryProperty(
      "ResourcesBin", [this](TStream& s) { ReadResources(s); }, [this](TStream& s) { WriteResources(s); },
      root_ != nullptr);
}

void TvgResources::SetFileName(const std::string& value) {
  if (value == fileName_) return;
  fileName_ = value;
  if (!HasState(csLoading)) LoadFromFileName();
}

void TvgResources::Loaded() {
  inherited::Loaded();
  LoadFromFileName();
}

void TvgResources::LoadFromFileName() {
  if (fileName_.empty()) return;
  const std::string beside = vgHostExeFolder() + fileName_;
  if (!vgHostExeFolder().empty() && FileExists(beside)) {
    resource_->LoadFromFile(beside);
  } else if (FileExists(fileName_)) {
    resource_->LoadFromFile(fileName_);
  }
}

void TvgResources::AddSceneLink(IvgScene* scene) {
  if (scene == nullptr) return;
  for (IvgScene* s : scenes_) {
    if (s == scene) return;
  }
  scenes_.push_back(scene);
}

void TvgResources::RemoveSceneLink(IvgScene* scene) {
  for (size_t i = 0; i < scenes_.size(); ++i) {
    if (scenes_[i] == scene) {
      scenes_.erase(scenes_.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

void TvgResources::NotifyScenes() {
  // A scene may unlink itself while it updates: work on a copy.
  const std::vector<IvgScene*> scenes = scenes_;
  for (IvgScene* scene : scenes) scene->UpdateStyle();
}

// --- Unit initialisation

void vgInitSceneUnit() {
  static int initialised = 0;
  if (initialised++ > 0) return;
  RegisterClass<TvgBitmap, TvgPathData, TvgBrush, TvgBounds, TvgPosition, TvgGradient, TvgGradientPoints,
                TvgGradientPoint, TvgVisual>();
  RegisterClass<TvgResources, TvgObject, TvgContent, TvgControl>();
  RegisterClass<TvgWideStrings, TvgWideStringList>();
  RegisterClass<TvgVisualObject, TvgBackground, TvgAnimation, TvgEffect>();
  vgRegisterObjects("Resources", {TvgBrushObject::StaticClassInfo(), TvgPathObject::StaticClassInfo(),
                                  TvgBitmapObject::StaticClassInfo()});
}
