#!/usr/bin/env python3
"""Watermark benchmark: the "CreateTextBMP" jobs a driver sends (600-dpi A4 and A3 pages,
"CONFIDENTIAL", 72 points, 45 degrees, centred and tiled, the default 16 x 16 table and a
64 x 64 one), timed as whole commands under Wine and phase by phase in one process, side by
side with Ghostscript (bmpmono, the same threshold table, face, size, angle and copies) and
ImageMagick in the same run. Prints medians, peak memory and the ratios.

Usage (under the Wine rig, see bench/wm_bench.sh): wm_bench.py <bin folder> [repeats]
"""
import os
import re
import resource
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = sys.argv[1]
REPEATS = int(sys.argv[2]) if len(sys.argv) > 2 else 7
FONT = subprocess.run(["fc-match", "Liberation Sans", "-f", "%{file}"], capture_output=True,
                      text=True).stdout.strip()
TEXT = "CONFIDENTIAL"
PAGES = {"A4": (4961, 7016), "A3": (7016, 9921)}
JOBS = [  # name, page, placement, halftone type
    ("A4 centred, 16x16", "A4", "centred", 0),
    ("A4 tiled, 16x16", "A4", "tiled", 0),
    ("A4 centred, 64x64", "A4", "centred", 2),
    ("A4 tiled, 64x64", "A4", "tiled", 2),
    ("A3 centred, 16x16", "A3", "centred", 0),
]
DENSITY = 60
LEVEL = 84                     # the screen level of density 60


def winpath(p):
    return "Z:" + p.replace("/", "\\")


def tables():
    src = open(os.path.join(ROOT, "bitmap", "halftone_tables.h")).read()
    out = {}
    for m in re.finditer(r"static const BYTE (\w+)\[(\d+) \* \d+\] = \{(.*?)\};", src, re.S):
        out[m.group(1)] = (int(m.group(2)), [int(v) for v in re.findall(r"\d+", m.group(3))])
    return out


TABLE_NAMES = {0: "FINE_TAry_16", 2: "LSU_106_K60"}


def timed(cmd, repeats, env=None):
    # Output goes to /dev/null, not to a pipe: a helper process that Wine starts may inherit a
    # pipe and keep it open after the program itself has ended.
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        r = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
        times.append((time.perf_counter() - t0) * 1000)
        if r.returncode not in (0, 1):
            raise SystemExit("failed (%d): %s" % (r.returncode, " ".join(cmd)))
    return statistics.median(times)


def peak_kb(cmd):
    r = subprocess.run(["/usr/bin/time", "-f", "PEAK %M"] + cmd, capture_output=True, text=True)
    m = re.search(r"PEAK (\d+)", r.stderr)
    return int(m.group(1)) if m else 0


def trace_values(ini):
    env = dict(os.environ, SM_TRACE="threshold=1", WINEDEBUG="-all,warn+seh,warn+debugstr")
    r = subprocess.run(["wine", os.path.join(BIN, "StatusMonitor.exe"), "CreateTextBMP", winpath(ini)],
                       capture_output=True, env=env)
    vals = {}
    for line in r.stderr.decode(errors="replace").splitlines():
        if "OutputDebugStringA" not in line:
            continue
        for k, v in re.findall(r"(\w+) = (-?\d+)", line):
            vals.setdefault(k, int(v))
    return vals


