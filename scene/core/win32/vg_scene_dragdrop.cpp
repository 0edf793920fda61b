// The scene window's drag and drop: the OLE drop target (files and text from other applications,
// with the shell's drag image), the class library's drags between scenes and controls, and the
// zero-size control that carries a scene object's drag. Nothing raised by a scene object gets
// out to OLE or the window procedure: it is reported and the drag goes on or ends cleanly.
#include <windows.h>
#include <ole2.h>
#include <shlobj.h>
#include <shellapi.h>

#include "classlib/ComObj.h"
#include "classlib/Forms.h"
#include "vg_bitmap.h"
#include "vg_registry.h"
#include "vg_scene.h"
#include "vg_visualobject.h"

namespace {

// The control that carries a scene object's class-library drag; it names the object.
class TvgNativeDragControl : public TCustomControl {
 public:
  explicit TvgNativeDragControl(TComponent* owner) : TCustomControl(owner) {}
  // The dragged object, or nullptr when it is gone (also when another stands at its address) or
  // no drag runs.
  TvgObject* DraggedObject() const { return object_.Get(); }
  void SetDraggedObject(TvgObject* obj) { object_ = obj; }

 private:
  TvgSceneObjectRef<TvgObject> object_;
};

// Reports the exception being handled; never raises.
void ReportDragError(TObject* sender) noexcept { Application().HandleException(sender); }

// The process-wide OLE drag: the data object and the shell's drag-image object of the drag in
// progress (one drag at a time is served).
IDataObject* g_dataObject = nullptr;
IDropTargetHelper* g_dragImage = nullptr;

void SetDataObject(IDataObject* data) {
  if (data != nullptr) data->AddRef();
  if (g_dataObject != nullptr) g_dataObject->Release();
  g_dataObject = data;
}

void ReleaseDragImage() {
  if (g_dragImage != nullptr) g_dragImage->Release();
  g_dragImage = nullptr;
}

// The OLE drag data: the dropped file names (CF_HDROP) or else the dropped text.
TvgDragObject ReadDragData(IDataObject* data) {
  TvgDragObject result;
  if (data == nullptr) return result;
  FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium{};
  if (SUCCEEDED(data->GetData(&format, &medium))) {
    auto drop = static_cast<HDROP>(medium.hGlobal);
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFFu, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
      // The whole name, however long: a cut name would name another file.
      const UINT length = DragQueryFileW(drop, i, nullptr, 0);
      std::wstring name(length + 1, L'\0');
      const UINT got = DragQueryFileW(drop, i, name.data(), length + 1);
      name.resize(got);
      result.Files.emplace_back(name.begin(), name.end());
    }
    ReleaseStgMedium(&medium);
    if (!result.Files.empty()) result.Data = Variant(result.Files.front());
    return result;
  }
  format.cfFormat = CF_UNICODETEXT;
  medium = STGMEDIUM{};
  if (SUCCEEDED(data->GetData(&format, &medium))) {
    const auto* text = static_cast<const wchar_t*>(GlobalLock(medium.hGlobal));
    if (text != nullptr) {
      // Bounded by the block: a text without its terminator ends with the block.
      const SIZE_T units = GlobalSize(medium.hGlobal) / sizeof(wchar_t);
      SIZE_T n = 0;
      while (n < units && text[n] != 0) ++n;
      result.Data = Variant(WideString(text, text + n));
      GlobalUnlock(medium.hGlobal);
    }
    ReleaseStgMedium(&medium);
  }
  return result;
}

// The effect shown for a drag a target takes: linking, as the scene announces it, or what the
// source offers instead when it does not offer linking.
DWORD TakenEffect(DWORD allowed) {
  if (allowed & DROPEFFECT_LINK) return DROPEFFECT_LINK;
  if (allowed & DROPEFFECT_COPY) return DROPEFFECT_COPY;
  if (allowed & DROPEFFECT_MOVE) return DROPEFFECT_MOVE;
  return DROPEFFECT_LINK;
}

}  // namespace

