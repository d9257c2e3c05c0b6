#!/usr/bin/env python3
"""Makes the status dialog's bitmaps from printer.json (Python 3 standard library only).

    python3 res/art/make_bitmaps.py            # writes the .bmp files beside this script
    python3 res/art/make_bitmaps.py --check    # fails if the committed files differ

Pictures: 170 by 170, image 8 bits per pixel on black, mask 24 bits per pixel, white where
the background shows and black under the printer. The alternative lower picture has the
lower picture's content. The logo is 80 by 20, 8 bits per pixel.

For scaled displays the same drawing is made again at each scale of SCALES (file names end in
_<percent>): every coordinate times the scale, outlines as wide as the scale rounds to, the
logo's pixels as blocks. These sets are 8 bits per pixel, masks too, run-length encoded.

Before writing anything it checks every marker of the dialog's item table against the drawing
at every scale (see check_markers) and stops with the list of faults if one fails.
"""
import json
import math
import os
import re
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SIZE = 170
# Scales (percent) of the scaled sets, as displays are set up: the program takes the nearest.
SCALES = [125, 150, 175, 200, 250, 300]


def sc(v, scale):
    """A length or coordinate at a scale, rounded half up (as the program's MulDiv does)."""
    return (v * scale + 50) // 100

# Every marker of the dialog's item table: code, x, y, picture (0 and 2 the upper one). The dot
# covers x..x+7, y..y+7 and the leader line ends in its centre, x+4, y+4.
MARKERS = [
    (2, 115, 118, 0), (4, 115, 118, 0), (5, 92, 101, 0), (6, 119, 90, 0), (80, 94, 83, 0),
    (135, 119, 88, 0), (136, 119, 88, 0), (257, 28, 113, 1), (260, 92, 70, 0),
    (261, 94, 41, 0), (262, 36, 132, 1), (263, 76, 78, 1), (264, 76, 100, 1),
    (265, 94, 58, 0), (265, 58, 88, 3), (266, 74, 80, 1), (267, 94, 71, 0),
    (268, 91, 115, 0), (269, 94, 71, 0), (270, 91, 115, 0), (278, 91, 137, 2),
    (279, 91, 141, 2), (280, 91, 115, 0), (281, 91, 137, 2),
]
DOT = 8
MARKER_BLUE = (0, 0, 255)
# The dot and this many pixels about it must stand on the printer, in colours that set the
# blue dot off at least this well (contrast ratio of relative luminances).
MARGIN = 2
MIN_CONTRAST = 3.0

# A part that a message names ends its name with those codes in brackets: "rear cover (265)".
NAMED = re.compile(r"\(([0-9, ]+)\)$")

# 5 by 7 capitals for the word mark.
GLYPHS = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "N": ["10001", "11001", "10101", "10101", "10011", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "V": ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
}


