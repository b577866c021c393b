#!/usr/bin/env bash
# The Windows release: two builds give the same program and setup.
#   windows.sh <Windows build folder>
set -euo pipefail
build=$(realpath "$1")
pkg=$(cd "$(dirname "$0")/../../packaging/windows" && pwd)
work=$(mktemp -d /tmp/brek-winpkg.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL $*" >&2; exit 1; }
setup=$(echo "$build"/BrekGSMDemo-*-setup.exe)
name=$(basename "$setup")

# A second build: the program linked again (later, into another folder; compiling is the same
# commands on the same sources) and its setup made from it.
link=$(cd "$build" && ninja -t commands src/app/BrekGSMDemo.exe | tail -1)
link=${link//-o src\/app\/BrekGSMDemo.exe/-o $work/BrekGSMDemo.exe}
sleep 1.1
(cd "$build" && eval "${link//-Wl,--out-implib,src\/libBrekGSMDemo.dll.a/}")
cmp "$build/src/app/BrekGSMDemo.exe" "$work/BrekGSMDemo.exe" || fail "two builds give different programs"
"$pkg/make-setup.sh" "$work/BrekGSMDemo.exe" "$work/$name"
cmp "$setup" "$work/$name" || fail "two builds give different setups"

echo "ok: program and setup the same in two builds"
