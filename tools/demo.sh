#!/usr/bin/env bash
# Runs the plug-in in the project's VST 2 host under Wine: over IN (a WAV file) when given,
# otherwise over a generated 4-second test signal, writing OUT.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-build/win32}"; in="${2:-}"; out="${3:-out.wav}"
cd "$here"
dll="$build/TarvikKBLDelay.dll"
host="$build/tools/vsthost/vsthost.exe"
[ -f "$dll" ] || { echo "demo: $dll was not built" >&2; exit 1; }
# Record for two seconds, then play the loop back at half speed, mixed half and half with the input.
settings=(--param Rec=1 --param Play=1 --param Rate=0.5 --param Mix=0.5 --param FeedBack=0.6 --playing)
if [ -n "$in" ]; then
  tools/wine-run.sh "$host" "${settings[@]}" "$dll" "$in" "$out"
else
  tools/wine-run.sh "$host" "${settings[@]}" --tone 4 "$dll" "$out"
fi
