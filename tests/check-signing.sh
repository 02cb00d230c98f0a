#!/usr/bin/env bash
# Signs the release with a throwaway self-signed certificate through scripts/sign, checks that
# the signature verifies and that the release comes back byte for byte without it, and leaves the
# signed executable where the Wine test of a signed whole run stages it from.
# Arguments: scripts/sign, the release executable, a work folder, the signed executable to write.
set -euo pipefail
sign=$1
release=$2
work=$3
signed=$4
fail() { echo "FAIL: $*" >&2; exit 1; }
sha256() { sha256sum <"$1" | cut -d ' ' -f 1; }

rm -rf -- "$work" "$signed"
mkdir -p "$work" "$(dirname "$signed")"
release_digest=$(sha256 "$release")

# A code-signing certificate of its own, valid for two days, in a PKCS#12 file with a password.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
    -subj "/CN=selfclean throwaway signer" -addext "keyUsage=critical,digitalSignature" \
    -addext "extendedKeyUsage=codeSigning" 2>"$work/openssl.log" ||
    fail "openssl could not make a certificate: $(tail -n 1 "$work/openssl.log")"
printf 'throwaway\n' >"$work/password"
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/signer.p12" \
    -passout "file:$work/password"

"$sign" --pkcs12 "$work/signer.p12" --pass-file "$work/password" --in "$release" --out "$signed" ||
    fail "scripts/sign with a password file"
SELFCLEAN_TEST_PASSWORD=throwaway "$sign" --pkcs12 "$work/signer.p12" \
    --pass-env SELFCLEAN_TEST_PASSWORD --in "$release" --out "$work/by-env/selfclean.exe" >/dev/null ||
    fail "scripts/sign with a password in the environment"
"$sign" --pkcs12 "$work/signer.p12" --pass-file "$work/key.pem" --in "$release" \
    --out "$work/wrong/selfclean.exe" 2>/dev/null && fail "signed with a wrong password"
[ ! -e "$work/wrong/selfclean.exe" ] || fail "a failed signing left $work/wrong/selfclean.exe"

for exe in "$signed" "$work/by-env/selfclean.exe"; do
    osslsigncode verify -CAfile "$work/cert.pem" -in "$exe" >"$work/verify.log" 2>&1 ||
        fail "$exe does not verify: $(grep -m 1 -i 'error' "$work/verify.log")"
    grep -q '^Message digest algorithm *: *SHA256' "$work/verify.log" || fail "$exe: not SHA-256"
done

# Without its signature the signed file is the release.
osslsigncode remove-signature -in "$signed" -out "$work/unsigned.exe" >/dev/null
[ "$(sha256 "$work/unsigned.exe")" = "$release_digest" ] ||
    fail "without its signature: sha256 $(sha256 "$work/unsigned.exe"), release $release_digest"

# scripts/sign --check: a shipped file against the release, a changed one refused.
"$sign" --check "$signed" --against "$release" --ca "$work/cert.pem" >/dev/null ||
    fail "scripts/sign --check refuses the signed release"
cp "$signed" "$work/changed.exe"
printf 'X' | dd of="$work/changed.exe" bs=1 seek=1024 conv=notrunc status=none
"$sign" --check "$work/changed.exe" --against "$release" 2>"$work/check.log" &&
    fail "scripts/sign --check accepts a file changed after signing"
grep -q 'does not match its content' "$work/check.log" || fail "$(cat "$work/check.log")"
cp "$release" "$work/other.exe"
printf 'X' | dd of="$work/other.exe" bs=1 seek=1024 conv=notrunc status=none
"$sign" --check "$signed" --against "$work/other.exe" 2>/dev/null &&
    fail "scripts/sign --check accepts a release other than the one signed"

# The unsigned release is never written over.
"$sign" --pkcs12 "$work/signer.p12" --pass-file "$work/password" --in "$release" \
    --out "$release" 2>/dev/null && fail "scripts/sign wrote over its input"
cp "$release" "$work/copy.exe"
"$sign" --pkcs12 "$work/signer.p12" --pass-file "$work/password" --in "$release" \
    --out "$work/copy.exe" 2>/dev/null && fail "scripts/sign wrote over an unsigned executable"
[ "$(sha256 "$release")" = "$release_digest" ] || fail "the release changed"
echo "1 passed, 0 failed: $signed verifies, sha256 $release_digest without its signature"
