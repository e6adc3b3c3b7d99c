#!/usr/bin/env bash
# kestrel-diag scan on every machine file of sim/machines/: the drive table the updater's scan
# fills, one record per drive, with its route, texts, address and, for NVMe, its slot list.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
DIAG=${KESTREL_BUILD_LINUX:-$ROOT/build/linux}/tools/diag/kestrel-diag
[ -x "$DIAG" ] || { echo "diag-scan.sh: $DIAG is missing (build the linux preset first)" >&2; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for m in "$ROOT"/sim/machines/*.json; do
  name=$(basename "$m" .json)
  KESTREL_SIM_MACHINE=$m timeout 60 "$DIAG" scan --json >"$out/$name.json"
  KESTREL_SIM_MACHINE=$m timeout 60 "$DIAG" scan >"$out/$name.txt"
done
KESTREL_SIM_MACHINE=$ROOT/sim/machines/default.json timeout 60 "$DIAG" scan --json --kind 1 >"$out/default-kind1.json"
python3 - "$out" "$ROOT/sim/machines" <<'PY'
import glob, json, os, sys
out, machines = sys.argv[1], sys.argv[2]
# machine: (scan type, count, routes of the drives)
expected = {
    "default": (0, 1, ["ata"]),
    "nvme-inbox": (0, 2, ["ata", "nvme-inbox"]),
    "rst15-nvme": (0, 1, ["nvme-rst"]),
    "rst13-nvme": (0, 1, ["nvme-inbox"]),
    "nvme-third-party": (0, 1, ["ata"]),
    "rst-sata": (0, 1, ["ata"]),
    "csmi-raid": (1, 2, ["csmi", "csmi"]),
    "disks-17": (0, 16, ["ata"] * 16),
    "identify-fourth-try": (0, 1, ["ata"]),
    "system-volume-unqueried": (0, 1, ["ata"]),
    "pass-through-fault": (0, -1, []),
    "default-kind1": (1, 0, []),
}
names = [os.path.basename(p)[:-5] for p in glob.glob(machines + "/*.json")] + ["default-kind1"]
missing = [n for n in names if n not in expected]
assert not missing, "machine files without an expectation here: %s" % missing
for name in names:
    r = json.load(open("%s/%s.json" % (out, name)))
    scan_type, count, routes = expected[name]
    assert (r["scan_type"], r["count"]) == (scan_type, count), (name, r["scan_type"], r["count"])
    assert [d["route"] for d in r["drives"]] == routes, (name, r["drives"])
    for d in r["drives"]:
        for key in ("model", "revision", "serial", "def", "ppid", "system_drive", "scsi_address", "slots", "order"):
            assert key in d, (name, key)
        assert d["model"].strip() and d["revision"].strip(), (name, d)
        assert bool(d["slots"]) == d["route"].startswith("nvme"), (name, d["slots"])
    print("  ok    kestrel-diag scan --json on %s: %d drive(s)" % (name, r["count"]))
rst = json.load(open(out + "/rst15-nvme.json"))["drives"][0]
assert rst["slots"] == ["Default", "1. KN9R0100", "2. KN9R0200", "3. NA"], rst
assert rst["ppid"] == "CN0KN9A2613000045700A01" + " " * 9 and rst["scsi_address"] == {"port": 2, "path": 1, "target": 0, "lun": 0}
sata = json.load(open(out + "/default.json"))["drives"][0]
assert sata["system_drive"] is True and sata["def"] == "S6R0100A" and sata["model"] == "KESTREL KS600 512GB" + " " * 21
csmi = json.load(open(out + "/csmi-raid.json"))["drives"][1]
assert csmi["csmi"] == {"phy": 1, "port": 1, "sas_address": "01B2A10000C50050"}, csmi
assert json.load(open(out + "/rst-sata.json"))["sata_irst"] is True
PY
grep -q '^\[0\] KESTREL KN900 1TB  KN9R0200  (nvme-rst)$' "$out/rst15-nvme.txt"
grep -q '^    slots           : \[Default\] \[1. KN9R0100\] \[2. KN9R0200\] \[3. NA\]$' "$out/rst15-nvme.txt"
echo "  ok    kestrel-diag scan (text)"
if "$DIAG" scan --kind 2 >/dev/null 2>&1; then echo "  FAIL  an unknown scan kind is refused"; exit 1; fi
echo "  ok    an unknown scan kind is refused"
