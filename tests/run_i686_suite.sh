#!/usr/bin/env bash
# Builds everything for 32-bit x86 Linux (g++-multilib, preset linux-i686)
# and runs the whole ctest suite there. Every 32-bit program, the tests and
# the programs they start, runs through qemu-i386 (Debian's qemu-user): this
# kernel need not run 32-bit programs itself.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v qemu-i386 >/dev/null || { echo "run_i686_suite.sh: qemu-i386 not found (install qemu-user)" >&2; exit 1; }

bash cmake/fetch_source.sh libspng >/dev/null  # libspng and libdeflate are compiled into the 32-bit programs
bash cmake/fetch_source.sh libdeflate >/dev/null
cmake --preset linux-i686 >/dev/null && cmake --build --preset linux-i686 >/dev/null
echo "== i686 tests (qemu-i386)"
ctest --test-dir build-i686 --output-on-failure -j2
