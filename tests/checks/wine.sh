#!/usr/bin/env bash
# The x64 build under Wine, in a fresh prefix on a virtual X display: the adapters' own tests, the
# registry they leave behind read back by reg.exe, a silent run's exit code and its log archive, the
# result records the adapter tests leave, and the single-instance mutex between two copies.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
. "$ROOT/tests/checks/logarchive.bash"
VERSION=$(sed -n 's/^project(Kestrel VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
BUILD=${KESTREL_BUILD_WIN64:-$ROOT/build/win64}

. "$ROOT/tests/checks/wine-env.bash"
wine_display "$@"

for f in "$BUILD/kestrel.exe" "$BUILD/kestrel_win32_tests.exe"; do
  [ -f "$f" ] || { echo "wine.sh: $f is missing (build the win64 preset first)" >&2; exit 1; }
done

wine_prefix wine

echo "adapter tests (kestrel_win32_tests.exe)"
set +e
timeout 120 wine "$BUILD/kestrel_win32_tests.exe" --gtest_brief=1 >"$WINEPREFIX/gtest.txt" 2>&1
rc=$?
set -e
tail -n 3 "$WINEPREFIX/gtest.txt" | sed 's/^/        /'
check "adapter tests pass (exit $rc)" test "$rc" -eq 0
[ "$rc" -eq 0 ] || cat "$WINEPREFIX/gtest.txt"

reg=$(timeout 30 wine reg query 'HKLM\SOFTWARE\KestrelTest' /v Witness 2>/dev/null | tr -d '\r' || true)
check "reg.exe reads back HKLM\\SOFTWARE\\KestrelTest Witness = \"kestrel adapter\"" \
  grep -Eq 'Witness[[:space:]]+REG_SZ[[:space:]]+kestrel adapter$' <<<"$reg"

wintemp=$(timeout 30 wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r\n')
temp=$(timeout 30 winepath -u "$wintemp" 2>/dev/null | tr -d '\r\n')
log="${temp%/}/KestrelLog.txt"
echo "Windows temporary folder: $wintemp -> $temp"
check "the temporary folder exists" test -d "$temp"
rm -f "$log"

echo "kestrel.exe /S on the template"
set +e
timeout 60 wine "$BUILD/kestrel.exe" /S >/dev/null 2>&1
rc=$?
set -e
check "exit code 4 (got $rc)" test "$rc" -eq 4
# The start-up and the exit each pack the debug log into the archive and delete it.
check "the debug log is gone from the temporary folder" test ! -e "$log"
winzip=$(log_archive_path "$wintemp\\")
zip=$(timeout 30 winepath -u "$winzip" 2>/dev/null | tr -d '\r\n')
echo "log archive: $winzip -> $zip"
if check "the log archive opens in python, unzip and 7z and ends with EXIT_ERROR: 0x4" \
  check_log_archive "$zip" "$WINEPREFIX/archived-log.txt"; then
  sed 's/^/        /' "$WINEPREFIX/archived-log.txt"
fi

echo "result records left by the adapter tests"
fw=$(timeout 30 wine reg query 'HKLM\SOFTWARE\WOW6432Node\Halvard\Corvane\TargetDevice' /v FWVersion 2>/dev/null | tr -d '\r' || true)
check "reg.exe reads back ...\\Corvane\\TargetDevice FWVersion = \"W1.2.3\" (trimmed)" \
  grep -Eq 'FWVersion[[:space:]]+REG_SZ[[:space:]]+W1\.2\.3$' <<<"$fw"
keys=$(timeout 30 wine reg query 'HKLM\SOFTWARE\WOW6432Node\Halvard\Corvane' 2>/dev/null | tr -d '\r' || true)
check "reg.exe finds ...\\Corvane\\NoTargetDevice" grep -q '\\Corvane\\NoTargetDevice$' <<<"$keys"
ini="$BUILD/kestrel_win32_tests.INI"
check "kestrel_win32_tests.INI beside the test executable: three CR LF lines, the resource's version" \
  cmp -s "$ini" <(printf 'EXE_VERSION = %s\r\nCURRENT_FW = CUR1\r\nTARGET_FW = N/A\r\n' "$VERSION")
rm -f "$ini"

echo "single instance: a first copy holds ROOK_SCCM_TOOL_MUTEX (its \"No F/W in executable !\" box open)"
rm -f "$log" "$WINEPREFIX/first.rc"
( set +e; timeout 90 wine "$BUILD/kestrel.exe" >/dev/null 2>&1; echo $? >"$WINEPREFIX/first.rc" ) &
first=$!
# The mutex is created before the start-up writes its first log line.
for _ in $(seq 1 200); do
  grep -q 'Check usage' "$log" 2>/dev/null && break
  sleep 0.1
done
check "the first copy reached its start-up" grep -q 'Check usage' "$log"
lines=$(wc -l <"$log" 2>/dev/null || echo 0)
t0=$(date +%s%N)
set +e
timeout 30 wine "$BUILD/kestrel.exe" /S >/dev/null 2>&1
rc=$?
set -e
ms=$(( ($(date +%s%N) - t0) / 1000000 ))
check "the second copy quits at once (${ms} ms)" test "$ms" -lt 15000
check "its exit code is unchanged: 255 (got $rc)" test "$rc" -eq 255
check "it wrote nothing to the first copy's log" test "$(wc -l <"$log" 2>/dev/null || echo 0)" -eq "$lines"
check "the first copy is still running" kill -0 "$first"
if command -v xdotool >/dev/null; then
  # What a person sees: the box titled "Error" over the hidden main window, whose caption the
  # package options set; OK ends the run with exit code 4.
  check "the main window carries the caption \"Kestrel (v0.0.0.0)\"" \
    bash -c 'xdotool search --name "^Kestrel \(v0\.0\.0\.0\)$" | grep -q .'
  box=$(timeout 20 xdotool search --sync --name '^Error$' 2>/dev/null | head -n 1 || true)
  check "the first copy shows its box \"Error\"" test -n "$box"
  if [ -n "$box" ]; then
    # A click on the OK button (the box's only button, centred at its foot): unlike a key press
    # it does not depend on where the second copy's bring-to-front left the focus.
    eval "$(xdotool getwindowgeometry --shell "$box")"
    xdotool mousemove --window "$box" $((WIDTH / 2)) $((HEIGHT - 21)) click 1 2>/dev/null || true
  fi
  for _ in $(seq 1 100); do [ -s "$WINEPREFIX/first.rc" ] && break; sleep 0.1; done
  check "OK on the box ends the first copy with exit code 4 (got $(cat "$WINEPREFIX/first.rc" 2>/dev/null))" \
    grep -qx 4 "$WINEPREFIX/first.rc"
fi
timeout 20 wineserver -k >/dev/null 2>&1 || true
wait "$first" 2>/dev/null || true

echo "wine checks took $(( $(date +%s) - started )) s"
exit $fail
