#!/usr/bin/env bash
# Signs one Windows file in place (Authenticode, osslsigncode): sign.sh <file>. The certificate
# is BREK_SIGN_PKCS12 (PKCS#12), its password the contents of BREK_SIGN_PASSWORD_FILE;
# BREK_SIGN_TIMESTAMP, when set, is an RFC 3161 time-stamp server. makensis runs it on the
# uninstaller and the setup. On failure the file is left as it was and the cause is named.
set -euo pipefail
file=$1
signed=$file.signing.$$  # (osslsigncode writes only a file that is not there)
trap 'rm -f "$signed"' EXIT
args=(sign -pkcs12 "$BREK_SIGN_PKCS12" -readpass "$BREK_SIGN_PASSWORD_FILE" -h sha256 -n "Брек GSM: демонстрация")
[ -z "${BREK_SIGN_TIMESTAMP:-}" ] || args+=(-ts "$BREK_SIGN_TIMESTAMP")
# osslsigncode waits for ever on a server that takes the connection and never answers.
wait_s=${BREK_SIGN_TIMEOUT:-60}
rc=0
out=$(timeout "$wait_s" osslsigncode "${args[@]}" -in "$file" -out "$signed" 2>&1 </dev/null) || rc=$?
if [ $rc -ne 0 ]; then
  [ $rc -ne 124 ] || out+=$'\n'"Timestamping: no answer in $wait_s s"
  case $out in
    *"mac verify failure"*) why="wrong password for $BREK_SIGN_PKCS12 (in $BREK_SIGN_PASSWORD_FILE)" ;;
    *PKCS#12*) why="$BREK_SIGN_PKCS12 is not a PKCS#12 certificate osslsigncode can read" ;;
    *"HTTP failure"*|*"imestamp"*|*"Time-Stamp"*) why="the time-stamp server $BREK_SIGN_TIMESTAMP did not answer" ;;
    *) why="osslsigncode failed" ;;
  esac
  echo "package-windows: signing $(basename "$file") failed: $why" >&2
  sed 's/^/  osslsigncode: /' <<<"$out" >&2
  exit 1
fi
mv "$signed" "$file"
