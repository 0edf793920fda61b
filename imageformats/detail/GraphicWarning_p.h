// The image library's default warning channel (win32/ and posix/ halves).
#pragma once

#include <string>

// Shows a warning of a decoder: a message box with the exclamation icon on Windows, nothing
// elsewhere. Never raises.
void ShowGraphicWarning(const std::string& caption, const std::string& text);
