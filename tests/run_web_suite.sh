#!/usr/bin/env bash
# The page in headless Chromium (tests/web_suite.py): builds the site with
# the web preset, and the native kegkit and the demo's picture generator in
# build/, then compares the page's files and lines with kegkit's, served
# from 127.0.0.1 and opened from file://, with nothing let out of the machine.
set -euo pipefail
cd "$(dirname "$0")/.."
export NODE_PATH=/usr/share/nodejs
cmake --preset web >/dev/null && cmake --build --preset web >/dev/null
[ -f build/CMakeCache.txt ] || cmake -S . -B build >/dev/null
cmake --build build -j2 --target kegkit make_demo >/dev/null
/usr/bin/python3 tests/web_suite.py --site build-web/site --build build
