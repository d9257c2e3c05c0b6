#!/bin/bash
# The resident monitor's cost as a user would notice it, measured on the running program under
# the Wine rig of the tests (its own prefix, display and wineserver), with the test-double spooler:
#   1. CPU over an idle minute: the monitor's own (process times) and the extra wineserver time it
#      causes (the server's time during that minute less its time in a minute without a monitor);
#   2. resident and private memory of the idle monitor;
#   3. the delay from an announcement written by smctl to the spooler call that follows it
#      (median and worst of 100);
#   4. memory before and after 10,000 announcements in a row (status dialog shown).
# Usage: bench/monitor_bench.sh [build name, default mon] [idle seconds, default 60]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD="$ROOT/build/${1:-mon}"
IDLE=${2:-60}
[ -f "$BUILD/CMakeCache.txt" ] || cmake --preset win64 -B "$BUILD" >/dev/null
cmake --build "$BUILD" --target StatusMonitor smctl spooler_double monitor_probe monitor_baseline -j2 >/dev/null
BIN="$BUILD/bin"
source "$ROOT/tools/wine-env.sh"
SM_REUSE_PREFIX=1 wine_env_start "$BUILD" >/dev/null 2>&1
MONPID=""
cleanup() {
  if [ -n "$MONPID" ] && kill -0 "$MONPID" 2>/dev/null; then
    wine "$BIN/smctl.exe" exit >/dev/null 2>&1 || true
    sleep 1
  fi
  wine reg delete 'HKLM\software\microsoft\windows\currentversion\run' /v StatusMonitor /f >/dev/null 2>&1 || true
  wine_env_stop >/dev/null 2>&1
}
trap cleanup EXIT

TICK=$(getconf CLK_TCK)
cpu_ms() {   # user + system time of a Linux process, in ms
  awk -v t="$TICK" '{ sub(/^.*\) /, ""); print int(($12 + $13) * 1000 / t) }' "/proc/$1/stat"
}

# Our own wineserver: its working folder is named after the prefix's device and inode.
SERVER_DIR=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
SERVER=""
for p in /proc/[0-9]*; do
  if [[ "$(cat "$p/comm" 2>/dev/null)" == wineserver* ]] && readlink "$p/cwd" 2>/dev/null | grep -q "$SERVER_DIR"; then
    SERVER=${p#/proc/}
  fi
done
[ -n "$SERVER" ] || { echo "monitor_bench: wineserver of $WINEPREFIX not found" >&2; exit 1; }

# The spooler double's state and a fresh exchange file.
SPOOL=$(mktemp -d /tmp/smbench_spooler.XXXXXX)
printf 'MFP\tUSB001\t0x00000000\t0x00000000\n' > "$SPOOL/printers.txt"
export SM_SPOOLER_DIR=$(winepath -w "$SPOOL")
INI="$WINEPREFIX/drive_c/users/Public/Documents/StatusMonitorV3.ini"
printf '\xff\xfe' > "$INI"
wine "$BIN/smctl.exe" printer MFP
wine "$BIN/smctl.exe" showqel 0
wine "$BIN/smctl.exe" message 0

echo "== monitor benchmark ($(date -u '+%Y-%m-%d %H:%M UTC'), idle periods of ${IDLE} s)"
per_min() { echo $(( $1 * 60 / IDLE )); }
mem_linux() {   # resident and private memory of a Linux process
  local rss priv
  rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$1/status")
  priv=$(awk '/^Private_(Clean|Dirty):/ { s += $2 } END { print s }' "/proc/$1/smaps_rollup")
  echo "resident ${rss} kB, private ${priv} kB"
}

# 1a. The server's time in a period without a monitor.
s0=$(cpu_ms "$SERVER"); sleep "$IDLE"; s1=$(cpu_ms "$SERVER")
BASE=$((s1 - s0))
echo "wineserver alone: $(per_min $BASE) ms per minute"

# 1b. An idle program: its own time, the server's extra time, its memory. Class names the window.
IDLE_PID=""
measure_idle() {   # label class program [arguments]
  local label=$1 cls=$2; shift 2
  wine "$@" &
  IDLE_PID=$!
  for _ in $(seq 50); do wine "$BIN/monitor_probe.exe" times "$cls" >/dev/null 2>&1 && break; sleep 0.2; done
  sleep 3
  local m0 s0 m1 s1 own srv
  m0=$(cpu_ms "$IDLE_PID"); s0=$(cpu_ms "$SERVER")
  sleep "$IDLE"
  m1=$(cpu_ms "$IDLE_PID"); s1=$(cpu_ms "$SERVER")
  own=$((m1 - m0)); srv=$((s1 - s0 - BASE))
  echo "$label idle, per minute: own CPU $(per_min $own) ms, extra wineserver $(per_min $srv) ms, total $(per_min $((own + srv))) ms; $(mem_linux "$IDLE_PID")"
}

measure_idle "baseline (timer + one profile read per tick)" SmMonitorBaseline "$BIN/monitor_baseline.exe" "$(winepath -w "$INI")"
wine "$BIN/smctl.exe" exit SmMonitorBaseline
wait "$IDLE_PID" || true

measure_idle "monitor" StatusMonitor "$BIN/StatusMonitor.exe" install
MONPID=$IDLE_PID
tr '\0' ' ' < "/proc/$MONPID/cmdline" | grep -q StatusMonitor.exe || { echo "monitor_bench: pid $MONPID is not the monitor" >&2; exit 1; }
echo "  as Windows sees it: $(wine "$BIN/monitor_probe.exe" mem StatusMonitor)"

# 3. Reaction time: announcement by smctl to the SetPrinterW that follows.
echo "reaction: $(wine "$BIN/monitor_probe.exe" latency 100 "$(winepath -w "$BIN/smctl.exe")" "$(winepath -w "$SPOOL/calls.log")")"

# 4. Memory growth over 10,000 announcements, with the status dialog shown.
wine "$BIN/smctl.exe" showqel 1
wine "$BIN/smctl.exe" announce '33|5|' >/dev/null
sleep 2
before="$(mem_linux "$MONPID"); $(wine "$BIN/monitor_probe.exe" mem StatusMonitor)"
calls0=$(grep -c '^SetPrinterW' "$SPOOL/calls.log" || true)
t0=$(date +%s.%N)
wine "$BIN/smctl.exe" stress 10000 >/dev/null
t1=$(date +%s.%N)
sleep 2
after="$(mem_linux "$MONPID"); $(wine "$BIN/monitor_probe.exe" mem StatusMonitor)"
calls1=$(grep -c '^SetPrinterW' "$SPOOL/calls.log" || true)
echo "10,000 announcements in $(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", b - a }') s, $((calls1 - calls0)) status words set"
echo "  before: $before"
echo "  after:  $after"
kill -0 "$MONPID" && echo "monitor still running"

wine "$BIN/smctl.exe" exit
wait "$MONPID" || true
MONPID=""
rm -rf "$SPOOL"
