#!/usr/bin/env bash
# An interactive update under Wine, driven as a person drives it: kestrel-sim.exe (the real Win32
# window over the simulated default machine), packed with a demonstration package for the machine's
# SATA drive, shows its drive list; xdotool opens the list and picks the drive, clicks Update and
# answers the box "Flash finished !" with a click on its OK button. Screenshots of the window go to
# build/screens/update-*.png (before, the list, during the download, while the drive restarts,
# finished) and pixels are read back to show each holds what its name says. The run must end with
# exit code 0, the simulated drive must carry the new revision and the debug log archive the run's
# end. The simulator's clock is real here, so the progress can be caught part-way.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${KESTREL_BUILD_WIN64:-$ROOT/build/win64}
PACK=${KESTREL_BUILD:-$ROOT/build/linux}/kestrel-pack
SCREENS=${KESTREL_SCREENS:-$ROOT/build/screens}
PIX="python3 $ROOT/tests/checks/window-pixels.py"

. "$ROOT/tests/checks/wine-env.bash"
wine_display "$@"

for f in "$BUILD/kestrel-sim.exe" "$PACK"; do
  [ -f "$f" ] || { echo "update-wine.sh: $f is missing (build the linux and win64 presets first)" >&2; exit 1; }
done
for t in import convert xdotool; do
  command -v "$t" >/dev/null || { echo "update-wine.sh: $t is missing (ImageMagick, xdotool)" >&2; exit 1; }
done

WORK=$(mktemp -d /tmp/kestrel-update-wine.XXXXXX)
state=$WORK/state
mkdir -p "$state"

# The demonstration package of ./dev demo: the default machine's KESTREL KS600 512GB, KS6R0100 to
# KS6R0200, packed into the x64 simulator (it carries the same package block as kestrel.exe).
"$PACK" sim-image --model "KESTREL KS600*" --revision KS6R0200 --ext-revision S6R0200 --out "$WORK/fw-ks600.bin" >/dev/null
cat > "$WORK/demo.json" <<'JSON'
{ "builder": "DEMO", "version": "v2.0.0.0", "phone": "555-0100", "title": "Kestrel SSD Update",
  "build_date": "2026/12/10", "model": "KESTREL KS600",
  "options": {"bReBoot": true, "bNFlashAuto": true, "bWindowsFlash": true},
  "images": [{"file": "fw-ks600.bin", "NEW_FW": "KS6R0200", "FW_EXT": "S6R0200",
              "constraints": [{"CMODEL": "KESTREL KS600 512GB", "START": "KS6R01", "END": "KS6R02"}]}] }
JSON
exe=$WORK/KestrelUpdate-sim.exe
"$PACK" build --template "$BUILD/kestrel-sim.exe" --manifest "$WORK/demo.json" --out "$exe" >/dev/null
check "the packed kestrel-sim.exe carries the package" bash -c "'$PACK' show '$exe' | grep -q '^  title: \"Kestrel SSD Update\"'"

wine_prefix update-wine "$WORK"
wine_undecorated
mkdir -p "$SCREENS"
rm -f "$SCREENS"/update-*.png

# The simulated machine's files (docs/sim-machine.md): the debug log while the run goes on, and the
# archive the exit packs it into.
log=$state/files/C/Users/Operator/AppData/Local/Temp/KestrelLog.txt
zip=$state/files/C/Users/Operator/AppData/Local/KestrelLog.zip
logcount() { grep -c -F -- "$1" "$log" 2>/dev/null || true; }
haslog() { [ "$(logcount "$1")" -gt 0 ]; }

(cd "$WORK" && KESTREL_SIM_STATE="$state" KESTREL_SIM_CLOCK=real timeout 90 wine "$exe" >"$WORK/run.out" 2>"$WORK/run.err" \
   && echo 0 >"$WORK/run.rc" || echo $? >"$WORK/run.rc") &
runner=$!

# geometry WINDOW: the window's place and size on the screen, frame included (WX WY WW WH).
geometry() {
  local WINDOW X="" Y="" WIDTH="" HEIGHT="" SCREEN g
  g=$(xdotool getwindowgeometry --shell "$1" 2>/dev/null) || return 1
  eval "$g"
  [ -n "$X" ] && [ -n "$Y" ] && [ -n "$WIDTH" ] && [ -n "$HEIGHT" ] || return 1
  WX=$X WY=$Y WW=$WIDTH WH=$HEIGHT
}
# shoot NAME [WINDOW...]: the screen around the main window (and the other windows named), saved as
# update-NAME.png; SX SY is the screen place of its top-left corner.
shoot() {
  local name=$1 x0 y0 x1 y1 w; shift
  geometry "$main" || return 1
  x0=$WX y0=$WY x1=$((WX + WW)) y1=$((WY + WH))
  for w in "$@"; do
    geometry "$w" || continue
    ((WX < x0)) && x0=$WX; ((WY < y0)) && y0=$WY
    ((WX + WW > x1)) && x1=$((WX + WW)); ((WY + WH > y1)) && y1=$((WY + WH))
  done
  import -window root -crop "$((x1 - x0))x$((y1 - y0))+$x0+$y0" +repage "$SCREENS/update-$name.png"
  SX=$x0 SY=$y0 SHOT=$SCREENS/update-$name.png
}
# Pixels of the last screenshot, in the main window's client coordinates.
at() { $PIX at "$SHOT" $((CX - SX + $1)) $((CY - SY + $2)); }
has() { $PIX has "$SHOT" $((CX - SX + $1)) $((CY - SY + $2)) "$3" "$4" "$5" "${6:-0}"; }
click() { xdotool mousemove "$1" "$2" click 1; }
# need DESCRIPTION CONDITION...: a check the rest of the drive depends on; returns 1 when it fails.
need() { local what=$1; shift; if "$@"; then check "$what" true; else check "$what" false; return 1; fi; }
# bar_end: the right-most pixel of the progress bar (client 8,141 320 x 16) in its fill colour,
# as a client x (8: nothing filled).
bar_end() { echo $((9 + $($PIX extent "$SHOT" $((CX - SX + 9)) $((CY - SY + 149)) 318 "$fill" 40))); }

