#!/usr/bin/env bash
# The Debian package as a newcomer gets it: cpack builds it from BUILD_DIR,
# dpkg -x unpacks it into a scratch root, and there
# - the programs in usr/bin run: --version, an archive packed, listed and
#   extracted, an event table written, printed and merged;
# - every page renders with man -l, and kegkit's pages follow its --help:
#   one page for each command that kegkit --help lists, naming every option
#   of that command's --help;
# - bash loads the completion, which completes commands, option values and
#   archives by their extension;
# - the package has its dependencies, and lintian (where installed) finds
#   no error in it.
#   package_test.sh BUILD_DIR [EMULATOR...]
# EMULATOR: the words that start a program of a cross build (qemu-i386).
set -euo pipefail
build=$(cd "$1" && pwd)
shift
emulator=("$@")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() {
  echo "package_test: $*" >&2
  exit 1
}
expect() {  # WHAT ACTUAL EXPECTED
  [ "$2" = "$3" ] || fail "$1: got \"$2\", expected \"$3\""
}

cpack -G DEB -B "$tmp/cpack" --config "$build/CPackConfig.cmake" >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log" >&2; fail "cpack failed"; }
deb=$(echo "$tmp"/cpack/*.deb)
[ -f "$deb" ] || fail "cpack made no single .deb: $deb"
expect "package file" "${deb##*/}" "kegkit_$(dpkg-deb -f "$deb" Version)_$(dpkg-deb -f "$deb" Architecture).deb"
depends=$(dpkg-deb -f "$deb" Depends)
arch=$(dpkg-deb -f "$deb" Architecture)
# dpkg-shlibdeps names the packages of the libraries it finds: for another
# architecture's package, those of that architecture must be installed, or it
# finds the 32-bit copies of a 64-bit system instead.
installed() { [ "$(dpkg-query -W -f '${db:Status-Abbrev}' "$1" 2>/dev/null)" = "ii " ]; }
skipped=
if [ "$arch" != "$(dpkg --print-architecture)" ] && ! { installed "libstdc++6:$arch" && installed "zlib1g:$arch"; }; then
  skipped="libstdc++6:$arch and zlib1g:$arch are not installed"
fi
if [ -z "$skipped" ]; then
  [[ $depends == *libc6* && $depends == *libstdc++6* ]] || fail "dependencies not worked out: \"$depends\""
  # The architecture's own libraries, not the 32-bit copies of a 64-bit system.
  [[ $depends != *lib32* && $depends != *-i386* ]] || fail "dependencies of another architecture: \"$depends\""
fi

root=$tmp/root
dpkg -x "$deb" "$root"
for f in usr/bin/kegkit usr/bin/kegsplit-2.11 usr/bin/kegsplit-2.12 usr/bin/kegsplit-2.13 usr/bin/palimp; do
  [ -x "$root/$f" ] || fail "no program $f"
done
for f in usr/share/bash-completion/completions/kegkit usr/share/doc/kegkit/copyright \
  usr/share/doc/kegkit/changelog.gz usr/share/doc/kegkit/README.md; do
  [ -f "$root/$f" ] || fail "no $f"
done

