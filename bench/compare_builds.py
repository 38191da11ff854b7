#!/usr/bin/env python3
"""Times this build's programs against another build's (the code before a
change) on the same inputs, taking the runs in turn so that both see the same
load: every command runs once per round, each writing its files afresh after
a sync, and the best of the rounds counts. Prints each command's best time,
the size of what it wrote, and the ratios the PNG figures are judged by.
   compare_builds.py BASE_BUILD THIS_BUILD WORK [--rounds N]
WORK holds x/bench.cgf (make_bench_inputs archive) and ev/ with evinfo.bin
(make_bench_inputs events); kegsplit's BMP files are written in WORK/ks.
"""
import argparse
import os
import shutil
import subprocess
import time

parser = argparse.ArgumentParser()
parser.add_argument("base")
parser.add_argument("this")
parser.add_argument("work")
parser.add_argument("--rounds", type=int, default=3)
a = parser.parse_args()
work = os.path.abspath(a.work)
archive = os.path.join(work, "x", "bench.cgf")
events = os.path.join(work, "ev")


def bins(build):
    return os.path.abspath(os.path.join(build, "kegkit")), os.path.abspath(os.path.join(build, "kegsplit-2.13"))


base_kegkit, _ = bins(a.base)
this_kegkit, this_kegsplit = bins(a.this)
# name: (command, folder it writes, cwd)
commands = {
    "kegsplit-2.13": ([this_kegsplit, archive], "ks", "ks"),
    "extract BMP": ([this_kegkit, "extract", "-j", "2", "-o", "@", archive], "bmp", work),
    "extract --png, before": ([base_kegkit, "extract", "-j", "2", "--png", "-o", "@", archive], "png-base", work),
    "extract --png": ([this_kegkit, "extract", "-j", "2", "--png", "-o", "@", archive], "png", work),
    "extract --png --png-level 1": ([this_kegkit, "extract", "-j", "2", "--png", "--png-level", "1", "-o", "@", archive],
                                    "png1", work),
    "merge --png, before": ([base_kegkit, "merge", "-j", "2", "--png", "-i", events, "-o", "@",
                             os.path.join(events, "evinfo.bin")], "merge-base", work),
    "merge --png": ([this_kegkit, "merge", "-j", "2", "--png", "-i", events, "-o", "@",
                     os.path.join(events, "evinfo.bin")], "merge", work),
}
best = {name: float("inf") for name in commands}
sizes = {}
for _ in range(a.rounds):
    for name, (argv, folder, cwd) in commands.items():
        out = os.path.join(work, folder)
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out, exist_ok=True)
        argv = [out if w == "@" else w for w in argv]
        os.sync()
        start = time.perf_counter()
        subprocess.run(argv, cwd=out if cwd == folder else cwd, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        best[name] = min(best[name], time.perf_counter() - start)
        sizes[name] = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(out) for f in fs)
for name in commands:
    print(f"{name}: {best[name]:.3f} s, {sizes[name]} bytes")
print(f"extract --png: {best['extract --png, before'] / best['extract --png']:.2f}x the throughput before")
print(f"extract --png --png-level 1: {best['extract --png --png-level 1'] / best['extract BMP']:.2f}x the time of "
      f"extract (BMP)")
print(f"merge --png: {best['merge --png, before'] / best['merge --png']:.2f}x the throughput before")
print(f"extract --png: PNG files {sizes['extract --png'] / sizes['extract --png, before']:.4f}x the size before")
