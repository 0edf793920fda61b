// What the design library's portable part asks of its platform part.
#pragma once

// Installs the editors the inspector opens and the colour button's brush dialog (the design-time
// forms under Windows; nothing elsewhere). Runs once at start-up.
void vgInstallPlatformDesignEditors();
// Registers the classes the design-time forms' streams name (none elsewhere); runs with the
// unit's class registration.
void vgRegisterPlatformDesignClasses();