# The installed programs, started from anywhere (through the emulator of a
# cross build: bin/ holds a starter for each).
bin=$root/usr/bin
if [ ${#emulator[@]} -gt 0 ]; then
  bin=$tmp/bin
  mkdir "$bin"
  for p in "$root"/usr/bin/*; do
    printf '#!/bin/sh\nexec %s %q "$@"\n' "$(printf '%q ' "${emulator[@]}")" "$p" >"$bin/${p##*/}"
    chmod +x "$bin/${p##*/}"
  done
fi
export PATH="$bin:$PATH"
mkdir "$tmp/work"
cd "$tmp/work"

version=$(kegkit --version)
[[ $version =~ ^kegkit\ [0-9]+\.[0-9]+(\ \(commit\ [0-9a-f]{12}\))?$ ]] || fail "kegkit --version: $version"
# A 2x1 24-bit BMP file, packed, listed, split by kegsplit and extracted by kegkit.
printf 'BM\076\0\0\0\0\0\0\0\066\0\0\0\050\0\0\0\2\0\0\0\1\0\0\0\1\0\030\0\0\0\0\0\010\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\1\2\3\4\5\6\0\0' >bg01.bmp
echo 'picture bg01 bg01.bmp' >pictures.manifest
kegkit create -r 2.13 -o pictures.cgf pictures.manifest
kegkit list pictures.cgf | grep -q '^fits: kegsplit-2.13$' || fail "kegkit list: $(kegkit list pictures.cgf)"
mkdir split
(cd split && kegsplit-2.13 ../pictures.cgf)
cmp -s bg01.bmp split/bg01.bmp || fail "kegsplit-2.13 did not give back the picture"
kegkit extract --png pictures.cgf
[ -f pictures/bg01.png ] || fail "kegkit extract --png wrote no pictures/bg01.png"
echo 'ev01 bg01 fc01' >events.txt
kegkit events write -o evinfo.bin events.txt
expect "kegkit events print" "$(kegkit events print evinfo.bin)" "ev01 bg01 fc01"
expect "palimp" "$(palimp evinfo.bin 2>&1)" "ev01: could not find bg01+fc01 (skipped)"
status=0
kegsplit-2.11 2>/dev/null || status=$?
expect "kegsplit-2.11 without an argument" "$status" 255

# The pages: all render; kegkit's follow its --help.
man1=$root/usr/share/man/man1
render() { LC_ALL=C MANWIDTH=200 man -l "$man1/$1.1.gz" 2>&1; }
commands=$(kegkit --help | sed -n '/^commands:$/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p')
[ -n "$commands" ] || fail "no commands in kegkit --help"
pages=(kegkit kegsplit-2.11 kegsplit-2.12 kegsplit-2.13 palimp)
for c in $commands; do pages+=("kegkit-$c"); done
expect "pages" "$(cd "$man1" && ls | sort | tr '\n' ' ')" "$(printf '%s.1.gz\n' "${pages[@]}" | sort | tr '\n' ' ')"
declare -A text
for p in "${pages[@]}"; do
  text[$p]=$(render "$p")
  [[ ${text[$p]} == *NAME* && ${text[$p]} == *SYNOPSIS* && ${text[$p]} == *DESCRIPTION* ]] ||
    fail "man -l $p.1.gz: ${text[$p]}"
done
for c in "" $commands; do
  page=kegkit${c:+-$c}
  for option in $(kegkit $c --help | grep -oE -- '(^|[][ ,(])--?[a-zA-Z][a-zA-Z-]*' | tr -d '][ ,('); do
    [[ ${text[$page]} == *"$option"* ]] || fail "$page.1 does not name $option of kegkit $c --help"
  done
done

# The completion, in a bash of its own, in a folder with an archive, a text
# file and a folder.
mkdir -p complete/sub
touch complete/game.cgf complete/notes.txt
completion=$(cd complete && bash --norc --noprofile -c '
  source "$1"
  complete -p kegkit
  words() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMPREPLY=(); _kegkit kegkit; echo "${COMPREPLY[*]}"; }
  words kegkit ex
  words kegkit extract -r ""
  words kegkit convert --to ""
  words kegkit list ""' _ "$root/usr/share/bash-completion/completions/kegkit")
expect "completion" "$completion" "complete -F _kegkit kegkit
extract
2.11 2.12 2.13
png bmp
game.cgf sub"

if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" 2>/dev/null || fail "lintian finds errors in ${deb##*/}"
fi
echo "package_test: ${deb##*/} installs and runs"
if [ -n "$skipped" ]; then
  # Everything else passed; the dependencies could not be checked here.
  echo "package_test: dependencies not checked ($skipped): skipped"
  exit 77
fi