def positions(v, placement, w, h):
    """Top-left reference points of the copies, as the renderer places them."""
    import math
    tcx, tcy, rotCx, rotCy = v["tcx"], v["tcy"], v["rotCx"], v["rotCy"]
    S = abs(math.sin(math.radians(45)))
    X0, Y0 = 0, int(tcx * S)
    centerH = (h - rotCy) // 2
    if placement == "centred":
        return [(X0 + (w - rotCx) // 2, Y0 + centerH)]
    pts = []
    xo = 0
    while True:
        yo = v["y0"]
        while True:
            pts.append((xo + X0, yo + Y0))
            yo += v["rowPitch"]
            if yo >= h:
                break
        xo += v["colPitch"]
        if xo >= w:
            break
    return pts


def gs_program(path, w, h, em_pt, pts, table):
    n, t = table
    inv = "".join("%02x" % (255 - x) for x in t)     # black where the threshold <= level
    with open(path, "w") as f:
        f.write("%!PS\n")
        f.write("<< /HalftoneType 3 /Width %d /Height %d /Thresholds <%s> >> sethalftone\n" % (n, n, inv))
        f.write("%.6f setgray\n" % ((255 - LEVEL) / 255.0))
        f.write("/LiberationSans findfont %.3f scalefont setfont\n" % em_pt)
        for x, y in pts:
            # device pixels, y down, top-left of the cell -> points, y up, baseline
            px, py = x * 72 / 600.0, (h - y) * 72 / 600.0
            f.write("gsave %.3f %.3f translate 45 rotate 0 %.3f neg moveto (%s) show grestore\n"
                    % (px, py, em_pt * 0.905, TEXT))
        f.write("showpage\n")


def im_command(out, w, h, em_px, pts):
    cmd = ["/usr/bin/convert", "-size", "%dx%d" % (w, h), "xc:white", "-font", FONT,
           "-pointsize", "%.2f" % em_px, "-fill", "black", "-gravity", "NorthWest"]
    for x, y in pts:
        cmd += ["-annotate", "-45x-45+%d+%d" % (x, y), TEXT]
    return cmd + ["-monochrome", "bmp3:" + out]


def main():
    work = tempfile.mkdtemp(prefix="wm_bench_")
    tabs = tables()
    sm = os.path.join(BIN, "StatusMonitor.exe")
    rows = []
    inis = []
    for name, page, placement, htype in JOBS:
        w, h = PAGES[page]
        tag = re.sub(r"\W+", "_", name)
        ini = os.path.join(work, tag + ".ini")
        ours = os.path.join(work, tag + ".bmp")
        subprocess.run(["wine", os.path.join(BIN, "smctl.exe"), "wm-make", winpath(ini), "--text", TEXT,
                        "--face", "Arial", "--size", "72", "--angle", "45", "--density", str(DENSITY),
                        "--placement", placement, "--page", page, "--table", str(htype),
                        "--out", winpath(ours)], check=True, capture_output=True)
        inis.append(ini)
        v = trace_values(ini)
        em_px = v["lfHeight"] * 2048 / (1854 + 434)
        pts = positions(v, placement, w, h)
        ps = os.path.join(work, tag + ".ps")
        gs_program(ps, w, h, em_px * 72 / 600.0, pts, tabs[TABLE_NAMES[htype]])
        gs = ["gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=bmpmono", "-r600",
              "-g%dx%d" % (w, h), "-sOutputFile=" + os.path.join(work, tag + "_gs.bmp"), ps]
        ours_cmd = ["wine", sm, "CreateTextBMP", winpath(ini)]
        t_ours = timed(ours_cmd, REPEATS)
        t_gs = timed(gs, REPEATS)
        t_im = timed(im_command(os.path.join(work, tag + "_im.bmp"), w, h, em_px, pts), 1)
        rows.append(dict(name=name, copies=len(pts), ours=t_ours, gs=t_gs, im=t_im,
                         mem_ours=peak_kb(ours_cmd), mem_gs=peak_kb(gs)))
    t_start = timed(["wine", sm], REPEATS)    # the program started with nothing to do
    phases = subprocess.run(["wine", os.path.join(BIN, "wm_phases.exe"), str(REPEATS)] + [winpath(i) for i in inis],
                            capture_output=True, text=True, check=True).stdout.splitlines()
    ph = [dict(re.findall(r"(\w+)=(\S+)", l)) for l in phases if l.startswith("job=")]

    print("Watermark benchmark: %d runs each (median), load average %.1f" % (REPEATS, os.getloadavg()[0]))
    print("Whole command (ms); ours = wine StatusMonitor.exe CreateTextBMP; job = the same job inside one process")
    print("%-20s %6s %8s %8s %8s %8s %9s %9s %8s" % ("job", "copies", "ours", "job", "gs", "IM",
                                                   "ours/gs", "job/gs", "ours/IM"))
    for r, p in zip(rows, ph):
        job = float(p["total_ms"])
        print("%-20s %6d %8.1f %8.1f %8.1f %8.0f %9.2f %9.2f %8.3f" % (
            r["name"], r["copies"], r["ours"], job, r["gs"], r["im"], r["ours"] / r["gs"], job / r["gs"],
            r["ours"] / r["im"]))
    print("Program start with no command (ms): %.1f" % t_start)
    print()
    print("Phases inside the job (ms)")
    print("%-20s %7s %7s %9s %7s %7s %7s %12s" % ("job", "setup", "draw", "readback", "screen", "write",
                                                  "memcpy", "screen/copy"))
    for r, p in zip(rows, ph):
        s, c = float(p["screen_ms"]), float(p["memcpy_ms"])
        print("%-20s %7.2f %7.2f %9.2f %7.2f %7.2f %7.2f %12.2f" % (
            r["name"], float(p["setup_ms"]), float(p["draw_ms"]), float(p["readback_ms"]), s,
            float(p["write_ms"]), c, s / c if c else 0))
    print()
    print("Peak resident memory (KB)")
    print("%-20s %9s %9s %8s" % ("job", "ours", "gs", "ours/gs"))
    for r in rows:
        print("%-20s %9d %9d %8.2f" % (r["name"], r["mem_ours"], r["mem_gs"], r["mem_ours"] / max(r["mem_gs"], 1)))


if __name__ == "__main__":
    main()
