// Where the host process's executable lives (for files named relative to it).
#pragma once

#include <string>

// The folder of the running executable with a trailing separator; "" when unknown.
std::string vgHostExeFolder();
