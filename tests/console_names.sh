#!/bin/sh
# What a console shows of names outside ASCII, checked under wine: in a
# terminal (a tmux pane) matconv.exe has a console of its own, as after a
# double-click on Windows, and writes its lines there with WriteConsoleW.
# The pane must show the names as typed: the path lines of a run, and the
# lines convert-here.bat prints around a map dropped from a Cyrillic folder.
# A name sent as UTF-8 bytes through the C runtime would show as mojibake
# instead.  Each run waits for Enter at its end, which the script sends once
# the last line is there.
#
#   console_names.sh <matconv.exe> <convert-here.bat> <command that runs a Windows program...>
#
# Says SKIPPED and ends with status 77 when tmux (Debian: tmux) is missing.
set -eu
exe=$(realpath "$1")
bat=$(realpath "$2")
shift 2

if ! command -v tmux >/dev/null 2>&1; then
  echo "SKIPPED: tmux not found (Debian: tmux); the console text of names outside ASCII is not checked"
  exit 77
fi

work=$(mktemp -d)
# A tmux server of this script's own, on its own socket.
socket=matconv-console-$$
t() { tmux -L "$socket" -f /dev/null "$@"; }
trap 't kill-server 2>/dev/null || true; rm -rf "$work"' EXIT

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# inpane <folder> <last line> <command...>: runs the command in a pane of
# 250 columns in that folder, waits (at most two minutes) for its last line,
# failing when the command ends before it, presses Enter, and keeps the
# pane's text in $work/pane and the exit status in $status.  The text
# includes the pane's history: the line tmux adds when the command has ended
# can push the first line out of the pane.
inpane() {
  dir=$1
  last=$2
  shift 2
  t -u new-session -d -x 250 -y 50 -c "$dir" "$@"
  t set-option -g remain-on-exit on
  i=0
  until t capture-pane -p -J -S - > "$work/pane" 2>/dev/null && grep -qF -- "$last" "$work/pane"; do
    i=$((i + 1))
    if [ "$i" -ge 240 ] || [ "$(t display-message -p '#{pane_dead}')" = 1 ]; then
      cat "$work/pane" >&2
      fail "no \"$last\" (status $(t display-message -p '#{pane_dead_status}'))"
    fi
    sleep 0.5
  done
  t send-keys Enter
  i=0
  until [ "$(t display-message -p '#{pane_dead}')" = 1 ]; do
    i=$((i + 1))
    [ "$i" -lt 240 ] || fail "still running after Enter"
    sleep 0.5
  done
  t capture-pane -p -J -S - > "$work/pane"
  status=$(t display-message -p '#{pane_dead_status}')
  # A command ended by a signal has no status.
  [ -n "$status" ] || status="none (signal $(t display-message -p '#{pane_dead_signal}'))"
  t kill-server
}

# shown <text>: the pane holds these lines, one after the other.
shown() {
  printf '%s\n' "$1" > "$work/want"
  tr -d '\r' < "$work/pane" | grep -v '^$' > "$work/got" || true
  # The lines wanted, as one block somewhere in the pane.
  n=$(wc -l < "$work/want")
  found=0
  total=$(wc -l < "$work/got")
  start=1
  while [ "$start" -le "$total" ]; do
    if sed -n "${start},$((start + n - 1))p" "$work/got" | cmp -s - "$work/want"; then
      found=1
      break
    fi
    start=$((start + 1))
  done
  if [ "$found" -ne 1 ]; then
    echo "--- wanted:" >&2
    cat "$work/want" >&2
    echo "--- the pane:" >&2
    cat "$work/pane" >&2
    fail "the console does not show the lines wanted"
  fi
}

# A run with a Cyrillic folder, a source with the euro sign and a CJK
# destination.  The pane keeps no trailing blanks, so the two lines of
# values end without theirs.
mkdir "$work/Сталинград dir"
printf '\000\001\002\003' > "$work/Сталинград dir/€map.raw"
inpane "$work" "Press Enter to close this window." \
  "$@" "$exe" 'Сталинград dir\€map.raw' 'Сталинград dir\地图 Œ.mat'
[ "$status" = 0 ] || { cat "$work/pane" >&2; fail "matconv.exe ended with status $status"; }
shown 'Сталинград dir\€map.raw is the inpath
Сталинград dir\地图 Œ.mat is the outpath
didn'"'"'t find conversiontable.hex,using built-in
found 1 file to open
filesize is 4
0 1 2 3 0 0 0 0 0 0 0 0
0 1 6 5 0 0 0 0 0 0 0 0 0 0 0 0 4 bytes written
Press Enter to close this window.'
[ "$(od -An -tx1 "$work/Сталинград dir/地图 Œ.mat" | tr -d ' \n')" = 00010605 ] ||
  fail "the destination does not hold the converted bytes"
echo "matconv.exe: the console shows the names as typed"

# convert-here.bat with a map dropped from a folder such as
# C:\Users\Дмитрий\карты мод: cmd's own lines name the map and its folder.
maps="$work/Users/Дмитрий/карты мод"
mkdir -p "$maps" "$work/release"
cp "$exe" "$work/release/matconv.exe"
cp "$bat" "$work/release/convert-here.bat"
printf '\000\001\002\003' > "$maps/Сталинград 1942.raw"
printf '\011\010\007\006' > "$maps/conversiontable.hex"
folder=$("$@" winepath -w "$maps" | tr -d '\r')
batch=$("$@" winepath -w "$work/release/convert-here.bat" | tr -d '\r')
map=$("$@" winepath -w "$maps/Сталинград 1942.raw" | tr -d '\r')
case "$folder" in *'Дмитрий\карты мод') ;; *) fail "winepath gives $folder" ;; esac
inpane "$work" "Press any key" "$@" cmd /c "$batch" "$map"
[ "$status" = 0 ] || { cat "$work/pane" >&2; fail "convert-here.bat ended with status $status"; }
shown "Converting \"Сталинград 1942.raw\" in \"$folder\""
shown 'Сталинград 1942.raw is the inpath
HeightmapPrimary.mat is the outpath
tablesize is 4'
shown "Done: HeightmapPrimary.mat was written in \"$folder\"."
[ "$(od -An -tx1 "$maps/HeightmapPrimary.mat" | tr -d ' \n')" = 09080706 ] ||
  fail "convert-here.bat did not convert the map with its folder's table"
echo "convert-here.bat: the console shows the names as typed"
