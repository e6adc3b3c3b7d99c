#!/usr/bin/env bash
# kestrel-pack rehearse: the package block of a packed kestrel.exe (or kestrel-sim), of either slot
# layout, run in the sim template on a described machine. The rehearsal must behave exactly as the
# same package packed into the sim template directly; a block of another layout is refused.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${KESTREL_BUILD:-$ROOT/build/linux}
PACK=$BUILD/kestrel-pack
WIN64=${KESTREL_BUILD_WIN64:-$ROOT/build/win64}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
fail() { echo "rehearse.sh: FAIL: $*" >&2; exit 1; }
has() { grep -qF -- "$2" "$1" || { cat "$1" >&2; fail "$1 lacks: $2"; }; }

cp "$ROOT/sim/machines/default.json" machine.json
"$PACK" sim-image --model "KESTREL KS600*" --revision KS6R0200 --ext-revision S6R0200 --out fw.bin
cat > release.json <<'JSON'
{ "builder": "QA", "version": "v2.0.0.0", "title": "Kestrel SSD Update", "model": "KESTREL KS600",
  "options": {"bWindowsFlash": true, "bNFlashAuto": true, "bReBoot": true},
  "images": [{"file": "fw.bin", "NEW_FW": "KS6R0200", "FW_EXT": "S6R0200",
              "constraints": [{"CMODEL": "KESTREL KS600 512GB", "START": "KS6R01", "END": "KS6R02"}]}] }
JSON

# What the package does when packed into the sim template directly: the reference.
"$PACK" build --template "$BUILD/kestrel-sim" --manifest release.json --out direct-sim >/dev/null
mkdir direct-state
code=0
KESTREL_SIM_MACHINE=machine.json KESTREL_SIM_STATE=direct-state ./direct-sim /S >direct.out 2>&1 || code=$?
want=$code
[ "$want" = 0 ] || { cat direct.out >&2; fail "the package packed directly ends with $want, expected 0 (an update)"; }
grep -q '"revision": "KS6R0200"' direct-state/drives.json || fail "the package packed directly did not update the drive"
outcome() {  # the state a run leaves that matters: drive revisions, registry, files beside the program
  { cat "$1/drives.json" "$1/registry.json" 2>/dev/null || true; } | sed 's/"at": "[^"]*"//'
}
outcome direct-state > direct.outcome

rehearse() {  # rehearse NAME PACKAGE ARGS...
  local name=$1 pkg=$2; shift 2
  mkdir "$name-state"
  local c=0
  "$PACK" rehearse --package "$pkg" --machine machine.json --state "$name-state" -- "$@" >"$name.out" 2>&1 || c=$?
  [ "$c" = "$want" ] || { cat "$name.out" >&2; fail "$name: exit code $c, the package packed directly gives $want"; }
  outcome "$name-state" > "$name.outcome"
  cmp -s direct.outcome "$name.outcome" || { diff direct.outcome "$name.outcome" >&2; fail "$name: another outcome than the package packed directly"; }
  has "$name.out" "rehearsal ended with exit code $want"
}
rehearse sim direct-sim /S
n=1
for w in win64 win32; do
  exe=${WIN64%/win64}/$w/kestrel.exe
  [ "$w" = win64 ] && exe=$WIN64/kestrel.exe
  [ -f "$exe" ] || continue
  "$PACK" build --template "$exe" --manifest release.json --out "Update-$w.exe" >/dev/null
  rehearse "$w" "Update-$w.exe" /S
  n=$((n + 1))
done

# The large-slot layout: rehearsed on the large-slot sim template, refused on the other.
"$PACK" build --template "$BUILD/kestrel-sim-largeslots" --manifest release.json --out large-sim >/dev/null
rehearse large large-sim /S
c=0
"$PACK" rehearse --package large-sim --machine machine.json --sim "$BUILD/kestrel-sim" -- /S >mismatch.out 2>&1 || c=$?
[ "$c" = 125 ] || fail "a block of the other layout was not refused (exit $c)"
has mismatch.out "a block of another layout cannot be rehearsed"
# Not a package at all.
c=0
"$PACK" rehearse --package "$PACK" --machine machine.json >nopkg.out 2>&1 || c=$?
[ "$c" = 125 ] || fail "a file without a block was rehearsed (exit $c)"
has nopkg.out "holds no package block of this Kestrel build's layout"
echo "rehearse.sh: ok ($n packages of the 32-byte layout and one large-slot package rehearsed as packed directly, exit $want; mismatches refused)"
