#!/bin/bash
# A watermark file is replaced whole or not at all: a job that fills a small drive (a 256 KB
# tmpfs given a drive letter in the prefix) or that is killed while it writes leaves the old
# file byte for byte, or no file where there was none. $1: the folder of the built programs.
# Runs under the Wine rig of tools/test.sh, as root (to mount the drive).
set -u
BIN=$1
WORK=$(mktemp -d)
DRIVE=$WINEPREFIX/dosdevices/r:
cleanup() { rm -f "$DRIVE"; umount "$WORK/tiny" 2>/dev/null; rm -rf "$WORK"; }
trap cleanup EXIT
mkdir "$WORK/tiny"
mount -t tmpfs -o size=256k tmpfs "$WORK/tiny" || { echo "FAIL: cannot mount a small drive"; exit 1; }
[ -e "$DRIVE" ] && { echo "FAIL: drive R: is taken"; exit 1; }
ln -s "$WORK/tiny" "$DRIVE"
fail=0
winpath() { echo "Z:${1//\//\\}"; }
make_job() {    # ini, out (Windows path), page
  wine "$BIN/smctl.exe" wm-make "$(winpath "$1")" --text "CONFIDENTIAL" --size 20 --angle 45 \
    --placement tiled --page "$3" --table 0 --out "$2" >/dev/null 2>&1
}
run_job() { make_job "$@"; wine "$BIN/StatusMonitor.exe" CreateTextBMP "$(winpath "$1")" >/dev/null 2>&1; }
# The old file, if any, must be as it was, and no temporary file may stay in the folder.
check() {   # what, folder, file name, old copy ("" when there was none)
  local now="$2/$3"
  if [ -n "$4" ] && ! cmp -s "$4" "$now"; then echo "FAIL: $1: the old file changed"; fail=1
  elif [ -z "$4" ] && [ -e "$now" ]; then echo "FAIL: $1: a file was left"; fail=1
  elif ls "$2" | grep -qi '^~wm.*\.tmp$'; then echo "FAIL: $1: a temporary file stayed"; fail=1
  else echo "ok: $1"; fi
}

# Full drive: 160 KB taken, the 1000 x 1300 page needs 163 KB more.
head -c 100000 /dev/urandom > "$WORK/tiny/old.bmp"
head -c 60000 /dev/zero > "$WORK/tiny/filler"
cp "$WORK/tiny/old.bmp" "$WORK/old.copy"
for c in "old.bmp $WORK/old.copy" "new.bmp"; do
  set -- $c
  run_job "$WORK/full.ini" "R:\\$1" 1000x1300
  check "full drive, $1" "$WORK/tiny" "$1" "${2:-}"
done
# The same job where there is room writes the file (the drive itself works).
rm -f "$WORK/tiny/filler" "$WORK/tiny/old.bmp"
run_job "$WORK/room.ini" "R:\\room.bmp" 1000x1300
[ "$(stat -c %s "$WORK/tiny/room.bmp" 2>/dev/null)" = $((62 + 128 * 1300)) ] || { echo "FAIL: no file where there is room"; fail=1; }

# Killed once its temporary file holds rows: a 120 MB page.
mkdir "$WORK/kill"
head -c 5000 /dev/urandom > "$WORK/kill/old.bmp"
cp "$WORK/kill/old.bmp" "$WORK/kill.copy"
make_job "$WORK/kill.ini" "$(winpath "$WORK/kill/old.bmp")" 30000x32000
wine "$BIN/StatusMonitor.exe" CreateTextBMP "$(winpath "$WORK/kill.ini")" >/dev/null 2>&1 &
pid=$!
for _ in $(seq 600); do
  tmp=$(ls "$WORK/kill" | grep -i '^~wm.*\.tmp$' | head -1)
  [ -n "$tmp" ] && [ "$(stat -c %s "$WORK/kill/$tmp" 2>/dev/null || echo 0)" -gt 1000000 ] && break
  sleep 0.05
done
kill -9 "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
if [ -z "${tmp:-}" ]; then echo "FAIL: killed job: no temporary file seen"; fail=1
elif cmp -s "$WORK/kill.copy" "$WORK/kill/old.bmp"; then echo "ok: killed while writing $tmp, old file kept"
else echo "FAIL: killed job: the old file changed"; fail=1; fi
# The next job for the same file writes over what the killed one left.
run_job "$WORK/again.ini" "$(winpath "$WORK/kill/old.bmp")" 1000x1300
[ "$(ls "$WORK/kill")" = old.bmp ] && [ "$(stat -c %s "$WORK/kill/old.bmp")" = $((62 + 128 * 1300)) ] &&
  echo "ok: the next job took the killed job's file" || { echo "FAIL: after the killed job: $(ls "$WORK/kill")"; fail=1; }
exit $fail
