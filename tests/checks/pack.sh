#!/usr/bin/env bash
# kestrel-pack end to end: pack kestrel-sim from manifests, read the packages back with `show
# --json`, run the packed program, and check that every broken manifest is refused by name with no
# output left behind.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${KESTREL_BUILD:-$ROOT/build/linux}
PACK=$BUILD/kestrel-pack
SIM=$BUILD/kestrel-sim
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
fail() { echo "pack.sh: FAIL: $*" >&2; exit 1; }

"$PACK" sim-image --model "KESTREL SSD 512GB" --model "KESTREL SSD 1TB" --revision R1.1.0 --ext-revision KV31502 \
  --payload-size 3000 --seed 7 --out fw1.bin
"$PACK" sim-image --model "KESTREL NVME*" --revision T2.0 --payload-size 8192 --out fw2.bin
printf 'MZ-flasher' > flasher.exe

# Two packages from one manifest: plain with bUnattended, enciphered for deployment.
python3 - <<'PY'
import json
base = {
  "builder": "QA", "version": "v1.0.0.1", "phone": "555-0100", "title": "Kestrel SSD Update",
  "build_date": "2026/12/10", "model": "KESTREL SSD", "iVisualStyle": 0, "iLanguage": 0, "iFlashMode": 2,
  "options": {"bReBoot": True, "bNFlashAuto": True, "iNoticeStyle": 2, "bHiddenDrives": True,
              "iCloseMsgSeconds": 3, "bUnattended": True, "bWindowsFlash": True},
  "images": [
    {"file": "fw1.bin", "NEW_FW": "R1.1.0", "FW_EXT": "KV31502",
     "constraints": [{"CMODEL": "KESTREL SSD 512GB", "START": "R1.0", "END": "R1.1"},
                     {"CMODEL": "KESTREL SSD 1TB", "START": "R1.0.9", "END": "R1.0.9"}]},
    {"file": "fw2.bin", "NEW_FW": "T2.0", "constraints": [{"CMODEL": "KESTREL NVME 1TB"}]}],
  "programs": {"EXE_WIN7_X64": "flasher.exe"}}
json.dump(base, open("plain.json", "w"), indent=1)
dep = json.loads(json.dumps(base))
dep["options"] = {"bDeployMode": True, "bFOld": True, "bWindowsFlash": False}
json.dump(dep, open("deploy.json", "w"), indent=1)
PY

"$PACK" build --template "$SIM" --manifest plain.json --out plain-sim
"$PACK" build --template "$SIM" --manifest deploy.json --out deploy-sim
[ -x plain-sim ] || fail "the packed program is not executable"
"$PACK" show plain-sim | grep -q 'bUnattended (position 25): true' || fail "show does not list the options by name"

# show --json gives the manifest's values back.
for pkg in plain deploy; do
  "$PACK" show --json $pkg-sim > $pkg-shown.json
  python3 "$ROOT/tests/checks/pack-compare.py" $pkg.json $pkg-shown.json || fail "show --json of $pkg-sim differs from $pkg.json"
done

# A kestrel.exe of either width is a template too (when the Windows builds are there).
for w in win32 win64; do
  exe=$ROOT/build/$w/kestrel.exe
  [ -f "$exe" ] || continue
  "$PACK" build --template "$exe" --manifest deploy.json --out deploy-$w.exe >/dev/null
  "$PACK" show --json deploy-$w.exe > deploy-$w-shown.json
  python3 "$ROOT/tests/checks/pack-compare.py" deploy.json deploy-$w-shown.json || fail "show --json of the packed $w kestrel.exe"
done

# The packed program reads its options and gets past the image-count check. With bUnattended the
# start-up error box stays even with /S: on a machine where the user is no administrator the run
# ends with 1 after the box. (The whole run's roads are the scenario suite's, tests/scenarios/.)
python3 - "$ROOT/sim/machines/default.json" <<'PY'
import json, sys
m = json.load(open(sys.argv[1])); m.setdefault("windows", {})["administrator"] = False
json.dump(m, open("noadmin.json", "w"))
PY
LOGREL=files/C/Users/Operator/AppData/Local/Temp/KestrelLog.txt
run() {  # run NAME EXPECTED-CODE ARGS...: leaves the log in $NAME.log and the sim's stderr in $NAME.err
  local name=$1 want=$2; shift 2
  local state; state=$(mktemp -d -p "$WORK")
  local code=0
  # A folder where the log archive would go: the archive cannot be written, so the text log keeps
  # every line of the run for these checks.
  mkdir -p "$state/files/C/Users/Operator/AppData/Local/KestrelLog.zip"
  KESTREL_SIM_MACHINE=$WORK/noadmin.json KESTREL_SIM_STATE=$state KESTREL_SIM_ANSWERS=ok "./${name%%-*}-sim" "$@" >"$name.out" 2>"$name.err" || code=$?
  cp "$state/$LOGREL" "$name.log" 2>/dev/null || : >"$name.log"
  [ "$code" = "$want" ] || { cat "$name.err" "$name.log" >&2; fail "$name: exit code $code, expected $want"; }
}
has() { grep -qF -- "$2" "$1" || { cat "$1" >&2; fail "$1 lacks: $2"; }; }
lacks() { ! grep -qF -- "$2" "$1" || { cat "$1" >&2; fail "$1 has: $2"; }; }

