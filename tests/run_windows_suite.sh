#!/usr/bin/env bash
# Cross-builds the Windows programs (x86-64 and i686) and runs, under wine:
# the library tests of the x86-64 build, then the end-to-end tests of the
# Linux build against the x86-64 programs. The i686 build is compiled and
# linked only: this kernel does not run 32-bit programs, and wine64 has no
# 32-bit side (the 32-bit Linux build runs under qemu: run_i686_suite.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
WINE=${KEGKIT_WINE:-/usr/lib/wine/wine64}
export WINEDEBUG=-all KEGKIT_WINE="$WINE"

# The static programs compile libspng and libdeflate from Debian's source packages.
bash cmake/fetch_source.sh libspng >/dev/null && bash cmake/fetch_source.sh libdeflate >/dev/null
cmake --preset windows-x64 >/dev/null && cmake --build --preset windows-x64 >/dev/null
cmake --preset windows-x86 >/dev/null && cmake --build --preset windows-x86 >/dev/null
ls build-win32/*.exe build-win32/tests/unit_tests.exe >/dev/null
[ -x build/tests/unit_tests ] || { cmake --preset default >/dev/null && cmake --build --preset default >/dev/null; }

"$(dirname "$WINE")/wineserver" -p 2>/dev/null || true  # one server for all the runs
echo "== Windows library tests (x86-64, wine)"
# wine now and then fails to start a process at all; a run that fails is
# tried again, so only a failure that repeats fails the suite.
for attempt in 1 2 3; do
  (cd build-win64/tests && "$WINE" ./unit_tests.exe --gtest_brief=1) && break
  [ "$attempt" = 3 ] && exit 1
  echo "(trying again)"
done
echo "== end-to-end tests against the Windows programs (x86-64, wine)"
KEGKIT_TARGET=windows KEGKIT_EXE_DIR="$PWD/build-win64" \
  build/tests/unit_tests --gtest_brief=1 --gtest_filter='*Kegsplit*:*Palimp*:*BadInput*:*Kegkit*'
