#!/usr/bin/env python3
"""Watermark benchmark: what a driver's "CreateTextBMP" call costs. The jobs a driver sends
(600-dpi A4 and A3 pages, "CONFIDENTIAL", 72 points, 45 degrees, centred and tiled, the default
16 x 16 table and a 64 x 64 one) run as whole commands started the way the driver starts them:
Wine's wine64 loader directly (no launcher script), with a resident window program keeping the
desktop process up. Beside each run, in alternation, the GDI floor (a program that only creates a
memory DC) and Ghostscript (bmpmono, a threshold-array halftone with the same table, face, size,
angle and copies). Prints medians of whole, floor, own cost (whole minus floor), the job inside
one process with its phases, Ghostscript and the ratios, then peak memory.

Usage (under the Wine rig, see bench/wm_bench.sh): wm_bench.py <bin folder> [repeats]
"""
import math
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = sys.argv[1]
REPEATS = int(sys.argv[2]) if len(sys.argv) > 2 else 10
WINE64 = shutil.which("wine64") or "/usr/lib/wine/wine64"
TEXT = "CONFIDENTIAL"
PAGES = {"A4": (4961, 7016), "A3": (7016, 9921)}
PAGE_BYTES = {k: ((w + 31) // 32 * 4) * h for k, (w, h) in PAGES.items()}
JOBS = [  # name, page, placement, halftone type
    ("A4 centred, 16x16", "A4", "centred", 0),
    ("A4 tiled, 16x16", "A4", "tiled", 0),
    ("A4 centred, 64x64", "A4", "centred", 2),
    ("A4 tiled, 64x64", "A4", "tiled", 2),
    ("A3 centred, 16x16", "A3", "centred", 0),
]
DENSITY = 60
LEVEL = 84                     # the screen level of density 60
TABLE_NAMES = {0: "FINE_TAry_16", 2: "LSU_106_K60"}


def winpath(p):
    return "Z:" + p.replace("/", "\\")


def wine(exe, *args):
    return [WINE64, os.path.join(BIN, exe)] + list(args)


def tables():
    src = open(os.path.join(ROOT, "bitmap", "halftone_tables.h")).read()
    out = {}
    for m in re.finditer(r"static const BYTE (\w+)\[(\d+) \* \d+\] = \{(.*?)\};", src, re.S):
        out[m.group(1)] = (int(m.group(2)), [int(v) for v in re.findall(r"\d+", m.group(3))])
    return out


def run_ms(cmd):
    # Output goes to /dev/null, not to a pipe: a helper process that Wine starts may inherit a
    # pipe and keep it open after the program itself has ended.
    t0 = time.perf_counter()
    r = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ms = (time.perf_counter() - t0) * 1000
    if r.returncode not in (0, 1):
        raise SystemExit("failed (%d): %s" % (r.returncode, " ".join(cmd)))
    return ms


FASTEST = {}
RUNS = {}


def alternate(cmds, repeats):
    """Runs the commands in turn, repeats rounds; the median of each (the fastest run of each is
    kept in FASTEST: on a shared machine noise only adds, so the fastest runs are compared too;
    every run in RUNS, for differences within a round)."""
    times = [[] for _ in cmds]
    for _ in range(repeats):
        for i, c in enumerate(cmds):
            times[i].append(run_ms(c))
    for c, t in zip(cmds, times):
        FASTEST[" ".join(c)] = min(t)
        RUNS[" ".join(c)] = t
    return [statistics.median(t) for t in times]


def paired(a, b):
    """The median of a's run less b's run in the same round: the machine's slow spells, which
    last longer than a round, fall on both."""
    return statistics.median(x - y for x, y in zip(RUNS[" ".join(a)], RUNS[" ".join(b)]))


def paired_ratio(a, b):
    """The median of a's run over b's run in the same round."""
    return statistics.median(x / y for x, y in zip(RUNS[" ".join(a)], RUNS[" ".join(b)]))


def peak_kb(cmd, repeats=3):
    out = []
    for _ in range(repeats):
        r = subprocess.run(["/usr/bin/time", "-f", "PEAK %M"] + cmd, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE, text=True)
        m = re.search(r"PEAK (\d+)", r.stderr)
        out.append(int(m.group(1)) if m else 0)
    return statistics.median(out)


def trace_values(ini):
    env = dict(os.environ, SM_TRACE="threshold=1", WINEDEBUG="-all,warn+seh,warn+debugstr")
    r = subprocess.run(wine("StatusMonitor.exe", "CreateTextBMP", winpath(ini)), capture_output=True, env=env)
    vals = {}
    for line in r.stderr.decode(errors="replace").splitlines():
        if "OutputDebugStringA" not in line:
            continue
        for k, v in re.findall(r"(\w+) = (-?\d+)", line):
            vals.setdefault(k, int(v))
    return vals


def positions(v, placement, w, h):
    """Top-left reference points of the copies, as the renderer places them."""
    tcx, rotCx, rotCy = v["tcx"], v["rotCx"], v["rotCy"]
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


def gs_program(path, em_pt, pts, h, table):
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


def cold_ms(ini):
    """Median time of the job run once in a fresh process after its first memory DC."""
    times = []
    for _ in range(REPEATS):
        out = subprocess.run(wine("wm_phases.exe", "cold", winpath(ini)), capture_output=True, text=True,
                             check=True).stdout
        times.append(float(re.search(r"cold_ms=(\S+)", out).group(1)))
    return statistics.median(times)


def fresh_ms_per_mb():
    """Median cost of touching fresh memory, per MB, in a Wine process of this machine."""
    out = [subprocess.run(wine("wm_phases.exe", "fresh"), capture_output=True, text=True, check=True).stdout
           for _ in range(REPEATS)]
    return statistics.median(float(re.search(r"fresh_ms_per_mb=(\S+)", o).group(1)) for o in out)


def machine():
    model = "unknown CPU"
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    return "%s, %d cores" % (model, os.cpu_count() or 0)


def main():
    work = tempfile.mkdtemp(prefix="wm_bench_")
    tabs = tables()
    # The desktop kept up for the whole run, as on a Windows desktop where the driver runs.
    resident = subprocess.Popen(wine("wm_floor.exe", "resident"), stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
    # Wine's start-up helpers keep the machine busy for a while after the first process.
    time.sleep(30)
    floor_cmd = wine("wm_floor.exe")
    # Warm-up, not counted: the first tens of process starts after the rig comes up run slow.
    for _ in range(20):
        run_ms(floor_cmd)
        run_ms(wine("StatusMonitor.exe"))
    load0 = os.getloadavg()
    rows, inis = [], []
    try:
        for name, page, placement, htype in JOBS:
            w, h = PAGES[page]
            tag = re.sub(r"\W+", "_", name)
            ini = os.path.join(work, tag + ".ini")
            ours = os.path.join(work, tag + ".bmp")
            subprocess.run(wine("smctl.exe", "wm-make", winpath(ini), "--text", TEXT, "--face", "Arial",
                                "--size", "72", "--angle", "45", "--density", str(DENSITY),
                                "--placement", placement, "--page", page, "--table", str(htype),
                                "--out", winpath(ours)), check=True, capture_output=True)
            inis.append(ini)
            v = trace_values(ini)
            em_px = v["lfHeight"] * 2048 / (1854 + 434)
            pts = positions(v, placement, w, h)
            ps = os.path.join(work, tag + ".ps")
            gs_program(ps, em_px * 72 / 600.0, pts, h, tabs[TABLE_NAMES[htype]])
            gs = ["gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=bmpmono", "-r600",
                  "-g%dx%d" % (w, h), "-sOutputFile=" + os.path.join(work, tag + "_gs.bmp"), ps]
            whole_cmd = wine("StatusMonitor.exe", "CreateTextBMP", winpath(ini))
            t_whole, t_floor, t_gs = alternate([whole_cmd, floor_cmd, gs], REPEATS)
            rows.append(dict(name=name, page=page, copies=len(pts), whole=t_whole, floor=t_floor, gs=t_gs,
                             own_fastest=FASTEST[" ".join(whole_cmd)] - FASTEST[" ".join(floor_cmd)],
                             own_paired=paired(whole_cmd, floor_cmd), ratio=paired_ratio(whole_cmd, gs),
                             mem_whole=peak_kb(whole_cmd), mem_floor=peak_kb(floor_cmd), mem_gs=peak_kb(gs),
                             cold=cold_ms(ini)))
        t_nothing, t_floor, t_text, t_big, t_bare = alternate(
            [wine("wm_floor.exe", "nothing"), floor_cmd, wine("wm_floor.exe", "text"), wine("wm_floor.exe", "bigtext"),
             wine("StatusMonitor.exe")], REPEATS)
        mem_floor, mem_text = peak_kb(floor_cmd), peak_kb(wine("wm_floor.exe", "text"))
        mem_big = peak_kb(wine("wm_floor.exe", "bigtext"))
        phases = subprocess.run(wine("wm_phases.exe", str(REPEATS), *[winpath(i) for i in inis]),
                                capture_output=True, text=True, check=True).stdout.splitlines()
        fresh = fresh_ms_per_mb()
    finally:
        resident.terminate()
        resident.wait()
        shutil.rmtree(work, ignore_errors=True)
    ph = [dict(re.findall(r"(\w+)=(\S+)", l)) for l in phases if l.startswith("job=")]
    load1 = os.getloadavg()

    print("Watermark benchmark on %s; medians of %d alternated runs; load average %.2f at the start, %.2f at the end"
          % (machine(), REPEATS, load0[0], load1[0]))
    print("Whole = wine64 StatusMonitor.exe CreateTextBMP job.ini (desktop kept up); floor = a program that only"
          " creates a memory DC; own = whole - floor; job = the same job inside one process")
    print("%-20s %6s %8s %8s %8s %8s %8s %8s %8s %8s %9s %9s" % ("job", "copies", "whole", "floor", "own",
                                                                 "own/pair", "own/min", "cold", "job", "gs",
                                                                 "whole/gs", "job/gs"))
    for r, p in zip(rows, ph):
        job = float(p["total_ms"])
        print("%-20s %6d %8.1f %8.1f %8.1f %8.1f %8.1f %8.1f %8.1f %8.1f %9.2f %9.2f" % (
            r["name"], r["copies"], r["whole"], r["floor"], r["whole"] - r["floor"], r["own_paired"],
            r["own_fastest"], r["cold"], job, r["gs"], r["ratio"], job / r["gs"]))
    print("own/pair: the median of each round's whole run less its floor run; "
          "own/min: the fastest whole run less the fastest floor run; "
          "cold: the job once in a fresh process after its first memory DC (median); whole/gs: the median of "
          "each round's whole run over its Ghostscript run")
    print("Program that returns at once: %.1f ms; GDI floor: %.1f ms; the floor drawing one string: %.1f ms; "
          "drawing the A4 job's string at its size: %.1f ms; StatusMonitor.exe with no command: %.1f ms"
          % (t_nothing, t_floor, t_text, t_big, t_bare))
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
    print("Peak resident memory (KB, median of 3); pages = (whole - floor) / the page's bytes")
    print("GDI floor %d KB; the floor drawing a short string %d KB (the font system: %d KB); drawing the A4"
          " job's string at its size %d KB (its glyphs: %d KB more)"
          % (mem_floor, mem_text, mem_text - mem_floor, mem_big, mem_big - mem_text))
    print("Memory touched the first time costs %.2f ms per MB on this machine (a page fault a page): the A4"
          " string's glyphs, %d KB, %.1f ms of it" % (fresh, mem_big - mem_text, fresh * (mem_big - mem_text) / 1024.0))
    print("%-20s %9s %9s %9s %7s %9s" % ("job", "whole", "floor", "over", "pages", "gs"))
    for r in rows:
        over = r["mem_whole"] - r["mem_floor"]
        print("%-20s %9d %9d %9d %7.2f %9d" % (r["name"], r["mem_whole"], r["mem_floor"], over,
                                               over * 1024.0 / PAGE_BYTES[r["page"]], r["mem_gs"]))


if __name__ == "__main__":
    main()
