// Drag and drop with real scene windows under Wine: a class-library drag of an image from one
// scene onto the image control of another (driven by mouse messages), a file dropped from
// another thread through OLE's DoDragDrop, and the OLE drop target's answers to data it cannot
// take and to handlers that raise.
#include <windows.h>
#include <ole2.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "Emulation.h"
#include "TestFiles.h"
#include "classlib/ComObj.h"
#include "classlib/Forms.h"
#include "classlib/WindowTestUtils.h"
#include "scene/controls/vg_controls.h"
#include "scene/core/vg_sceneengine.h"
#include "scene/core/win32/vg_gdiplus.h"
#include "scene/core/win32/vg_scene.h"
#include "scene/shapes/vg_objects.h"

namespace {

// An IDataObject offering dropped files (CF_HDROP) or a text (CF_UNICODETEXT).
class TTestData final : public TComObject<IDataObject, IID_IDataObject> {
 public:
  static TTestData* Files(std::vector<std::wstring> files) {
    auto* d = new TTestData();
    d->files_ = std::move(files);
    d->format_ = CF_HDROP;
    return d;
  }
  static TTestData* Text(std::wstring text) {
    auto* d = new TTestData();
    d->text_ = std::move(text);
    d->format_ = CF_UNICODETEXT;
    return d;
  }
  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* f, STGMEDIUM* m) override {
    if (QueryGetData(f) != S_OK) return DV_E_FORMATETC;
    std::wstring payload;
    size_t header = 0;
    if (format_ == CF_HDROP) {
      header = sizeof(DROPFILES);
      for (const std::wstring& name : files_) payload += name + L'\0';
      payload += L'\0';
    } else {
      payload = text_ + L'\0';
    }
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, header + payload.size() * sizeof(wchar_t));
    auto* bytes = static_cast<char*>(GlobalLock(block));
    if (format_ == CF_HDROP) {
      auto* drop = reinterpret_cast<DROPFILES*>(bytes);
      drop->pFiles = sizeof(DROPFILES);
      drop->fWide = TRUE;
    }
    memcpy(bytes + header, payload.data(), payload.size() * sizeof(wchar_t));
    GlobalUnlock(block);
    m->tymed = TYMED_HGLOBAL;
    m->hGlobal = block;
    m->pUnkForRelease = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* f) override {
    return f != nullptr && f->cfFormat == format_ && (f->tymed & TYMED_HGLOBAL) != 0 ? S_OK : DV_E_FORMATETC;
  }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    if (out != nullptr) out->ptd = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override {
    if (direction != DATADIR_GET) return E_NOTIMPL;
    FORMATETC f{format_, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    return SHCreateStdEnumFmtEtc(1, &f, out);
  }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  TTestData() = default;
  ~TTestData() override = default;
  CLIPFORMAT format_ = 0;
  std::vector<std::wstring> files_;
  std::wstring text_;
};

// A drop source that drops once told to, and cancels when told to give up.
class TTestSource final : public TComObject<IDropSource, IID_IDropSource> {
 public:
  TTestSource(std::atomic<bool>* drop, std::atomic<bool>* cancel) : drop_(drop), cancel_(cancel) {}
  HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL, DWORD) override {
    if (cancel_->load()) return DRAGDROP_S_CANCEL;
    return drop_->load() ? DRAGDROP_S_DROP : S_OK;
  }
  HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }

 private:
  ~TTestSource() override = default;
  std::atomic<bool>* drop_;
  std::atomic<bool>* cancel_;
};

// Accepts every drag; raises from its handler when asked to.
struct TDragHandler {
  bool raise = false;
  int calls = 0;
  void Over(TObject*, const TvgDragObject&, const TvgPoint&, bool& accept) {
    ++calls;
    if (raise) throw EInvalidOperation("drag handler failed");
    accept = true;
  }
};

struct TErrorLog {
  int count = 0;
  void Record(TObject*, const std::exception_ptr&) { ++count; }
};

POINT ScreenPoint(TvgScene* scene, int x, int y) {
  POINT p{x, y};
  ClientToScreen(scene->GetHandle(), &p);
  return p;
}

class SceneDragDropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartGdiPlus();
    host = std::make_unique<TForeignWindow>(420, 200);
    source = MakeScene(0);
    target = MakeScene(210);
    image = new TvgImage(nullptr);
    image->SetBounds(20, 20, 40, 40);
    image->GetBitmap()->SetSize(8, 8);
    image->GetBitmap()->Clear(0xFFFF0000u);
    image->SetDragMode(vgDragAutomatic);
    source->GetRoot()->AddObject(image);
    control = new TvgImageControl(nullptr);
    control->SetBounds(20, 20, 100, 100);
    target->GetRoot()->AddObject(control);
    Application().OnException = TExceptionEvent::Of<&TErrorLog::Record>(&errors);
    PumpUntil([] { return false; }, 100);
  }
  void TearDown() override {
    Application().OnException = TExceptionEvent();
    delete source;
    delete target;
    host.reset();
  }
  TvgScene* MakeScene(int left) {
    auto* scene = TWinControl::CreateParented<TvgScene>(host->handle);
    scene->SetBounds(left, 0, 200, 200);
    scene->HandleNeeded();
    ShowWindow(scene->GetHandle(), SW_SHOWNA);
    scene->AddObject(new TvgVisualObject(nullptr));
    return scene;
  }
  // A mouse message to the window holding the capture, at a screen point.
  void SendToCapture(UINT msg, WPARAM keys, POINT screen) {
    HWND capture = GetCapture();
    ASSERT_NE(capture, nullptr);
    ScreenToClient(capture, &screen);
    SendMessageW(capture, msg, keys, MAKELPARAM(static_cast<WORD>(screen.x), static_cast<WORD>(screen.y)));
  }
  IDropTarget* OleTarget(TvgScene* scene) { return static_cast<IDropTarget*>(scene->GetOleDropTarget()); }

  std::unique_ptr<TForeignWindow> host;
  TvgScene* source = nullptr;
  TvgScene* target = nullptr;
  TvgImage* image = nullptr;
  TvgImageControl* control = nullptr;
  TErrorLog errors;
};

TEST_F(SceneDragDropTest, AnImageDraggedOntoAnotherScenesImageControlHandsOverItsBitmap) {
  TDragHandler selfAccepting;
  image->OnDragOver = TvgDragOverEvent::Of<&TDragHandler::Over>(&selfAccepting);
  SendMessageW(source->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(30, 30));
  ASSERT_NE(source->GetNativeDragControl(), nullptr);
  EXPECT_EQ(GetCapture(), source->GetNativeDragControl()->GetHandle());
  // Over itself: refused, although it would accept the drag.
  SendToCapture(WM_MOUSEMOVE, MK_LBUTTON, ScreenPoint(source, 35, 35));
  EXPECT_GT(selfAccepting.calls, 0);
  EXPECT_EQ(vgCurrentDropTarget(), nullptr);
  EXPECT_FALSE(image->GetIsDragOver());
  // Over the other scene's image control: taken.
  SendToCapture(WM_MOUSEMOVE, MK_LBUTTON, ScreenPoint(target, 50, 50));
  EXPECT_EQ(vgCurrentDropTarget(), control);
  EXPECT_TRUE(control->GetIsDragOver());
  SendToCapture(WM_LBUTTONUP, 0, ScreenPoint(target, 50, 50));
  EXPECT_EQ(vgCurrentDropTarget(), nullptr);
  EXPECT_FALSE(control->GetIsDragOver());
  EXPECT_EQ(control->GetBitmap()->GetWidth(), 8);
  EXPECT_EQ(control->GetBitmap()->Pixel(4, 4), 0xFFFF0000u);
  EXPECT_NE(GetCapture(), source->GetNativeDragControl()->GetHandle());
  EXPECT_EQ(errors.count, 0);
}

TEST_F(SceneDragDropTest, TheSceneWindowIsAnOleDropTargetWhileItExists) {
  ASSERT_NE(OleTarget(target), nullptr);
  EXPECT_EQ(RegisterDragDrop(target->GetHandle(), OleTarget(target)), DRAGDROP_E_ALREADYREGISTERED);
  // A scene without a root takes no drag at all.
  auto* empty = TWinControl::CreateParented<TvgScene>(host->handle);
  empty->HandleNeeded();
  TTestData* text = TTestData::Text(L"hello");
  DWORD effect = DROPEFFECT_COPY;
  EXPECT_EQ(OleTarget(empty)->DragEnter(text, 0, POINTL{0, 0}, &effect), E_UNEXPECTED);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
  text->Release();
  delete empty;
}

