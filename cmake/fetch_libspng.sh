#!/usr/bin/env bash
# Fetches Debian's source package of libspng into build-deps/ (or
# $KEGKIT_DEPS_DIR) for the builds that compile spng.c into their static
# programs: the Windows cross-builds and 32-bit Linux. Prints the folder that
# holds spng.c. Fast when it is already there.
#   cmake/fetch_libspng.sh            # then: cmake -DKEGKIT_SPNG_SOURCE_DIR=<printed folder>
set -euo pipefail
cd "$(dirname "$0")/.."
deps=$(realpath -m "${KEGKIT_DEPS_DIR:-build-deps}")

found() {
  local c
  c=$(ls -d "$deps"/libspng-*/spng/spng.c 2>/dev/null | sort | tail -1) || true
  [ -n "$c" ] && dirname "$c"
}
if dir=$(found); then
  echo "$dir"
  exit 0
fi

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# apt-get source needs a deb-src entry; add one mirroring the binary entries.
if ! grep -rqsE '^[[:space:]]*(Types:.*deb-src|deb-src[[:space:]])' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  binary=/etc/apt/sources.list.d/debian.sources
  [ -f "$binary" ] || { echo "fetch_libspng: no $binary to derive a deb-src entry from" >&2; exit 1; }
  sed 's/^Types:.*/Types: deb-src/' "$binary" | as_root tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
  as_root apt-get update -qq
elif ! apt-cache showsrc libspng >/dev/null 2>&1 || [ -z "$(apt-cache showsrc libspng 2>/dev/null)" ]; then
  as_root apt-get update -qq
fi
command -v dpkg-source >/dev/null || as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq dpkg-dev >/dev/null

mkdir -p "$deps"
tmp=$(mktemp -d "$deps/.fetch-XXXXXX")
chmod 755 "$tmp"  # apt hands the download to its own user
trap 'rm -rf "$tmp"' EXIT
(cd "$tmp" && apt-get source -qq libspng >/dev/null)
src=$(ls -d "$tmp"/libspng-*/ | head -1)
[ -f "$src/spng/spng.c" ] || { echo "fetch_libspng: no spng/spng.c in the source package" >&2; exit 1; }
mv "$src" "$deps/"
found
