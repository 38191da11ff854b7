#!/usr/bin/env python3
"""Prints the benchmark figures of one run as ratios to their baselines."""
import json
import math
import re
import sys
from collections import defaultdict

out = sys.argv[1] if len(sys.argv) > 1 else "build/bench-results"


def load(name):
    with open(f"{out}/{name}") as f:
        return {b["name"]: b for b in json.load(f)["benchmarks"]}


def gmean(xs):
    return math.exp(sum(math.log(x) for x in xs) / len(xs))


def ratios(results, fast, ref, key):
    r = {}
    for name, b in results.items():
        if name.startswith(fast + "/"):
            pic = name[len(fast) + 1:]
            other = results.get(ref + "/" + pic)
            if other:
                r[pic] = b[key] / other[key]
    return r


def line(label, r):
    print(f"| {label} | {min(r.values()):.2f}x | {gmean(list(r.values())):.2f}x | {max(r.values()):.2f}x |")


dec = load("decoders.json")
comp = load("compose.json")
print("| measure (ratio to its baseline) | min | geo. mean | max |")
print("|---|---|---|---|")
line("decode_lzss vs reference decoder", ratios(dec, "lzss/fast", "lzss/reference", "bytes_per_second"))
line("decode_lzss vs memcpy of the same bytes", ratios(dec, "lzss/fast", "stored/memcpy", "bytes_per_second"))
line("decode_rle vs reference decoder", ratios(dec, "rle/fast", "rle/reference", "bytes_per_second"))
line("compose_with_mask vs per-pixel reference", ratios(comp, "compose/fast", "compose/reference", "items_per_second"))
for kind in ("base3", "base4-opaque", "base4-translucent"):
    line(f"composite_delta ({kind}) vs per-pixel reference",
         ratios(comp, f"delta/fast/{kind}", f"delta/reference/{kind}", "items_per_second"))

enc = load("encoders.json")
lz = ratios(enc, "encode-lzss/optimal", "encode-lzss/greedy", "packed_bytes")
line("kegkit LZSS packed size vs greedy encoder", lz)
line("kegkit LZSS encoding speed vs greedy encoder",
     ratios(enc, "encode-lzss/optimal", "encode-lzss/greedy", "bytes_per_second"))
line("kegkit run-length packed size vs simple encoder", ratios(enc, "encode-rle/optimal", "encode-rle/simple", "packed_bytes"))
total_opt = sum(b["packed_bytes"] for n, b in enc.items() if n.startswith("encode-lzss/optimal/"))
total_greedy = sum(b["packed_bytes"] for n, b in enc.items() if n.startswith("encode-lzss/greedy/"))
speed = min(b["bytes_per_second"] for n, b in enc.items() if n.startswith("encode-lzss/optimal/"))

ill = [b["bytes_per_second"] for n, b in dec.items() if n.startswith("lzss/fast/illustration")]
pho = [b["bytes_per_second"] for n, b in dec.items() if n.startswith("lzss/fast/photo")]
print()
print(f"kegkit LZSS: {total_opt / total_greedy:.4f} of the greedy encoder's total size, "
      f"at {speed / 1e6:.1f} MB/s or more")
print(f"decode_lzss decoded bytes per second: illustrations min {min(ill)/1e9:.2f} GB/s, "
      f"photographs min {min(pho)/1e9:.2f} GB/s")


