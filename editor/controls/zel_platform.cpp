// Dispatch of the cursor operations to the platform or to hooks installed by tests.
#include "zel_platform.h"

#include "detail/zel_platform_p.h"

namespace {
TZelCursorHooks g_hooks;
bool g_hooked = false;
}  // namespace

void ZelSetCursorHooks(const TZelCursorHooks* hooks) {
  g_hooked = hooks != nullptr;
  g_hooks = hooks != nullptr ? *hooks : TZelCursorHooks();
}

void ZelShowCursor(bool show) {
  if (g_hooked) {
    if (g_hooks.Show != nullptr) g_hooks.Show(show);
    return;
  }
  zel_detail::PlatformShowCursor(show);
}

void ZelSetCursorPos(int32_t x, int32_t y) {
  if (g_hooked) {
    if (g_hooks.SetPos != nullptr) g_hooks.SetPos(x, y);
    return;
  }
  zel_detail::PlatformSetCursorPos(x, y);
}
