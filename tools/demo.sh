#!/bin/bash
# The main job, shown: starts the resident monitor under Wine, shows that it runs hidden with its
# Run value written, and ends it with "uninstall". Output goes to out/demo/.
set -euo pipefail
SM_ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$SM_ROOT"
BUILD_NAME=${SM_BUILD:-win64}
BUILD_DIR="$SM_ROOT/build/$BUILD_NAME"
OUT="$SM_ROOT/out/demo"
mkdir -p "$OUT"
tools/setup.sh
cmake --preset win64 -B "$BUILD_DIR" >/dev/null
cmake --build "$BUILD_DIR" -j2 --target StatusMonitor smctl >/dev/null
source tools/wine-env.sh
wine_env_start "$BUILD_DIR"
trap wine_env_stop EXIT
BIN="$BUILD_DIR/bin"
RUNKEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'

step() { printf '\n== %s\n' "$*"; }

step "start the monitor: StatusMonitor.exe install"
wine "$BIN/StatusMonitor.exe" install &
MON=$!
for _ in $(seq 50); do
  wine reg query "$RUNKEY" /v StatusMonitor >/dev/null 2>&1 && break
  sleep 0.2
done
sleep 1
if kill -0 "$MON" 2>/dev/null; then echo "monitor running (pid $MON), no window shown"; else echo "monitor did not stay resident"; exit 1; fi

step "its log-on Run value"
wine reg query "$RUNKEY" /v StatusMonitor | tr -d '\r' | grep StatusMonitor

step "a second install finds the running monitor and exits with 0"
set +e; wine "$BIN/StatusMonitor.exe" install; echo "exit code $?"; set -e

step "end it: StatusMonitor.exe uninstall"
set +e; wine "$BIN/StatusMonitor.exe" uninstall; echo "exit code $?"; set -e
wait "$MON"; echo "monitor ended with exit code $?"
wine reg query "$RUNKEY" /v StatusMonitor >/dev/null 2>&1 && echo "Run value still there" || echo "Run value removed"
