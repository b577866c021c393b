#!/usr/bin/env bash
# The Windows release built twice, signed with a throwaway certificate, failed signings.
#   windows.sh <Windows build folder>   (WINEPREFIX: the tests' prefix, left as it is)
set -euo pipefail
build=$(realpath "$1") pkg=$(realpath "$(dirname "$0")/../../packaging/windows")
work=$(mktemp -d /tmp/brek-winpkg.XXXXXX); cd "$work"; trap 'kill %1 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL $*" >&2; exit 1; }
name=BrekGSMDemo-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")-setup.exe setup=$build/unsigned/$name

# A second build: linked again a second later elsewhere (compiling runs the same commands).
link=$(cd "$build" && ninja -t commands src/app/BrekGSMDemo.exe | tail -1 | sed 's/-Wl,--out-implib,[^ ]*//')
sleep 1.1
(cd "$build" && eval "${link//-o src\/app\/BrekGSMDemo.exe/-o $work/BrekGSMDemo.exe}")
cmp "$build/src/app/BrekGSMDemo.exe" BrekGSMDemo.exe || fail "two builds give different programs"
"$pkg/make-setup.sh" BrekGSMDemo.exe "$name"; cmp "$setup" "$name" || fail "two builds give different setups"

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out ca.pem -days 2 -subj "/CN=BrekGSMDemo test" \
  -addext extendedKeyUsage=codeSigning 2>/dev/null; printf secret >pass; printf wrong >wrong
openssl pkcs12 -export -inkey key.pem -in ca.pem -out cert.p12 -passout file:pass
verify() { osslsigncode verify -CAfile ca.pem -in "$1" >log 2>&1 || fail "$1: $(cat log)"; }
failing() { # <what the message says> <options...>: nothing left, not even an older unsigned setup
  mkdir -p out; cp "$setup" out/; touch out/BrekGSMDemo-windows.zip
  ! "$pkg/package.sh" "$build" out "${@:2}" >log 2>&1 || fail "signed with ${*:2}"
  grep -qF "$1" log || fail "no '$1' in: $(cat log)"
  [ -z "$(ls -A out)" ] || fail "left behind: $(ls -A out)"
}
failing "certificate file not found: none.p12" --cert none.p12 --password-file pass
failing "wrong password" --cert cert.p12 --password-file wrong
python3 -c 'import socket, time; s = socket.create_server(("127.0.0.1", 0)); print(s.getsockname()[1], flush=True)
time.sleep(600)' >port 2>&1 & until [ -s port ]; do sleep 0.1; done; url=http://127.0.0.1:$(cat port)
BREK_SIGN_TIMEOUT=2 failing "time-stamp server $url did not answer" --cert cert.p12 --password-file pass --timestamp "$url"

BREK_SIGN_PKCS12=cert.p12 BREK_SIGN_PASSWORD_FILE=pass "$pkg/package.sh" "$build" signed >/dev/null
verify "signed/$name"; python3 -m zipfile -e signed/BrekGSMDemo-windows.zip .; verify BrekGSMDemo/BrekGSMDemo.exe
printf X | dd of=BrekGSMDemo/BrekGSMDemo.exe bs=1 seek=4096 conv=notrunc status=none
! osslsigncode verify -CAfile ca.pem -in BrekGSMDemo/BrekGSMDemo.exe >/dev/null 2>&1 || fail "a changed program verifies"
# The uninstaller is written by the setup: installed into a copy of the tests' prefix.
cp -a "$WINEPREFIX" prefix; export WINEPREFIX=$work/prefix
wine "signed/$name" /S '/D=C:\brek'; wineserver -w; verify prefix/drive_c/brek/Uninstall.exe
echo "ok: program and setup the same in two builds; program, uninstaller and setup signed and verified"
