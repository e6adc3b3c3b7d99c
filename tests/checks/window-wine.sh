#!/usr/bin/env bash
# The real main window under Wine: kestrel-sim.exe (the simulated machine under the Win32 window)
# shows the window in each state of its gallery; a screenshot of each goes to build/screens/, and
# pixels are read back where the window's logic put colours: the orange new revision, the bands of
# the selected drive's gradient, the dark-red not-allowed line, the disabled-list gradient of the
# status line, the progress bars, the icons and the banner.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${KESTREL_BUILD_WIN64:-$ROOT/build/win64}
SCREENS=${KESTREL_SCREENS:-$ROOT/build/screens}
PIX="python3 $ROOT/tests/checks/window-pixels.py"

. "$ROOT/tests/checks/wine-env.bash"
wine_display "$@"

[ -f "$BUILD/kestrel-sim.exe" ] || { echo "window-wine.sh: $BUILD/kestrel-sim.exe is missing (build the win64 preset first)" >&2; exit 1; }
command -v import >/dev/null || { echo "window-wine.sh: ImageMagick's import is missing" >&2; exit 1; }

state_dir=$(mktemp -d /tmp/kestrel-window-state.XXXXXX)
wine_prefix window "$state_dir"
mkdir -p "$SCREENS"
wine_undecorated
# A Traditional Chinese Windows links Tahoma to a CJK font for the characters Tahoma lacks; the prefix
# gets the same link to the CJK font the system has, so the Chinese window shows its texts.
cjk=$(fc-list -f '%{file}|%{family[0]}\n' :lang=zh-tw 2>/dev/null | head -1)
if [ -n "$cjk" ]; then
  timeout 30 wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v Tahoma /t REG_MULTI_SZ \
    /d "$(basename "${cjk%%|*}"),${cjk#*|}" /f >/dev/null 2>&1 || true
fi

# shoot STATE: runs the gallery in STATE, takes the screenshot, sets CX CY CW CH (client area).
shoot() { shoot_as "$1" "$1"; }
# shoot_as NAME STATE: the same, saved as NAME.png.
shoot_as() {
  local state=$1 gallery=$2 out="$WINEPREFIX/$1.out"
  rm -f "$SCREENS/$state.png"
  KESTREL_SIM_GALLERY=$gallery KESTREL_SIM_GALLERY_SECONDS=4 KESTREL_SIM_STATE="$state_dir" \
    timeout 90 wine "$BUILD/kestrel-sim.exe" >"$out" 2>"$WINEPREFIX/$state.err" &
  local pid=$! i
  for i in $(seq 1 300); do
    grep -q '^client ' "$out" 2>/dev/null && break
    sleep 0.1
  done
  # Painting follows the show.
  sleep 2
  import -window root "$SCREENS/$state.png"
  wait "$pid" || true
  read -r _ CX CY CW CH < <(grep '^client ' "$out" | tr -d '\r' | head -n 1) || true
  echo "$state: client area at ${CX:-?},${CY:-?} size ${CW:-?}x${CH:-?} -> $SCREENS/$state.png"
  [ -n "${CX:-}" ] && [ -f "$SCREENS/$state.png" ]
}

# has NAME X Y W H RRGGBB [TOL]: a pixel of that colour in the box (client coordinates).
has() { local what=$1; shift; check "$what" $PIX has "$SCREENS/$state.png" $((CX + $1)) $((CY + $2)) "$3" "$4" "$5" "${6:-0}"; }
at() { $PIX at "$SCREENS/$state.png" $((CX + $1)) $((CY + $2)); }

