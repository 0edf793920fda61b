// The scene window's output beyond its own window: the parent's look painted under a transparent
// scene, and the buffer published as the form's per-pixel-alpha layered image with the scene's
// child controls painted in.
#include <windows.h>

#include <cmath>
#include <type_traits>
#include <vector>

#include "classlib/Forms.h"
#include "vg_canvas.h"
#include "vg_scene.h"

namespace {

using UpdateLayeredWindowProc = BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF, BLENDFUNCTION*, DWORD);
using SetLayeredWindowAttributesProc = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);
using PrintWindowProc = BOOL(WINAPI*)(HWND, HDC, UINT);

// The window functions of user32 that old systems lack, resolved by name once; nullptr for each
// one missing.
struct TUser32Procs {
  SetLayeredWindowAttributesProc SetLayeredWindowAttributes = nullptr;
  UpdateLayeredWindowProc UpdateLayeredWindow = nullptr;
  PrintWindowProc PrintWindow = nullptr;
};

const TUser32Procs& User32Procs() {
  static const TUser32Procs procs = [] {
    TUser32Procs found;
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr) return found;
    auto resolve = [user32](auto& proc, const char* name) {
      proc = reinterpret_cast<std::remove_reference_t<decltype(proc)>>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
    };
    resolve(found.SetLayeredWindowAttributes, "SetLayeredWindowAttributes");
    resolve(found.UpdateLayeredWindow, "UpdateLayeredWindow");
    resolve(found.PrintWindow, "PrintWindow");
    return found;
  }();
  return procs;
}

bool Overlaps(const TControl* a, const TControl* b) {
  return a->GetLeft() < b->GetLeft() + b->GetWidth() && b->GetLeft() < a->GetLeft() + a->GetWidth() &&
         a->GetTop() < b->GetTop() + b->GetHeight() && b->GetTop() < a->GetTop() + a->GetHeight();
}

// Paints `control` (erased, then painted) and its child controls with the viewport at (x, y).
void PaintControlAt(HDC dc, TControl* control, int32_t x, int32_t y) {
  const int saved = SaveDC(dc);
  POINT origin{};
  GetViewportOrgEx(dc, &origin);
  SetViewportOrgEx(dc, origin.x + x, origin.y + y, nullptr);
  IntersectClipRect(dc, 0, 0, control->GetWidth(), control->GetHeight());
  control->Perform(WM_PAINT, reinterpret_cast<uintptr_t>(dc));
  if (auto* windowed = dynamic_cast<TWinControl*>(control)) windowed->PaintControls(dc, nullptr);
  RestoreDC(dc, saved);
}

}  // namespace

void TvgCustomScene::PaintParentLook(const std::vector<TvgRect>& rects) {
  TWinControl* parent = GetParent();
  TvgCanvas* canvas = engine_->GetCanvas();
  HDC dc = canvas != nullptr ? static_cast<HDC>(canvas->GetBufferDC()) : nullptr;
  if (parent == nullptr || dc == nullptr || rects.empty()) return;
  GdiFlush();
  const int saved = SaveDC(dc);
  HRGN clip = CreateRectRgn(0, 0, 0, 0);
  for (const TvgRect& r : rects) {
    HRGN one = CreateRectRgn(static_cast<int>(std::trunc(r.Left)), static_cast<int>(std::trunc(r.Top)),
                             static_cast<int>(std::trunc(r.Right)), static_cast<int>(std::trunc(r.Bottom)));
    CombineRgn(clip, clip, one, RGN_OR);
    DeleteObject(one);
  }
  SelectClipRgn(dc, clip);
  // The parent's background, seen through the scene's place in it.
  {
    const int inner = SaveDC(dc);
    SetViewportOrgEx(dc, -GetLeft(), -GetTop(), nullptr);
    IntersectClipRect(dc, 0, 0, parent->GetClientWidth(), parent->GetClientHeight());
    if (dynamic_cast<TCustomForm*>(parent) != nullptr) {
      if (parent->HandleAllocated())
        SendMessageW(parent->GetHandle(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    } else {
      parent->Perform(WM_ERASEBKGND, reinterpret_cast<uintptr_t>(dc));
      parent->Perform(WM_PAINT, reinterpret_cast<uintptr_t>(dc));
    }
    RestoreDC(dc, inner);
  }
  // The siblings beneath the scene that show through it.
  for (int32_t i = 0; i < parent->ControlCount(); ++i) {
    TControl* sibling = parent->GetControl(i);
    if (sibling == this) break;
    if (dynamic_cast<TCustomControl*>(sibling) == nullptr || !sibling->GetVisible() || !Overlaps(sibling, this))
      continue;
    PaintControlAt(dc, sibling, sibling->GetLeft() - GetLeft(), sibling->GetTop() - GetTop());
  }
  RestoreDC(dc, saved);
  DeleteObject(clip);
  GdiFlush();
}

void TvgCustomScene::PublishLayered() {
  TWinControl* parent = GetParent();
  TvgCanvas* canvas = engine_->GetCanvas();
  UpdateLayeredWindowProc update = User32Procs().UpdateLayeredWindow;
  if (engine_->GetDesignTime() || parent == nullptr || !parent->HandleAllocated() || canvas == nullptr ||
      update == nullptr)
    return;
  HDC dc = static_cast<HDC>(canvas->GetBufferDC());
  uint32_t* bits = canvas->GetBufferBits();
  const int32_t w = GetWidth(), h = GetHeight();
  if (ControlCount() > 0 && bits != nullptr && w > 0 && h > 0) {
    // Child windows do not show on a layered form: they are painted into the image. GDI drops
    // the alpha it paints over, so every pixel gets its alpha back.
    GdiFlush();
    const std::vector<uint32_t> savedPixels(bits, bits + static_cast<size_t>(w) * static_cast<size_t>(h));
    PaintControls(dc, nullptr);
    GdiFlush();
    for (size_t i = 0; i < savedPixels.size(); ++i) bits[i] = (bits[i] & 0x00FFFFFFu) | (savedPixels[i] & 0xFF000000u);
  }
  POINT dest{parent->GetLeft() + GetLeft(), parent->GetTop() + GetTop()};
  SIZE size{w, h};
  POINT src{0, 0};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  update(parent->GetHandle(), nullptr, &dest, &size, dc, &src, 0, &blend, ULW_ALPHA);
}
