#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix, quietly and with a fixed locale
# (KBL_WINE_LOCALE names another one for programs that test a user locale).
# The prefix is made once by tools/setup.sh (wineboot -i); this script only uses it.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${KBL_WINEPREFIX:-$here/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export LANG="${KBL_WINE_LOCALE:-C.UTF-8}" LC_ALL="${KBL_WINE_LOCALE:-C.UTF-8}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-run: no Wine prefix at $WINEPREFIX (run tools/setup.sh)" >&2
  exit 2
fi
exec wine "$@"
