// Start-up of the design-time editors.
#include "vg_design.h"

#include "scene/widgets/vg_widgets.h"
#include "vg_inspector.h"

void vgInitDesignUnit() {
  vgInitWidgetsUnit();
  vgInitInspectorUnit();
}