// The scene's OLE drop target. OLE holds it as long as it likes; the scene detaches itself when
// its window goes, after which every call answers that nothing can be dropped.
class TvgSceneDropTarget final : public TComObject<IDropTarget, IID_IDropTarget> {
 public:
  explicit TvgSceneDropTarget(TvgCustomScene* scene) : scene_(scene) {}
  void Detach() { scene_ = nullptr; }

  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD, POINTL pt, DWORD* effect) override {
    if (effect != nullptr) *effect = DROPEFFECT_NONE;
    try {
      if (scene_ == nullptr || !scene_->Engine().CanAcceptDrag()) return E_UNEXPECTED;
      SetDataObject(data);
      ReleaseDragImage();
      void* helper = nullptr;
      if (SUCCEEDED(CoCreateInstance(CLSID_DragDropHelper, nullptr, CLSCTX_INPROC_SERVER, IID_IDropTargetHelper,
                                     &helper))) {
        g_dragImage = static_cast<IDropTargetHelper*>(helper);
        POINT p{pt.x, pt.y};
        // A drag image that fails is dropped; the drag goes on without it.
        if (FAILED(g_dragImage->DragEnter(scene_->GetHandle(), data, &p, DROPEFFECT_NONE))) ReleaseDragImage();
      }
      return S_OK;
    } catch (...) {
      ReportDragError(scene_);
      return E_UNEXPECTED;
    }
  }

  HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL pt, DWORD* effect) override {
    const DWORD allowed = effect != nullptr ? *effect : DROPEFFECT_NONE;
    if (effect != nullptr) *effect = DROPEFFECT_NONE;
    const TComponentFrame frame(scene_);  // the scene's objects' handlers run from here
    try {
      if (scene_ == nullptr) return S_OK;
      const TvgDragObject data = ReadDragData(g_dataObject);
      const bool taken = scene_->Engine().DragOverPoint(data, ClientPoint(pt));
      const DWORD shown = taken ? TakenEffect(allowed) : DROPEFFECT_NONE;
      if (effect != nullptr) *effect = shown;
      POINT p{pt.x, pt.y};
      if (g_dragImage != nullptr) g_dragImage->DragOver(&p, shown);
    } catch (...) {
      ReportDragError(scene_);
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE DragLeave() override {
    const TComponentFrame frame(scene_);
    try {
      if (scene_ != nullptr) scene_->Engine().DragLeaveScene();
    } catch (...) {
      ReportDragError(scene_);
    }
    if (g_dragImage != nullptr) g_dragImage->DragLeave();
    ReleaseDragImage();
    SetDataObject(nullptr);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD, POINTL pt, DWORD* effect) override {
    const DWORD allowed = effect != nullptr ? *effect : DROPEFFECT_NONE;
    DWORD result = DROPEFFECT_NONE;
    const TComponentFrame frame(scene_);
    try {
      if (scene_ != nullptr && data != nullptr && vgCurrentDropTarget() != nullptr &&
          scene_->Engine().DropAt(ReadDragData(data), ClientPoint(pt)))
        result = TakenEffect(allowed);
    } catch (...) {
      ReportDragError(scene_);
      result = DROPEFFECT_NONE;
    }
    // Whatever happened, the drag is over for the scene.
    try {
      if (scene_ != nullptr) scene_->Engine().DragLeaveScene();
    } catch (...) {
      ReportDragError(scene_);
    }
    if (effect != nullptr) *effect = result;
    POINT p{pt.x, pt.y};
    if (g_dragImage != nullptr && data != nullptr) g_dragImage->Drop(data, &p, result);
    ReleaseDragImage();
    SetDataObject(nullptr);
    return S_OK;
  }

 private:
  ~TvgSceneDropTarget() override = default;
  TvgPoint ClientPoint(POINTL pt) {
    const TPoint c = scene_->ScreenToClient(TPoint{pt.x, pt.y});
    return vgPoint(static_cast<float>(c.X), static_cast<float>(c.Y));
  }

  TvgCustomScene* scene_;
};

// Frees what the unit keeps of an OLE drag (the unit's end).
void vgFreeOleDragState() {
  ReleaseDragImage();
  SetDataObject(nullptr);
}

// --- The scene window

void TvgCustomScene::RegisterDropTarget() {
  if (dropTarget_ != nullptr || !HandleAllocated()) return;
  // OLE is set up for this thread as long as the window is a drop target (balanced when the
  // window goes): the host's thread keeps the state it had.
  const HRESULT init = OleInitialize(nullptr);
  oleInitialized_ = SUCCEEDED(init);
  auto* target = new TvgSceneDropTarget(this);
  if (SUCCEEDED(RegisterDragDrop(GetHandle(), target))) {
    dropTarget_ = target;
    return;
  }
  target->Detach();
  target->Release();
  if (oleInitialized_) OleUninitialize();
  oleInitialized_ = false;
}

void TvgCustomScene::RevokeDropTarget() {
  if (dropTarget_ == nullptr) return;
  auto* target = static_cast<TvgSceneDropTarget*>(dropTarget_);
  dropTarget_ = nullptr;
  if (HandleAllocated()) RevokeDragDrop(GetHandle());
  target->Detach();
  target->Release();
  if (oleInitialized_) OleUninitialize();
  oleInitialized_ = false;
}

void TvgCustomScene::CreateWnd() {
  TCustomControl::CreateWnd();
  RegisterDropTarget();
}

void TvgCustomScene::BeginNativeDrag(TvgObject* source, TvgBitmap*) {
  if (source == nullptr) return;
  if (nativeDragControl_ == nullptr) {
    auto* control = new TvgNativeDragControl(this);
    control->SetBounds(0, 0, 0, 0);
    control->SetParent(this);
    control->OnEndDrag = TEndDragEvent::Of<&TvgCustomScene::NativeDragEnded>(this);
    nativeDragControl_ = control;
  }
  static_cast<TvgNativeDragControl*>(nativeDragControl_)->SetDraggedObject(source);
  nativeDragControl_->BeginDrag(true, -1);
}

void TvgCustomScene::NativeDragEnded(TObject*, TObject*, int32_t, int32_t) {
  auto* control = static_cast<TvgNativeDragControl*>(nativeDragControl_);
  TvgObject* obj = control != nullptr ? control->DraggedObject() : nullptr;
  if (control != nullptr) control->SetDraggedObject(nullptr);
  try {
    if (obj != nullptr && obj->IsVisual()) obj->Visual()->DragEnd();
  } catch (...) {
    ReportDragError(this);
  }
}

namespace {

// The class-library drag data: a scene object carried by a native drag control, else the
// dragged control itself.
TvgDragObject NativeDragData(TObject* source) {
  TvgDragObject data;
  data.Source = source;
  if (auto* carrier = dynamic_cast<TvgNativeDragControl*>(source)) data.Source = carrier->DraggedObject();
  return data;
}

}  // namespace

void TvgCustomScene::SceneDragOver(TObject*, TObject* source, int32_t x, int32_t y, TDragState state, bool& accept) {
  try {
    accept = engine_->NativeDragOver(NativeDragData(source), vgPoint(static_cast<float>(x), static_cast<float>(y)),
                                     static_cast<int32_t>(state));
  } catch (...) {
    accept = false;
    ReportDragError(this);
  }
}

void TvgCustomScene::SceneDragDrop(TObject*, TObject* source, int32_t x, int32_t y) {
  try {
    engine_->NativeDragDrop(NativeDragData(source), vgPoint(static_cast<float>(x), static_cast<float>(y)));
  } catch (...) {
    ReportDragError(this);
  }
}
