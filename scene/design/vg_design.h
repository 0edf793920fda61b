// Start-up of the design-time editors: the inspector registered with the scene's class registry
// and, under Windows, the design-time forms installed behind its "Edit..." button and the colour
// button's brush dialog.
#pragma once

// Registers the widgets and the inspector ("Design") and installs the forms; later calls do
// nothing. A program (or the DLL) that should offer them calls it at start-up, so that the
// library is linked in.
void vgInitDesignUnit();
