# Shared by the log-archive checks; sourced by them (its suffix keeps ./dev test from running it alone).
fail() { echo "FAIL: $*" >&2; exit 1; }

# check_log_archive ZIP OUT: each reader extracts the one entry with the password and the results
# agree; a wrong password is refused by each; the log starts after the start-up's archive step and
# its last line is the exit-code line. OUT receives the log text.
check_log_archive() {
  local zip=$1 out=$2
  [ -f "$zip" ] || fail "no archive at $zip"
  python3 - "$zip" >"$out" <<'EOF'
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = z.namelist()
assert names == ["KestrelLog.txt"], names
info = z.infolist()[0]
assert info.flag_bits & 1, "entry is not encrypted"
assert info.compress_type == zipfile.ZIP_DEFLATED
try:
    z.read("KestrelLog.txt", pwd=b"MOSSGATF")
    sys.exit("python zipfile accepted a wrong password")
except (RuntimeError, zipfile.BadZipFile):
    pass
sys.stdout.buffer.write(z.read("KestrelLog.txt", pwd=b"MOSSGATE"))
EOF
  unzip -p -P MOSSGATE "$zip" KestrelLog.txt 2>/dev/null | cmp -s - "$out" || fail "unzip read other bytes than python"
  7z e -so -pMOSSGATE "$zip" KestrelLog.txt 2>/dev/null | cmp -s - "$out" || fail "7z read other bytes than python"
  if unzip -p -P MOSSGATF "$zip" KestrelLog.txt >/dev/null 2>&1; then fail "unzip accepted a wrong password"; fi
  if 7z e -so -pMOSSGATF "$zip" KestrelLog.txt >/dev/null 2>&1; then fail "7z accepted a wrong password"; fi

  grep -q 'GetModelName : gModelName=' "$out" && fail "the archive holds lines from before the start-up's archive step"
  head -n1 "$out" | grep -q '\] : Check usage \.\.\.$' || fail "first line is not the one after the archive step: $(head -n1 "$out")"
  local last
  last=$(grep -v '^\s*$' "$out" | tail -n1 | tr -d '\r')
  case "$last" in
    "["*"] : EXIT_ERROR: 0x4") ;;
    *) fail "last line of the archived log is '$last'" ;;
  esac
}
