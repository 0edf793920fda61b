// Private platform pieces of the controls library.
#pragma once

#include <memory>

#include "scene/core/vg_animation.h"

// Installs the form, dialog and hosted-window actions of the platform (the Windows build;
// nothing elsewhere).
void vgInstallPlatformFormHooks();
// A periodic timer of the platform for TvgTimer (a thread timer on Windows, a manual timer
// elsewhere).
std::unique_ptr<IvgAniTimer> vgCreateControlTimer();
