#!/bin/bash
# Watermark files read back by independent tools: the job record made with Python's base64
# module and decoded by the tools (smctl wm-show) to the same fields; the program's bitmap
# files read by ImageMagick's identify; bitmaps of every depth from smctl wm-sample.
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

# A record built field by field with Python's struct module, encoded with its base64 module.
python3 - "$WORK" "$(winpath "$WORK/py.bmp")" <<'PY'
import base64, struct, sys
work, bmp = sys.argv[1], sys.argv[2]
rec = bytearray(2348)
def put_w(off, cap, s):
    b = s.encode('utf-16-le'); assert len(b) < cap * 2
    rec[off:off + len(b)] = b
for i in range(132): rec[i] = (i * 7) & 255          # reserved bytes carry anything
put_w(132, 260, "Entwurf \u00e9t\u00e9")
struct.pack_into('<H', rec, 654, 80)
put_w(656, 32, "Liberation Sans")
struct.pack_into('<HHHH', rec, 720, 36, 1, 30, 0)
struct.pack_into('<hh', rec, 1780, -5, 7)
struct.pack_into('<iiiiiiII', rec, 1784, 1000, 700, 2, 3, 5, 120, 999, 999)
put_w(1816, 260, bmp)
struct.pack_into('<II', rec, 2336, 4294967295, 0)
value = base64.b64encode(bytes(rec)).decode()
assert len(value) == 3132 and value.endswith('=') and not value.endswith('==')
open(work + '/py.ini', 'w', newline='\r\n').write('[Job Information]\nParam=' + value + '\n')
open(work + '/py.rec', 'wb').write(rec)
PY
show=$(wine "$BIN/smctl.exe" wm-show "$(winpath "$WORK/py.ini")" 2>&1 | tr -d '\r')
field() { echo "$show" | sed -n "s/^$1 *= //p"; }
check "wDensity" 80 "$(field wDensity)"
check "wszFontFace" '"Liberation Sans"' "$(field wszFontFace)"
check "wFontSize" 36 "$(field wFontSize)"
check "wStyle" 1 "$(field wStyle)"
check "wAngleDegree" 30 "$(field wAngleDegree)"
check "xShift" -5 "$(field xShift)"
check "yShift" 7 "$(field yShift)"
check "nWidth" 1000 "$(field nWidth)"
check "nHeight" 700 "$(field nHeight)"
check "nDstScale" 2 "$(field nDstScale)"
check "nPageDensity" 3 "$(field nPageDensity)"
check "nMaxPageDensity" 5 "$(field nMaxPageDensity)"
check "nTextScale" 120 "$(field nTextScale)"
check "HalftoneType" "4294967295 (FINE_TAry_16, 16 x 16)" "$(field HalftoneType)"
check "verdict" "valid" "$(field verdict)"

# The program renders it: a 1-bit, 600-dpi BMP of the record's size.
wine "$BIN/StatusMonitor.exe" CreateTextBMP "$(winpath "$WORK/py.ini")" >/dev/null 2>&1
# Resolution in pixels per metre: 600 dpi is 23622.
ppm='%[fx:floor(resolution.x*100+0.5)]x%[fx:floor(resolution.y*100+0.5)]'
check "py.bmp identify" "BMP3 1000x700 1 2 23622x23622 PixelsPerCentimeter" \
  "$(identify -format "%m %wx%h %z %k $ppm %U" "$WORK/py.bmp" 2>&1)"

# smctl's encoder and Python's decoder agree byte for byte.
wine "$BIN/smctl.exe" wm-make "$(winpath "$WORK/made.ini")" --text "Copy 1" --size 20 --angle 90 \
  --placement tiled --page 640x480 --table 3 --fax --out 'C:\out.bmp' >/dev/null 2>&1
python3 - "$WORK/made.ini" <<'PY' || fail=1
import base64, struct, sys
text = open(sys.argv[1], encoding='latin-1').read()
value = [l.split('=', 1)[1].strip() for l in text.splitlines() if l.startswith('Param=')][0]
assert len(value) == 3132, len(value)
rec = base64.b64decode(value)
assert len(rec) == 2348
assert rec[132:132 + 14].decode('utf-16-le') == "Copy 1\0"
assert struct.unpack_from('<HHHH', rec, 720) == (20, 0, 90, 1)
assert struct.unpack_from('<ii', rec, 1784) == (640, 480)
assert struct.unpack_from('<II', rec, 2336) == (3, 0x200)
assert rec[1816:1816 + 22].decode('utf-16-le') == "C:\\out.bmp\0"
print("ok: smctl record decoded by Python")
PY

# Every depth of the writer, read by identify: size, depth, resolution, and pixel values.
for bpp in 1 4 8 16 24; do
  f="$WORK/sample$bpp.bmp"
  wine "$BIN/smctl.exe" wm-sample "$(winpath "$f")" $bpp 37 5 >/dev/null 2>&1
  depth=$bpp; [ $bpp -gt 8 ] && depth=8
  check "sample $bpp identify" "BMP3 37x5 $depth 23622x23622" \
    "$(identify -format "%m %wx%h %z $ppm" "$f" 2>&1)"
done
# wm-sample: black on the left half, white on the right half, for every depth.
for bpp in 1 4 8 24; do
  f="$WORK/sample$bpp.bmp"
  check "sample $bpp left pixel" "gray(0)" "$(/usr/bin/convert "$f" -colorspace gray -format '%[pixel:p{2,2}]' info: 2>&1)"
  check "sample $bpp right pixel" "gray(255)" "$(/usr/bin/convert "$f" -colorspace gray -format '%[pixel:p{30,2}]' info: 2>&1)"
done
exit $fail
