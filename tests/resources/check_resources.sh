#!/usr/bin/env bash
# Checks what is built into the Windows programs, without running them (no Wine needed):
# the version record, the icon (the repair tool has one, the viewer none), the manifest, the
# GUI subsystem and an import table that names only Windows system DLLs, so that the bare .exe
# runs when it is copied alone into the host's folder.
#
#   check_resources.sh PATH/Panefix.exe [PATH/Panepeek.exe ...]
#
# Which program a file is comes from its name. The resources are read back with windres and the
# headers with objdump (the x86_64 mingw-w64 tools read 32-bit and 64-bit programs alike);
# WINDRES and OBJDUMP override them. Prints one line per check and a closing count; the exit
# status is 0 only when every check passed.
set -u

WINDRES=${WINDRES:-}
OBJDUMP=${OBJDUMP:-}
for prefix in x86_64-w64-mingw32 i686-w64-mingw32; do
  if [[ -z $WINDRES ]] && command -v "$prefix-windres" >/dev/null; then WINDRES=$prefix-windres; fi
  if [[ -z $OBJDUMP ]] && command -v "$prefix-objdump" >/dev/null; then OBJDUMP=$prefix-objdump; fi
done
if [[ -z $WINDRES || -z $OBJDUMP ]]; then
  echo "check_resources.sh: no mingw-w64 windres/objdump found (set WINDRES and OBJDUMP)" >&2
  exit 2
