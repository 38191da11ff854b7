#!/usr/bin/env bash
# A second picture set for the PNG writer: photographs and illustrations at
# their own size (1920x1080 to 3840x2400) from Debian's ukui-wallpapers and
# desktop-base, taken from the packages with apt-get download and dpkg -x
# (nothing installed), as 24-bit BMP files. For each --png-level given, the
# time of `kegkit convert` on all of them and the total size of its PNG
# files, beside ImageMagick's `mogrify -format png` on the same BMP files.
#   bench/compare_wallpapers.sh [LEVEL...]    default: every level
# Uses build/kegkit; works in ${KEGKIT_BENCH_WORK:-build/bench-work}/wallpapers.
set -euo pipefail
cd "$(dirname "$0")/.."
levels=("$@")
[ ${#levels[@]} -gt 0 ] || levels=(0 1 2 3 4 5 6 7 8 9 10 11 12)
top=$PWD
work=${KEGKIT_BENCH_WORK:-$top/build/bench-work}/wallpapers
mkdir -p "$work/debs" "$work/bmp"
if [ ! -d "$work/root" ]; then
  (cd "$work/debs" && apt-get download -qq ukui-wallpapers desktop-base 2>/dev/null)
  for deb in "$work"/debs/*.deb; do dpkg -x "$deb" "$work/root"; done
fi
pictures=(
  usr/share/backgrounds/city.png
  usr/share/backgrounds/desert.png
  usr/share/backgrounds/firstgeneration.jpg
  usr/share/backgrounds/goldfish.png
  usr/share/backgrounds/string.jpg
  usr/share/backgrounds/calla.png
  usr/share/backgrounds/2004default.jpg
  usr/share/backgrounds/rhythm.jpg
  usr/share/backgrounds/the-mouse.jpg
  usr/share/desktop-base/homeworld-theme/grub/grub-16x9.png
  usr/share/plymouth/themes/softwaves/plymouth_background_waves.png
  usr/share/plymouth/themes/spacefun/background.png
)
for p in "${pictures[@]}"; do
  name=$(echo "$p" | tr / - | sed 's/\.[a-z]*$//')
  [ -f "$work/bmp/$name.bmp" ] || /usr/bin/convert "$work/root/$p" -alpha off -type TrueColor "BMP3:$work/bmp/$name.bmp"
done
seconds() { python3 -c 'import sys, time; print(time.time())'; }
rm -rf "$work/magick" && mkdir "$work/magick"
start=$(seconds)
(cd "$work/bmp" && /usr/bin/mogrify -path ../magick -format png ./*.bmp)
magick_seconds=$(python3 -c "print($(seconds) - $start)")
magick_bytes=$(cat "$work"/magick/*.png | wc -c)
echo "pictures $(ls "$work/bmp" | wc -l), $(cat "$work"/bmp/*.bmp | wc -c) bytes as BMP"
echo "mogrify -format png: $magick_bytes bytes in $magick_seconds s"
for level in "${levels[@]}"; do
  rm -rf "$work/kit" && mkdir "$work/kit"
  start=$(seconds)
  "$top/build/kegkit" convert --png-level "$level" -o "$work/kit" "$work"/bmp/*.bmp
  kit_seconds=$(python3 -c "print($(seconds) - $start)")
  kit_bytes=$(cat "$work"/kit/*.png | wc -c)
  python3 -c "print('level $level: %d bytes = %.4fx ImageMagick\'s; %.2f s = %.1fx mogrify\'s speed' % ($kit_bytes, $kit_bytes / $magick_bytes, $kit_seconds, $magick_seconds / $kit_seconds))"
done
