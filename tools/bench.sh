#!/usr/bin/env bash
# Runs every benchmark program natively and under Wine and prints their figures.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
for exe in "$here"/build/native-release/bench/*/bench_*; do
  [ -x "$exe" ] || continue
  echo "== $(basename "$exe") (native)"
  "$exe"
done
for exe in "$here"/build/win32/bench/*/bench_*.exe; do
  [ -f "$exe" ] || continue
  echo "== $(basename "$exe" .exe) (Wine)"
  # Benchmarks beside the system's own controls need a display.
  if [ -z "${DISPLAY:-}" ]; then
    xvfb-run -a -s "-screen 0 1280x1024x24" "$here/tools/wine-run.sh" "$exe"
  else
    "$here/tools/wine-run.sh" "$exe"
  fi
done
