#!/usr/bin/env bash
# A packed x64 kestrel.exe under Wine, in a fresh prefix on a virtual X display: kestrel-pack fills
# build/win64/kestrel.exe from a manifest, `show --json` gives the manifest back, and the packed
# program reads its options: its log, exit codes, caption and start-up box follow from them. The
# Windows kestrel-pack.exe packs the same bytes as the native one.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${KESTREL_BUILD_WIN64:-$ROOT/build/win64}
PACK=${KESTREL_BUILD:-$ROOT/build/linux}/kestrel-pack

. "$ROOT/tests/checks/wine-env.bash"
wine_display "$@"

WORK=$(mktemp -d)

for f in "$BUILD/kestrel.exe" "$BUILD/kestrel-pack.exe" "$PACK"; do
  [ -f "$f" ] || { echo "pack-wine.sh: $f is missing (build the linux and win64 presets first)" >&2; exit 1; }
done
cd "$WORK"

# The packages: two images with constraint records and a mix of options; one plain, one enciphered
# for deployment.
"$PACK" sim-image --model "KESTREL SSD 512GB" --revision R1.1.0 --ext-revision KV31502 --payload-size 3000 --out fw1.bin >/dev/null
"$PACK" sim-image --model "KESTREL NVME*" --revision T2.0 --payload-size 8192 --out fw2.bin >/dev/null
python3 - <<'PY'
import json
base = {
  "builder": "QA", "version": "v1.0.0.1", "phone": "555-0100", "title": "Kestrel SSD Update",
  "build_date": "2026/12/10", "model": "KESTREL SSD", "iVisualStyle": 0, "iLanguage": 0, "iFlashMode": 2,
  "options": {"bReBoot": True, "bNFlashAuto": True, "iNoticeStyle": 2, "bHiddenDrives": True,
              "iCloseMsgSeconds": 3, "bWindowsFlash": True},
  "images": [
    {"file": "fw1.bin", "NEW_FW": "R1.1.0", "FW_EXT": "KV31502",
     "constraints": [{"CMODEL": "KESTREL SSD 512GB", "START": "R1.0", "END": "R1.1"}]},
    {"file": "fw2.bin", "NEW_FW": "T2.0", "constraints": [{"CMODEL": "KESTREL NVME 1TB"}]}]}
json.dump(base, open("plain.json", "w"), indent=1)
base["options"] = {"bDeployMode": True, "bFOld": True, "bWindowsFlash": False}
json.dump(base, open("deploy.json", "w"), indent=1)
PY
"$PACK" build --template "$BUILD/kestrel.exe" --manifest plain.json --out plain.exe >/dev/null
"$PACK" build --template "$BUILD/kestrel.exe" --manifest deploy.json --out deploy.exe >/dev/null
for p in plain deploy; do
  "$PACK" show --json $p.exe > $p-shown.json
  check "show --json of the packed $p kestrel.exe gives the manifest back" \
    python3 "$ROOT/tests/checks/pack-compare.py" $p.json $p-shown.json
done

wine_prefix pack-wine "$WORK"

set +e
timeout 120 wine "$BUILD/kestrel-pack.exe" build --template "$(winepath -w "$BUILD/kestrel.exe" 2>/dev/null)" \
  --manifest plain.json --out plain-win.exe >/dev/null 2>&1
rc=$?
set -e
check "kestrel-pack.exe under Wine packs (exit $rc)" test "$rc" -eq 0
check "... the same bytes as the native kestrel-pack" cmp -s plain.exe plain-win.exe

wintemp=$(timeout 30 wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r\n')
temp=$(timeout 30 winepath -u "$wintemp" 2>/dev/null | tr -d '\r\n')
log="${temp%/}/KestrelLog.txt"
# These checks read the whole debug log of each run. The archive steps would pack it away (and the
# exit's archive replaces the start-up's), so block the archive path with a folder: an archive that
# cannot be written leaves the text log in place with every line.
. "$ROOT/tests/checks/logarchive.bash"
zipdir=$(timeout 30 winepath -u "$(log_archive_path "$wintemp\\")" 2>/dev/null | tr -d '\r\n')
mkdir -p "$zipdir"
runexe() {  # runexe EXE ARGS...: exit code in $rc
  rm -f "$log"
  set +e
  timeout 60 wine "$@" >/dev/null 2>&1
  rc=$?
  set -e
}
haslog() { grep -qF -- "$1" "$log" 2>/dev/null; }

echo "packed kestrel.exe /S"
runexe ./plain.exe /S
check "a machine without drives: exit code 2 (got $rc)" test "$rc" -eq 2
[ -f "$log" ] && sed 's/^/        /' "$log"
check "log: the model name from the first image's revision: gModelName=[Q7]" haslog "GetModelName : gModelName=[Q7] "
check "log: \"New AtaDevice ...\"" haslog "New AtaDevice ..."
check "log: the package title and version \"Kestrel SSD Update (v1.0.0.1)\"" haslog "] : Kestrel SSD Update (v1.0.0.1)"
check "log: \"Scan Device ...\"" haslog "Scan Device ..."
check "log: \"EXIT_ERROR: 0x2\"" haslog "EXIT_ERROR: 0x2"

echo "packed deployment kestrel.exe"
runexe ./deploy.exe
check "without arguments: exit code 2 (got $rc)" test "$rc" -eq 2
check "... the start-up goes no further" bash -c "! grep -q 'New AtaDevice' '$log'"
runexe ./deploy.exe /S '/T:\\.\PhysicalDrive0'
check "/S /T:\\\\.\\PhysicalDrive0 on a machine without drives: exit code 3 (got $rc)" test "$rc" -eq 3
check "log: \"DEV_PATH:\\\\.\\PhysicalDrive0\"" haslog 'DEV_PATH:\\.\PhysicalDrive0'
runexe ./deploy.exe /S /C:3
check "/S /C:3 (no address): exit code 8 (got $rc)" test "$rc" -eq 8
check "log: \"/C: _/C:3\"" haslog "/C: _/C:3"

# Without /S a machine without drives shows nothing either: the run ends at once with the same codes.
for p in plain:2 deploy:3; do
  exe=${p%%:*}; want=${p#*:}
  runexe "./$exe.exe" '/T:\\.\PhysicalDrive0'
  check "$exe.exe without /S: exit code $want (got $rc)" test "$rc" -eq "$want"
  timeout 20 wineserver -k >/dev/null 2>&1 || true
done

echo "pack wine checks took $(( $(date +%s) - started )) s"
exit $fail
