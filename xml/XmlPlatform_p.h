// The operating-system services the XML library needs: the ANSI code page and the time zone.
// win32/ implements them with the Win32 API; posix/ stands in with Windows-1252 and the C library.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/System.h"

// Bytes of the system ANSI code page to UTF-16.
WideString XmlAnsiToWide(const std::string& bytes);

// UTF-16 to the system ANSI code page; characters it cannot hold become "?".
std::string XmlWideToAnsi(const WideString& text);

// The name of the system ANSI code page as an XML declaration gives it ("windows-1252").
std::string XmlAnsiEncodingName();

// The local time-zone bias in force now, in minutes: UTC = local time + bias (so zones east of
// Greenwich have a negative bias).
int32_t XmlLocalTimeBias();
