#!/usr/bin/env bash
# Starts the built program on a private Xvfb display, waits for its window, and keeps a
# screenshot of it: screenshot.sh <program> <artifact folder>
set -euo pipefail
source "$(dirname "$0")/../support/xvfb.sh"
program="$1"
artifacts="$2"
mkdir -p "$artifacts"
work=$(mktemp -d)
trap 'kill ${app:-} ${xvfb:-} 2>/dev/null || true; rm -rf "$work"' EXIT
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
