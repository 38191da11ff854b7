#!/usr/bin/env bash
# Makes the benchmark picture set: Debian's wallpapers (lomiri-wallpapers),
# photographs and illustrations, as 24-bit BMPs at 1280x720 and 1920x1080,
# in ${KEGKIT_BENCH_DATA:-build/bench-data}.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${KEGKIT_BENCH_DATA:-build/bench-data}
src=/usr/share/backgrounds
if [ ! -f "$src/Bridge_by_Sander_Klootwijk.jpg" ] || [ ! -x /usr/bin/convert ]; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq lomiri-wallpapers imagemagick >/dev/null
fi
mkdir -p "$out"
pictures=(
  "photo-bridge:Bridge_by_Sander_Klootwijk.jpg"
  "photo-kleiber:Kleiber_by_Lukas_Baubkus.jpg"
  "photo-aitzgorri:aitzgorri_by_Aitzol_Berasategi.jpg"
  "photo-picos:picosdeeuropa_by_Aitzol_Berasategi.jpg"
  "photo-fig:Picture_0B_by_freespace.jpg"
  "illustration-fossa:Fossa_by_Jasper_Roks.jpg"
  "illustration-stripes:Painting-Colors_by__herobrine7gamer.jpg"
  "illustration-clock:greentock_by_Peter_Nerlich.jpg"
  "illustration-warty:warty-final-ubuntu.png"
)
for entry in "${pictures[@]}"; do
  name=${entry%%:*}
  file=${entry#*:}
  for size in 1280x720 1920x1080; do
    target="$out/$name-$size.bmp"
    [ -f "$target" ] && continue
    /usr/bin/convert "$src/$file" -resize "$size^" -gravity center -extent "$size" -alpha off \
      -type TrueColor -compress None "BMP3:$target"
  done
done
ls "$out" | wc -l | xargs echo "pictures in $out:"
