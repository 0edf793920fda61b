#!/usr/bin/env bash
# Compares the disassembler with objdump on the plug-in DLL through the native build's
# comparison test: check_dll_disassembly.sh <native build folder> <DLL>. Without a native build
# the test reports itself skipped (status 77).
set -euo pipefail
native="$1" dll="$2"
test="$native/tests/exceptions/capture/exceptions_capture_objdump_tests"
if [ ! -x "$test" ]; then
  echo "check_dll_disassembly: no native build at $native (make native first)"
  exit 77
fi
KBL_DISASM_FILES="$dll" exec "$test"
