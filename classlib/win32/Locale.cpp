// The user's number settings from the user's locale.
#include <windows.h>

#include "../SysUtils.h"

TFormatSettings GetLocaleFormatSettings() {
  TFormatSettings settings;
  wchar_t separator[8] = {};
  // One UTF-16 unit is all a separator may be; longer answers keep the full stop.
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8) == 2)
    settings.DecimalSeparator = static_cast<WideChar>(separator[0]);
  return settings;
}
