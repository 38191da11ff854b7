#!/usr/bin/env bash
# Cross-builds the Windows programs (x86-64 and i686) and runs, under wine,
# for each build: its library tests, then the end-to-end tests of the Linux
# build against its programs. The x86-64 build runs under wine64, the i686
# build under wine's 32-bit side (wine32, in a 32-bit prefix of its own).
# wine32 is a 32-bit x86 Linux program: where the kernel cannot run those at
# all ("Exec format error"), or where wine32 is not installed, the i686 half
# cannot run and says so, as the suite's last line; anything else that keeps
# it from running fails the suite.
#   KEGKIT_WINE, KEGKIT_WINE32: the wine loaders to use.
set -euo pipefail
cd "$(dirname "$0")/.."
WINE64=${KEGKIT_WINE:-/usr/lib/wine/wine64}
WINE32=${KEGKIT_WINE32:-/usr/lib/wine/wine}
export WINEDEBUG=-all

# The static programs compile libspng and libdeflate from Debian's source packages.
bash cmake/fetch_source.sh libspng >/dev/null && bash cmake/fetch_source.sh libdeflate >/dev/null
cmake --preset windows-x64 >/dev/null && cmake --build --preset windows-x64 >/dev/null
cmake --preset windows-x86 >/dev/null && cmake --build --preset windows-x86 >/dev/null
[ -x build/tests/unit_tests ] || { cmake --preset default >/dev/null && cmake --build --preset default >/dev/null; }

suite() {  # NAME BUILD-DIR WINE
  local name=$1 dir=$2 wine=$3
  "$(dirname "$wine")/wineserver" -p 2>/dev/null || true  # one server for all the runs
  echo "== Windows library tests ($name, wine)"
  # wine now and then fails to start a process at all; a run that fails is
  # tried again, so only a failure that repeats fails the suite.
  for attempt in 1 2 3; do
    (cd "$dir/tests" && "$wine" ./unit_tests.exe --gtest_brief=1) && break
    [ "$attempt" = 3 ] && exit 1
    echo "(trying again)"
  done
  echo "== end-to-end tests against the Windows programs ($name, wine)"
  KEGKIT_TARGET=windows KEGKIT_EXE_DIR="$PWD/$dir" KEGKIT_WINE="$wine" \
    build/tests/unit_tests --gtest_brief=1 --gtest_filter='*Kegsplit*:*Palimp*:*BadInput*:*Kegkit*'
}

suite x86-64 build-win64 "$WINE64"

if [ ! -e "$WINE32" ]; then
  # ./setup.sh --ci goes on without it where the mirror cannot serve the i386 packages.
  echo "== Windows i686 tests skipped: wine's 32-bit side is not installed (no $WINE32; ./setup.sh --ci installs wine32 where the i386 packages can be had)"
  exit 0
fi
if ! start=$("$WINE32" --version 2>&1); then
  if [[ $start == *"Exec format error"* ]]; then
    echo "== Windows i686 tests skipped: this machine's kernel cannot run 32-bit x86 programs, wine's 32-bit side among them ($WINE32: Exec format error)"
    exit 0
  fi
  echo "run_windows_suite.sh: $WINE32 does not start: $start" >&2
  exit 1
fi
export WINEPREFIX=${KEGKIT_WINEPREFIX32:-$HOME/.wine-kegkit-win32} WINEARCH=win32
[ -d "$WINEPREFIX" ] || "$WINE32" wineboot -i >/dev/null 2>&1 || true
suite i686 build-win32 "$WINE32"
