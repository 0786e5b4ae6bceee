#!/usr/bin/env bash
# Remakes the pictures of the Windows guide with matconv's own --preview:
# the bundled sample map before conversion (an identity conversiontable.hex,
# so every code stays as it is) and after it (the built-in table), the
# preview of the example bitmap, a legend of the preview's colours, and the
# console of the run that converted the sample.  The pictures therefore show
# exactly what a user's preview shows.  ImageMagick (Debian: imagemagick)
# only turns the bitmaps into PNGs and draws the legend and the console.
#
#   docs/render-maps.sh [path to matconv or matconv.exe]   (default: build/matconv)
#
# Every run happens in a scratch folder, as a user's run would; a
# matconv.exe runs under wine.  The pictures go to docs/img.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
matconv=$(realpath "${1:-$root/build/matconv}")
out=$root/docs/img

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [[ $matconv == *.exe ]]; then
  prompt='C:\maps>'
  program=matconv.exe
  show_status='echo %ERRORLEVEL%'
else
  prompt='~/maps$ '
  program=matconv
  show_status='echo $?'
fi

# run <folder> <arguments...>: matconv in that folder, its console kept in
# console.txt there; a failed run stops the script with its text.
run() {
  local dir=$1 status=0
  shift
  if [[ $matconv == *.exe ]]; then
    # As the tests run wine (see cmake/mingw-w64.cmake): under a UTF-8
    # locale, so that names outside ASCII reach the program whole, and
    # without address-space randomisation, which now and then keeps a wine
    # process from starting at all.
    (cd "$dir" && WINEDEBUG=-all LC_ALL=C.UTF-8 setarch x86_64 -R wine "$matconv" "$@" > console.txt) ||
      status=$?
  else
    (cd "$dir" && "$matconv" "$@" > console.txt) || status=$?
  fi
  if [ "$status" -ne 0 ]; then
    cat "$dir/console.txt" >&2
    echo "matconv $* ended with status $status in $dir" >&2
    exit 1
  fi
}

mkdir "$work/before" "$work/after" "$work/run" "$work/bitmap"
for dir in before after run; do
  cp "$root/examples/materialmap.raw" "$work/$dir/"
done
cp "$root/examples/materialmap.bmp" "$work/bitmap/"

# The identity table: byte i is i, so the "before" picture shows the
# BF1942 codes themselves.
for i in $(seq 0 255); do
  printf "\\$(printf '%03o' "$i")"
done > "$work/before/conversiontable.hex"

run "$work/before" materialmap.raw before.mat --preview before.bmp
run "$work/after" materialmap.raw HeightmapPrimary.mat --preview after.bmp
run "$work/bitmap" materialmap.bmp HeightmapPrimary.mat --preview preview.bmp
# The guide's console picture is a plain first run, without options; it must
# write what the run with the preview wrote.
run "$work/run"
cmp "$work/run/HeightmapPrimary.mat" "$work/after/HeightmapPrimary.mat"

# PNGs without time stamps, so a remake of unchanged maps changes no bytes.
png_opts=(-strip -define png:exclude-chunks=date,time)

# png <bitmap> <scale> <png>: each pixel shown as a square of scale x scale.
png() {
  convert "$1" -sample "$2" "${png_opts[@]}" "PNG24:$3"
}
png "$work/before/before.bmp" 200% "$out/sample-before.png"
png "$work/after/after.bmp" 200% "$out/sample-after.png"
png "$work/bitmap/preview.bmp" 800% "$out/bitmap-preview.png"

# Legend: one labelled swatch per code 0 to 15, in the colours of the
# preview's own palette (blue, green, red, 0 from byte 54 on).
read -r -a palette <<< "$(od -An -v -tx1 -j54 -N64 "$work/after/after.bmp" | tr '\n' ' ')"
swatches=()
for code in $(seq 0 15); do
  colour=${palette[4 * code + 2]}${palette[4 * code + 1]}${palette[4 * code]}
  swatches+=(\( -size 48x32 "xc:#$colour" -size 48x20 -background white -fill black
             -gravity center "label:$code" -append \))
done
convert "${swatches[@]}" +append -bordercolor white -border 4 "${png_opts[@]}" "PNG24:$out/legend.png"

# The console: the command, the program's text as it printed it (line ends
# of either kind), and the exit status.  ImageMagick reads "%" and "\" in a
# label as escapes, so they are doubled.
shown=$(
  echo "${prompt}${program}"
  tr -d '\r' < "$work/run/console.txt"
  echo
  echo "${prompt}${show_status}"
  echo 0
)
shown=${shown//\\/\\\\}
shown=${shown//%/%%}
convert -background '#0c0c0c' -fill '#cccccc' -font DejaVu-Sans-Mono -pointsize 14 \
  "label:$shown" -bordercolor '#0c0c0c' -border 12 "${png_opts[@]}" \
  "PNG24:$out/console-run.png"

echo "wrote sample-before.png, sample-after.png, bitmap-preview.png, legend.png and console-run.png in $out"
