#!/usr/bin/env python3
"""Runs a program several times and writes its best wall-clock time and its
peak resident memory to a file, as "best_seconds S", "seconds S1 S2 ...",
"max_rss_bytes N". Before each run the paths given with --clean are removed
(files, globs and folders) and the disk is synced, so every run writes its
files afresh.
   time_runs.py OUT --cwd DIR [--runs N] [--clean PATH]... -- PROGRAM ARG...
"""
import argparse
import glob
import os
import resource
import shutil
import subprocess
import sys
import time

parser = argparse.ArgumentParser()
parser.add_argument("out")
parser.add_argument("--cwd", required=True)
parser.add_argument("--runs", type=int, default=3)
parser.add_argument("--clean", action="append", default=[])
split = sys.argv.index("--")
a = parser.parse_args(sys.argv[1:split])
command = sys.argv[split + 1:]

times = []
for _ in range(a.runs):
    for pattern in a.clean:
        for path in glob.glob(os.path.join(a.cwd, pattern)):
            if os.path.isdir(path):
                shutil.rmtree(path)
            else:
                os.remove(path)
    os.sync()
    start = time.perf_counter()
    subprocess.run(command, cwd=a.cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    times.append(time.perf_counter() - start)
rss = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss * 1024
with open(a.out, "w") as f:
    f.write(f"best_seconds {min(times):.4f}\nseconds {' '.join(f'{t:.4f}' for t in times)}\nmax_rss_bytes {rss}\n")