state=drives
if check "drives: the window shows and tells where" shoot drives; then
  check "drives: client area 449 x 190" test "$CW x $CH" = "449 x 190"
  has "drives: the new revision is orange (33023)" 150 141 290 17 FF8000
  has "drives: the old revision is navy" 150 141 290 17 000080
  # The selection field of the focused list: bands 3 pixels high from (3,3) of the list at (8,96).
  for band in 0:F2F2FF 2:EAF2FE 5:C8DFFF 9:ACCFFF; do
    b=${band%%:*} c=${band#*:}
    got=$(at 400 $((99 + 3 * b + 1)))
    check "drives: selected item band $b is #$c (got #$got)" test "$got" = "$c"
  done
  check "drives: the eligible drive's icon (green) at the item's left" $PIX green "$SCREENS/$state.png" $((CX + 21)) $((CY + 99)) 30 30
  banner=$(at 100 63)
  check "drives: the banner's orange rule at its foot (got #$banner)" python3 -c "
r,g,b=(int('$banner'[i:i+2],16) for i in (0,2,4)); raise SystemExit(0 if r>200 and 120<g<200 and b<110 else 1)"
  has "drives: the Update button's text is drawn (dark navy)" 368 150 73 33 102E50 40
fi

state=notallowed
if check "notallowed: the window shows" shoot notallowed; then
  has "notallowed: the not-allowed line is dark red (0x000080)" 12 141 300 17 800000
  check "notallowed: no orange revision" bash -c "! $PIX has '$SCREENS/$state.png' $((CX + 12)) $((CY + 141)) 420 17 FF8000"
  check "notallowed: the ineligible drive's icon is not green" bash -c "! $PIX green '$SCREENS/$state.png' $((CX + 21)) $((CY + 99)) 30 30"
fi

state=updating
if check "updating: the window shows" shoot updating; then
  for band in 0:FFF2E0 3:FFEE91 5:FFD75B 9:FFCF13; do
    b=${band%%:*} c=${band#*:}
    got=$(at 400 $((99 + 3 * b + 1)))
    check "updating: status line band $b is the disabled gradient #$c (got #$got)" test "$got" = "$c"
  done
  has "updating: the status text is drawn in black" 100 96 250 38 000000
  left=$(at 40 149) right=$(at 290 149)
  check "updating: the progress bar is filled at its left (#$left) and not at its right (#$right)" test "$left" != "$right"
fi

state=deploy
if check "deploy: the window shows" shoot deploy; then
  check "deploy: the window shrank to the progress panel (client height $CH)" test "$CH" -lt 160
  has "deploy: the new revision is orange" 100 55 340 25 FF8000
  has "deploy: model and current revision are navy" 100 5 340 50 000080
  left=$(at 30 96) right=$(at 420 96)
  check "deploy: the progress bar is filled at its left (#$left) and not at its right (#$right)" test "$left" != "$right"
fi

state=chinese
if check "chinese: the window shows" shoot chinese; then
  has "chinese: the new revision is orange" 150 141 290 17 FF8000
fi

# The same window at 150 %: the layout scales with the DPI, the draw operations with it.
timeout 30 wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1 || true
timeout 30 wineserver -w || true
state=drives-150
if check "drives at 150 %: the window shows" shoot_as drives-150 drives; then
  check "drives at 150 %: client area 674 x 285 (got $CW x $CH)" test "$CW x $CH" = "674 x 285"
  s() { python3 -c "import sys; print(int($1 * 1.5 + 0.5))"; }
  for band in 0:F2F2FF 5:C8DFFF; do
    b=${band%%:*} c=${band#*:}
    # The field's item rectangle starts 3 device pixels in: 2 logical pixels at this scale.
    got=$(at "$(s 400)" $(( $(s 96) + $(s $((2 + 3 * b))) + 1 )))
    check "drives at 150 %: selected item band $b is #$c (got #$got)" test "$got" = "$c"
  done
  has "drives at 150 %: the new revision is orange" "$(s 150)" "$(s 141)" "$(s 290)" "$(s 17)" FF8000
fi

echo "screenshots: $(ls "$SCREENS" | tr '\n' ' ')"
echo "window-wine: $(( $(date +%s) - started )) s"
exit $fail
