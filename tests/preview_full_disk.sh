#!/bin/sh
# A preview on a file system that is really full: a small tmpfs, mounted in
# a mount namespace of this test's own and filled up, holds an old preview.
# The run must end with status 8 and "Error writing to preview file.", keep
# the old preview and the old destination byte for byte, and leave no
# temporary.  Skipped (status 77) where no such namespace can be made.
#
#   sh preview_full_disk.sh <matconv>
set -eu
matconv=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")

if [ "${PREVIEW_FULL_DISK_INSIDE:-}" != 1 ]; then
    # Root gets a plain mount namespace; anyone else needs a user namespace.
    for how in "-m" "-r -m"; do
        # shellcheck disable=SC2086
        if unshare $how true 2>/dev/null; then
            # shellcheck disable=SC2086
            PREVIEW_FULL_DISK_INSIDE=1 exec unshare $how --propagation private sh "$0" "$@"
        fi
    done
    echo "SKIPPED: no mount namespace can be made here (unshare -m, unshare -r -m)"
    exit 77
fi

work=$(mktemp -d)
trap 'umount "$work/full" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir "$work/full" "$work/maps"
if ! mount -t tmpfs -o size=64k tmpfs "$work/full"; then
    echo "SKIPPED: no tmpfs can be mounted in the namespace"
    exit 77
fi

printf 'BMold' > "$work/full/pic.bmp"
# Fill what is left; the last write fails when the disk is full.
dd if=/dev/zero of="$work/full/fill" bs=4096 2>/dev/null || true
cd "$work/maps"
head -c 4096 /dev/zero | tr '\000' '\003' > materialmap.raw
printf 'old destination' > HeightmapPrimary.mat

status=0
"$matconv" --preview "$work/full/pic.bmp" > console.txt || status=$?

expected=$(printf '%s\n' \
    "materialmap.raw is the inpath" \
    "HeightmapPrimary.mat is the outpath" \
    "didn't find conversiontable.hex,using built-in" \
    "found 1 file to open" \
    "filesize is 4096" \
    "3 3 3 3 3 3 3 3 3 3 3 3 " \
    "preview is $work/full/pic.bmp, 64 x 64" \
    "Error writing to preview file." \
    "")
fail=0
[ "$status" -eq 8 ] || { echo "status $status, not 8"; fail=1; }
[ "$(cat console.txt)" = "$expected" ] || { echo "console:"; cat console.txt; fail=1; }
[ "$(cat "$work/full/pic.bmp")" = 'BMold' ] || { echo "the old preview changed"; fail=1; }
[ "$(cat HeightmapPrimary.mat)" = 'old destination' ] || { echo "the old destination changed"; fail=1; }
left=$(ls -A "$work/full" | tr '\n' ' ')
[ "$left" = 'fill pic.bmp ' ] || { echo "left on the full disk: $left"; fail=1; }
left=$(ls -A . | tr '\n' ' ')
[ "$left" = 'HeightmapPrimary.mat console.txt materialmap.raw ' ] || { echo "left beside the map: $left"; fail=1; }
[ $fail -eq 0 ] && echo "a full disk keeps the old preview and the old destination"
exit $fail
