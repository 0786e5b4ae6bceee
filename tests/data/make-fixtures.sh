#!/bin/sh
# Remakes the ImageMagick-written bitmaps the end-to-end tests convert.  The
# tests read the committed files and need no ImageMagick; run this only to
# make them anew (the expected bytes in tests/e2e_bitmap.cpp must then be
# checked again).  Made with ImageMagick 6.9.11 (Debian 12).
#
#   im-indexed8.bmp  5 x 5, 8-bit indexed, 40-byte header: "BMP3:" asks for
#                    the Windows 3 header, -type palette for indexed colour
#                    (25 grays need more than 4 bits), -compress none keeps
#                    ImageMagick from run-length encoding it.  The 25 grays
#                    0..24 of the source become palette indices 0..24.
#   im-rgb24.bmp     3 x 3, 24-bit, 40-byte header: rows of 9 bytes padded to 12.
#   im-default.bmp   the same 3 x 3 image as ImageMagick writes a .bmp by
#                    default: a 124-byte header with colour-space data, which
#                    the converter refuses.
set -eu
cd "$(dirname "$0")"
CONVERT=${CONVERT:-convert}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

printf 'P2\n5 5\n24\n0 1 2 3 4\n5 6 7 8 9\n10 11 12 13 14\n15 16 17 18 19\n20 21 22 23 24\n' \
    >"$tmp/codes.pgm"
printf 'P3\n3 3\n255\n10 20 30  40 50 60  70 80 90\n100 110 120  130 140 150  160 170 180\n190 200 210  220 230 240  250 5 15\n' \
    >"$tmp/colours.ppm"

"$CONVERT" "$tmp/codes.pgm" -type palette -compress none BMP3:im-indexed8.bmp
"$CONVERT" "$tmp/colours.ppm" -compress none BMP3:im-rgb24.bmp
"$CONVERT" "$tmp/colours.ppm" im-default.bmp
