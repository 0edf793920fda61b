// Builds without the class library's windows: the inspector has no forms to open.
#include "vg_design_p.h"

void vgInstallPlatformDesignEditors() {}

void vgRegisterPlatformDesignClasses() {}
