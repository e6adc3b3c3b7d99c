# Shared by the log-archive checks; sourced by them (its suffix keeps ./dev test from running it alone).

# check_log_archive ZIP OUT: Python's zipfile, unzip and 7-Zip each extract the one entry with the
# password, and agree byte for byte; each refuses a wrong password; the log starts after the
# start-up's archive step, its line ends are CR LF and its last line is "EXIT_ERROR: 0x4". OUT
# receives the log text.
# Returns 1 with a message on the first difference.
check_log_archive() {
  local zip=$1 out=$2 last
  [ -f "$zip" ] || { echo "no archive at $zip" >&2; return 1; }
  python3 - "$zip" >"$out" <<'PY' || { echo "python zipfile could not read $zip" >&2; return 1; }
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
PY
  unzip -p -P MOSSGATE "$zip" KestrelLog.txt 2>/dev/null | cmp -s - "$out" || { echo "unzip read other bytes than python" >&2; return 1; }
  7z e -so -pMOSSGATE "$zip" KestrelLog.txt 2>/dev/null | cmp -s - "$out" || { echo "7z read other bytes than python" >&2; return 1; }
  if unzip -p -P MOSSGATF "$zip" KestrelLog.txt >/dev/null 2>&1; then echo "unzip accepted a wrong password" >&2; return 1; fi
  if 7z e -so -pMOSSGATF "$zip" KestrelLog.txt >/dev/null 2>&1; then echo "7z accepted a wrong password" >&2; return 1; fi

  if grep -q 'GetModelName : gModelName=' "$out"; then
    echo "the archive holds lines from before the start-up's archive step" >&2; return 1
  fi
  # A Windows text file: every line end is CR LF.
  python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); sys.exit(d.count(b"\n") != d.count(b"\r\n"))' "$out" ||
    { echo "the archived log has line ends other than CR LF" >&2; return 1; }
  head -n1 "$out" | tr -d '\r' | grep -q '\] : Check usage \.\.\.$' || { echo "first line is not the one after the archive step: $(head -n1 "$out")" >&2; return 1; }
  last=$(grep -v '^[[:space:]]*$' "$out" | tail -n1 | tr -d '\r')
  case "$last" in
    "["*"] : EXIT_ERROR: 0x4") ;;
    *) echo "last line of the archived log is '$last'" >&2; return 1 ;;
  esac
}

# The archive's Windows path for a temporary directory: the part before the first "Temp" and
# "\KestrelLog.zip"; the current drive's root when there is no "Temp".
log_archive_path() {
  local temp=$1
  case "$temp" in
    *Temp*) printf '%s\\KestrelLog.zip' "${temp%%Temp*}" ;;
    *) printf '\\KestrelLog.zip' ;;
  esac
}