drive() {
  main=$(timeout 40 xdotool search --sync --name '^Kestrel SSD Update \(v2\.0\.0\.0\)$' 2>/dev/null | head -n 1 || true)
  need "the main window shows, captioned \"Kestrel SSD Update (v2.0.0.0)\"" test -n "$main" || return 1
  # The 449 x 190 client area inside the frame Wine draws: an even border, the caption above.
  geometry "$main" || { check "xdotool reads where the main window lies" false; return 1; }
  local border=$(((WW - 449) / 2))
  CX=$((WX + border)) CY=$((WY + WH - 190 - border))
  echo "  main window at $WX,$WY size ${WW}x$WH, client area at $CX,$CY"
  check "the client area is 449 x 190 inside an even frame" test $((WW - 2 * border)) -eq 449

  # Before: the drive listed and selected, the update line "It will be updated from KS6R0100 To
  # KS6R0200" (the new revision orange). Painting follows the show: wait for the orange.
  local i
  for i in $(seq 1 50); do
    shoot before && has 150 141 290 17 FF8000 && break
    sleep 0.2
  done
  check "before: the new revision in the update line is orange" has 150 141 290 17 FF8000
  check "before: the old revision is navy" has 150 141 150 17 000080
  check "before: the eligible drive's icon (green) at the item's left" \
    $PIX green "$SHOT" $((CX - SX + 21)) $((CY - SY + 99)) 30 30
  check "before: the Update button's text is drawn (dark navy)" has 368 150 73 33 102E50 40
  local sel; sel=$(at 400 100)
  check "before: the drive is selected (the list's selection gradient, #$sel)" test "$sel" = F2F2FF

  # Open the list (its arrow at the right end) and pick the drive: the program hears the choice.
  local chosen; chosen=$(logcount "cboDrivesChange: 1,")
  click $((CX + 430)) $((CY + 112))
  local list=""
  for i in $(seq 1 30); do
    list=$(xdotool search --onlyvisible --name '' 2>/dev/null | while read -r w; do
      [ "$w" = "$main" ] && continue
      geometry "$w" || continue
      [ "$WH" -gt 10 ] && [ "$WY" -ge $((CY + 120)) ] && [ "$WY" -le $((CY + 135)) ] && echo "$w"
    done | head -n 1)
    [ -n "$list" ] && break
    sleep 0.1
  done
  need "the drive list drops down below the field" test -n "$list" || return 1
  sleep 0.3
  shoot list "$list"
  geometry "$list" || { check "xdotool reads where the dropped list lies" false; return 1; }
  check "the dropped list holds the drive with its green icon" \
    $PIX green "$SHOT" $((WX - SX + 10)) $((WY - SY + 1)) 30 28
  click $((WX + WW / 2)) $((WY + 15))
  for i in $(seq 1 30); do [ "$(logcount "cboDrivesChange: 1,")" -gt "$chosen" ] && break; sleep 0.1; done
  check "the program takes the picked drive (cboDrivesChange in the log)" test "$(logcount "cboDrivesChange: 1,")" -gt "$chosen"

  # Update: the status line "FW updating ..." replaces the list, the bar fills while the image goes
  # down; the log tells when the download has ended.
  sleep 0.3
  click $((CX + 404)) $((CY + 166))
  # The download takes about two seconds: keep the last shot taken inside it, until the bar is
  # a fair way on.
  local end=0 got=0
  fill=""
  for i in $(seq 1 60); do
    if haslog "Flash FW START" && ! haslog "End of Download FW image"; then
      shoot try
      if ! haslog "End of Download FW image"; then
        [ -z "$fill" ] && fill=$(at 10 149)
        got=$(bar_end)
        if [ "$got" -gt 30 ]; then
          end=$got
          mv "$SHOT" "$SCREENS/update-during.png"
          [ "$end" -ge 60 ] && break
        fi
      fi
    elif haslog "End of Download FW image"; then
      break
    fi
    sleep 0.1
  done
  rm -f "$SCREENS/update-try.png"
  SHOT=$SCREENS/update-during.png
  check "during: caught while the image goes down (\"FW updating ...\"), the bar filled to x=$end" test "$end" -gt 30 -a "$end" -lt 300
  check "during: the bar's fill (#$fill) is not the window's background" test -n "$fill" -a "$fill" != "$(at 200 180)"
  check "during: the status line shows the disabled gradient" test "$(at 400 100)" = FFF2E0
  check "during: the status text is drawn in black" has 100 96 250 32 000000
  check "during: the update line is hidden (no orange revision)" bash -c "! $PIX has '$SHOT' $((CX - SX + 150)) $((CY - SY + 141)) 290 17 FF8000"
  check "during: the Update button is disabled (its text is not dark navy)" bash -c "! $PIX has '$SHOT' $((CX - SX + 368)) $((CY - SY + 150)) 73 33 102E50 40"

  # The drive restarts with its new firmware: "Wait for device to be ready ...", the bar further on.
  for i in $(seq 1 60); do
    haslog "End of Download FW image" && break
    sleep 0.1
  done
  sleep 1
  local before=$end
  if ! haslog "SCAN DEVICES"; then
    shoot waiting
    end=$(bar_end)
    check "waiting: the drive restarts, the bar is further on (x=$end > $before)" test "$end" -gt "$before" -a "$end" -lt 327
  else
    check "waiting: caught before the rescan" false
  fi

  # Finished: the box "Flash finished !" over the window with its bar full.
  local box mx my mw mh
  geometry "$main" || { check "xdotool reads where the main window lies" false; return 1; }
  mx=$WX my=$WY mw=$WW mh=$WH
  box=$(timeout 40 xdotool search --sync --name '^Information$' 2>/dev/null | head -n 1 || true)
  need "the box \"Information\" shows" test -n "$box" || return 1
  geometry "$box" || { check "xdotool reads where the box lies" false; return 1; }
  local bx=$WX by=$WY bw=$WW bh=$WH
  for i in $(seq 1 30); do
    sleep 0.2
    shoot finished "$box"
    # Until the box's body is painted (a window not yet painted is black).
    [ "$($PIX at "$SHOT" $((bx - SX + bw / 2)) $((by - SY + bh / 2)))" != 000000 ] && break
  done
  end=$(bar_end)
  check "finished: the bar is full (x=$end)" test "$end" -ge 325
  check "finished: the box lies over the main window" \
    test "$bx" -ge "$mx" -a "$by" -ge "$my" -a $((bx + bw)) -le $((mx + mw)) -a $((by + bh)) -le $((my + mh))
  check "finished: the box has its text in black above its button" \
    $PIX has "$SHOT" $((bx - SX + 10)) $((by - SY + 30)) $((bw - 20)) $((bh - 70)) 000000
  # OK, the box's only button, centred at its foot.
  click $((bx + bw / 2)) $((by + bh - 21))
  for i in $(seq 1 100); do [ -s "$WORK/run.rc" ] && break; sleep 0.1; done
  check "OK ends the run" test -s "$WORK/run.rc"
}

