#!/usr/bin/env bash
# Installs the Debian packages that are missing for the build, the tests and
# the demo (apt-get as root, sudo otherwise). Fast when nothing is missing.
#   ./setup.sh        what the README's two commands need (the manual pages
#                     and the package test included)
#   ./setup.sh --ci   also what CI runs: clang's sanitizers and fuzzers, the
#                     Windows cross-builds and wine (its 32-bit side too), the
#                     32-bit x86 build and qemu, lintian, the page's build
#                     (emscripten, npm) and its browser tests
set -euo pipefail
packages=(cmake g++ make libgtest-dev libbenchmark-dev libspng-dev libdeflate-dev zlib1g-dev imagemagick
          help2man man-db dpkg-dev)
as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}
i386_packages=()
if [ "${1:-}" = --ci ]; then
  packages+=(clang libclang-rt-14-dev googletest g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64
             libz-mingw-w64-dev g++-multilib qemu-user lib32z1-dev lintian
             emscripten chromium chromium-driver python3-selenium firefox-esr)
  # wine's 32-bit side, for the i686 Windows programs, from the i386 architecture.
  i386_packages=(wine32:i386 libc6:i386 libstdc++6:i386 zlib1g:i386)
  # npm may come with a nodejs of another origin than Debian's npm package.
  command -v npm >/dev/null || packages+=(npm)
fi
missing=() missing_i386=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
for p in "${i386_packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing_i386+=("$p")
done
[ ${#missing[@]} -eq 0 ] && [ ${#missing_i386[@]} -eq 0 ] && exit 0
echo "setup.sh: installing ${missing[*]} ${missing_i386[*]}"
added_i386=0
if [ ${#missing_i386[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  added_i386=1
fi

# A mirror caught in the middle of a sync fails an update or a download now
# and then: each step is tried three times, and an install is tried even when
# every update failed (the lists left from before may hold the packages).
retry() {
  local attempt
  for attempt in 1 2 3; do
    "$@" && return 0
    echo "setup.sh: '$*' failed (attempt $attempt of 3)" >&2
    [ "$attempt" = 3 ] || sleep $((attempt * 10))
  done
  return 1
}
apt_install() {
  retry as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" >/dev/null
}
retry as_root apt-get update -qq || echo "setup.sh: going on with the package lists there are" >&2
[ ${#missing[@]} -eq 0 ] || apt_install "${missing[@]}"
# Without wine32 only the i686 Windows tests cannot run (and they say so), so
# a mirror that cannot serve the i386 packages does not stop the rest; an
# architecture added for them alone is taken away again.
if [ ${#missing_i386[@]} -gt 0 ] && ! apt_install "${missing_i386[@]}"; then
  echo "setup.sh: the i386 packages (${missing_i386[*]}) could not be installed: the Windows i686 tests will be skipped" >&2
  [ "$added_i386" = 0 ] || as_root dpkg --remove-architecture i386 || true
fi