def time_file(name):
    text = open(f"{out}/{name}").read()
    m = re.search(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (?:(\d+):)?(\d+):([\d.]+)", text)
    seconds = (int(m.group(1) or 0) * 3600 + int(m.group(2)) * 60 + float(m.group(3))) if m else float(text.split()[-1])
    rss = re.search(r"Maximum resident set size \(kbytes\): (\d+)", text)
    return seconds, int(rss.group(1)) * 1024 if rss else None


def runs_file(name):
    """Best seconds and peak RSS from time_runs.py's file."""
    values = {}
    for row in open(f"{out}/{name}"):
        key, *rest = row.split()
        values[key] = rest
    return float(values["best_seconds"][0]), int(values["max_rss_bytes"][0])


archive = dict(zip(*[iter(open(f"{out}/archive.txt").read().split())] * 2))
decoded = int(archive["decoded_bytes"])
k_seconds, k_rss = runs_file("kegsplit.runs")
e2e = decoded / k_seconds / 1e6
print(f"kegsplit end to end: {e2e:.0f} MB/s of decoded pictures = "
      f"{e2e / float(archive['decode_only_mb_per_s']):.2f}x the decode-only throughput of the same archive; "
      f"peak RSS {k_rss / 2**20:.1f} MiB")
p_seconds, p_rss = runs_file("palimp.runs")
im = float(open(f"{out}/imagemagick.txt").read().split()[1])
print(f"palimp: {im / p_seconds:.1f}x faster than ImageMagick on the same merges; peak RSS {p_rss / 2**20:.1f} MiB")
s100, _ = time_file("search-s100.time")
s20000, _ = time_file("search-s20000.time")
print(f"file search: per-record time with 20,000 files = {s20000 / s100:.2f}x that with 100 files")

write = dict(zip(*[iter(open(f"{out}/write-copy.txt").read().split())] * 2))
floor = float(archive["decode_only_seconds"]) + float(write["write_seconds"])
print(f"kegsplit-2.13 end to end takes {k_seconds / floor:.2f}x the sum of its decode-only time in memory and "
      f"the time to write the same bytes as files with one write each ({k_seconds:.3f} s against {floor:.3f} s)")
kb_seconds, kb_rss = runs_file("kegkit-bmp.runs")
kp_seconds, kp_rss = runs_file("kegkit-png.runs")
# An entry's buffers at most: its packed and decoded bytes (each at most the
# picture's size), its composed picture, its filtered rows and its encoded PNG
# (each at most 4/3 of the 24-bit picture).
largest = int(archive["largest_picture_bytes"])
bound = 3 * (2 * largest + 3 * largest * 4 / 3) + int(archive["mask_bytes"]) + 16 * 2**20
print(f"kegkit extract -j 2 (BMP): {k_seconds / kb_seconds:.2f}x kegsplit-2.13's throughput; peak RSS "
      f"{kb_rss / 2**20:.1f} MiB (bound: 3 entries' buffers + the mask + 16 MiB = {bound / 2**20:.1f} MiB)")
mog = dict(zip(*[iter(open(f"{out}/mogrify.txt").read().split())] * 2))
kp1_seconds, _ = runs_file("kegkit-png1.runs")
print(f"kegkit extract -j 2 --png --png-level 1: {kp1_seconds / kb_seconds:.2f}x the time of kegkit extract -j 2 (BMP)")
print(f"decode_lzss on the archive's {archive['lzss_entries']} LZSS entries: "
      f"{float(archive['lzss_reference_seconds']) / float(archive['lzss_seconds']):.2f}x the plain decoder's throughput")
print(f"kegkit extract -j 2 --png: {(k_seconds + float(mog['mogrify_seconds'])) / kp_seconds:.2f}x the throughput of "
      f"kegsplit-2.13 then mogrify -format png; PNG files {int(mog['kegkit_png_bytes']) / int(mog['imagemagick_png_bytes']):.3f}x "
      f"ImageMagick's in total; peak RSS {kp_rss / 2**20:.1f} MiB (bound {bound / 2**20:.1f} MiB)")
km_seconds, _ = runs_file("kegkit-merge.runs")
kmp_seconds, _ = runs_file("kegkit-merge-png.runs")
im_png = float(open(f"{out}/imagemagick-png.txt").read().split()[1])
print(f"kegkit merge -j 2: {p_seconds / km_seconds:.2f}x palimp's throughput; with --png {im_png / kmp_seconds:.1f}x "
      f"ImageMagick's convert ... -composite out.png")
picture_bytes = int(open(f"{out}/repack.txt").read().split()[1])
rb_seconds, _ = time_file("repack-bmp.time")
rp_seconds, _ = time_file("repack-png.time")
print(f"kegkit repack from PNG: {picture_bytes / rp_seconds / 1e6:.1f} MB/s of decoded pictures = "
      f"{rb_seconds / rp_seconds:.2f}x the same repack from BMP ({picture_bytes / rb_seconds / 1e6:.1f} MB/s)")

png = load("png.json")
print()
print("| PNG encoder on the benchmark pictures | MB/s | size / ImageMagick's |")
print("|---|---|---|")
for name, b in png.items():
    if name.startswith("encode/"):
        print(f"| {name[len('encode/'):].replace('/iterations:1', '')} | {b['bytes_per_second'] / 1e6:.1f} | "
              f"{b['ratio_all']:.4f} |")
try:
    print(open(f"{out}/compare-builds.txt").read().rstrip())
except FileNotFoundError:
    pass
web = dict(zip(*[iter(open(f"{out}/web.txt").read().split())] * 2)) if __import__("os").path.exists(f"{out}/web.txt") else None
if web:
    print(f"the page (headless Chromium) against kegkit extract --png -j 1: {float(web['ratio']):.2f}x the time "
          f"({web['page_seconds']} s against {web['native_seconds']} s); page's JavaScript heap "
          f"{int(web['page_js_heap_bytes']) / 2**20:.1f} MiB, worker's WebAssembly memory "
          f"{int(web['worker_wasm_bytes']) / 2**20:.1f} MiB, files held {int(web['page_file_bytes']) / 2**20:.1f} MiB")
