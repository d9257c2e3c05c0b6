#!/bin/bash
# Builds everything (64-bit with tests, 32-bit program and tools) and runs every test under
# Wine with a private prefix and display. The last line is CTest's summary.
#
# For development: SM_BUILD=name builds in build/name (its own prefix and wineserver), so that
# several checkouts' runs do not meet; SM_SKIP_WIN32=1 skips the 32-bit build; SM_REUSE_PREFIX=1
# keeps an existing prefix; extra arguments go to ctest (for example -R system.Commands).
set -euo pipefail
SM_ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$SM_ROOT"
BUILD_NAME=${SM_BUILD:-win64}
BUILD_DIR="$SM_ROOT/build/$BUILD_NAME"
tools/setup.sh
cmake --preset win64 -B "$BUILD_DIR" >/dev/null
cmake --build "$BUILD_DIR" -j2
if [ "${SM_SKIP_WIN32:-0}" != 1 ]; then
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 -j2
fi
source tools/wine-env.sh
# The display, the wineserver and the private CUPS server end with the script, also on failure.
trap wine_env_stop EXIT
trap 'exit 130' INT TERM
wine_env_start "$BUILD_DIR"
set +e
# A test that fails is run once more: now and then a Wine process fails to start at all (a
# 0.01 s failure with no output). The log keeps the failed attempt ("***Failed" above "Passed").
ctest --test-dir "$BUILD_DIR" --output-on-failure --timeout 120 --repeat until-pass:2 "$@" > "$BUILD_DIR/ctest.log" 2>&1
rc=$?
wine_env_stop
cat "$BUILD_DIR/ctest.log"
exit $rc
