// The user's number settings from the locale the environment names, read without touching the
// process's own locale.
#include <langinfo.h>
#include <locale.h>

#include "../SysUtils.h"

TFormatSettings GetLocaleFormatSettings() {
  TFormatSettings settings;
  locale_t user = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
  if (user == static_cast<locale_t>(nullptr)) return settings;
  const WideString radix = Utf8ToWide(nl_langinfo_l(RADIXCHAR, user));
  if (radix.size() == 1) settings.DecimalSeparator = radix[0];
  freelocale(user);
  return settings;
}