drive || true
for _ in $(seq 1 50); do [ -s "$WORK/run.rc" ] && break; sleep 0.1; done
timeout 20 wineserver -k >/dev/null 2>&1 || true
wait "$runner" 2>/dev/null || true

rc=$(cat "$WORK/run.rc" 2>/dev/null || echo none)
check "the run ends with exit code 0 (got $rc)" test "$rc" = 0
check "the program wrote nothing to standard error" test ! -s "$WORK/run.err"
rev=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["KS6A26130000123"]["revision"])' "$state/drives.json" 2>/dev/null || echo none)
check "the simulated drive KS6A26130000123 carries KS6R0200 (got $rev)" test "$rev" = KS6R0200
# ES_CONTINUOUS | ES_SYSTEM_REQUIRED while the image goes down, ES_CONTINUOUS after it.
awake=$(python3 -c 'import json,sys; print(" ".join(str(e["SetThreadExecutionState"]) for e in json.load(open(sys.argv[1])) if "SetThreadExecutionState" in e))' "$state/events.json" 2>/dev/null || echo none)
check "the system was kept awake during the update and let go after it (got $awake)" test "$awake" = "2147483649 2147483648"
archived=$(python3 -c 'import sys,zipfile; sys.stdout.write(zipfile.ZipFile(sys.argv[1]).read("KestrelLog.txt", pwd=b"MOSSGATE").decode("latin-1"))' "$zip" 2>/dev/null || true)
for line in "cmdUpdateClick" "End of Download FW image" "Exit iErrorLevel: 0" "EXIT_ERROR: 0x0"; do
  check "the archived debug log has \"$line\"" grep -qF -- "$line" <<<"$archived"
done
check "the text log is gone from Temp (packed into the archive)" test ! -e "$log"
if [ "$fail" -ne 0 ]; then
  echo "--- the program's standard output and error"
  cat "$WORK/run.out" "$WORK/run.err" 2>/dev/null | tail -n 20
fi

echo "screenshots: $(cd "$SCREENS" && ls update-*.png 2>/dev/null | tr '\n' ' ')"
echo "update-wine: $(( $(date +%s) - started )) s"
exit $fail