run plain-silent 1 /S
has plain-silent.log "GetModelName : gModelName=[Q7] "
has plain-silent.log "New AtaDevice ..."
has plain-silent.log "Kestrel SSD Update (v1.0.0.1)"
has plain-silent.log "EXIT_ERROR: 0x1"
has plain-silent.err 'message box "Error ...":'
has plain-silent.err "Access denied ! You must have administrator privilege to flash SSD."
has plain-silent.log "bNAdmin !"

run deploy-noargs 2
lacks deploy-noargs.log "New AtaDevice"
run deploy-target 1 '/T:\\.\PhysicalDrive0'
has deploy-target.log 'DEV_PATH:\\.\PhysicalDrive0'
has deploy-target.log "New AtaDevice ..."
run deploy-badc 8 /C:3
has deploy-badc.log "/C: _/C:3"

# Already packed, wrong files, and --force.
if "$PACK" build --template plain-sim --manifest plain.json --out again 2>err.txt; then fail "an already packed file was packed again"; fi
has err.txt "already packed"
[ ! -e again ] || fail "output left behind"
"$PACK" build --template plain-sim --manifest deploy.json --out again --force
"$PACK" show --json again | python3 -c 'import json,sys; assert json.load(sys.stdin)["options"]["bDeployMode"] is True'
if "$PACK" build --template "$PACK" --manifest plain.json --out nothing 2>err.txt; then fail "a file without a block was packed"; fi
has err.txt "no package block found"
cat "$SIM" "$SIM" > twice
if "$PACK" show twice 2>err.txt; then fail "a file with two blocks was accepted"; fi
has err.txt "2 package blocks found"

# Every validation rule, refused by the field's name, with nothing written.
head -c 2097153 /dev/zero > big.bin
head -c 33 /dev/zero > bigprog.exe
python3 - <<'PY'
import json
base = json.load(open("plain.json"))
def case(name, field, f):
    m = json.loads(json.dumps(base)); f(m)
    json.dump(m, open(f"bad-{name}.json", "w")); open(f"bad-{name}.field", "w").write(field)
