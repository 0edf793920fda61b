#!/usr/bin/env bash
# Runs a command and passes only when it ends with the expected exit status and its output
# (standard output and error together) matches the extended regular expression, in which "."
# also matches line breaks:  expect.sh <status> <pattern> <command> [arguments...]
set -uo pipefail
status="$1" pattern="$2"
shift 2
output="$("$@" 2>&1)"
actual=$?
printf '%s\n' "$output"
if [ "$actual" -ne "$status" ]; then
  echo "expect: \"$1\" ended with status $actual, expected $status" >&2
  exit 1
fi
if ! [[ "$output" =~ $pattern ]]; then
  echo "expect: the output does not match \"$pattern\"" >&2
  exit 1
fi
