#!/bin/bash
# Builds everything (64-bit with tests, 32-bit program and tools) and runs every test under
# Wine with a private prefix and display. The last line is CTest's summary.
set -euo pipefail
SM_ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$SM_ROOT"
tools/setup.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j2
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j2
source tools/wine-env.sh
wine_env_start "$SM_ROOT/build/win64"
set +e
ctest --preset win64 "$@" > "$SM_ROOT/build/win64/ctest.log" 2>&1
rc=$?
wine_env_stop
cat "$SM_ROOT/build/win64/ctest.log"
exit $rc
