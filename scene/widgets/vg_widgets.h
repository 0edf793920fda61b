// Start-up of the widgets library: text boxes, lists, memo, tabs, tree, grid and colour controls
// registered with the scene's class registry, so that streams create them by class name.
#pragma once

// Registers every widget class under its category ("Text Edits", "Lists", "Items", "Trees",
// "Controls", "Colors", "Grid", "HUD"), after the basic controls; later calls do nothing. A
// program (or the DLL) that creates widgets only from streams calls it at start-up, so that the
// library is linked in.
void vgInitWidgetsUnit();