case("too-many-images", "images:", lambda m: m.__setitem__("images", [dict(m["images"][1]) for _ in range(16)]))
case("too-many-records", "images[0].constraints:", lambda m: m["images"][0].__setitem__("constraints", [{"CMODEL": "X"}] * 9))
case("image-too-big", "images[1].file:", lambda m: m["images"][1].__setitem__("file", "big.bin"))
case("image-missing", "images[1].file:", lambda m: m["images"][1].__setitem__("file", "nonesuch.bin"))
case("title-too-long", "title:", lambda m: m.__setitem__("title", "T" * 64))
case("builder-too-long", "builder:", lambda m: m.__setitem__("builder", "ABCDE"))
case("version-too-long", "version:", lambda m: m.__setitem__("version", "v1000.0.0.100"))
case("phone-too-long", "phone:", lambda m: m.__setitem__("phone", "1" * 15))
case("date-too-long", "build_date:", lambda m: m.__setitem__("build_date", "2026/12/10/1"))
case("model-too-long", "model:", lambda m: m.__setitem__("model", "M" * 65))
case("newfw-too-long", "images[0].NEW_FW:", lambda m: m["images"][0].__setitem__("NEW_FW", "R12345678"))
case("newfw-empty", "images[0].NEW_FW:", lambda m: m["images"][0].__setitem__("NEW_FW", ""))
case("fwext-too-long", "images[1].FW_EXT:", lambda m: m["images"][1].__setitem__("FW_EXT", "KV3150123"))
case("newfw-blanks", "images[1].NEW_FW:", lambda m: m["images"][1].__setitem__("NEW_FW", "    "))
case("fwext-missing-when-compared", "images[1].FW_EXT:", lambda m: m["options"].__setitem__("bUseFWExt", True))
case("windowsflash-missing", "options.bWindowsFlash:", lambda m: m["options"].pop("bWindowsFlash"))
case("cmodel-too-long", "images[0].constraints[1].CMODEL:", lambda m: m["images"][0]["constraints"][1].__setitem__("CMODEL", "C" * 41))
case("start-too-long", "images[0].constraints[0].START:", lambda m: m["images"][0]["constraints"][0].__setitem__("START", "S" * 9))
case("model-not-8bit", "model:", lambda m: m.__setitem__("model", "KESTREL \u20ac"))
case("title-control", "title:", lambda m: m.__setitem__("title", "line\nbreak"))
case("end-not-8bit", "images[0].constraints[0].END:", lambda m: m["images"][0]["constraints"][0].__setitem__("END", "R\u0151"))
case("unknown-top", "colour: unknown key", lambda m: m.__setitem__("colour", "red"))
case("unknown-option", "options.bTurbo: unknown key", lambda m: m["options"].__setitem__("bTurbo", True))
case("unknown-image-key", "images[0].name: unknown key", lambda m: m["images"][0].__setitem__("name", "x"))
case("unknown-constraint-key", "images[0].constraints[0].MODEL: unknown key", lambda m: m["images"][0]["constraints"][0].__setitem__("MODEL", "x"))
case("unknown-program", "programs.EXE_WIN11_X64: unknown key", lambda m: m["programs"].__setitem__("EXE_WIN11_X64", "flasher.exe"))
case("program-too-big", "programs.EXE_WIN7_X64:", lambda m: m["programs"].__setitem__("EXE_WIN7_X64", "bigprog.exe"))
case("flag-not-bool", "options.bReBoot:", lambda m: m["options"].__setitem__("bReBoot", 1))
case("digit-out-of-range", "options.iNoticeStyle:", lambda m: m["options"].__setitem__("iNoticeStyle", 10))
case("header-out-of-range", "iVisualStyle:", lambda m: m.__setitem__("iVisualStyle", 128))
open("bad-not-json.json", "w").write("{ nope"); open("bad-not-json.field", "w").write("manifest:")
PY
n=0
for m in bad-*.json; do
  name=${m%.json}; field=$(cat "$name.field")
  if "$PACK" build --template "$SIM" --manifest "$m" --out "$name.out" 2>"$name.err"; then fail "$m was accepted"; fi
  grep -qF -- "$field" "$name.err" || { cat "$name.err" >&2; fail "$m: the message does not name $field"; }
  [ ! -e "$name.out" ] || fail "$m: an output file was left behind"
  n=$((n + 1))
done
# The large-slot template takes a program that the exact layout refuses, and reads it back.
head -c 300000 /dev/urandom > realflasher.exe
python3 - <<'PY'
import json
m = json.load(open("plain.json")); m["programs"] = {"EXE_WIN7_X64": "realflasher.exe", "EXE_COPYFILE_2K8": "flasher.exe"}
json.dump(m, open("large.json", "w"))
PY
"$PACK" build --template "$BUILD/kestrel-sim-largeslots" --manifest large.json --out large-sim >/dev/null
"$PACK" show large-sim > large-shown.txt
has large-shown.txt "program slots: 1048576 bytes each"
has large-shown.txt "program EXE_WIN7_X64: 300000 bytes"
"$PACK" show --json large-sim > large-shown.json
python3 "$ROOT/tests/checks/pack-compare.py" large.json large-shown.json || fail "show --json of large-sim differs from large.json"
"$PACK" show "$SIM" > exact-shown.txt
has exact-shown.txt "program slots: 32 bytes each"
if "$PACK" build --template "$SIM" --manifest large.json --out large-exact 2>err.txt; then fail "the exact layout took a 300000-byte program"; fi
has err.txt "programs.EXE_WIN7_X64: "
has err.txt "is 300000 bytes, larger than its 32-byte slot"
[ ! -e large-exact ] || fail "output left behind"
run large-silent 1 /S
has large-silent.log "Kestrel SSD Update (v1.0.0.1)"

ls ./*.tmp >/dev/null 2>&1 && fail "a temporary file was left behind"
echo "pack.sh: ok (2 packages round-tripped, 4 packed runs, $n refused manifests)"