fi
if [[ $# -eq 0 ]]; then
  echo "usage: check_resources.sh PATH/Panefix.exe [PATH/Panepeek.exe ...]" >&2
  exit 2
fi

# The expected version records: key and value, one a line, UTF-8. Exactly these values must be in
# the string table, none missing and none more.
PANEFIX_STRINGS='Comments|スレッド・ペインの幅を変更します。 (Mirvel 用)
Usage|Panefix.exe [ピクセル数]
FileDescription|Panefix
FileVersion|1.20.0.34
InternalName|Panefix
OriginalFilename|Panefix.exe
ProductName|Mirvel スレ幅修復ツール
ProductVersion|1.20'
PANEFIX_FIXED='FILEVERSION 1, 20, 0, 34
PRODUCTVERSION 1, 20, 0, 0'

PANEPEEK_STRINGS='Comments|スレッド・ペインの幅を表示
FileDescription|Panepeek for Mirvel
FileVersion|1.0.0.1
OriginalFilename|Panepeek.exe
ProductName|Mirvel スレ幅修復ツール
ProductVersion|1.20'
PANEPEEK_FIXED='FILEVERSION 1, 0, 0, 1
PRODUCTVERSION 1, 20, 0, 0'

# DLLs that every Windows installation has. Anything else (libstdc++-6.dll, libgcc_s_*.dll,
# libwinpthread-1.dll, ...) would have to be shipped beside the program.
SYSTEM_DLL_PATTERN='^(kernel32|user32|gdi32|advapi32|shell32|comctl32|comdlg32|ole32|oleaut32|ntdll|msvcrt|ucrtbase|ws2_32|version|api-ms-win-[a-z0-9-]+)\.dll$'

passed=0
failed=0
pass() { echo "ok   - $1"; passed=$((passed + 1)); }
fail() { echo "FAIL - $1"; failed=$((failed + 1)); }

# Prints TEXT (UTF-8) the way windres -O rc writes a string of a version record: printable ASCII
# as it is, a doubled quote for a quote, a doubled backslash for a backslash, every other
# character as \x and four hex digits, and the whole in L"..." when any such character is in it.
rc_string() {
  local text=$1 out="" wide=0 code char i
  local -a units
  read -r -a units < <(printf '%s' "$text" | iconv -f UTF-8 -t UTF-32BE | od -An -v -tu1 | tr -s ' \n' '  ')
  for ((i = 0; i < ${#units[@]}; i += 4)); do
    code=$(((units[i] << 24) | (units[i + 1] << 16) | (units[i + 2] << 8) | units[i + 3]))
    if ((code == 0x22)); then
      out+='""'
    elif ((code == 0x5C)); then
      out+="\\\\"
    elif ((code >= 0x20 && code < 0x7F)); then
      printf -v char '%b' "\\x$(printf %02x "$code")"
      out+=$char
    elif ((code >= 0x1000 && code <= 0xFFFF)); then
      out+=$(printf '\\x%04x' "$code")
      wide=1
    else
      echo "check_resources.sh: no rule for character U+$(printf %04X "$code") in '$text'" >&2
      return 1
    fi
  done
  if ((wide)); then printf 'L"%s"' "$out"; else printf '"%s"' "$out"; fi
}

# Prints the lines of the dump from the line equal to START (after trimming) to the END that
# closes it, each trimmed.
block_of() {
  local dump=$1 start=$2
  printf '%s\n' "$dump" | sed 's/^[[:space:]]*//; s/[[:space:]]*$//' | awk -v start="$start" '
    !inside && $0 == start { inside = 1; depth = 0; next }
    inside && $0 == "BEGIN" { depth++; next }
    inside && $0 == "END" { if (--depth == 0) exit; next }
    inside && depth > 0 { print }'
}

check_version_record() {
  local name=$1 dump=$2 strings=$3 fixed=$4 line key value expected actual

  local language
  language=$(printf '%s\n' "$dump" | awk '/^LANGUAGE / { lang = $0 } /^1 VERSIONINFO$/ { print lang; exit }')
  if [[ $language == "LANGUAGE 17, 1" ]]; then
    pass "$name: version record is Japanese (0x0411)"
  else
    fail "$name: version record language: got '${language:-no version record}', want 'LANGUAGE 17, 1'"
  fi

  local header
  header=$(printf '%s\n' "$dump" | awk '/^1 VERSIONINFO$/ { on = 1; next } on && /^BEGIN$/ { exit } on { sub(/^ +/, ""); print }')
  while IFS= read -r line; do
    if grep -qxF -- "$line" <<<"$header"; then
      pass "$name: $line"
    else
      fail "$name: fixed version: want '$line', got: $(grep -E '^(FILE|PRODUCT)VERSION' <<<"$header" | tr '\n' ';')"
    fi
  done <<<"$fixed"

  local table
  table=$(block_of "$dump" 'BLOCK "041103A4"')
  if [[ -z $table ]]; then
    fail "$name: no string table 041103A4 (Japanese, code page 932); string tables found: $(grep -o 'BLOCK "[0-9A-Fa-f]\{8\}"' <<<"$dump" | tr '\n' ' ')"
  else
    expected=""
    while IFS='|' read -r key value; do
      if ! line="VALUE \"$key\", $(rc_string "$value")"; then
        fail "$name: $key: the expected value cannot be written as windres writes it"
        continue
      fi
      expected+=$line$'\n'
      if grep -qxF -- "$line" <<<"$table"; then
        pass "$name: $key = $value"
      else
        actual=$(grep -F "VALUE \"$key\"," <<<"$table")
        fail "$name: $key: want '$line', got '${actual:-nothing}'"
      fi
    done <<<"$strings"
    while IFS= read -r line; do
      if ! grep -qxF -- "$line" <<<"$expected"; then
        fail "$name: unexpected entry in the string table: $line"
      fi
    done <<<"$table"
  fi

  if grep -qxF 'VALUE "Translation", 0x411, 932' <<<"$(block_of "$dump" 'BLOCK "VarFileInfo"')"; then
    pass "$name: Translation 0x411, 932"
  else
    fail "$name: Translation: got '$(grep -F '"Translation"' <<<"$dump" | sed 's/^ *//')', want 'VALUE \"Translation\", 0x411, 932'"
  fi
}

check_icon() {
  local name=$1 dump=$2
  local groups images
  groups=$(grep -E '/\* RT_GROUP_ICON \*/$' <<<"$dump")
  images=$(grep -cE '/\* RT_ICON \*/$' <<<"$dump")
  if [[ $groups == '"A1" 14 /* RT_GROUP_ICON */' ]]; then
    pass "$name: one icon group, named A1"
  else
    fail "$name: icon groups: got '${groups:-none}', want one named \"A1\""
    return
  fi

  # Each element: width, height, colour count, reserved; planes; bits per pixel.
  local elements
  elements=$(block_of "$dump" '"A1" 14 /* RT_GROUP_ICON */' | tr -d ' \t' | grep -oE '^"[^"]*",[0-9]+,[0-9]+,')
  if [[ $elements == '"\040\040\020\000",1,4,'$'\n''"\020\020\020\000",1,4,' ]]; then
    pass "$name: icon group holds 32x32 and 16x16, 16 colours, 4 bits per pixel"
  else
    fail "$name: icon group elements: got '$(tr '\n' ' ' <<<"$elements")', want 32x32 and 16x16 at 16 colours, 1 plane, 4 bpp"
  fi

  # The images themselves: BITMAPINFOHEADER size 40, width, twice the height, 1 plane and 4 bpp.
  local headers
  headers=$(printf '%s\n' "$dump" | awk '/\/\* RT_ICON \*\/$/ { getline; getline; gsub(/[ \t]/, ""); print }' |
    cut -d, -f1-4 | sort)
  if [[ $images -eq 2 && $headers == '0x28L,0x10L,0x20L,0x40001L'$'\n''0x28L,0x20L,0x40L,0x40001L' ]]; then
    pass "$name: the two icon images are 32x32 and 16x16 bitmaps at 4 bpp"
  else
    fail "$name: icon images ($images): headers '$(tr '\n' ' ' <<<"$headers")'"
  fi
}

check_no_icon() {
  local name=$1 dump=$2
  if grep -qE '/\* RT_(GROUP_)?ICON \*/$' <<<"$dump"; then
    fail "$name: carries an icon: $(grep -E '/\* RT_(GROUP_)?ICON \*/$' <<<"$dump" | tr '\n' ' ')"
  else
    pass "$name: no icon"
  fi
}

check_headers() {
  local name=$1 exe=$2 headers dlls dll
  headers=$("$OBJDUMP" -p "$exe") || { fail "$name: $OBJDUMP -p failed"; return; }
  if grep -qE '^Subsystem[[:space:]]+00000002[[:space:]]+\(Windows GUI\)' <<<"$headers"; then
    pass "$name: GUI subsystem"
  else
    fail "$name: subsystem: got '$(grep '^Subsystem' <<<"$headers" | tr -s '\t' ' ')', want Windows GUI"
  fi

  dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
  if ! grep -qix 'kernel32.dll' <<<"$dlls"; then
    fail "$name: import table not read or without KERNEL32.dll: '$(tr '\n' ' ' <<<"$dlls")'"
    return
  fi
  local foreign=""
  while IFS= read -r dll; do
    if ! tr '[:upper:]' '[:lower:]' <<<"$dll" | grep -qE "$SYSTEM_DLL_PATTERN"; then foreign+="$dll "; fi
  done <<<"$dlls"
  if [[ -z $foreign ]]; then
    pass "$name: imports only system DLLs ($(tr '\n' ' ' <<<"$dlls" | sed 's/ $//'))"
  else
    fail "$name: imports DLLs that Windows does not have: $foreign"
  fi
}

check_manifest() {
  local name=$1 dump=$2
  if grep -qxF '1 24 /* RT_MANIFEST */' <<<"$dump"; then
    pass "$name: manifest 1 embedded"
  else
    fail "$name: no manifest with id 1"
  fi
}

for exe in "$@"; do
  name=$(basename "$exe")
  if [[ ! -f $exe ]]; then
    fail "$name: no such file: $exe"
    continue
  fi
  if ! dump=$("$WINDRES" -i "$exe" -O rc 2>&1); then
    fail "$name: $WINDRES could not read the resources: $dump"
    continue
  fi
  case $name in
    Panefix.exe)
      check_version_record "$name" "$dump" "$PANEFIX_STRINGS" "$PANEFIX_FIXED"
      check_icon "$name" "$dump"
      ;;
    Panepeek.exe)
      check_version_record "$name" "$dump" "$PANEPEEK_STRINGS" "$PANEPEEK_FIXED"
      check_no_icon "$name" "$dump"
      ;;
    *)
      fail "$name: not one of the programs (Panefix.exe, Panepeek.exe)"
      continue
      ;;
  esac
  check_manifest "$name" "$dump"
  check_headers "$name" "$exe"
done

echo "$passed passed, $failed failed"
[[ $failed -eq 0 && $passed -gt 0 ]]
