// Test support of the scene engine: a window host that keeps what the engine asks of it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scene/core/vg_sceneengine.h"
#include "scene/core/vg_visualobject.h"

// A scene engine's window that keeps what the engine asks of it.
class TTestSceneHost : public IvgSceneHost {
 public:
  bool HostHasWindow() override { return hasWindow; }
  bool HostLoading() override { return loading; }
  bool HostDestroying() override { return false; }
  int32_t HostWidth() override { return width; }
  int32_t HostHeight() override { return height; }
  bool HostParentIsForm() override { return parentIsForm; }
  void HostInvalidate(int32_t l, int32_t t, int32_t r, int32_t b) override {
    invalidated.push_back(vgRect(static_cast<float>(l), static_cast<float>(t), static_cast<float>(r),
                                 static_cast<float>(b)));
  }
  void HostPostUpdate() override { ++posted; }
  bool HostPaintNow() override { return paintNow ? paintNow() : false; }
  std::function<bool()> paintNow;
  void HostPublishLayered() override { ++layered; }
  void HostPaintParent(const std::vector<TvgRect>&) override {}
  void HostSetMouseCapture(bool c) override { capture = c; }
  void HostTakeFocus() override { ++focusTaken; }
  TvgPoint HostClientToScreen(const TvgPoint& p) override { return vgPoint(p.X + 100, p.Y + 200); }
  void HostSetCursor(int32_t c) override { cursor = c; }
  void HostSetHint(const WideString& h) override { hint = h; }
  bool HostOwnerBounds(int32_t& l, int32_t& t, int32_t& w, int32_t& h) override {
    l = ownerL; t = ownerT; w = ownerW; h = ownerH;
    return true;
  }
  void HostSetOwnerBounds(int32_t l, int32_t t, int32_t w, int32_t h) override {
    ownerL = l; ownerT = t; ownerW = w; ownerH = h;
  }
  TvgPoint HostCursorInOwner() override { return cursorInOwner; }
  void HostShowDesignMenu(const TvgDesignMenuItem& m, const TvgPoint& at) override {
    ++menus;
    menuAt = at;
  }
  bool HostOpenFile(const std::string& filter, std::string& name) override {
    openFilter = filter;
    name = fileToOpen;
    return !fileToOpen.empty();
  }
  void HostEditTabOrder(TvgVisualObject* parent) override { tabOrderParent = parent; }
  int menus = 0;
  TvgPoint menuAt;
  std::string openFilter, fileToOpen;
  TvgVisualObject* tabOrderParent = nullptr;
  bool HostCancelModalOwner() override {
    if (!modalOwner) return false;
    ++cancelled;
    return true;
  }

  bool hasWindow = true, loading = false, parentIsForm = false, capture = false, modalOwner = false;
  int32_t width = 200, height = 100;
  std::vector<TvgRect> invalidated;
  int posted = 0, layered = 0, focusTaken = 0, cancelled = 0;
  int32_t cursor = 0;
  WideString hint;
  int32_t ownerL = 10, ownerT = 20, ownerW = 300, ownerH = 400;
  TvgPoint cursorInOwner = vgPoint(5, 6);
};
