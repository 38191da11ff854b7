#!/usr/bin/env bash
# Renders the manual pages from the programs themselves, with help2man, so
# that they say what --help says:
#   kegkit.1           from `kegkit --help`, with kegkit.h2m's sections
#   kegkit-COMMAND.1   from `kegkit COMMAND --help`, one for each command that
#                      `kegkit --help` lists, named by its line there
#   kegsplit-2.1x.1, palimp.1
#                      the classic programs have no --help: their text is
#                      kegsplit.txt and palimp.txt beside this script
# Each page is written gzipped (gzip -9n) into OUTPUT_DIR, and nothing else.
#   make_pages.sh SOURCE_DIR BIN_DIR OUTPUT_DIR [EMULATOR...]
# EMULATOR: the words that start a program of a cross build (qemu-i386).
# SOURCE_DATE_EPOCH, when set, dates the pages.
set -euo pipefail
source_dir=$1 bin_dir=$(cd "$2" && pwd) out=$3
shift 3
emulator=("$@")
pages="$source_dir/packaging/man"
kegkit=("${emulator[@]}" "$bin_dir/kegkit")
version=$("${kegkit[@]}" --version)
command -v help2man >/dev/null || { echo "make_pages.sh: help2man not found (install help2man)" >&2; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/pages"

# help2man reads `PROGRAM --help` and `PROGRAM --version` through the shell,
# so each page gets a small program of its own in $tmp, which prints the
# text help2man's parser expects: "Usage:" and "or:" for the synopsis,
# "Options:" for the options, the list of commands as tagged paragraphs.
normalise='
  s/^usage: /Usage: /
  s/^       \([a-z]\)/   or: \1/
  s/^options:$/Options:/
  /^commands:$/,/^$/{
    s/^commands:$/*Commands*/
    s/^      \([^ ]\)/                        \1/
  }'
make_program() {  # NAME TEXT-COMMAND...: $tmp/NAME prints TEXT-COMMAND's output for --help
  local name=$1
  shift
  {
    echo '#!/usr/bin/env bash'
    printf 'if [ "$1" = --version ]; then echo %q; exit 0; fi\n' "$version"
    printf '%q ' "$@"
    printf '| sed %q\n' "$normalise"
  } >"$tmp/$name"
  chmod +x "$tmp/$name"
}
render() {  # NAME [HELP2MAN OPTIONS...]
  local name=$1
  shift
  help2man --no-info --section=1 --source="$version" "$@" --output="$tmp/pages/$name.1" "$tmp/$name"
  gzip -9n "$tmp/pages/$name.1"
}

# The commands and their lines, from kegkit's own list.
help=$("${kegkit[@]}" --help)
commands=$(printf '%s\n' "$help" | sed -n '/^commands:$/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p')
[ -n "$commands" ] || { echo "make_pages.sh: no commands in kegkit --help" >&2; exit 1; }

see_also=""
for c in $commands; do see_also="$see_also.BR kegkit-$c (1),\n"; done
see_also="$see_also.BR kegsplit-2.13 (1),\n.BR palimp (1)"

make_program kegkit "${kegkit[@]}" --help
printf '[SEE ALSO]\n%b\n' "$see_also" >"$tmp/kegkit-see-also.h2m"
render kegkit --include="$pages/kegkit.h2m" --include="$tmp/kegkit-see-also.h2m"

for c in $commands; do
  line=$(printf '%s\n' "$help" | sed -n "/^  $c /{n;s/^ *//p;q}")
  make_program "kegkit-$c" "${kegkit[@]}" "$c" --help
  printf '[NAME]\nkegkit-%s \\- %s\n[SEE ALSO]\n.BR kegkit (1)\n' "$c" "$line" >"$tmp/kegkit-$c.h2m"
  render "kegkit-$c" --include="$tmp/kegkit-$c.h2m" --include="$pages/kegkit-command.h2m"
done

# The classic programs: the text in the tree, with each program's name; its
# first line is the page's NAME line.
classic() {  # PROGRAM VERSION TEXT
  local name
  name=$(sed -n '1s/^name: //p' "$tmp/$1.txt")
  sed -i 1d "$tmp/$1.txt"
  make_program "$1" cat "$tmp/$1.txt"
  render "$1" --version-string="$1 $2" --name="$name" --include="$pages/classic.h2m"
}
for p in kegsplit-2.11 kegsplit-2.12 kegsplit-2.13; do
  sed "s/@PROGRAM@/$p/g; s/@REVISION@/${p#kegsplit-}/g" "$pages/kegsplit.txt" >"$tmp/$p.txt"
  classic "$p" "${p#kegsplit-}"
done
cp "$pages/palimp.txt" "$tmp/palimp.txt"
classic palimp 1.0

mkdir -p "$out"
rm -f "$out"/*.1.gz
mv "$tmp"/pages/*.1.gz "$out/"