TEST_F(SceneDragDropTest, DataATargetCannotTakeAndRaisingHandlersChangeNothing) {
  IDropTarget* drop = OleTarget(target);
  const POINT over = ScreenPoint(target, 50, 50);
  const POINTL at{over.x, over.y};
  // A text over the image control: no target, and the drop leaves the picture as it was.
  control->GetBitmap()->SetSize(2, 2);
  TTestData* text = TTestData::Text(L"not a picture");
  DWORD effect = DROPEFFECT_COPY | DROPEFFECT_LINK;
  EXPECT_EQ(drop->DragEnter(text, 0, at, &effect), S_OK);
  effect = DROPEFFECT_COPY | DROPEFFECT_LINK;
  EXPECT_EQ(drop->DragOver(0, at, &effect), S_OK);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
  effect = DROPEFFECT_COPY | DROPEFFECT_LINK;
  EXPECT_EQ(drop->Drop(text, 0, at, &effect), S_OK);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
  EXPECT_EQ(control->GetBitmap()->GetWidth(), 2);
  // A picture taken while dragged over, then a drop that carries only the text: refused.
  TempDir dir;
  const std::string picture = dir.File("p.png");
  TvgBitmap png(5, 5);
  png.Clear(0xFF00FF00u);
  ASSERT_TRUE(png.SaveToFile(picture));
  TTestData* file = TTestData::Files({std::wstring(picture.begin(), picture.end())});
  effect = DROPEFFECT_COPY | DROPEFFECT_LINK;
  EXPECT_EQ(drop->DragEnter(file, 0, at, &effect), S_OK);
  effect = DROPEFFECT_COPY | DROPEFFECT_LINK;
  EXPECT_EQ(drop->DragOver(0, at, &effect), S_OK);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_LINK));
  EXPECT_EQ(vgCurrentDropTarget(), control);
  effect = DROPEFFECT_COPY;  // a source that offers no link still gets its drop taken
  EXPECT_EQ(drop->DragOver(0, at, &effect), S_OK);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
  EXPECT_EQ(drop->Drop(text, 0, at, &effect), S_OK);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
  EXPECT_EQ(vgCurrentDropTarget(), nullptr);
  EXPECT_FALSE(control->GetIsDragOver());
  EXPECT_EQ(control->GetBitmap()->GetWidth(), 2);
  file->Release();
  // A handler that raises: OLE hears S_OK with nothing to drop; the error is reported.
  TDragHandler failing;
  failing.raise = true;
  control->OnDragOver = TvgDragOverEvent::Of<&TDragHandler::Over>(&failing);
  effect = DROPEFFECT_COPY;
  EXPECT_EQ(drop->DragEnter(text, 0, at, &effect), S_OK);
  effect = DROPEFFECT_COPY;
  EXPECT_EQ(drop->DragOver(0, at, &effect), S_OK);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
  EXPECT_EQ(drop->DragLeave(), S_OK);
  EXPECT_GT(failing.calls, 0);
  EXPECT_GT(errors.count, 0);
  text->Release();
}

TEST_F(SceneDragDropTest, AFileDroppedThroughOleFromAnotherThreadReachesTheImageControl) {
  TempDir dir;
  const std::string notes = dir.File("notes.txt");
  const std::string picture = dir.File("picture.png");
  FILE* f = fopen(notes.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fputs("not a picture", f);
  fclose(f);
  TvgBitmap png(6, 3);
  png.Clear(0xFF0000FFu);
  ASSERT_TRUE(png.SaveToFile(picture));
  const POINT over = ScreenPoint(target, 60, 60);
  ASSERT_EQ(WindowFromPoint(over), target->GetHandle());

  struct TRun {
    std::atomic<bool> drop{false}, cancel{false}, done{false};
    HRESULT result = E_FAIL;
  };
  auto run = std::make_shared<TRun>();
  const std::vector<std::wstring> files{std::wstring(notes.begin(), notes.end()),
                                        std::wstring(picture.begin(), picture.end())};
  std::thread helper([run, files, over] {
    OleInitialize(nullptr);
    SetCursorPos(over.x, over.y);
    TTestData* data = TTestData::Files(files);
    auto* dropSource = new TTestSource(&run->drop, &run->cancel);
    DWORD effect = DROPEFFECT_NONE;
    run->result = DoDragDrop(data, dropSource, DROPEFFECT_COPY | DROPEFFECT_LINK, &effect);
    data->Release();
    dropSource->Release();
    OleUninitialize();
    run->done = true;
  });
  // Drop once the image control has seen the drag.
  const bool dropped = PumpUntil(
      [&] {
        if (control->GetIsDragOver()) run->drop = true;
        return run->done.load();
      },
      MachineBound(20000));
  if (!dropped) {
    run->cancel = true;
    PumpUntil([&] { return run->done.load(); }, MachineBound(10000));
  }
  helper.join();
  ASSERT_TRUE(dropped);
  EXPECT_EQ(run->result, DRAGDROP_S_DROP);
  EXPECT_EQ(control->GetBitmap()->GetWidth(), 6);
  EXPECT_EQ(control->GetBitmap()->GetHeight(), 3);
  EXPECT_EQ(control->GetBitmap()->Pixel(2, 1), 0xFF0000FFu);
  EXPECT_EQ(vgCurrentDropTarget(), nullptr);
  EXPECT_EQ(errors.count, 0);
}

}  // namespace
