#!/usr/bin/env bash
# Signing a package: a packed kestrel.exe signed with a throwaway certificate verifies, a change to
# its package afterwards does not, and a signed template is refused by kestrel-pack (or stripped
# with --strip-signature) because packing would break its signature.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
PACK=${KESTREL_BUILD:-$ROOT/build/linux}/kestrel-pack
EXE=${KESTREL_BUILD_WIN64:-$ROOT/build/win64}/kestrel.exe
[ -f "$EXE" ] || { echo "sign.sh: FAIL: $EXE not built (./dev build win64)" >&2; exit 1; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
fail() { echo "sign.sh: FAIL: $*" >&2; exit 1; }
has() { grep -qF -- "$2" "$1" || { cat "$1" >&2; fail "$1 lacks: $2"; }; }
sign() { osslsigncode sign -certs cert.pem -key key.pem -n "Kestrel SSD Update" -h sha256 -in "$1" -out "$2" >/dev/null; }
verify() { osslsigncode verify -CAfile cert.pem "$1" >"$1.verify" 2>&1; }

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
  -subj "/CN=Kestrel throwaway test signer" -addext "extendedKeyUsage=codeSigning" 2>/dev/null
"$PACK" sim-image --model "KESTREL KS600*" --revision KS6R0200 --out fw.bin
cat > release.json <<'JSON'
{ "builder": "QA", "version": "v2.0.0.0", "title": "Kestrel SSD Update", "model": "KESTREL KS600",
  "options": {"bWindowsFlash": true},
  "images": [{"file": "fw.bin", "NEW_FW": "KS6R0200", "constraints": [{"CMODEL": "KESTREL KS600 512GB"}]}] }
JSON

# The release engineer's road: pack the unsigned template, then sign the packed file.
"$PACK" build --template "$EXE" --manifest release.json --out Update.exe >/dev/null
sign Update.exe Update-signed.exe
verify Update-signed.exe || { cat Update-signed.exe.verify >&2; fail "the signed package does not verify"; }
has Update-signed.exe.verify "Signature verification: ok"
"$PACK" show --json Update-signed.exe > shown.json || fail "the signed package's block cannot be read"
python3 -c 'import json,sys; d=json.load(open("shown.json")); assert d["images"][0]["NEW_FW"] == "KS6R0200", d' || fail "show of the signed package"

# A package changed after signing no longer verifies (the signature covers the block).
python3 - Update-signed.exe <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.find(b"KS6R0200")
data[at] ^= 0x01
open("Update-tampered.exe", "wb").write(data)
PY
if verify Update-tampered.exe; then fail "a package changed after signing still verifies"; fi

# A signed template: refused, nothing written; stripped on request, and the result signs again.
sign "$EXE" kestrel-signed.exe
verify kestrel-signed.exe || fail "the signed template does not verify"
if "$PACK" build --template kestrel-signed.exe --manifest release.json --out refused.exe 2>refused.err; then
  fail "a signed template was packed"
fi
has refused.err "carries an Authenticode signature"
[ ! -e refused.exe ] || fail "output left behind after the refusal"
"$PACK" build --template kestrel-signed.exe --manifest release.json --out stripped.exe --strip-signature >/dev/null 2>stripped.err
has stripped.err "Authenticode signature removed"
if verify stripped.exe; then fail "the stripped package still claims a signature"; fi
# The same bytes as packing the unsigned template, but for the header checksum that signing rewrote
# and the zero bytes (fewer than 8) that signing added to align its certificate table.
python3 - <<'PY' || fail "stripping did not give back the unsigned template's bytes"
a, b = open("stripped.exe", "rb").read(), open("Update.exe", "rb").read()
pe = int.from_bytes(a[0x3C:0x40], "little"); ck = pe + 24 + 64
pad = a[len(b):]
assert 0 <= len(pad) < 8 and pad == bytes(len(pad)), "length %d against %d" % (len(a), len(b))
assert a[:ck] == b[:ck] and a[ck + 4:len(b)] == b[ck + 4:], "differ"
PY
sign stripped.exe stripped-signed.exe
verify stripped-signed.exe || fail "the stripped package does not verify once signed"
echo "sign.sh: ok (signed package verifies, a changed one does not, signed template refused and stripped)"
