#!/usr/bin/env bash
# Every benchmark, on this machine, in one run: the decoder and compositing
# benchmarks against their references, kegsplit on an archive of 200 MiB of
# pictures, the page on the same archive against kegkit, kegkit repack of them from BMP and from PNG, palimp on 500 events against ImageMagick doing the same merges,
# the file search in a folder of 100 and of 20,000 files, and peak memory.
# Results go to build/bench-results; bench/summarize.py prints the ratios.
# The programs read and write in ${KEGKIT_BENCH_WORK:-build/bench-work}.
# With KEGKIT_BASELINE_BUILD set to the build folder of an earlier version,
# its kegkit's PNG runs are timed in turn with this one's (compare_builds.py).
#   bench/run_benchmarks.sh [--quick]
set -euo pipefail
cd "$(dirname "$0")/.."
quick=${1:-}
missing=()
for p in cmake g++ libbenchmark-dev imagemagick lomiri-wallpapers time python3 emscripten chromium chromium-driver \
  python3-selenium; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null && cmake --build build -j2 >/dev/null
bash bench/make_bench_data.sh

out=build/bench-results
work=${KEGKIT_BENCH_WORK:-$PWD/build/bench-work}
rm -rf "$out" "$work" && mkdir -p "$out" "$work"
min_time=0.3
events=500
mib=200
[ "$quick" = --quick ] && min_time=0.05 && events=60 && mib=40

echo "== decoders and compositing"
build/bench/decoders_bench --benchmark_min_time=$min_time --benchmark_format=json --benchmark_out="$out/decoders.json" >/dev/null
build/bench/compose_bench --benchmark_min_time=$min_time --benchmark_format=json --benchmark_out="$out/compose.json" >/dev/null
build/bench/encoders_bench --benchmark_format=json --benchmark_out="$out/encoders.json" >/dev/null

echo "== kegsplit and kegkit on $mib MiB of pictures"
top=$PWD
build/bench/make_bench_inputs archive "$work/x" "$mib" | tee "$out/archive.txt"
# Best of three runs each, every run writing its files afresh.
python3 bench/time_runs.py "$out/kegsplit.runs" --cwd "$work/x" --clean '*.bmp' -- "$top/build/kegsplit-2.13" bench.cgf
# The same bytes written as files, one write each, from memory.
build/bench/make_bench_inputs write-copy "$work/x" "$work/w" | tee "$out/write-copy.txt"
rm -rf "$work/w"
mkdir "$work/k"
python3 bench/time_runs.py "$out/kegkit-bmp.runs" --cwd "$work/k" --clean bmp -- \
  "$top/build/kegkit" extract -j 2 -o bmp ../x/bench.cgf
python3 bench/time_runs.py "$out/kegkit-png.runs" --cwd "$work/k" --clean png -- \
  "$top/build/kegkit" extract -j 2 --png -o png ../x/bench.cgf
python3 bench/time_runs.py "$out/kegkit-png1.runs" --cwd "$work/k" --clean png1 -- \
  "$top/build/kegkit" extract -j 2 --png --png-level 1 -o png1 ../x/bench.cgf
rm -rf "$work/k/png1"
diff -r -q -x bench.cgf "$work/x" "$work/k/bmp" >/dev/null || { echo "kegkit's BMP files differ from kegsplit's" >&2; exit 1; }

echo "== the page (headless Chromium) against kegkit extract --png -j 1, same archive"
cmake --preset web >/dev/null && cmake --build --preset web >/dev/null
/usr/bin/python3 bench/web_bench.py "$out/web.txt" --site build-web/site --kegkit build/kegkit --archive "$work/x/bench.cgf"

