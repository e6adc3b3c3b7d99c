#!/usr/bin/env bash
# kestrel-diag disks on the embedded default machine: the SATA and the NVMe disk, in address order,
# with their controllers' services and IDs, as JSON and as text; kestrel-diag slots and csmi on the
# RST and CSMI machine files.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
DIAG=${KESTREL_BUILD_LINUX:-$ROOT/build/linux}/tools/diag/kestrel-diag
[ -x "$DIAG" ] || { echo "diag-sim.sh: $DIAG is missing (build the linux preset first)" >&2; exit 1; }
out=$(mktemp)
trap 'rm -f "$out"' EXIT
env -u KESTREL_SIM_MACHINE timeout 60 "$DIAG" disks --json >"$out"
python3 - "$out" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))
assert r["bindings_missing"] is False and r["enumerated"] is True, r
assert r["count"] == r["expected_count"] == 2 and r["enumeration_runs"] == 1, r
sata, nvme = r["disks"]
assert sata["bus_type"] == 11 and sata["scsi_address"] == {"port": 0, "path": 0, "target": 0, "lun": 0}
assert sata["ancestors"][0]["service"] == "storahci" and (sata["parent_vid"], sata["parent_did"]) == (0x8086, 0xA352)
assert nvme["bus_type"] == 17 and nvme["scsi_address"]["port"] == 1
assert nvme["ancestors"][0]["service"] == "stornvme" and nvme["product_revision"] == "KN9R0200"
assert nvme["ancestors"][-1]["instance_id"] == "HTREE\\ROOT\\0"
print("  ok    kestrel-diag disks --json: %d disks, %d run" % (r["count"], r["enumeration_runs"]))
PY
env -u KESTREL_SIM_MACHINE timeout 60 "$DIAG" disks | grep -q '^    SCSI address    : 1-0-0-0$'
echo "  ok    kestrel-diag disks (text)"
MACHINES=$ROOT/sim/machines
KESTREL_SIM_MACHINE=$MACHINES/rst15-nvme.json timeout 60 "$DIAG" slots --json >"$out"
python3 - "$out" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))
(d,) = r["drives"]
assert d["route"] == "rst" and d["scsi_address"] == {"port": 2, "path": 1, "target": 0, "lun": 0}, d
i = d["information"]
assert (i["slot_count"], i["active_slot"], i["pending_slot"]) == (3, 2, None), i
assert [(s["number"], s["read_only"], s["revision"]) for s in i["slots"]] == [(1, True, "KN9R0100"), (2, False, "KN9R0200"), (3, False, "")], i
print("  ok    kestrel-diag slots --json: the RST drive's three slots")
PY
KESTREL_SIM_MACHINE=$MACHINES/rst13-nvme.json timeout 60 "$DIAG" slots | grep -q '(Intel RST, miniport request, SCSI 2-1-0-0)$'
echo "  ok    kestrel-diag slots: an RST 13 drive through the miniport request"
env -u KESTREL_SIM_MACHINE timeout 60 "$DIAG" slots | grep -q '^    the firmware information request failed$'
echo "  ok    kestrel-diag slots: the default NVMe disk has no drive model to answer"
KESTREL_SIM_MACHINE=$MACHINES/csmi-raid.json timeout 60 "$DIAG" csmi --json >"$out"
python3 - "$out" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))
(c,) = r["controllers"]
assert c["port"] == 3 and c["name"] == "lsi_sas2" and c["revision"] == "2.0.72.0" and c["phy_table_read"], c
assert [p["attached_target_protocol"] for p in c["phys"]] == [1, 4, 8, 0], c
print("  ok    kestrel-diag csmi --json: one controller, four phys")
PY
env -u KESTREL_SIM_MACHINE timeout 60 "$DIAG" csmi | grep -q '^No CSMI controller found on SCSI ports 0-15.$'
echo "  ok    kestrel-diag csmi: nothing found on the default machine"
if "$DIAG" bogus >/dev/null 2>&1; then echo "  FAIL  an unknown command is refused"; exit 1; fi
echo "  ok    an unknown command is refused"
