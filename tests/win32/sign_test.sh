#!/usr/bin/env bash
# tools/windows-sign with throwaway certificates: one without a password (an
# empty password file) and one with, each signature verified; a certificate
# whose password is not given is refused. Usage: sign_test.sh windows-sign PROGRAM.exe
set -uo pipefail
sign=${1:?windows-sign}
program=${2:?a Windows program to sign}
for tool in openssl osslsigncode; do
  command -v "$tool" >/dev/null || {
    echo "SKIPPED: no $tool on this machine"
    exit 77
  }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAILED: $1" >&2
  failures=$((failures + 1))
}

openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -nodes -subj "/CN=Vostrel test signing" \
  -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null ||
  fail "openssl made no certificate"

# name, password of the certificate, password given, whether it signs
rows=(
  "no password||| yes"
  "a password|secret|secret| yes"
  "a password not given|secret|| no"
)
for row in "${rows[@]}"; do
  IFS='|' read -r name made given expected <<<"$row"
  expected=${expected# }
  pfx=$work/cert.pfx
  openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$pfx" -passout "pass:$made" ||
    fail "$name: openssl made no PKCS#12 file"
  printf '%s' "$given" >"$work/password"
  cp "$program" "$work/signed.exe"
  if VOSTREL_SIGN_PFX=$pfx VOSTREL_SIGN_PASSWORD_FILE=$work/password bash "$sign" "$work/signed.exe" 2>"$work/log" &&
    osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed.exe" >>"$work/log" 2>&1; then
    [ "$expected" = yes ] || fail "$name: signed without the password"
  else
    [ "$expected" = no ] || {
      cat "$work/log" >&2
      fail "$name: no valid signature"
    }
  fi
done
((failures == 0)) && echo "windows-sign: all rows passed"
exit $((failures > 0))
