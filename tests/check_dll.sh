#!/usr/bin/env bash
# Checks the plug-in DLL as a host sees it: a PE32 (i386) DLL that exports VSTPluginMain and main
# and imports nothing but system DLLs, so it stands alone on any Windows machine. Each fact is
# read from its own place in the headers, never from a line anywhere in the dump.
set -euo pipefail
dll="$1"
fail() { echo "check_dll: $*" >&2; exit 1; }
dump="$(i686-w64-mingw32-objdump -p "$dll" 2>/dev/null)" || fail "$dll is not a PE file"

# The optional header's magic names the format (PE32, not PE32+), the file header the machine.
grep -qE '^Magic[[:space:]]+010b[[:space:]]+\(PE32\)$' <<<"$dump" || fail "not a PE32 file"
grep -qE ':[[:space:]]+file format pei-i386$' <<<"$(head -n 3 <<<"$dump")" || fail "not an i386 file"
characteristics="$(sed -n 's/^Characteristics 0x\([0-9a-fA-F]*\)$/\1/p' <<<"$dump")"
[ -n "$characteristics" ] || fail "no file header characteristics"
(( (16#$characteristics & 0x2000) != 0 )) || fail "not a DLL"

exports="$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump")"
grep -qE '\]\s+VSTPluginMain$' <<<"$exports" || fail "VSTPluginMain is not exported"
grep -qE '\]\s+main$' <<<"$exports" || fail "main is not exported"

allowed='^(kernel32|user32|gdi32|advapi32|shell32|shfolder|ole32|oleaut32|comctl32|comdlg32|imm32|winspool|uxtheme|dwmapi|version|msvcrt|ws2_32|wsock32|msimg32|winmm|shlwapi|gdiplus|psapi|iphlpapi|wininet|mapi32|riched20|rpcrt4|crypt32|secur32|bcrypt|ntdll|api-ms-win-.*)\.dll$'
imports="$(grep -E '^\s+DLL Name:' <<<"$dump" | awk '{print tolower($3)}')"
[ -n "$imports" ] || fail "no imports found"
while read -r name; do
  [[ "$name" =~ $allowed ]] || fail "imports non-system DLL $name"
done <<<"$imports"
for runtime in libgcc_s libstdc++ libwinpthread; do
  grep -qi "$runtime" <<<"$imports" && fail "depends on $runtime"
done
echo "check_dll: $dll exports VSTPluginMain and main, imports only: $(tr '\n' ' ' <<<"$imports")"
