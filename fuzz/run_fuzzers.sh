#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each one from its seed
# corpus for a bounded time. Any finding (crash, leak, assertion, timeout,
# out-of-memory) fails the run; its input is left in $OUT/<harness>-*.
#   fuzz/run_fuzzers.sh [seconds per harness, default 60] [harness ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(lzss_decode rle_decode archive_extract mask_compose bmp_read merge_record encode_round_trip archive_list
                                    kegkit_extract png_read)

# libspng compiled in, so that the fuzzer sees inside the PNG decoder too.
spng=$(bash cmake/fetch_source.sh libspng)/spng
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DKEGKIT_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKEGKIT_SPNG_SOURCE_DIR="$spng" >/dev/null
cmake --build build-fuzz -j2 --target $(printf '%s_fuzzer ' "${harnesses[@]}") >/dev/null

OUT=$(realpath -m "${OUT:-build-fuzz/findings}")
mkdir -p "$OUT"
status=0
for h in "${harnesses[@]}"; do
  work=$(mktemp -d)
  log="$OUT/$h.log"
  if ./build-fuzz/fuzz/${h}_fuzzer -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=2 \
       -print_final_stats=1 -artifact_prefix="$OUT/$h-" "$work" "$PWD/fuzz/corpus/$h" >"$log" 2>&1; then
    echo "$h: $(grep -E '^#[0-9]+.*DONE' "$log" | tail -1)"
  else
    echo "$h: FAILED, see $log"
    grep -E 'ERROR|SUMMARY|assertion' "$log" | head -5 || true
    status=1
  fi
  rm -rf "$work"
done
exit $status
