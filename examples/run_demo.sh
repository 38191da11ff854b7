#!/usr/bin/env bash
# The demo: draw a few pictures, pack them into demo.cgf (revision 2.13)
# with kegkit create, extract it with kegsplit-2.13 into a fresh demo/ folder,
# merge the events with palimp, and show what was made.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$top/build
src=$bin/demo-src
rm -rf "$src" demo
"$bin/examples/make_demo" "$src"
"$bin/kegkit" create -r 2.13 -o "$src/demo.cgf" "$src/demo.manifest"
"$bin/kegkit" events write -o "$src/evinfo.bin" "$src/events.txt"
echo "== demo.cgf"
"$bin/kegkit" list "$src/demo.cgf"
mkdir demo
cp "$src/demo.cgf" "$src/evinfo.bin" demo/
cd demo
"$bin/kegsplit-2.13" demo.cgf
echo "== extracted by kegsplit-2.13"
ls -l *.bmp
"$bin/palimp" evinfo.bin -cleanup
echo "== merged by palimp evinfo.bin -cleanup (the deltas it used are gone)"
ls -l *.bmp
echo "The event pictures are demo/ev01.bmp, demo/ev02.bmp and demo/ev03.bmp."
