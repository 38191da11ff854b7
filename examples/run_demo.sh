#!/usr/bin/env bash
# The demo: draw a few pictures, pack them into demo.cgf (revision 2.13)
# with kegkit create, extract it with kegkit into a fresh demo/ folder as PNG
# files with transparency, merge the events into PNG event pictures, and
# show what was made.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$top/build
src=$bin/demo-src
rm -rf "$src" demo
"$bin/examples/make_demo" "$src"
"$bin/kegkit" create -r 2.13 -o "$src/demo.cgf" "$src/demo.manifest"
"$bin/kegkit" events write -o "$src/evinfo.bin" "$src/events.txt"
echo "== kegkit list demo.cgf"
"$bin/kegkit" list "$src/demo.cgf"
echo "== kegkit extract --png -o demo demo.cgf"
"$bin/kegkit" extract --png -v -o demo "$src/demo.cgf"
ls -l demo
echo "== kegkit merge -i demo --png evinfo.bin"
"$bin/kegkit" merge -i demo --png "$src/evinfo.bin"
ls -l demo/ev*.png
echo "The event pictures are demo/ev01.png, demo/ev02.png and demo/ev03.png; the figures"
echo "with their transparency are demo/fc01+x220y80.png and the others."
