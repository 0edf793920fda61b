// Builds without the class library's forms: buttons leave forms alone.
#include "vg_controls_p.h"

void vgInstallPlatformFormHooks() {}
