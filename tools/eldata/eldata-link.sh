#!/usr/bin/env bash
# Links a module twice so that it carries its library data: the first link (with debug
# information) gives the code's addresses and line table, eldata writes the "ELDATA" resource
# from them, and the second link adds the resource without debug information. The second link
# must leave every byte of code where the first put it; eldata checks that.
#
#   eldata-link.sh <eldata> <options file|-> <objdump> <windres> <runner> -- <command...>
#
# <runner> runs the Windows-built eldata (the Wine wrapper); "-" runs it directly.
set -euo pipefail
tool=$1 options=$2 objdump=$3 windres=$4 runner=$5
shift 5
[ "$1" = "--" ] && shift
command=("$@")

output=
for ((i = 0; i < ${#command[@]}; i++)); do
  if [ "${command[$i]}" = "-o" ]; then output=${command[$((i + 1))]}; fi
done
# The other commands of the link rule (removing the old output, archiving objects) run as given.
[ -n "$output" ] || exec "${command[@]}"

# Links running in parallel take turns with the tool, so that they never race to start Wine.
run_tool() {
  if [ "$runner" = "-" ]; then
    "$tool" "$@"
  else
    flock "$(dirname "$tool")/eldata.lock" "$runner" "$tool" "$@"
  fi
}

work="$output.eldata"
mkdir -p "$work"
"${command[@]}"
mv -f "$output" "$work/stage1"
"$objdump" --dwarf=decodedline "$work/stage1" > "$work/lines.txt"
# The Windows-built tool reads and writes relative names inside the work folder.
opts=-
if [ "$options" != "-" ]; then cp "$options" "$work/options.txt"; opts=options.txt; fi
(cd "$work" && run_tool write stage1 lines.txt "$opts" eldata.bin) >&2
printf 'ELDATA RCDATA "eldata.bin"\n' > "$work/eldata.rc"
(cd "$work" && "$windres" -O coff -i eldata.rc -o eldata.o)
"${command[@]}" "$work/eldata.o" -Wl,--strip-debug
cp "$output" "$work/final"
(cd "$work" && run_tool compare stage1 final) >&2
rm -f "$work/final" "$work/stage1" "$work/lines.txt"
