#!/bin/sh
# Remakes materialmap.raw: a 256 x 256 raw material map of one byte per texel,
# a 4 x 4 patchwork of the BF1942 material codes 0 to 15 with wavy borders,
# so every built-in code shows up in a converted map.
set -eu
cd "$(dirname "$0")"
LC_ALL=C awk 'BEGIN {
    for (y = 0; y < 256; y++) {
        for (x = 0; x < 256; x++) {
            wx = x + int(8 * sin(y / 17.0)); wy = y + int(8 * cos(x / 23.0));
            if (wx < 0) wx = 0; if (wx > 255) wx = 255;
            if (wy < 0) wy = 0; if (wy > 255) wy = 255;
            printf "%c", int(wy / 64) * 4 + int(wx / 64);
        }
    }
}' > materialmap.raw