echo "== kegkit repack of the same pictures from BMP and from PNG"
du -cb --apparent-size "$work/x"/*.bmp | tail -1 | awk '{print "picture_bytes", $1}' > "$out/repack.txt"
/usr/bin/time -v build/kegkit repack -o "$work/bmp.cgf" "$work/x" 2>"$out/repack-bmp.time"
/usr/bin/time -v build/kegkit repack -o "$work/png.cgf" "$work/k/png" 2>"$out/repack-png.time"
# Each archive gives its pictures back: kegsplit's files byte for byte, and
# kegkit's PNG files as they were (the same pixels encode to the same file).
mkdir "$work/rb" && (cd "$work/rb" && "$top/build/kegsplit-2.13" ../bmp.cgf)
diff -r -q -x bench.cgf "$work/x" "$work/rb" >/dev/null || { echo "the repack from BMP lost pictures" >&2; exit 1; }
build/kegkit extract -j 2 --png -o "$work/rp" "$work/png.cgf"
diff -r -q "$work/k/png" "$work/rp" >/dev/null || { echo "the repack from PNG lost pixels" >&2; exit 1; }
rm -rf "$work/rb" "$work/rp" "$work/bmp.cgf" "$work/png.cgf"
# ImageMagick's PNG files of kegsplit's pictures, for time and size.
start=$(python3 -c "import time; print(time.time())")
(cd "$work/x" && /usr/bin/mogrify -format png ./*.bmp)
end=$(python3 -c "import time; print(time.time())")
python3 -c "print(\"mogrify_seconds\", $end - $start)" > "$out/mogrify.txt"
du -sb --apparent-size "$work/k/png" | awk '{print "kegkit_png_bytes", $1}' >> "$out/mogrify.txt"
cat "$work/x"/*.png | wc -c | awk '{print "imagemagick_png_bytes", $1}' >> "$out/mogrify.txt"
rm -rf "$work/x" "$work/k"

echo "== palimp on $events events, and ImageMagick on the same merges"
build/bench/make_bench_inputs events "$work/ev" "$events"
python3 bench/time_runs.py "$out/palimp.runs" --cwd "$work/ev" --clean 'ev*.bmp' -- "$top/build/palimp" evinfo.bin
start=$(python3 -c "import time; print(time.time())")
while read -r event base delta x y; do
  # The base carries no offset here, so the delta goes at its own placement.
  (cd "$work/ev" && /usr/bin/convert "$base" "$delta" -geometry "+$x+$y" -composite "BMP3:im-$event.bmp")
done < "$work/ev.events"
end=$(python3 -c "import time; print(time.time())")
python3 -c "print(\"imagemagick_seconds\", $end - $start)" > "$out/imagemagick.txt"
python3 bench/time_runs.py "$out/kegkit-merge.runs" --cwd "$work/ev" --clean 'ev*.bmp' -- \
  "$top/build/kegkit" merge -j 2 evinfo.bin
python3 bench/time_runs.py "$out/kegkit-merge-png.runs" --cwd "$work/ev" --clean 'ev*.png' -- \
  "$top/build/kegkit" merge -j 2 --png evinfo.bin
start=$(python3 -c "import time; print(time.time())")
while read -r event base delta x y; do
  (cd "$work/ev" && /usr/bin/convert "$base" "$delta" -geometry "+$x+$y" -composite "im-$event.png")
done < "$work/ev.events"
end=$(python3 -c "import time; print(time.time())")
python3 -c "print(\"imagemagick_png_seconds\", $end - $start)" > "$out/imagemagick-png.txt"
rm -rf "$work/ev"

if [ -n "${KEGKIT_BASELINE_BUILD:-}" ]; then
  echo "== kegkit against the build in $KEGKIT_BASELINE_BUILD"
  build/bench/make_bench_inputs archive "$work/cmp/x" "$mib" >/dev/null
  build/bench/make_bench_inputs events "$work/cmp/ev" "$events" >/dev/null
  python3 bench/compare_builds.py "$KEGKIT_BASELINE_BUILD" build "$work/cmp" | tee "$out/compare-builds.txt"
  rm -rf "$work/cmp"
fi

echo "== the file search in folders of 100 and 20,000 files"
# Small pictures, so that a record's time is mostly its two searches; the
# best of three runs of 2000 records each.
build/bench/make_bench_inputs events "$work/s100" 2000 100 small
build/bench/make_bench_inputs events "$work/s20000" 2000 20000 small
for d in s100 s20000; do
  python3 - "$work/$d" "$PWD/build/palimp" >"$out/search-$d.time" <<'PY'
import os, subprocess, sys, time
folder, palimp = sys.argv[1], sys.argv[2]
best = float("inf")
for _ in range(3):
    start = time.perf_counter()
    subprocess.run([palimp, "evinfo.bin"], cwd=folder, check=True)
    best = min(best, time.perf_counter() - start)
print(best)
PY
done
rm -rf "$work"
echo "== PNG: the level and filter curves on the benchmark pictures, and every level on the wallpapers"
build/bench/png_bench --benchmark_filter='encode/' --benchmark_format=json --benchmark_out="$out/png.json" >/dev/null
[ "$quick" = --quick ] || bash bench/compare_wallpapers.sh | tee "$out/wallpapers.txt"
python3 bench/summarize.py "$out"
