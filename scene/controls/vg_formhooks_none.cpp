// Builds without the class library's windows: buttons leave forms alone and timers are manual.
#include "vg_controls_p.h"

void vgInstallPlatformFormHooks() {}

std::unique_ptr<IvgAniTimer> vgCreateControlTimer() { return std::make_unique<TvgManualAniTimer>(); }
