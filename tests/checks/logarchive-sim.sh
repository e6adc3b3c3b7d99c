#!/usr/bin/env bash
# The log archive after a whole simulated run: the empty template ends with 4; the text log is gone
# from the temporary folder and the archive beside it holds the lines written after the start-up's
# archive step, ending with the exit-code line. Python's zipfile, unzip and 7-Zip must each agree.
set -euo pipefail
cd "$(dirname "$0")/../.."
. tests/checks/logarchive.bash

fail() { echo "FAIL: $*" >&2; exit 1; }
sim=build/linux/kestrel-sim
[ -x "$sim" ] || { echo "missing $sim (build the linux preset first)" >&2; exit 1; }

state=$(mktemp -d)
trap 'rm -rf "$state"' EXIT

# A line left by a run that was killed before its end: the start-up packs it, the exit replaces it.
tmp="$state/files/C/Users/Operator/AppData/Local/Temp"
mkdir -p "$tmp"
printf '[12/9/2026 8:00:00 AM] : killed run\n' >"$tmp/KestrelLog.txt"

set +e
KESTREL_SIM_STATE=$state "$sim" /S 2>/dev/null
code=$?
set -e
[ "$code" -eq 4 ] || fail "kestrel-sim /S exited with $code, expected 4"
[ ! -e "$tmp/KestrelLog.txt" ] || fail "the debug log is still in the temporary folder"

check_log_archive "$state/files/C/Users/Operator/AppData/Local/KestrelLog.zip" "$state/out" || fail "archive"
if grep -q 'killed run' "$state/out"; then fail "the archive still holds the earlier run's lines"; fi
echo "sim run: exit 4, archive at C:\\Users\\Operator\\AppData\\Local\\\\KestrelLog.zip, last line EXIT_ERROR: 0x4"
