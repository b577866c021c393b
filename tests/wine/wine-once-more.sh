#!/usr/bin/env bash
# Runs a test program under Wine, once more when the start dies before the program says a
# word (seen once: wine gone in 10 ms, nothing printed); the program's own failures are not.
out=$(mktemp) && trap 'rm -f "$out"' EXIT
for attempt in 1 2; do
  wine "$@" >"$out" 2>&1 && { cat "$out"; exit 0; }
  rc=$?
  [ -s "$out" ] && break
  echo "wine started nothing (exit $rc)" >&2
done
cat "$out" && exit "$rc"
