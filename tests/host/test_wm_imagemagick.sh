#!/bin/bash
# The program's rasterised watermark against an independent rasteriser: ImageMagick draws the
# same text in the same face, pixel size and angle on the same page; the ink of the two
# (compared in 8 x 4 blocks, which fill in the screen's dots; the centres of their bounding boxes aligned) must overlap with
# an intersection over union above 0.8. $1: the folder of the built programs.
set -u
BIN=$1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
FONT=$(fc-match 'Liberation Sans' -f '%{file}')
[ -f "$FONT" ] || { echo "FAIL: Liberation Sans not found"; exit 1; }
fail=0
for job in "CONFIDENTIAL 0" "Draft copy 45" "Copy 90"; do
  angle=${job##* }
  text=${job% *}
  ini="Z:${WORK//\//\\}\\job.ini"
  wine "$BIN/smctl.exe" wm-make "$ini" --text "$text" --face "Liberation Sans" --size 20 \
    --angle "$angle" --density 100 --table 3 --page 1600x1200 --out "Z:${WORK//\//\\}\\ours.bmp" >/dev/null 2>&1
  # The cell height the program chose, from its trace on the debugger channel.
  lf=$(SM_TRACE=threshold=1 WINEDEBUG=-all,warn+seh,warn+debugstr \
       wine "$BIN/StatusMonitor.exe" CreateTextBMP "$ini" 2>&1 | tr -d '\r' |
       sed -n 's/.*OutputDebugStringA.*lfHeight = \([0-9]*\).*/\1/p' | head -1)
  if [ -z "$lf" ] || [ ! -f "$WORK/ours.bmp" ]; then
    echo "FAIL: $text at $angle: no file or no lfHeight"; fail=1; continue
  fi
  # A positive cell height maps to an em of height * unitsPerEm / (winAscent + winDescent).
  em=$(python3 -c "print(round($lf * 2048 / (1854 + 434), 2))")
  /usr/bin/convert -size 1600x1200 xc:white -font "$FONT" -pointsize "$em" -fill black \
    -gravity center -annotate "-${angle}x-${angle}+0+0" "$text" -threshold 50% "pbm:$WORK/im.pbm"
  python3 - "$WORK/ours.bmp" "$WORK/im.pbm" "$text" "$angle" <<'PY' || fail=1
import struct, sys
def ours(path):       # top-down rows as integers, a set bit is ink
    d = open(path, 'rb').read()
    off, = struct.unpack_from('<I', d, 10)
    w, h = struct.unpack_from('<ii', d, 18)
    stride = ((w + 7) // 8 + 3) // 4 * 4
    rows = [d[off + r * stride: off + r * stride + (w + 7) // 8] for r in range(h)][::-1]
    full = (1 << ((w + 7) // 8 * 8)) - 1
    return w, h, [int.from_bytes(r, 'big') ^ full for r in rows]
def pbm(path):
    d = open(path, 'rb').read()
    parts = d.split(b'\n', 2)
    w, h = map(int, parts[1].split())
    stride = (w + 7) // 8
    return w, h, [int.from_bytes(parts[2][y * stride:(y + 1) * stride], 'big') for y in range(h)]
def box_centre(rows):     # centre of the ink's bounding box, in pixels
    ys = [y for y, r in enumerate(rows) if r]
    m = 0
    for r in rows:
        m |= r
    nbits = (w + 7) // 8 * 8
    left, right = nbits - m.bit_length(), nbits - 1 - ((m & -m).bit_length() - 1)
    return (left + right) / 2, (ys[0] + ys[-1]) / 2
w, h, a = ours(sys.argv[1])
w2, h2, b = pbm(sys.argv[2])
assert (w, h) == (w2, h2) and any(a) and any(b)
ax, ay = box_centre(a)
bx, by = box_centre(b)
dx, dy = round(ax - bx), round(ay - by)
# Move ImageMagick's text onto ours (the placement rules are tested elsewhere).
b = ([0] * dy + b[:h - dy]) if dy >= 0 else (b[-dy:] + [0] * -dy)
b = [(r >> dx) if dx >= 0 else (r << -dx) & ((1 << ((w + 7) // 8 * 8)) - 1) for r in b]
def blocks(rows, bh=4):   # 8 x bh blocks that hold any ink
    out = set()
    nbytes = (w + 7) // 8
    for y0 in range(0, h, bh):
        m = 0
        for r in rows[y0:y0 + bh]:
            m |= r
        bs = m.to_bytes(nbytes, 'big')
        out.update((i, y0) for i, v in enumerate(bs) if v)
    return out
sa, sb = blocks(a), blocks(b)
iou = len(sa & sb) / len(sa | sb)
print("%s %s: IoU %.3f (shift %d,%d)" % (sys.argv[3], sys.argv[4], iou, dx, dy))
sys.exit(0 if iou > 0.8 else 1)
PY
done
exit $fail
