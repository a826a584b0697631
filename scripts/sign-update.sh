#!/usr/bin/env bash
# Signs an update for kvupdate, which installs only programs signed with the key built into it:
#   sign-update.sh KEY.pem VERSIONFILE FILE [SIGNATURE]
#       signs FILE (the program to be published as update.exe) for the version that VERSIONFILE (to
#       be published as newversion.txt) names, with the private key KEY.pem, and writes the signature
#       to SIGNATURE (default: update.sig in FILE's folder): ECDSA P-256 over the SHA-256 digest of
#       the signed bytes, as the 64 bytes r‖s (two big-endian 32-byte numbers). The signed bytes are
#       the version text as kvupdate reads it (the first six bytes of VERSIONFILE, up to a zero
#       byte), one zero byte, then the bytes of FILE.
#   sign-update.sh --public-key KEY.pem OUT
#       writes the public half of KEY.pem as kvupdate builds it in: the curve point X‖Y, 64 bytes
#       (resources/kvupdate/update-public-key.bin for the release key)
# A key pair is made with: openssl ecparam -name prime256v1 -genkey -noout -out KEY.pem
# Needs openssl and python3. The private key never belongs in the repository.
set -euo pipefail

usage() {
    sed -n '2,14p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

# The P-256 public key as DER (SubjectPublicKeyInfo) on stdin; X‖Y on stdout.
public_point() {
    python3 -c '
import sys
der = sys.stdin.buffer.read()
# SEQUENCE { SEQUENCE { id-ecPublicKey, prime256v1 }, BIT STRING { 0x04 X Y } }
prefix = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200" "04")
if len(der) != len(prefix) + 64 or not der.startswith(prefix):
    sys.exit("sign-update: the key is not an ECDSA key on the P-256 curve (prime256v1)")
sys.stdout.buffer.write(der[len(prefix):])
'
}

# A DER ECDSA signature (SEQUENCE { INTEGER r, INTEGER s }) on stdin; r‖s, 32 bytes each, on stdout.
raw_signature() {
    python3 -c '
import sys
der = sys.stdin.buffer.read()
def fail():
    sys.exit("sign-update: openssl did not produce an ECDSA P-256 signature")
if len(der) < 8 or der[0] != 0x30 or der[1] != len(der) - 2:
    fail()
at, out = 2, b""
for _ in range(2):
    if der[at] != 0x02:
        fail()
    length = der[at + 1]
    value = der[at + 2:at + 2 + length].lstrip(b"\0")
    if len(value) > 32:
        fail()
    out += value.rjust(32, b"\0")
    at += 2 + length
if at != len(der):
    fail()
sys.stdout.buffer.write(out)
'
}

if [ "${1:-}" = --public-key ]; then
    [ $# -eq 3 ] || usage
    key=$2 out=$3
    openssl pkey -in "$key" -pubout -outform DER | public_point >"$out.tmp"
    mv "$out.tmp" "$out"
    echo "public key written to $out"
    exit 0
fi

[ $# -eq 3 ] || [ $# -eq 4 ] || usage
key=$1 version=$2 file=$3
signature=${4:-$(dirname "$file")/update.sig}
[ -f "$version" ] || { echo "sign-update: $version is not a file" >&2; exit 1; }
[ -f "$file" ] || { echo "sign-update: $file is not a file" >&2; exit 1; }
# The key must be one kvupdate can check against.
openssl pkey -in "$key" -pubout -outform DER | public_point >/dev/null

der=$(mktemp)
trap 'rm -f "$der" "$der.pub" "$der.signed"' EXIT
python3 -c '
import sys
text = open(sys.argv[1], "rb").read(6).split(b"\0")[0]
with open(sys.argv[3], "wb") as out:
    out.write(text + b"\0")
    out.write(open(sys.argv[2], "rb").read())
' "$version" "$file" "$der.signed"
openssl dgst -sha256 -sign "$key" -out "$der" "$der.signed"
# Checked again before it is written: a signature that does not hold is never published.
openssl pkey -in "$key" -pubout -out "$der.pub"
openssl dgst -sha256 -verify "$der.pub" -signature "$der" "$der.signed" >/dev/null
raw_signature <"$der" >"$signature.tmp"
mv "$signature.tmp" "$signature"
echo "signature of $file as version $(head -c 6 "$version" | tr -d '\0' | tr -c '[:print:]' '?') written to $signature"
