#!/bin/sh
# Writes materialmap.bmp, an example bitmap source for matconv: 16 x 16
# pixels, 8-bit indexed, Windows 3 header (40 bytes), 16 palette entries.
# Each pixel value is a BF1942 material code: 4 x 4 blocks of 4 x 4 pixels
# hold the codes 0 to 15, block row by block row from the bottom of the
# picture.  The palette only makes the blocks visible in an image viewer;
# matconv reads the pixel values as codes and never looks at the colours.
#
# Usage: sh make-bitmap.sh [output file]   (default: materialmap.bmp here)
set -eu
out=${1:-"$(dirname "$0")/materialmap.bmp"}

byte() { printf "\\$(printf '%03o' "$1")"; }
le16() { byte $(($1 & 255)); byte $(($1 >> 8 & 255)); }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16 & 65535)); }

width=16
colours=16
offbits=$((14 + 40 + 4 * colours))
size=$((offbits + width * width))

{
    # File header: signature, file size, two reserved words, pixel offset.
    printf 'BM'; le32 $size; le16 0; le16 0; le32 $offbits
    # Information header: size, width, height (positive: bottom row first),
    # planes, bits per pixel, no compression, image size, 72 dpi both ways,
    # colours used, colours important.
    le32 40; le32 $width; le32 $width; le16 1; le16 8; le32 0
    le32 $((width * width)); le32 2835; le32 2835; le32 $colours; le32 0
    # Palette: blue, green, red, 0 for each code.
    for bgr in '40 40 40' '60 140 60' '40 200 230' '30 90 140' '150 150 150' \
               '80 170 80' '200 120 40' '120 200 200' '60 60 160' '170 80 80' \
               '230 230 120' '90 60 40' '250 250 250' '140 40 140' '20 110 20' \
               '100 100 230'; do
        set -- $bgr
        byte "$1"; byte "$2"; byte "$3"; byte 0
    done
    # Pixels, rows of 16 bytes (no padding needed).
    y=0
    while [ $y -lt $width ]; do
        x=0
        while [ $x -lt $width ]; do
            byte $((y / 4 * 4 + x / 4))
            x=$((x + 1))
        done
        y=$((y + 1))
    done
} >"$out"
