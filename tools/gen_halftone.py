#!/usr/bin/env python3
"""Generates bitmap/halftone_tables.h: the watermark's halftone threshold tables.

FINE_TAry_16 is the fixed default screen. The others are clustered-dot screens made here:
a dot spot function of each screen's period, with ties between dots broken by a Bayer order
(so that rising levels grow the dots one after another), the cells ranked by it and given
thresholds so that the share of cells at or below each density level (30, 54, 84, 114, 150)
is the engine's figure. The first cells of row 0 are the engine's own values and are kept.

Usage: tools/gen_halftone.py [output]   (default: bitmap/halftone_tables.h)
"""
import math
import os
import sys

LEVELS = [30, 54, 84, 114, 150]

FINE_TARY_16 = [
    [6, 82, 233, 254, 251, 226, 70, 5, 7, 85, 235, 254, 252, 228, 73, 5],
    [55, 121, 165, 218, 211, 152, 114, 49, 57, 122, 167, 220, 213, 156, 115, 47],
    [199, 134, 105, 41, 27, 95, 126, 192, 202, 136, 107, 45, 31, 97, 123, 190],
    [243, 180, 18, 3, 1, 13, 172, 238, 244, 182, 19, 3, 1, 12, 170, 237],
    [248, 222, 65, 4, 10, 79, 232, 253, 250, 224, 67, 4, 9, 76, 230, 252],
    [208, 145, 109, 53, 62, 119, 162, 216, 210, 149, 112, 51, 59, 117, 159, 215],
    [22, 88, 131, 197, 206, 142, 102, 38, 24, 91, 128, 195, 204, 139, 100, 34],
    [2, 16, 177, 241, 247, 187, 21, 2, 1, 15, 175, 240, 245, 185, 20, 2],
    [7, 85, 235, 254, 252, 228, 73, 5, 6, 82, 233, 254, 251, 226, 70, 5],
    [57, 122, 167, 220, 213, 156, 115, 47, 55, 121, 165, 218, 211, 152, 114, 49],
    [202, 136, 107, 45, 31, 97, 123, 190, 199, 134, 105, 41, 27, 95, 126, 192],
    [244, 182, 19, 3, 1, 12, 170, 237, 243, 180, 18, 3, 1, 13, 172, 238],
    [250, 224, 67, 4, 9, 76, 230, 252, 248, 222, 65, 4, 10, 79, 232, 253],
    [210, 149, 112, 51, 59, 117, 159, 215, 208, 145, 109, 53, 62, 119, 162, 216],
    [24, 91, 128, 195, 204, 139, 100, 34, 22, 88, 131, 197, 206, 142, 102, 38],
    [1, 15, 175, 240, 245, 185, 20, 2, 2, 16, 177, 241, 247, 187, 21, 2],
]

# type, name, size, (min, max), per cent at or below each level, row 0 start, period, 45-degree
SCREENS = [
    (1, "FINE_TAry_128", 128, (0, 254), [12.0, 21.5, 33.3, 45.1, 59.3],
     [67, 51, 59, 114, 190, 206, 198, 143, 64, 48, 56, 111, 187, 203, 195, 140], 8, False),
    (2, "LSU_106_K60", 64, (0, 255), [16.5, 23.9, 32.5, 40.0, 50.2],
     [1, 8, 90, 248, 253, 249, 199, 14, 1, 7, 88, 248, 253, 249, 200, 17], 8, False),
    (3, "Nimsa2_212", 64, (0, 255), [23.5, 34.1, 45.5, 56.9, 67.5],
     [7, 49, 254, 153, 13, 62, 245, 134, 8, 51, 252, 150, 11, 59, 248, 138], 4, False),
    (4, "Vorel_212", 64, (0, 255), [25.9, 32.5, 38.8, 45.1, 53.7],
     [0, 52, 246, 201, 3, 75, 240, 186, 1, 56, 245, 200, 2, 69, 241, 190], 4, False),
    (5, "Vorel_106", 64, (1, 255), [12.2, 21.6, 33.3, 45.1, 59.2],
     [6, 22, 86, 224, 248, 232, 168, 29, 5, 21, 85, 225, 249, 233, 169, 31], 8, False),
    (6, "Vorel_1200_160", 64, (1, 255), [12.2, 18.0, 23.5, 29.0, 35.7],
     [1, 7, 54, 239, 255, 255, 255, 253, 227, 50, 5, 1, 28, 151, 250, 255], 16, True),
    (7, "QX3_A4_1200_106LPI", 64, (1, 255), [12.2, 21.6, 33.3, 45.1, 59.2],
     [1, 2, 20, 52, 100, 200, 232, 246, 254, 252, 234, 202, 154, 53, 22, 8], 16, False),
    (8, "A4_LSU_600_212LPI", 64, (0, 255), [27.5, 31.4, 35.7, 40.0, 45.5],
     [0, 58, 255, 231, 0, 95, 251, 221, 0, 63, 254, 230, 0, 86, 252, 224], 4, False),
]

