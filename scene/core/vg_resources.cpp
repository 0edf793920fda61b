// Background, content, the style container and the scene unit's class registration.
#include "vg_resources.h"

#include "classlib/Filer.h"
#include "classlib/FormText.h"
#include "vg_animation.h"
#include "vg_canvas.h"
#include "vg_effect.h"
#include "vg_hostpath_p.h"
#include "vg_popup.h"
#include "vg_widestrings.h"

#include <memory>

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
  // Also when the parent's layout raises: the content would never pass a layout on again.
  const TvgRestoreOnExit passed([this] { inContentRealign_ = false; });
  if (parent != nullptr && parent->IsVisual() && !HasState(csLoading)) parent->Visual()->Realign();
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

void TvgResources::SetRootObject(TvgObject* root) {
  if (root == root_) return;
  ReplaceRoot(root);
  NotifyScenes();
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
  if (!vgSetChanged(fileName_, value)) return;
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

// --- Frame

KBL_PUBLISHED(TvgFrame) { KBL_PROP(SceneObject); }

TvgFrame::TvgFrame(TComponent* owner) : TvgVisualObject(owner) {}

TvgFrame::~TvgFrame() {
  const bool designing = GetScene() != nullptr && GetScene()->GetDesignTime();
  if (!designing) ReleaseRoot(false);
  if (sceneObject_ != nullptr) RemoveFreeNotification(sceneObject_);
  sceneObject_ = nullptr;
  DestroyTree();
  delete preview_;
}

void TvgFrame::ReleaseRoot(bool sourceGoing) {
  IvgFrameSource* source = Source();
  if (source == nullptr || source->GetFrame() != this) return;
  if (TvgObject* root = source->GetFrameRoot(); root != nullptr && root->GetParent() == this) {
    RemoveObject(root);
    source->ReturnRoot(root);
  }
  source->SetFrame(nullptr);
  if (!sourceGoing) source->FreeFrameBitmap();
}

void TvgFrame::TakeRoot() {
  IvgFrameSource* source = Source();
  if (source == nullptr) return;
  if (source->GetFrame() != nullptr && source->GetFrame() != this) {
    pending_ = true;  // another frame shows it: try again when painting
    return;
  }
  pending_ = false;
  source->SetFrame(this);
  TvgObject* root = source->GetFrameRoot();
  if (root == nullptr) return;
  AddObject(root);
  if (root->IsVisual()) root->Visual()->SetAlign(vaClient);
  Realign();
}

void TvgFrame::SetSceneObject(TComponent* value) {
  if (value == sceneObject_) return;
  if (value != nullptr && GetScene() != nullptr && GetScene()->GetSceneControl() == value) return;
  const bool designing = GetScene() != nullptr && GetScene()->GetDesignTime();
  if (designing) {
    sceneObject_ = value;
    if (value != nullptr) value->FreeNotification(this);
    Repaint();
    return;
  }
  if (sceneObject_ != nullptr) {
    ReleaseRoot(sceneObject_->HasState(csDestroying));
    RemoveFreeNotification(sceneObject_);
  }
  sceneObject_ = value;
  pending_ = false;
  if (value == nullptr) return;
  value->FreeNotification(this);
  TakeRoot();
}

void TvgFrame::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation != opRemove || component == nullptr || component != sceneObject_) return;
  // The scene goes: its root goes with it, without being handed back.
  if (TvgObject* root = Source() != nullptr ? Source()->GetFrameRoot() : nullptr;
      root != nullptr && root->GetParent() == this) {
    RemoveObject(root);
  }
  sceneObject_ = nullptr;
  pending_ = false;
}

void TvgFrame::Paint() {
  IvgScene* scene = GetScene();
  const bool designing = scene != nullptr && scene->GetDesignTime();
  if (!designing) {
    if (pending_ && Source() != nullptr && Source()->GetFrame() == nullptr) TakeRoot();
    return;
  }
  IvgFrameSource* source = Source();
  TvgObject* root = source != nullptr ? source->GetFrameRoot() : nullptr;
  TvgCanvas* canvas = GetCanvas();
  if (root == nullptr || !root->IsVisual() || canvas == nullptr) return;
  // A live preview of the other scene at design time.
  const auto w = static_cast<int32_t>(Trunc(GetWidth()));
  const auto h = static_cast<int32_t>(Trunc(GetHeight()));
  if (w <= 0 || h <= 0) return;
  if (preview_ == nullptr) preview_ = new TvgBitmap(w, h);
  preview_->SetSize(w, h);
  preview_->Clear(0);
  std::unique_ptr<TvgCanvas> previewCanvas = vgCreateBitmapCanvas(*preview_);
  if (!previewCanvas) return;
  TvgVisualObject* v = root->Visual();
  const float savedW = v->GetWidth();
  const float savedH = v->GetHeight();
  v->SetSizeNoAlign(GetWidth(), GetHeight());
  {
    // The other scene's root keeps its own size whatever its paint raises.
    const TvgRestoreOnExit sizeBack([v, savedW, savedH] { v->SetSizeNoAlign(savedW, savedH); });
    v->PaintTo(previewCanvas.get(), vgRect(0, 0, static_cast<float>(w), static_cast<float>(h)));
  }
  previewCanvas.reset();
  canvas->DrawBitmap(*preview_, vgRect(0, 0, static_cast<float>(w), static_cast<float>(h)), GetLocalRect(), 1);
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
  vgRegisterObjects("Layout", {TvgFrame::StaticClassInfo()});
  vgRegisterObjects("Popup", {TvgPopup::StaticClassInfo(), TvgMessagePopup::StaticClassInfo()});
}
