#!/bin/bash
# The fuzz driver's long pass: every target with a million inputs (or as many as asked), one after
# the other, at low priority, in a Wine prefix and server of its own (build/<name>/fuzz-long), so
# that it can run beside the tests of the same build. Prints one line of figures per target.
# Usage: tests/fuzz/long_pass.sh [build name, default win64] [inputs, default 1000000] [seed, default 1]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD="$ROOT/build/${1:-win64}"
INPUTS=${2:-1000000}
SEED=${3:-1}
[ -f "$BUILD/CMakeCache.txt" ] || cmake --preset win64 -B "$BUILD" >/dev/null
cmake --build "$BUILD" --target sm_fuzz -j2 >/dev/null
source "$ROOT/tools/wine-env.sh"
mkdir -p "$BUILD/fuzz-long"
SM_REUSE_PREFIX=1 wine_env_start "$BUILD/fuzz-long" >/dev/null 2>&1
trap 'wine_env_stop >/dev/null 2>&1' EXIT
cd "$BUILD/fuzz-long"
rc=0
for target in faults wmrecord cover catalogue trace; do
  nice -n 19 wine "$BUILD/bin/sm_fuzz.exe" "$target" --inputs "$INPUTS" --seed "$SEED" || rc=$?
done
exit $rc
