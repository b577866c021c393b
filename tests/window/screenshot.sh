#!/usr/bin/env bash
# Starts the built program on a private Xvfb display, waits for its window, and keeps a
# screenshot of it: screenshot.sh <program> <artifact folder>
set -euo pipefail
source "$(dirname "$0")/../support/xvfb.sh"
program="$1"
artifacts="$2"
mkdir -p "$artifacts"
work=$(mktemp -d)
trap 'kill ${app:-} ${cover:-} ${xvfb:-} 2>/dev/null || true; rm -rf "$work"' EXIT
cp "$program" "$work/"
start_xvfb 90 140
(cd "$work" && DISPLAY="$display" XDG_RUNTIME_DIR="$work" ./"$(basename "$program")" >"$work/out.txt" 2>&1) &
app=$!
wait_window 'Брек GSM' 100 || { echo "window did not appear"; cat "$work/out.txt"; exit 1; }
sleep 0.5
DISPLAY="$display" import -window "$id" "$artifacts/waiting-window.png"
title=$(DISPLAY="$display" xdotool getwindowname "$id")
size=$(identify -format '%wx%h' "$artifacts/waiting-window.png")
panel=$(convert "$artifacts/waiting-window.png" -format '%[hex:p{5,440}]' info:)
echo "title: $title; size: $size; panel: $panel"
[ "$title" = "Брек GSM: демонстрация работы. Версия 1.21.50" ] || { echo "unexpected title"; exit 1; }
[ "$size" = "640x493" ] || { echo "unexpected size"; exit 1; }
[ "${panel:0:6}" = "F3F5F6" ] || { echo "unexpected panel colour"; exit 1; }
[ -s "$work/ErrorLog.log" ] && { echo "error log not empty:"; cat "$work/ErrorLog.log"; exit 1; }
echo "screenshot: $artifacts/waiting-window.png"

# Started again while it runs (same user, same runtime folder): the running window comes in
# front of what covered it and the new start ends without a window of its own.
start() { (cd "$work" && DISPLAY="$display" XDG_RUNTIME_DIR="$work" exec "$@" ./"$(basename "$program")"); }
on_top() {  # xwininfo lists the root's children topmost first
  DISPLAY="$display" xwininfo -root -children | grep -oE '^ +0x[0-9a-f]+ "' | grep -oE '0x[0-9a-f]+' |
    grep -m1 -xE "$(printf '0x%x' "$id")|$(printf '0x%x' "$cover_id")"
}
DISPLAY="$display" xmessage -geometry 1024x768+0+0 covering >/dev/null 2>&1 &
cover=$!
for _ in $(seq 100); do
  cover_id=$(DISPLAY="$display" xdotool search --onlyvisible --class Xmessage 2>/dev/null | head -n1 || true)
  [ -n "$cover_id" ] && break; sleep 0.1
done
[ -n "$cover_id" ] && [ "$(on_top)" = "$(printf '0x%x' "$cover_id")" ] || { echo "the window was not covered"; exit 1; }
second=0; start timeout 30 >"$work/second.txt" 2>&1 || second=$?
windows=$(DISPLAY="$display" xdotool search --onlyvisible --name 'Брек GSM' | wc -l)
echo "second start: exit $second, $windows window(s), on top: $(on_top) (program $(printf '0x%x' "$id"))"
[ "$second" = 0 ] && [ "$windows" = 1 ] || { echo "a second start made a window or failed"; cat "$work/second.txt"; exit 1; }
[ "$(on_top)" = "$(printf '0x%x' "$id")" ] || { echo "the running window did not come to the front"; exit 1; }

# A run that crashed leaves its lock file behind: the next start runs all the same.
first=$(DISPLAY="$display" xdotool getwindowpid "$id")
kill -KILL "$first"
for _ in $(seq 100); do kill -0 "$first" 2>/dev/null || break; sleep 0.1; done
[ -e "$work/brekgsmdemo-$(id -u).lock" ] || { echo "no lock file in the runtime folder"; exit 1; }
shown() { for _ in $(seq 100); do
  DISPLAY="$display" xdotool search --all --onlyvisible --pid "$1" --name 'Брек GSM' >/dev/null 2>&1 && return; sleep 0.1
done; return 1; }
in_back() {  # in_back <output> [env...]: a start in the background, its pid in app
  (cd "$work" && exec env DISPLAY="$display" XDG_RUNTIME_DIR="$work" "${@:2}" ./"$(basename "$program")") >"$1" 2>&1 &
  app=$!
}
in_back "$work/third.txt"
shown "$app" || { echo "a start after a crash did not show its window"; cat "$work/third.txt"; exit 1; }
echo "after a crash: the next start shows its window"

# One that does not answer (stopped, as a hung one) is taken over; an empty lock file (a run
# killed between making and writing it) holds nobody back.
kill -STOP "$app"; hung=$app
in_back "$work/fourth.txt"
shown "$app" || { echo "a start beside a copy that does not answer showed no window"; exit 1; }
kill -KILL "$hung" "$app"; : >"$work/brekgsmdemo-$(id -u).lock"
in_back "$work/fifth.txt"
shown "$app" || { echo "an empty lock file kept the window away"; exit 1; }
kill "$app"
# A runtime folder that cannot hold the lock: the temporary folder guards instead.
mkdir "$work/tmp"
in_back "$work/sixth.txt" XDG_RUNTIME_DIR=/proc TMPDIR="$work/tmp"
shown "$app" || { echo "no window with an unusable runtime folder"; exit 1; }
second=0; start env XDG_RUNTIME_DIR=/proc TMPDIR="$work/tmp" timeout 30 >/dev/null 2>&1 || second=$?
windows=$(DISPLAY="$display" xdotool search --onlyvisible --name 'Брек GSM' | wc -l)
[ "$second" = 0 ] && [ "$windows" = 1 ] || { echo "unusable runtime folder: exit $second, $windows window(s)"; exit 1; }
echo "taken over from a copy that did not answer; an empty lock and an unusable runtime folder: one window each"
# A session bus that takes the connection and never answers holds no window back.
kill "$cover" 2>/dev/null || true
python3 -c 'import socket, sys, time; s = socket.socket(socket.AF_UNIX); s.bind(sys.argv[1]); s.listen(8); time.sleep(60)' \
  "$work/mute-bus" & cover=$!
for _ in $(seq 50); do [ -S "$work/mute-bus" ] && break; sleep 0.1; done
in_back "$work/seventh.txt" DBUS_SESSION_BUS_ADDRESS="unix:path=$work/mute-bus"
shown "$app" || { echo "a session bus that never answers kept the window away"; exit 1; }
echo "beside a session bus that never answers: the window shown"
