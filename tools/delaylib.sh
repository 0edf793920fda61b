#!/usr/bin/env bash
# Writes a library of delayed imports for a system DLL from the toolchain's own import library:
# every function the import library offers, under the same symbols (the "__imp_" slot that
# declared imports call through, and the thunk for direct calls), bound by name on its first
# call through the runtime's delay-load helper (__delayLoadHelper2), which loads the DLL then.
#   delaylib.sh <nm> <as> <ar> <import library> <output library>
#
# Like an import library it holds one member per function, so that a module takes only what it
# calls, and a head member with the descriptor and the routine that calls the helper. A
# function's slot and its name pointer lie in sections named after the DLL and the function's
# number: the linker sorts them by name, so the slots and the names of the functions taken form
# two arrays in the same order, between the head's start and end markers. None of it is in the
# module's import table: the linker treats the code of import-library members as droppable,
# which a delayed slot that starts out pointing at its loader stub cannot afford.
set -euo pipefail
nm="$1" as="$2" ar="$3" implib="$4" out="$5"
[ -f "$implib" ] || { echo "delaylib: no import library $implib" >&2; exit 1; }
# The import library holds its DLL's file name once (user32.dll, winspool.drv, ...).
dll="$(strings -a "$implib" | grep -iE '^[a-z0-9_.-]+\.(dll|drv)$' | sort -u)"
[ -n "$dll" ] && [ "$(wc -l <<<"$dll")" -eq 1 ] || { echo "delaylib: no single DLL name in $implib" >&2; exit 1; }
tag="$(tr -c 'A-Za-z0-9\n' '_' <<<"$dll" | tr 'A-Z' 'a-z')"
work="$(mktemp -d "${out}.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# Functions are the names with both a slot and a call thunk; a name with only a slot is data,
# which no delayed import can serve (left out, so that using it fails to link). The name the
# DLL exports is the symbol without its underscore and stdcall suffix.
"$nm" -g --defined-only "$implib" 2>/dev/null | awk '
  $2 == "T" { thunk[$3] = 1 }
  $2 == "I" && $3 ~ /^__imp__/ { slot[substr($3, 7)] = 1 }
  END { for (s in slot) if (s in thunk) print s }' | LC_ALL=C sort >"$work/functions"
[ -s "$work/functions" ] || { echo "delaylib: no functions in $implib" >&2; exit 1; }

awk -v tag="$tag" -v dll="$dll" -v dir="$work" '
  function section(kind, part) { return ".data$kbldelay_" tag "_" kind "_" part }
  function rsection(kind, part) { return ".rdata$kbldelay_" tag "_" kind "_" part }
  BEGIN {
    head = dir "/head.s"
    print "# Delayed imports of " dll ": descriptor and loader call (tools/delaylib.sh)." >head
    # The slot address comes in EAX: the helper binds that slot and answers the function, which
    # is then entered with the caller'"'"'s arguments untouched (ECX and EDX kept for fastcall).
    print "\t.text\n\t.balign 4\n\t.globl __kbldelay_merge_" tag "\n__kbldelay_merge_" tag ":" >head
    print "\tpushl %ecx\n\tpushl %edx\n\tpushl %eax\n\tpushl $__kbldelay_descriptor_" tag >head
    print "\tcall ___delayLoadHelper2@8\n\tpopl %edx\n\tpopl %ecx\n\tjmp *%eax" >head
    print "\t.section " section("module", "") ",\"w\"\n\t.balign 4" >head
    print "__kbldelay_module_" tag ":\n\t.long 0" >head
    print "\t.section " section("slot", "0") ",\"w\"\n\t.balign 4\n__kbldelay_slots_" tag ":" >head
    print "\t.section " section("slot", "2") ",\"w\"\n\t.long 0" >head
    print "\t.section " rsection("name", "0") ",\"dr\"\n\t.balign 4\n__kbldelay_names_" tag ":" >head
    print "\t.section " rsection("name", "2") ",\"dr\"\n\t.long 0" >head
    # The descriptor in the layout the helper reads: attributes (1: addresses relative to the
    # image), DLL name, module handle, slots, names, bound slots, unload slots, time stamp.
    print "\t.section .rdata,\"dr\"\n\t.balign 4\n__kbldelay_descriptor_" tag ":" >head
    print "\t.long 1\n\t.rva __kbldelay_dll_" tag "\n\t.rva __kbldelay_module_" tag >head
    print "\t.rva __kbldelay_slots_" tag "\n\t.rva __kbldelay_names_" tag "\n\t.long 0, 0, 0" >head
    print "__kbldelay_dll_" tag ":\n\t.asciz \"" dll "\"" >head
    close(head)
  }
  {
    n = sprintf("%05d", NR)
    file = dir "/f" n ".s"
    name = $0
    sub(/^_/, "", name)
    sub(/@[0-9]+$/, "", name)
    print "\t.text\n\t.globl " $0 "\n" $0 ":\n\tjmp *__imp_" $0 >file
    print "1:\tmovl $__imp_" $0 ", %eax\n\tjmp __kbldelay_merge_" tag >file
    print "\t.section " section("slot", "1" n) ",\"w\"\n\t.globl __imp_" $0 >file
    print "__imp_" $0 ":\n\t.long 1b" >file
    print "\t.section " rsection("name", "1" n) ",\"dr\"\n\t.rva 2f" >file
    print "\t.section .rdata,\"dr\"\n\t.balign 2\n2:\t.short 0\n\t.asciz \"" name "\"" >file
    close(file)
  }' "$work/functions"

for source in "$work"/*.s; do
  "$as" --32 -o "${source%.s}.o" "$source"
done
rm -f "$out"
"$ar" rcs "$out" "$work"/*.o
