#!/bin/bash
# Runs the watermark benchmark under the Wine rig of the tests (one wineserver kept alive).
# Usage: bench/wm_bench.sh [build name, default wm] [repeats, default 10]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD="$ROOT/build/${1:-wm}"
cmake --build "$BUILD" --target StatusMonitor smctl wm_phases wm_floor -j2 >/dev/null
source "$ROOT/tools/wine-env.sh"
SM_REUSE_PREFIX=1 wine_env_start "$BUILD" >/dev/null 2>&1
trap 'wine_env_stop >/dev/null 2>&1' EXIT
python3 "$ROOT/bench/wm_bench.py" "$BUILD/bin" "${2:-10}"
