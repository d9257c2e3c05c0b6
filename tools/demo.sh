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
status_word() { cut -f4 "$SPOOL/printers.txt"; }
# Waits for the dialog, prints what it shows and saves it as out/demo/<name>.png.
shot() {
  smctl dialog --wait 3000 --shot "$(winepath -w "$OUT/$1.bmp" 2>/dev/null)"
  /usr/bin/convert "$OUT/$1.bmp" "$OUT/$1.png" && rm -f "$OUT/$1.bmp"
  echo "picture: out/demo/$1.png"
}
announce() { smctl announce "$1" >/dev/null; sleep 0.8; }

step "the driver's side names the printer and the job and asks for the dialog: smctl printer / jobid / showqel"
smctl printer "Office MFP"
smctl jobid 7
smctl showqel 1

step "fault: front cover open (smctl announce '5|')"
announce '5|'
shot status-1-front-cover
echo "spooler status word: $(status_word) (door open)"

step "fault: paper jam in the duplex unit with a duplex error (smctl announce '262|257|')"
announce '262|257|'
shot status-2-duplex-jam
echo "spooler status word: $(status_word) (paper jam)"

step "fault: paper mismatch (smctl announce '35|'): Continue is offered, and pressed"
announce '35|'
shot status-3-paper-mismatch
smctl dialog --press continue | grep pressed
sleep 0.3
smctl state | grep -E '^(ContinuePrint|Message) '
smctl dialog || true

step "fault: rear cover open, marked on both pictures (smctl announce '265|'), then Delete"
announce '265|'
shot status-4-rear-cover
smctl dialog --press delete | grep pressed
sleep 0.3
smctl dialog || true
smctl state | grep -E '^Message '
echo "spooler status word: $(status_word) (reset)"
echo "jobs left in the queue: $(wc -l < "$SPOOL/jobs.txt") (job 7 deleted)"

step "end it: StatusMonitor.exe uninstall"
set +e; wine "$BIN/StatusMonitor.exe" uninstall; echo "exit code $?"; set -e
wait "$MON"; echo "monitor ended with exit code $?"
wine reg query "$RUNKEY" /v StatusMonitor >/dev/null 2>&1 && echo "Run value still there" || echo "Run value removed"

step "the wake-up job on Wine's own spooler, to the private CUPS server's queue SM_USB (no test double)"
# Without the override the program loads Wine's builtin spooler even beside the double.
set +e; WINEDLLOVERRIDES="mscoree,mshtml=" wine "$BIN/StatusMonitor.exe" PREHEAT SM_USB; set -e
lpstat -W all -o SM_USB
for f in "$SM_CUPS_SPOOL"/d*-001; do echo "job data $(basename "$f"): $(stat -c %s "$f") bytes"; done
