# Shared by the Wine checks; sourced by them (its suffix keeps ./dev test from running it alone).

# wine_display ARGS...: re-runs the calling script inside one xvfb-run, so the whole script has one
# virtual display (and so one wineserver).
wine_display() {
  if [ -z "${KESTREL_WINE_XVFB:-}" ]; then
    exec env KESTREL_WINE_XVFB=1 xvfb-run -a bash "$0" "$@"
  fi
}

# check DESCRIPTION CONDITION...: prints ok or FAIL; a failure sets fail=1.
started=$(date +%s)
fail=0
check() {
  local what=$1; shift
  if "$@"; then echo "  ok    $what"; else echo "  FAIL  $what"; fail=1; fi
}

# wine_prefix NAME [EXTRA-DIR...]: a fresh prefix in WINEPREFIX, booted; it and the extra folders
# are removed when the script exits.
wine_prefix() {
  local name=$1; shift
  WINEPREFIX=$(mktemp -d "/tmp/kestrel-$name.XXXXXX")
  export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  WINE_CLEANUP=("$WINEPREFIX" "$@")
  trap 'timeout 20 wineserver -k >/dev/null 2>&1 || true; rm -rf "${WINE_CLEANUP[@]}"' EXIT
  echo "wine: $(wine --version 2>/dev/null), prefix $WINEPREFIX"
  timeout 120 wineboot -i >/dev/null 2>&1 || { echo "$name: wineboot failed" >&2; exit 1; }
  timeout 30 wineserver -w || true
}

# wine_undecorated: no window manager runs on the virtual display, so Wine draws the frames and
# captions itself; a screenshot then shows the whole window as Windows draws it.
wine_undecorated() {
  timeout 30 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 || true
}
