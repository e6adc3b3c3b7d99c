#!/usr/bin/env bash
# The x64 boot-time road under Wine, in a fresh prefix: kestrel-pack fills a large-slot template
# (the road's check program) with an enciphered image, a stand-in flasher and a real stand-in copy
# program; the road runs through the real adapters; reg.exe and the files read back what it left:
# FW.bin, the patched NtMFlash.exe, CopyFile.exe started through the shell, and BootExecute with the
# entries that were there before kept.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${KESTREL_BUILD_WIN64:-$ROOT/build/win64}
PACK=${KESTREL_BUILD:-$ROOT/build/linux}/kestrel-pack

. "$ROOT/tests/checks/wine-env.bash"
wine_display "$@"

for f in "$BUILD/kestrel_boot_road.exe" "$BUILD/kestrel_copy_witness.exe" "$BUILD/kestrel.exe" "$PACK"; do
  [ -f "$f" ] || { echo "boot-wine.sh: $f is missing (build the linux and win64 presets first)" >&2; exit 1; }
done

WORK=$(mktemp -d)
wine_prefix boot-wine "$WORK"
cd "$WORK"

# The stand-ins: a flasher far larger than a slot of the exact layout, with every key the road
# patches and the room after each; the copy program is a real x64 program.
"$PACK" sim-image --model "KESTREL KS600*" --revision KS2.00A --payload-size 3000 --out fw.bin >/dev/null
python3 - <<'PY'
import json
keys = [("UPDATEBOOT=", 1), ("B_PREFORMAT=", 1), ("A_PREFORMAT=", 1), ("PROTOCOL=", 2), ("SSDREBOOT=", 1),
        ("_____FW=", 8), ("_FW_EXT=", 8), ("DRIVECOUNT=", 4), ("VENDID1=", 40), ("FW1=", 8), ("SN1=", 20)]
body = b"MZ stand-in boot-time flasher " + b"-" * 4000 + b"".join(k.encode() + b"." * n + b"|" for k, n in keys)
open("flasher.exe", "wb").write(body)
programs = {s: "flasher.exe" for s in ["EXE_XP_X86", "EXE_2003_X86", "EXE_2003_X64", "EXE_2008_X86", "EXE_2008_X64",
                                         "EXE_WIN7_X86", "EXE_WIN7_X64"]}
programs.update({s: "copy.exe" for s in ["EXE_COPYFILE_WIN7", "EXE_COPYFILE_2K3", "EXE_COPYFILE_2K8", "EXE_COPYFILE_XP"]})
json.dump({"title": "Kestrel Boot Update", "version": "v1.0.0.1",
           "options": {"bReBoot": True, "bPreformat": True, "bWindowsFlash": False},
           "images": [{"file": "fw.bin", "NEW_FW": "KS2.00A", "FW_EXT": "KV31502"}],
           "programs": programs}, open("manifest.json", "w"), indent=1)
PY
cp "$BUILD/kestrel_copy_witness.exe" copy.exe

echo "kestrel-pack on the large-slot template"
"$PACK" build --template "$BUILD/kestrel_boot_road.exe" --manifest manifest.json --out road.exe >pack.txt
"$PACK" show road.exe >show.txt
check "show reports slots of 1048576 bytes" grep -q '^program slots: 1048576 bytes each' show.txt
check "show lists the $(stat -c %s copy.exe)-byte copy program" grep -q "^program EXE_COPYFILE_2K8: $(stat -c %s copy.exe) bytes" show.txt
set +e
"$PACK" build --template "$BUILD/kestrel.exe" --manifest manifest.json --out exact.exe 2>refused.txt
rc=$?
set -e
check "the exact-layout kestrel.exe refuses the flasher (exit $rc)" grep -q 'programs.EXE_WIN7_X64: .*larger than its 32-byte slot' refused.txt
check "and leaves no output" test ! -e exact.exe
"$PACK" show "$BUILD/kestrel.exe" >show-exact.txt
check "show reports the exact layout's 32-byte slots" grep -q '^program slots: 32 bytes each' show-exact.txt

