#!/usr/bin/env bash
# Remakes the pictures of the Windows guide: the bundled sample map before
# and after conversion, one fixed colour per material code, a legend of those
# colours, and the console of the run that converted it.  Needs ImageMagick
# (Debian: imagemagick) and a built matconv.
#
#   docs/render-maps.sh [path to matconv or matconv.exe]   (default: build/matconv)
#
# The map is converted with the built-in table, in a scratch folder, exactly
# as a user's run would do it; a matconv.exe runs under wine.  The pictures
# go to docs/img.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
matconv=$(realpath "${1:-$root/build/matconv}")
sample=$root/examples/materialmap.raw
out=$root/docs/img

# Colour of each material code 0 to 15 (a set of easily told apart colours);
# any other code shows as magenta, which a BF1942 map never holds.
colours=(
  3b3b3b f3c300 875692 f38400 a1caf1 be0032 c2b280 848482
  008856 e68fac 0067a5 f99379 604e97 f6a600 b3446c dcd300
)
other=ff00ff

size=$(stat -c %s "$sample")
side=$(awk -v n="$size" 'BEGIN { s = int(sqrt(n) + 0.5); print (s * s == n) ? s : 0 }')
[ "$side" -gt 0 ] || { echo "$sample: $size bytes is not a square map" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The colour lookup: a 256 x 1 image whose pixel i is the colour of code i.
{
  echo "P3 256 1 255"
  for code in $(seq 0 255); do
    hex=${colours[$code]:-$other}
    printf '%d %d %d\n' "0x${hex:0:2}" "0x${hex:2:2}" "0x${hex:4:2}"
  done
} > "$work/palette.ppm"

# PNGs without time stamps, so a remake of unchanged maps changes no bytes.
png_opts=(-strip -define png:exclude-chunks=date,time)

# render <raw map> <png>: every byte becomes its code's colour, each texel
# shown as 2 x 2 pixels.
render() {
  convert -size "${side}x${side}" -depth 8 "gray:$1" "$work/palette.ppm" \
    -interpolate Integer -clut -sample 200% "${png_opts[@]}" "PNG24:$2"
}

cp "$sample" "$work/materialmap.raw"
status=0
if [[ $matconv == *.exe ]]; then
  (cd "$work" && WINEDEBUG=-all wine "$matconv" > console.txt) || status=$?
  prompt='C:\maps>'
  program=matconv.exe
  show_status='echo %ERRORLEVEL%'
else
  (cd "$work" && "$matconv" > console.txt) || status=$?
  prompt='~/maps$ '
  program=matconv
  show_status='echo $?'
fi
if [ "$status" -ne 0 ]; then
  cat "$work/console.txt" >&2
  echo "the conversion ended with status $status" >&2
  exit 1
fi
render "$work/materialmap.raw" "$out/sample-before.png"
render "$work/HeightmapPrimary.mat" "$out/sample-after.png"

# Legend: one labelled swatch per code 0 to 15.
swatches=()
for code in $(seq 0 15); do
  swatches+=(\( -size 48x32 "xc:#${colours[$code]}" -size 48x20 -background white -fill black
             -gravity center "label:$code" -append \))
done
convert "${swatches[@]}" +append -bordercolor white -border 4 "${png_opts[@]}" "PNG24:$out/legend.png"

# The console: the command, the program's text as it printed it (line ends
# of either kind), and the exit status.  ImageMagick reads "%" and "\" in a
# label as escapes, so they are doubled.
shown=$(
  echo "${prompt}${program}"
  tr -d '\r' < "$work/console.txt"
  echo
  echo "${prompt}${show_status}"
  echo "$status"
)
shown=${shown//\\/\\\\}
shown=${shown//%/%%}
convert -background '#0c0c0c' -fill '#cccccc' -font DejaVu-Sans-Mono -pointsize 14 \
  "label:$shown" -bordercolor '#0c0c0c' -border 12 "${png_opts[@]}" \
  "PNG24:$out/console-run.png"

echo "wrote sample-before.png, sample-after.png, legend.png and console-run.png in $out"
