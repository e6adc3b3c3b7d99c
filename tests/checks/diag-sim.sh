#!/usr/bin/env bash
# kestrel-diag disks on the embedded default machine: the SATA and the NVMe disk, in address order,
# with their controllers' services and IDs, as JSON and as text.
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
if "$DIAG" bogus >/dev/null 2>&1; then echo "  FAIL  an unknown command is refused"; exit 1; fi
echo "  ok    an unknown command is refused"
