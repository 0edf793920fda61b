#!/usr/bin/env bash
# Checks a GNU linker map for the archives a module must take objects from:
#   check_linkmap.sh MAP ARCHIVE[:WHEN] ...
# Each ARCHIVE (a library file name, e.g. libjpeg.a) must have contributed at least one member;
# with :WHEN only when the map also holds an object whose name contains WHEN.
set -euo pipefail
map="$1"
shift
[ -f "$map" ] || { echo "check_linkmap: no map $map" >&2; exit 1; }
status=0
for wanted in "$@"; do
  archive="${wanted%%:*}"
  when="${wanted#*:}"
  [ "$when" = "$wanted" ] && when=""
  if [ -n "$when" ] && ! grep -qF "$when" "$map"; then
    echo "check_linkmap: $(basename "$map") holds no $when, so no $archive is needed"
    continue
  fi
  members="$(grep -oE "/$archive\([^)]+\)" "$map" | sort -u | sed -E 's/.*\((.*)\)/\1/' | tr '\n' ' ')"
  if [ -z "$members" ]; then
    echo "check_linkmap: $(basename "$map") takes nothing from $archive" >&2
    status=1
  else
    echo "check_linkmap: $(basename "$map") takes from $archive: $members"
  fi
done
exit $status