BASE = 64  # every generated screen repeats within 64 x 64 cells


def bayer(n):
    m = [[0]]
    while len(m) < n:
        k = len(m)
        m = [[4 * m[y % k][x % k] + [[0, 2], [3, 1]][y // k][x // k] for x in range(2 * k)]
             for y in range(2 * k)]
    return m


BAYER = bayer(BASE)


def spot(x, y, period, diag, dx, dy):
    """Larger at a dot's centre. diag: dots on a 45-degree lattice of the same repeat."""
    px, py = x + 0.5 + dx, y + 0.5 + dy
    if diag:
        u, v = (px + py) / period, (px - py) / period
    else:
        u, v = px / period, py / period
    return math.cos(2 * math.pi * u) + math.cos(2 * math.pi * v)


def rank_key(x, y, period, diag, dx, dy):
    # Quantise the spot value so that equal places of different dots tie, then break the tie
    # by the Bayer order: dots grow in turn rather than all at once.
    s = round(spot(x, y, period, diag, dx, dy), 6)
    return (-s, BAYER[y][x])


def spearman_like(prefix, keys):
    # Agreement of the given row-0 values with our ranking: concordant pairs minus discordant.
    score = 0
    for i in range(len(prefix)):
        for j in range(i + 1, len(prefix)):
            a = prefix[i] - prefix[j]
            b = (keys[i] > keys[j]) - (keys[i] < keys[j])
            score += (a > 0) * b - (a < 0) * b
    return score


def interval_of(v):
    for k, lv in enumerate(LEVELS):
        if v <= lv:
            return k
    return len(LEVELS)


def make_screen(vmin, vmax, percents, prefix, period, diag):
    n = BASE * BASE
    targets = [round(p * n / 100.0) for p in percents]
    for p, t in zip(percents, targets):
        assert round(t * 1000.0 / n) / 10.0 == p, (p, t)
    # Place the dots where the given row-0 values say the centres are.
    best = None
    steps = [i / 2.0 for i in range(2 * period)]
    for dy in steps:
        for dx in steps:
            keys = [rank_key(x, 0, period, diag, dx, dy) for x in range(len(prefix))]
            sc = spearman_like(prefix, keys)
            if best is None or sc > best[0]:
                best = (sc, dx, dy)
    _, dx, dy = best
    table = [[None] * BASE for _ in range(BASE)]
    fixed = [0] * (len(LEVELS) + 1)
    for x, v in enumerate(prefix):
        table[0][x] = v
        fixed[interval_of(v)] += 1
    counts = [targets[0]] + [targets[k] - targets[k - 1] for k in range(1, len(LEVELS))]
    counts.append(n - targets[-1])
    counts = [c - f for c, f in zip(counts, fixed)]
    assert min(counts) > 0, counts
    bounds = [(vmin, LEVELS[0])] + [(LEVELS[k - 1] + 1, LEVELS[k]) for k in range(1, len(LEVELS))]
    bounds.append((LEVELS[-1] + 1, vmax))
    cells = sorted(((rank_key(x, y, period, diag, dx, dy), x, y)
                    for y in range(BASE) for x in range(BASE) if table[y][x] is None))
    i = 0
    for (lo, hi), c in zip(bounds, counts):
        for j in range(c):
            _, x, y = cells[i]
            i += 1
            table[y][x] = lo + (round(j * (hi - lo) / (c - 1)) if c > 1 else 0)
    assert i == len(cells)
    return table


def widen_128(base):
    """Four quadrants of the 64 x 64 screen; three of them are lifted by one in scattered cells
    that lie on no density level, so the shares stay the same."""
    out = [[0] * 128 for _ in range(128)]
    for q in range(4):
        qx, qy = (q % 2) * 64, (q // 2) * 64
        for y in range(64):
            for x in range(64):
                v = base[y][x]
                if q and v not in LEVELS and v < 254 and v != 0 and (BAYER[y][x] + 17 * q) % 5 == 0:
                    v += 1
                out[qy + y][qx + x] = v
    return out


def emit_array(f, name, rows):
    size = len(rows)
    f.write("static const BYTE %s[%d * %d] = {\n" % (name, size, size))
    for row in rows:
        for k in range(0, size, 16):
            f.write("    " + ", ".join("%3d" % v for v in row[k:k + 16]) + ",\n")
    f.write("};\n\n")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "bitmap", "halftone_tables.h")
    with open(out, "w", newline="\n") as f:
        f.write("// Generated by tools/gen_halftone.py; do not edit. Halftone threshold tables, row by row.\n")
        f.write("#pragma once\n#include <windows.h>\n\n")
        emit_array(f, "FINE_TAry_16", FINE_TARY_16)
        for _, name, size, (vmin, vmax), percents, prefix, period, diag in SCREENS:
            table = make_screen(vmin, vmax, percents, prefix, period, diag)
            if size == 128:
                table = widen_128(table)
            emit_array(f, name, table)


if __name__ == "__main__":
    main()
