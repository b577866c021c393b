#!/usr/bin/env bash
# The Windows setup from the built program: make-setup.sh <BrekGSMDemo.exe> <setup.exe> [signing command]
# (the signing command, given a file, signs it in place: the uninstaller and then the setup).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=$(realpath "$1")
size_kb=$((($(stat -c %s "$exe") + 1023) / 1024))
mkdir -p "$(dirname "$2")"
sign=()
[ -z "${3:-}" ] || sign=(-DSIGN="$(realpath "$3")")
makensis -INPUTCHARSET UTF8 -V2 -DEXE="$exe" -DINI="$here/BrekGSMDemo.ini" -DICON="$here/../../src/ui/assets/icon.ico" \
  -DSIZE_KB="$size_kb" "${sign[@]}" -DOUT="$(realpath -m "$2")" "$here/setup.nsi" >/dev/null
