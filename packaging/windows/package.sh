#!/usr/bin/env bash
# The Windows release from a Windows build (./dev package-windows):
#   package.sh <build folder> <out folder> [--cert F.p12 --password-file F] [--timestamp URL]
# or BREK_SIGN_PKCS12, BREK_SIGN_PASSWORD_FILE, BREK_SIGN_TIMESTAMP. Writes the setup and the
# zip into the out folder: the program, the uninstaller and the setup signed when a certificate
# is given, else unsigned as the build made it (in <build folder>/unsigned). A signing that fails leaves neither file.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1 out=$2
shift 2
fail() { echo "package-windows: $*" >&2; exit 1; }
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || fail "$1 needs a value"
  case $1 in
    --cert) BREK_SIGN_PKCS12=$2 ;;
    --password-file) BREK_SIGN_PASSWORD_FILE=$2 ;;
    --timestamp) BREK_SIGN_TIMESTAMP=$2 ;;
    *) echo "package-windows: unknown option $1 (--cert, --password-file, --timestamp)" >&2; exit 2 ;;
  esac
  shift 2
done

# This build's version: older versions' setups may still lie beside it.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
setup=$build/unsigned/BrekGSMDemo-$version-setup.exe
[ -n "$version" ] && [ -f "$setup" ] || fail "no setup in $build: build the Windows program first"
name=$(basename "$setup")
zip=BrekGSMDemo-windows.zip
mkdir -p "$out"
stage=$(mktemp -d "$out/.package.XXXXXX")
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/BrekGSMDemo"
cp "$build/src/app/BrekGSMDemo.exe" "$here/BrekGSMDemo.ini" "$stage/BrekGSMDemo/"

cert=${BREK_SIGN_PKCS12:-} pass=${BREK_SIGN_PASSWORD_FILE:-}
if [ -z "$cert$pass" ]; then
  echo "package-windows: unsigned (no code-signing certificate: --cert and --password-file," \
       "or BREK_SIGN_PKCS12 and BREK_SIGN_PASSWORD_FILE)"
  cp "$setup" "$stage/$name"
else
  # What this run would replace goes first: an older, unsigned file must not pass for the release.
  rm -f "$out/$name" "$out/$zip"
  [ -n "$cert" ] && [ -n "$pass" ] || fail "signing needs both the certificate and its password file"
  [ -f "$cert" ] || fail "certificate file not found: $cert"
  [ -f "$pass" ] || fail "password file not found: $pass"
  export BREK_SIGN_PKCS12 BREK_SIGN_PASSWORD_FILE BREK_SIGN_TIMESTAMP="${BREK_SIGN_TIMESTAMP:-}"
  BREK_SIGN_PKCS12=$(realpath "$cert") BREK_SIGN_PASSWORD_FILE=$(realpath "$pass")
  "$here/sign.sh" "$stage/BrekGSMDemo/BrekGSMDemo.exe"
  "$here/make-setup.sh" "$stage/BrekGSMDemo/BrekGSMDemo.exe" "$stage/$name" "$here/sign.sh" ||
    fail "the setup was not made"
  echo "package-windows: signed with $cert${BREK_SIGN_TIMESTAMP:+, time-stamped by $BREK_SIGN_TIMESTAMP}"
fi

# The zip's members are dated the last commit, as the Debian package's are.
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$here" log -1 --format=%ct 2>/dev/null || date +%s)}
touch -d "@$epoch" "$stage/BrekGSMDemo"/* "$stage/BrekGSMDemo"
(cd "$stage" && python3 -m zipfile -c "$zip" BrekGSMDemo)
mv "$stage/$zip" "$stage/$name" "$out/"
ls "$out/$name" "$out/$zip"
