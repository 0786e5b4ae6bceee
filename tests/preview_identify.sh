#!/bin/sh
# ImageMagick reads a preview as matconv means it: an 8-bit palette bitmap,
# the destination's first row at the top, each code in its colour and the
# codes above 15 in magenta.  Skipped (status 77) where identify is missing.
#
#   sh preview_identify.sh <matconv>
set -eu
matconv=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
if ! command -v identify >/dev/null 2>&1; then
    echo "SKIPPED: ImageMagick's identify is not installed (Debian: imagemagick)"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

byte() { printf "\\$(printf '%03o' "$1")"; }
# A 5 x 5 raw map of the codes 0 to 24, row by row, and a table that keeps
# every code, so the destination holds the same.
i=0
while [ $i -lt 25 ]; do byte $i; i=$((i + 1)); done > map.raw
i=0
while [ $i -lt 256 ]; do byte $i; i=$((i + 1)); done > conversiontable.hex

"$matconv" map.raw map.mat --preview map.bmp > console.txt
grep -qx 'preview is map.bmp, 5 x 5' console.txt

got=$(identify -format '%m %w %h %z %r' map.bmp)
want='BMP3 5 5 8 PseudoClass sRGB '
[ "$got" = "$want" ] || { echo "identify says '$got', not '$want'"; exit 1; }

# Colour of code 0 to 15, then the warning colour for 16 to 24.
set -- 3B3B3B F3C300 875692 F38400 A1CAF1 BE0032 C2B280 848482 \
       008856 E68FAC 0067A5 F99379 604E97 F6A600 B3446C DCD300
format=''
want=''
y=0
while [ $y -lt 5 ]; do
    x=0
    while [ $x -lt 5 ]; do
        code=$((y * 5 + x))
        if [ $code -lt 16 ]; then
            eval "colour=\${$((code + 1))}"
        else
            colour=FF00FF
        fi
        format="$format%[hex:p{$x,$y}] "
        want="$want$colour "
        x=$((x + 1))
    done
    y=$((y + 1))
done
got=$(identify -format "$format" map.bmp)
[ "$got" = "$want" ] || { printf 'pixels, top row first:\n got  %s\n want %s\n' "$got" "$want"; exit 1; }
echo "identify reads the 5 x 5 preview as expected"
