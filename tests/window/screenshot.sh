#!/usr/bin/env bash
# Starts the built program on a private Xvfb display, waits for its window, and keeps a
# screenshot of it: screenshot.sh <program> <artifact folder>
set -euo pipefail
program="$1"
artifacts="$2"
mkdir -p "$artifacts"
work=$(mktemp -d)
trap 'kill ${app:-} ${xvfb:-} 2>/dev/null || true; rm -rf "$work"' EXIT
cp "$program" "$work/"
for n in $(seq 90 140); do [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || { display=":$n"; break; }; done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
(cd "$work" && DISPLAY="$display" XDG_RUNTIME_DIR="$work" ./"$(basename "$program")" >"$work/out.txt" 2>&1) &
app=$!
id=""
for _ in $(seq 100); do
  id=$(DISPLAY="$display" xdotool search --onlyvisible --name 'Брек GSM' 2>/dev/null | head -n1 || true)
  [ -n "$id" ] && break
  sleep 0.1
done
[ -n "$id" ] || { echo "window did not appear"; cat "$work/out.txt"; exit 1; }
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
