// Private hooks of the controls library.
#pragma once

// Installs the form actions of the platform (the Windows build; nothing elsewhere).
void vgInstallPlatformFormHooks();
