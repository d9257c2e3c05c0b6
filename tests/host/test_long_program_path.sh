#!/bin/bash
# A program file whose path fills GetModuleFileNameW's 260 units makes no names from the cut
# path: it traces why at level 4 and ends with code 0. Started through Wine's loader, since a
# Windows process cannot start a program by a path that long.
# $1: the folder of the built programs. Runs under the Wine rig of tools/test.sh.
set -u
BIN=$1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail=0
check() {   # what, expected, got
  if [ "$2" != "$3" ]; then echo "FAIL: $1: expected [$2], got [$3]"; fail=1; else echo "ok: $1"; fi
}
winpath() { echo "Z:${1//\//\\}"; }

deep=$WORK
while [ ${#deep} -lt 280 ]; do deep=$deep/dddddddddddddddddddddddddddddddddddddddd; done
mkdir -p "$deep"
cp "$BIN/StatusMonitor.exe" "$deep/"
cp "$BIN/StatusMonitor.exe" "$WORK/"

# No command word: an ordinary start ends with 1; the long path ends before that with 0.
SM_TRACE="threshold=4;path=$(winpath "$WORK/deep.log")" wine "$deep/StatusMonitor.exe" </dev/null >/dev/null 2>&1
check "exit code, long path" 0 "$?"
grep -a -q "program path not usable, 260" "$WORK/deep.log" 2>/dev/null
check "level-4 trace, long path" 0 "$?"
SM_TRACE="threshold=4;path=$(winpath "$WORK/short.log")" wine "$WORK/StatusMonitor.exe" </dev/null >/dev/null 2>&1
check "exit code, short path" 1 "$?"
exit $fail