class Canvas:
    def __init__(self, width, height):
        self.w, self.h = width, height
        self.pix = [[0] * width for _ in range(height)]      # palette index
        self.part = [[None] * width for _ in range(height)]  # name of the topmost part

    def put(self, x, y, colour, part):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.pix[y][x] = colour
            self.part[y][x] = part

    def fill_poly(self, pts, colour, part):
        # Pixel centres inside the polygon (even-odd rule).
        ys = [p[1] for p in pts]
        for y in range(max(0, math.floor(min(ys))), min(self.h, math.ceil(max(ys)) + 1)):
            cy = y + 0.5
            xs = []
            for i in range(len(pts)):
                (x0, y0), (x1, y1) = pts[i], pts[(i + 1) % len(pts)]
                if (y0 <= cy < y1) or (y1 <= cy < y0):
                    xs.append(x0 + (cy - y0) * (x1 - x0) / (y1 - y0))
            xs.sort()
            for a, b in zip(xs[0::2], xs[1::2]):
                for x in range(max(0, int(a + 0.5)), min(self.w, int(b + 0.5))):
                    self.put(x, y, colour, part)

    def line(self, x0, y0, x1, y1, colour, part, width=1):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            for yy in range(width):
                for xx in range(width):
                    self.put(x0 - width // 2 + xx, y0 - width // 2 + yy, colour, part)
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def shape(self, s, colours, scale=100):
        part = s["part"]
        width = max(1, sc(1, scale))
        if "rect" in s:
            x0, y0, x1, y1 = (sc(v, scale) for v in s["rect"])
            for y in range(y0, y1):
                for x in range(x0, x1):
                    inside = x0 + width <= x < x1 - width and y0 + width <= y < y1 - width
                    edge = "outline" in s and not inside
                    self.put(x, y, colours[s["outline" if edge else "fill"]], part)
            return
        pts = [(x * scale / 100, y * scale / 100) for x, y in s["poly"]]
        self.fill_poly(pts, colours[s["fill"]], part)
        if "outline" in s:
            corners = [(sc(x, scale), sc(y, scale)) for x, y in s["poly"]]
            for i in range(len(corners)):
                (xa, ya), (xb, yb) = corners[i], corners[(i + 1) % len(corners)]
                self.line(xa, ya, xb, yb, colours[s["outline"]], part, width)


def rle8(rows):
    """Rows (top-down palette indices) as BI_RLE8 data: runs of up to 255, bottom row first."""
    body = bytearray()
    for row in reversed(rows):
        x = 0
        while x < len(row):
            n = 1
            while x + n < len(row) and n < 255 and row[x + n] == row[x]:
                n += 1
            body += bytes((n, row[x]))
            x += n
        body += b"\0\0"
    return bytes(body[:-2] + b"\0\1")


def bmp_bytes(width, height, bpp, rows, palette=None, rle=False):
    """A bottom-up BITMAPINFOHEADER file; rows are top-down lists of palette indices
    (8 bits) or (r, g, b) tuples (24 bits); rle: 8 bits, run-length encoded."""
    stride = (width * bpp // 8 + 3) & ~3
    body = bytearray(rle8(rows) if rle else b"")
    for row in ([] if rle else reversed(rows)):
        line = bytearray()
        for v in row:
            if bpp == 8:
                line.append(v)
            else:
                line += bytes((v[2], v[1], v[0]))
        body += line + b"\0" * (stride - len(line))
    colours = len(palette) if palette else 0
    table = b"".join(bytes((b, g, r, 0)) for (r, g, b) in (palette or []))
    offset = 14 + 40 + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(body), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, 1 if rle else 0, len(body),
                       2835, 2835, colours, 0)
    return header + info + table + bytes(body)


def render_picture(pic, colours, scale=100):
    c = Canvas(sc(SIZE, scale), sc(SIZE, scale))
    for s in pic["shapes"]:
        c.shape(s, colours, scale)
    return c


def scale_blocks(canvas, scale):
    """The canvas with each pixel drawn as its block at the scale."""
    c = Canvas(sc(canvas.w, scale), sc(canvas.h, scale))
    for y in range(canvas.h):
        for x in range(canvas.w):
            for yy in range(sc(y, scale), sc(y + 1, scale)):
                for xx in range(sc(x, scale), sc(x + 1, scale)):
                    c.put(xx, yy, canvas.pix[y][x], canvas.part[y][x])
    return c


def render_logo(spec, colours):
    w, h = spec["size"]
    c = Canvas(w, h)
    for y in range(h):
        for x in range(w):
            c.put(x, y, colours[spec["plate"]], "plate")
    scale, gap = 2, 4
    text = spec["text"]
    width = len(text) * 5 * scale + (len(text) - 1) * gap
    left, top = (w - width) // 2, 2
    for i, ch in enumerate(text):
        for gy, bits in enumerate(GLYPHS[ch]):
            for gx, bit in enumerate(bits):
                if bit == "1":
                    for yy in range(scale):
                        for xx in range(scale):
                            c.put(left + i * (5 * scale + gap) + gx * scale + xx,
                                  top + gy * scale + yy, colours[spec["letters"]], "letter")
    for x in range(left, left + width):
        c.put(x, h - 3, colours[spec["accent"]], "accent")
        c.put(x, h - 4, colours[spec["accent"]], "accent")
    return c


def codes_of(part):
    m = NAMED.search(part or "")
    return {int(c) for c in m.group(1).split(",")} if m else set()


def luminance(rgb):
    def lin(v):
        v /= 255.0
        return v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4
    r, g, b = (lin(v) for v in rgb)
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def contrast(a, b):
    la, lb = sorted((luminance(a), luminance(b)), reverse=True)
    return (la + 0.05) / (lb + 0.05)


def check_markers(pictures, palette, scale=100):
    """Each marker lands on a part that names its code, stands on light artwork, and its row
    meets no part named by another message between the dot and either edge of the picture
    (the leader line's last leg runs along that row from the side of the dialog it is in).
    At a scale the dot's centre, size and margin are scaled as the program scales them."""
    bad = []
    dot, margin, size = sc(DOT, scale), MARGIN * scale // 100, sc(SIZE, scale)
    for code, x0, y0, picture in MARKERS:
        cx, cy = sc(x0 + DOT // 2, scale), sc(y0 + DOT // 2, scale)
        x, y = cx - dot // 2, cy - dot // 2
        where = "code %d at (%d, %d), %d %%" % (code, cx, cy, scale)
        canvas = pictures["upper" if picture in (0, 2) else "lower"]
        part = canvas.part[cy][cx]
        if code not in codes_of(part):
            bad.append("%s lands on '%s', which does not name it" % (where, part or "background"))
        worst = None
        for py in range(y - margin, y + dot + margin):
            for px in range(x - margin, x + dot + margin):
                if scale != 100 and math.hypot(px + 0.5 - cx, py + 0.5 - cy) > dot / 2 + margin:
                    continue    # the ring about the round dot (at 100 % the whole square)
                if canvas.part[py][px] is None:
                    ratio, what = 0.0, "background"
                else:
                    ratio, what = contrast(palette[canvas.pix[py][px]], MARKER_BLUE), canvas.part[py][px]
                if worst is None or ratio < worst[0]:
                    worst = (ratio, px, py, what)
        if worst[0] < MIN_CONTRAST:
            bad.append("%s: contrast %.2f : 1 at (%d, %d) on '%s'" % ((where,) + worst))
        row = cy
        for px in list(range(0, x)) + list(range(x + dot, size)):
            other = canvas.part[row][px]
            if codes_of(other) and code not in codes_of(other):
                bad.append("%s: its row crosses '%s' at x %d" % (where, other, px))
                break
    return bad


def build():
    with open(os.path.join(HERE, "printer.json")) as f:
        art = json.load(f)
    names = list(art["palette"])
    palette = [tuple(art["palette"][n]) for n in names]
    colours = {n: i for i, n in enumerate(names)}
    if palette[0] != (0, 0, 0):
        raise SystemExit("palette entry 0 must be black: the pictures' background")
    pictures = {k: render_picture(v, colours) for k, v in art["pictures"].items()}
    bad = check_markers(pictures, palette)
    if bad:
        raise SystemExit("\n".join(bad))
    files = {}
    for name, canvas in pictures.items():
        files[name + ".bmp"] = bmp_bytes(SIZE, SIZE, 8, canvas.pix, palette)
        mask = [[(0, 0, 0) if canvas.part[y][x] else (255, 255, 255) for x in range(SIZE)]
                for y in range(SIZE)]
        files[name + "_mask.bmp"] = bmp_bytes(SIZE, SIZE, 24, mask)
    files["lower_alt.bmp"] = files["lower.bmp"]
    logo = render_logo(art["logo"], colours)
    files["logo.bmp"] = bmp_bytes(logo.w, logo.h, 8, logo.pix, palette)
    two = [(0, 0, 0), (255, 255, 255)]
    for scale in SCALES:
        scaled = {k: render_picture(v, colours, scale) for k, v in art["pictures"].items()}
        bad = check_markers(scaled, palette, scale)
        if bad:
            raise SystemExit("\n".join(bad))
        for name, c in scaled.items():
            files["%s_%d.bmp" % (name, scale)] = bmp_bytes(c.w, c.h, 8, c.pix, palette, True)
            mask = [[0 if c.part[y][x] else 1 for x in range(c.w)] for y in range(c.h)]
            files["%s_mask_%d.bmp" % (name, scale)] = bmp_bytes(c.w, c.h, 8, mask, two, True)
        big = scale_blocks(logo, scale)
        files["logo_%d.bmp" % scale] = bmp_bytes(big.w, big.h, 8, big.pix, palette, True)
    return files


def main():
    files = build()
    if "--check" in sys.argv[1:]:
        stale = [n for n, data in sorted(files.items())
                 if not os.path.exists(os.path.join(HERE, n))
                 or open(os.path.join(HERE, n), "rb").read() != data]
        if stale:
            raise SystemExit("out of date: " + ", ".join(stale))
        print("bitmaps up to date")
        return
    for name, data in sorted(files.items()):
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)
        print("wrote", name, len(data), "bytes")


if __name__ == "__main__":
    main()
