#!/usr/bin/env bash
# Runs a command (usually ctest) inside one Wine session: a persistent wineserver started and
# warmed up first, so that many test programs starting at once never race to start the server
# or to finish the prefix's first start; the server is stopped afterwards.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${KBL_WINEPREFIX:-$here/build/wineprefix}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Under the emulator of 32-bit programs a few tests cannot hold: tests/emulated-skips.txt says which
# and why; tests with only some such cases leave those out themselves (tests/Emulation.h).
# GoogleTest reads its filter from the environment, and Wine passes that on, as it passes
# KBL_EMULATED.
if grep -qx enabled /proc/sys/fs/binfmt_misc/kbl-i386 2>/dev/null; then
  export KBL_EMULATED=1
  export GTEST_FILTER="-$(grep -v '^#' "$here/tests/emulated-skips.txt" | paste -sd:)"
  echo "wine-session: 32-bit programs run emulated here; left out: ${GTEST_FILTER#-}"
fi
# A server left by a build step (programs the build runs under Wine) has no display: end it, so
# that the tests' programs and the prefix's desktop start under this session's display.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
wineserver -p
# A first program brings up the prefix's services (explorer, services.exe) before the tests run.
"$here/tools/wine-run.sh" cmd /c exit >/dev/null 2>&1
"$@"
status=$?
wineserver -k 2>/dev/null || true
exit $status
