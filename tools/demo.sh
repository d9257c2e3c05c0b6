#!/bin/bash
# The main job, shown: starts the resident monitor under Wine, shows that it runs hidden with its
# Run value written, plays a fault sequence from docs/demo.scenario, ends it with "uninstall", and
# shows the 9x-class end from docs/demo-9x.scenario. Output goes to out/demo/.
set -euo pipefail
SM_ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$SM_ROOT"
BUILD_NAME=${SM_BUILD:-win64}
BUILD_DIR="$SM_ROOT/build/$BUILD_NAME"
OUT="$SM_ROOT/out/demo"
mkdir -p "$OUT"
tools/setup.sh
cmake --preset win64 -B "$BUILD_DIR" >/dev/null
cmake --build "$BUILD_DIR" -j2 --target StatusMonitor smctl spooler_double >/dev/null
source tools/wine-env.sh
trap wine_env_stop EXIT
trap 'exit 130' INT TERM
wine_env_start "$BUILD_DIR"
BIN="$BUILD_DIR/bin"
RUNKEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'

step() { printf '\n== %s\n' "$*"; }

# The status dialog's part runs against the test-double spooler that lies beside the program in
# bin/: one printer with one job. The monitor takes the folder's name from its environment.
SPOOL="$OUT/spooler"
rm -rf "$SPOOL"; mkdir -p "$SPOOL"
printf 'Office MFP\tUSB001\t0\t0\n' > "$SPOOL/printers.txt"
printf 'Office MFP\t7\tQuarterly report\t0\n' > "$SPOOL/jobs.txt"
SM_SPOOLER_DIR=$(winepath -w "$SPOOL" 2>/dev/null)
export SM_SPOOLER_DIR

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

smctl() { wine "$BIN/smctl.exe" "$@" | tr -d '\r'; }
# The pictures a scenario saved, as PNG.
to_png() {
  for f in "$OUT"/status-*.bmp; do
    [ -e "$f" ] || continue
    /usr/bin/convert "$f" "${f%.bmp}.png" && rm -f "$f" && echo "picture: out/demo/$(basename "${f%.bmp}.png")"
  done
}

step "the fault sequence of docs/demo.scenario, played by smctl replay"
set +e; smctl replay docs/demo.scenario; rc=$?; set -e
to_png
echo "replay exit code $rc"
smctl state | grep -E '^(ContinuePrint|Message) '
echo "jobs left in the queue: $(wc -l < "$SPOOL/jobs.txt") (job 7 deleted)"

step "end it: StatusMonitor.exe uninstall"
set +e; wine "$BIN/StatusMonitor.exe" uninstall; echo "exit code $?"; set -e
wait "$MON"; echo "monitor ended with exit code $?"
wine reg query "$RUNKEY" /v StatusMonitor >/dev/null 2>&1 && echo "Run value still there" || echo "Run value removed"

step "the 9x-class end (docs/demo-9x.scenario): a copy of the program told it runs on Windows 98 ends when its dialog closes"
APPDEF='HKCU\Software\Wine\AppDefaults'
cp "$BIN/StatusMonitor.exe" "$BIN/StatusMonitor98.exe"
wine reg add "$APPDEF\StatusMonitor98.exe" /v Version /d win98 /f >/dev/null 2>&1
wine reg add "$APPDEF\smctl.exe" /v Version /d win98 /f >/dev/null 2>&1
printf 'Office MFP\t7\tQuarterly report\t0\n' > "$SPOOL/jobs.txt"
wine "$BIN/StatusMonitor98.exe" install &
MON98=$!
sleep 2
set +e; smctl replay docs/demo-9x.scenario --class StatusMonitor98; rc=$?; set -e
to_png
echo "replay exit code $rc"
wait "$MON98"; echo "StatusMonitor98 ended with exit code $?"
wine reg delete "$APPDEF\StatusMonitor98.exe" /v Version /f >/dev/null 2>&1 || true
wine reg delete "$APPDEF\smctl.exe" /v Version /f >/dev/null 2>&1 || true
wine reg delete "$RUNKEY" /v StatusMonitor98 /f >/dev/null 2>&1 || true
rm -f "$BIN/StatusMonitor98.exe"

step "the wake-up job on Wine's own spooler, to the private CUPS server's queue SM_USB (no test double)"
# Without the override the program loads Wine's builtin spooler even beside the double.
set +e; WINEDLLOVERRIDES="mscoree,mshtml=" wine "$BIN/StatusMonitor.exe" PREHEAT SM_USB; set -e
lpstat -W all -o SM_USB
for f in "$SM_CUPS_SPOOL"/d*-001; do echo "job data $(basename "$f"): $(stat -c %s "$f") bytes"; done
