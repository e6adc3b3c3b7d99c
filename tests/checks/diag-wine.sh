#!/usr/bin/env bash
# kestrel-diag disks under Wine (x64 build), in a fresh prefix on a virtual X display: the real
# device discovery over Wine's device tree, storage and WMI completes in bounded time, without a
# crash, and prints well-formed JSON; kestrel-diag slots and csmi run and find nothing.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${KESTREL_BUILD_WIN64:-$ROOT/build/win64}
DIAG="$BUILD/tools/diag/kestrel-diag.exe"

. "$ROOT/tests/checks/wine-env.bash"
wine_display "$@"

[ -f "$DIAG" ] || { echo "diag-wine.sh: $DIAG is missing (build the win64 preset first)" >&2; exit 1; }

wine_prefix diag-wine

# run_diag LIMIT ARGS...: runs kestrel-diag under a time limit; its exit code in rc, its output
# (without CRs) in report.txt, shown indented.
run_diag() {
  local limit=$1
  shift
  set +e
  timeout "$limit" wine "$DIAG" "$@" >"$WINEPREFIX/out.txt" 2>"$WINEPREFIX/err.txt"
  rc=$?
  set -e
  tr -d '\r' <"$WINEPREFIX/out.txt" >"$WINEPREFIX/report.txt"
  sed 's/^/        /' "$WINEPREFIX/report.txt"
}

for mode in "--json" ""; do
  echo "kestrel-diag disks $mode"
  t0=$(date +%s)
  # shellcheck disable=SC2086
  run_diag 120 disks $mode
  check "exit code 0 within the time limit (got $rc after $(( $(date +%s) - t0 )) s)" test "$rc" -eq 0
  if [ "$mode" = "--json" ]; then
    check "the output is one JSON object with the enumeration's result" python3 -c '
import json, sys
r = json.load(open(sys.argv[1]))
assert isinstance(r["disks"], list) and r["count"] == len(r["disks"])
assert 1 <= r["enumeration_runs"] <= 11 and r["bindings_missing"] is False
' "$WINEPREFIX/report.txt"
  else
    check "the text view names the bindings and the runs" grep -q '^EnumPhysicalDrives: ' "$WINEPREFIX/report.txt"
  fi
done

# No NVMe drive and no CSMI controller under Wine: both commands run and say they found nothing.
for cmd in slots csmi; do
  echo "kestrel-diag $cmd --json"
  run_diag 120 "$cmd" --json
  check "$cmd: exit code 0 within the time limit (got $rc)" test "$rc" -eq 0
  check "$cmd: one JSON object listing nothing found" python3 -c '
import json, sys
r = json.load(open(sys.argv[1]))
key = "drives" if sys.argv[2] == "slots" else "controllers"
assert r[key] == [] or all(not d.get("answered", True) for d in r[key]), r
' "$WINEPREFIX/report.txt" "$cmd"
done

# The updater's scan under Wine: no drive answers, the table is empty, the run ends normally.
for args in "scan --json" "scan --json --kind 1"; do
  echo "kestrel-diag $args"
  # shellcheck disable=SC2086
  run_diag 180 $args
  check "$args: exit code 0 within the time limit (got $rc)" test "$rc" -eq 0
  check "$args: one JSON object with an empty drive table" python3 -c '
import json, sys
r = json.load(open(sys.argv[1]))
assert r["count"] == 0 and r["drives"] == [], r
' "$WINEPREFIX/report.txt"
done

echo "diag wine checks took $(( $(date +%s) - started )) s"
exit $fail
