#!/usr/bin/env bash
# Fetches a Debian source package into build-deps/ (or $KEGKIT_DEPS_DIR) for
# the builds that compile a library into their static programs: the Windows
# cross-builds, 32-bit Linux, the fuzzers, the browser. Prints the folder of
# the unpacked source. Fast when it is already there.
#   cmake/fetch_source.sh libspng      # the folder holding spng/spng.c
#   cmake/fetch_source.sh libdeflate   # the folder holding libdeflate.h
#   cmake/fetch_source.sh zlib         # the folder holding zlib.h
# CMake's configure step runs it by itself where a build needs a source
# (cmake/fetch_source.cmake).
set -euo pipefail
package=${1:?usage: fetch_source.sh PACKAGE}
case "$package" in
  libspng) marker=spng/spng.c ;;
  libdeflate) marker=libdeflate.h ;;
  zlib) marker=zlib.h ;;
  *) echo "fetch_source: unknown package $package" >&2; exit 2 ;;
esac
cd "$(dirname "$0")/.."
deps=$(realpath -m "${KEGKIT_DEPS_DIR:-build-deps}")

found() {
  local c
  c=$(ls -d "$deps/$package"-*/"$marker" 2>/dev/null | sort -V | tail -1) || true
  [ -n "$c" ] && echo "${c%/"$marker"}"
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
  [ -f "$binary" ] || { echo "fetch_source: no $binary to derive a deb-src entry from" >&2; exit 1; }
  sed 's/^Types:.*/Types: deb-src/' "$binary" | as_root tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
  as_root apt-get update -qq
elif [ -z "$(apt-cache showsrc "$package" 2>/dev/null)" ]; then
  as_root apt-get update -qq
fi
command -v dpkg-source >/dev/null || as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq dpkg-dev >/dev/null

mkdir -p "$deps"
tmp=$(mktemp -d "$deps/.fetch-XXXXXX")
chmod 755 "$tmp"  # apt hands the download to its own user
trap 'rm -rf "$tmp"' EXIT
# The newest version first; a version the mirror no longer holds (a security
# update whose files moved) gives way to the next.
for version in $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -Vru); do
  (cd "$tmp" && apt-get source -qq "$package=$version" >/dev/null 2>&1) && break
  rm -rf "${tmp:?}"/*
done
src=$(ls -d "$tmp/$package"-*/ 2>/dev/null | head -1) || true
[ -n "$src" ] || { echo "fetch_source: apt-get source $package failed" >&2; exit 1; }
[ -f "$src/$marker" ] || { echo "fetch_source: no $marker in the source package $package" >&2; exit 1; }
mv "$src" "$deps/"
found
