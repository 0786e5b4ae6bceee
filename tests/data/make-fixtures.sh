#!/bin/sh
# Remakes the bitmaps written by other programs that the end-to-end tests
# convert.  The tests read the committed files and need neither ImageMagick
# nor GIMP; run this only to make them anew (the expected bytes in
# tests/e2e_bitmap.cpp must then be checked again).  Made with ImageMagick
# 6.9.11 and GIMP 2.10.34 (Debian 12).
#
# Usage: sh make-fixtures.sh [imagemagick | gimp | all]     (default: all)
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
#   gimp-gray8.bmp   the 5 x 5 codes 0..24 as a GIMP grayscale image exported
#                    without RLE and without colour-space information:
#                    8-bit, 256 grays, pixel values = gray levels = codes.
#   gimp-rgb24.bmp   the 3 x 3 colours exported as "24 bits (R8 G8 B8)"
#                    without colour-space information.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

printf 'P2\n5 5\n24\n0 1 2 3 4\n5 6 7 8 9\n10 11 12 13 14\n15 16 17 18 19\n20 21 22 23 24\n' \
    >"$tmp/codes.pgm"
# GIMP takes the codes as 8-bit gray levels, so they are written with maxval 255.
printf 'P2\n5 5\n255\n0 1 2 3 4\n5 6 7 8 9\n10 11 12 13 14\n15 16 17 18 19\n20 21 22 23 24\n' \
    >"$tmp/codes255.pgm"
printf 'P3\n3 3\n255\n10 20 30  40 50 60  70 80 90\n100 110 120  130 140 150  160 170 180\n190 200 210  220 230 240  250 5 15\n' \
    >"$tmp/colours.ppm"

what=${1:-all}

if [ "$what" = all ] || [ "$what" = imagemagick ]; then
    CONVERT=${CONVERT:-convert}
    "$CONVERT" "$tmp/codes.pgm" -type palette -compress none BMP3:im-indexed8.bmp
    "$CONVERT" "$tmp/colours.ppm" -compress none BMP3:im-rgb24.bmp
    "$CONVERT" "$tmp/colours.ppm" im-default.bmp
fi

if [ "$what" = all ] || [ "$what" = gimp ]; then
    # file-bmp-save2 arguments after the file names: RLE off, colour-space
    # information left out (the export dialog's "Do not write color space
    # information"), RGB format 3 = R8 G8 B8.
    rm -f gimp-gray8.bmp gimp-rgb24.bmp
    "${GIMP:-gimp}" -i -n -d -f -b - >/dev/null 2>&1 <<EOF
(define (export-bmp in out)
  (let* ((image (car (gimp-file-load RUN-NONINTERACTIVE in in)))
         (drawable (car (gimp-image-get-active-layer image))))
    (file-bmp-save2 RUN-NONINTERACTIVE image drawable out out 0 1 3)))
(export-bmp "$tmp/codes255.pgm" "gimp-gray8.bmp")
(export-bmp "$tmp/colours.ppm" "gimp-rgb24.bmp")
(gimp-quit 0)
EOF
    test -s gimp-gray8.bmp && test -s gimp-rgb24.bmp
fi