SM='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager'
timeout 30 wine reg add "$SM" /v BootExecute /t REG_MULTI_SZ /d 'autocheck autochk *\0other-boot-program /x\0NtMFlash OLD.bin' /f >/dev/null 2>&1
before=$(timeout 30 wine reg query "$SM" /v BootExecute 2>/dev/null | tr -d '\r' || true)
echo "BootExecute before: $(grep BootExecute <<<"$before" | sed 's/^ *//')"

sysdir=$(timeout 30 winepath -u 'C:\windows\system32' 2>/dev/null | tr -d '\r\n')
wowdir=$(timeout 30 winepath -u 'C:\windows\syswow64' 2>/dev/null | tr -d '\r\n')
tempdir=$(timeout 30 winepath -u 'C:\windows\temp' 2>/dev/null | tr -d '\r\n')
rm -f "$sysdir/FW.bin" "$sysdir/NtMFlash.exe" "$wowdir/CopyFile.exe" "$tempdir/kestrel-copy-witness.txt"

echo "the boot-time road (silent run; the reboot question is answered no)"
set +e
timeout 120 wine ./road.exe /S >road.txt 2>road.err
rc=$?
set -e
tr -d '\r' <road.txt | sed 's/^/        /'
check "exit code 11, boot-time installation prepared (got $rc)" test "$rc" -eq 11
check "the reboot question is shown even in a silent run" \
  grep -q '^box \[Question\] The update process needs to REBOOT your computer. Do you want to reboot NOW ?' road.txt
check "no other box in a silent run" test "$(grep -c '^box ' road.txt)" -eq 1

check "FW.bin in the system directory is the deciphered image at its padded length" python3 - "$sysdir/FW.bin" fw.bin <<'PY'
import sys
got = open(sys.argv[1], "rb").read(); img = open(sys.argv[2], "rb").read()
img += b"\0" * (-len(img) % 512)
sys.exit(0 if got == img and len(got) % 512 == 0 else 1)
PY
check "NtMFlash.exe is the flasher with the run's values after the first occurrence of each key" \
  python3 - "$sysdir/NtMFlash.exe" flasher.exe <<'PY'
import sys
got = open(sys.argv[1], "rb").read(); want = bytearray(open(sys.argv[2], "rb").read())
for key, value in [("UPDATEBOOT=", "0"), ("B_PREFORMAT=", "0"), ("A_PREFORMAT=", "1"), ("PROTOCOL=", "0"),
                   ("SSDREBOOT=", "1"), ("_____FW=", "KS2.00A"), ("_FW_EXT=", "KV31502"), ("DRIVECOUNT=", "0001"),
                   ("VENDID1=", "KESTREL KS600 512GB"), ("FW1=", "KS6R0100"), ("SN1=", "KS6A26130000123")]:
    at = want.index(key.encode()) + len(key)
    want[at:at + len(value)] = value.encode()
sys.exit(0 if got == bytes(want) else 1)
PY
check "CopyFile.exe in SysWOW64 is the copy program" cmp -s "$wowdir/CopyFile.exe" copy.exe
for _ in $(seq 1 100); do [ -s "$tempdir/kestrel-copy-witness.txt" ] && break; sleep 0.2; done
check "the shell started it through cmd.exe (its witness file is there)" test -s "$tempdir/kestrel-copy-witness.txt"
[ -s "$tempdir/kestrel-copy-witness.txt" ] && echo "        witness: $(tr -d '\r' <"$tempdir/kestrel-copy-witness.txt")"

after=$(timeout 30 wine reg query "$SM" /v BootExecute 2>/dev/null | tr -d '\r' || true)
echo "BootExecute after: $(grep BootExecute <<<"$after" | sed 's/^ *//')"
check "reg.exe reads BootExecute: the other entries kept, ours once in place of the earlier one" \
  grep -Eq 'BootExecute[[:space:]]+REG_MULTI_SZ[[:space:]]+autocheck autochk \*\\0other-boot-program /x\\0NtMFlash FW\.bin$' <<<"$after"

echo "boot wine checks took $(( $(date +%s) - started )) s"
exit $fail
