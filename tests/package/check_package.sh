#!/usr/bin/env bash
# Checks a release package as cpack makes it from a Windows build (cpack --preset windows-x86):
#
#   check_package.sh PATH/Panefix-1.20-win32.zip
#
# - its name holds the product version of the top-level CMakeLists.txt and the Windows flavour
#   (win32 or win64);
# - it holds one folder, Panefix-VERSION/, and in it exactly the two programs, the readme, the
#   user guide, the licence and the changelog, and nothing else (no test helpers);
# - beside it lies ZIP.sha256, which `sha256sum -c` accepts;
# - the programs are PE files for the flavour's processor, stripped (no debug section, under
#   400 KB), and pass the resource check (tests/resources/check_resources.sh);
# - the texts are for Notepad: UTF-8 with a byte-order mark, CR LF line ends only, plain text
#   without the marks of the Markdown they are made from, and no line wider than 80 columns (a
#   full-width character, East Asian Width W or F, counts two), so that Notepad without word
#   wrap need not scroll sideways;
# - they are for Windows users: no workings of the Linux programs (signals, ACLs, unnamed files);
# - the readme is in Japanese and English and names the version; the readme and the guide call
#   each program by the same names; the guide quotes every message (tests/package/check_guide.sh);
# - the changelog is in Japanese and English, holds released versions only, its entry for this
#   version names every file of the package, the Japanese entry of each version lists as many
#   items under each heading as the English one (in the package and in the Markdown sources,
#   the Linux programs' items included), and the first release is told as a release, not as
#   changes from an earlier one;
# - the licence is the MIT licence of the Panefix developers.
#
# Needs unzip, iconv, od, perl, and the mingw-w64 windres and objdump of the resource check. Prints one
# line per check and a closing count; the exit status is 0 only when every check passed.
set -u

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

GUIDE=Panefix-UserGuide.txt
LICENSE=LICENSE.txt
README=Readme.txt
CHANGELOG=Changelog.txt
FILES="Changelog.txt
LICENSE.txt
Panefix-UserGuide.txt
Panefix.exe
Panepeek.exe
Readme.txt"
# The one name of each program, in Japanese and in English, that the readme and the guide use.
PROGRAM_NAMES=('Panefix.exe (スレ幅修復ツール' 'Panepeek.exe (スレ幅ビューア'
               'width repair tool' 'width viewer')
# A shipped program is stripped; with its static runtime it stays well under this.
MAX_PROGRAM_BYTES=400000
# The width of Notepad's window that no line of a text may pass.
TEXT_COLUMNS=80
# Words of the Linux programs' workings, which the Windows package's texts leave to the manual
# pages (case-sensitive, as extended regular expressions).
LINUX_WORKINGS='O_TMPFILE|\bACLs?\b|\bSIG[A-Z]{2,}|set-user-ID|unfinished-|拡張属性|シグナル'
# What a changelog says of a change, which a first release has nothing to change from.
CHANGE_WORDS='no longer|until now|instead of going|これまで|なくなりました'
# The changelog's sources, Japanese and English, with the Linux programs' items that the package
# leaves out.
CHANGELOG_SOURCES=(docs/changelog-ja.md CHANGELOG.md)

if [[ $# -ne 1 ]]; then
  echo "usage: check_package.sh PATH/Panefix-VERSION-win32.zip" >&2
  exit 2
fi
zip_file=$1
for tool in unzip iconv od perl sha256sum; do
  if ! command -v "$tool" >/dev/null; then
    echo "check_package.sh: $tool is needed" >&2
    exit 2
  fi
done

# shellcheck source=package_checks.sh
. "$here/package_checks.sh"
version=$(product_version) || exit 2

if [[ ! -f $zip_file ]]; then
  fail "no such file: $zip_file"
  finish
fi

name=$(basename "$zip_file")
flavour=""
if [[ $name =~ ^Panefix-(.+)-(win32|win64)\.zip$ ]]; then
  flavour=${BASH_REMATCH[2]}
  if [[ ${BASH_REMATCH[1]} == "$version" ]]; then
    pass "name $name holds the product version $version"
  else
    fail "name $name holds version ${BASH_REMATCH[1]}, want $version (CMakeLists.txt)"
  fi
else
  fail "name $name is not Panefix-$version-win32.zip or Panefix-$version-win64.zip"
fi

check_checksum_file "$zip_file"

# The entries, as the archive lists them: the folder, then the files in it.
top=Panefix-$version
if ! entries=$(unzip -Z1 "$zip_file" 2>&1); then
  fail "unzip cannot list $name: $entries"
  finish
fi
expected_entries="$top/"$'\n'$(sed "s|^|$top/|" <<<"$FILES")
if [[ $entries == "$expected_entries" ]]; then
  pass "holds the one folder $top/ and in it exactly: $(tr '\n' ' ' <<<"$FILES" | sed 's/ $//')"
else
  fail "entries: got '$(tr '\n' ' ' <<<"$entries" | sed 's/ $//')', want '$(tr '\n' ' ' <<<"$expected_entries" | sed 's/ $//')'"
fi

extracted=$(mktemp -d)
trap 'rm -rf "$extracted"' EXIT
if ! output=$(unzip -q "$zip_file" -d "$extracted" 2>&1); then
  fail "unzip cannot unpack $name: $output"
fi
unpacked=$extracted/$top
if [[ ! -d $unpacked ]]; then
  fail "no folder $top/ after unpacking: the files cannot be checked"
  finish
fi

# Prints the bytes of FILE from OFFSET, COUNT of them, as two-digit hex numbers without blanks.
bytes_at() {
  od -An -v -tx1 -j "$2" -N "$3" "$1" | tr -d ' \n'
}

# A PE file: "MZ", at 0x3C the offset of the "PE\0\0" signature, right after it the processor.
check_program() {
  local file=$1 want_machine
  local path=$unpacked/$file
  [[ -f $path ]] || return
  case $flavour in
    win32) want_machine=4c01 ;;  # IMAGE_FILE_MACHINE_I386, little-endian
    win64) want_machine=6486 ;;  # IMAGE_FILE_MACHINE_AMD64
    *) want_machine="" ;;
  esac
  if [[ $(bytes_at "$path" 0 2) != 4d5a ]]; then
    fail "$file: no MZ header (starts with $(bytes_at "$path" 0 2))"
    return
  fi
  local lfanew_le offset
  lfanew_le=$(bytes_at "$path" 60 4)
  offset=$((16#${lfanew_le:6:2}${lfanew_le:4:2}${lfanew_le:2:2}${lfanew_le:0:2}))
  if [[ $(bytes_at "$path" "$offset" 4) != 50450000 ]]; then
    fail "$file: no PE signature at offset $offset"
    return
  fi
  local machine
  machine=$(bytes_at "$path" $((offset + 4)) 2)
  if [[ -z $want_machine ]]; then
    fail "$file: PE file for machine $machine, flavour unknown"
  elif [[ $machine == "$want_machine" ]]; then
    pass "$file: PE file for $flavour"
  else
    fail "$file: PE machine bytes $machine, want $want_machine for $flavour"
  fi
  # Shipped stripped: no symbols or debug information, and small.
  local size sections objdump=i686-w64-mingw32-objdump
  [[ $flavour == win64 ]] && objdump=x86_64-w64-mingw32-objdump
  size=$(stat -c %s "$path")
  if ((size < MAX_PROGRAM_BYTES)); then
    pass "$file: $size bytes, under $MAX_PROGRAM_BYTES"
  else
    fail "$file: $size bytes, not under $MAX_PROGRAM_BYTES"
  fi
  if ! sections=$("$objdump" -h "$path" 2>&1); then
    fail "$file: $objdump -h failed: $sections"
  elif grep -qE '^ *[0-9]+ +\.debug' <<<"$sections"; then
    fail "$file: has debug sections: $(grep -oE '\.debug[a-z_]*' <<<"$sections" | tr '\n' ' ' | sed 's/ $//')"
  else
    pass "$file: no debug section"
  fi
}

# A text for Notepad: a UTF-8 byte-order mark (and only one), valid UTF-8, and line ends that are
# all CR LF: every CR followed by an LF, every LF preceded by a CR, and a line end at the end.
check_notepad_text() {
  local file=$1
  local path=$unpacked/$file error verdict
  if [[ $(bytes_at "$path" 0 3) == efbbbf ]]; then
    pass "$file: starts with the UTF-8 byte-order mark"
  else
    fail "$file: starts with $(bytes_at "$path" 0 3), not the byte-order mark efbbbf"
  fi
  if [[ $(bytes_at "$path" 3 3) == efbbbf ]]; then
    fail "$file: a second byte-order mark follows the first"
  fi
  # What Notepad would show of Markdown: backticks, stars, headings, pictures, links, comments.
  local marks
  marks=$(LC_ALL=C sed '1s/^\xEF\xBB\xBF//' "$path" | grep -n -m 3 -E '`|\*\*|^#|!\[|\]\(|<!--' | tr -d '\r')
  if [[ -z $marks ]]; then
    pass "$file: plain text, no Markdown marks"
  else
    fail "$file: Markdown marks:"$'\n'"$marks"
  fi
  if error=$(iconv -f UTF-8 -t UTF-8 "$path" 2>&1 >/dev/null); then
    pass "$file: valid UTF-8"
  else
    fail "$file: not valid UTF-8: $error"
  fi
  verdict=$(od -An -v -tx1 "$path" | tr -s ' \n' '\n' | awk '
    NF == 0 { next }
    {
      n++
      if (!bad && $0 == "0a" && previous != "0d") bad = "an LF without CR at byte " n - 1
      if (!bad && previous == "0d" && $0 != "0a") bad = "a CR without LF at byte " n - 2
      previous = $0
    }
    END {
      if (!bad && previous == "0d") bad = "a CR without LF at the end"
      if (!bad && previous != "0a") bad = "no line end at the end"
      print bad ? bad : "ok"
    }')
  if [[ $verdict == ok ]]; then
    pass "$file: CR LF line ends only"
  else
    fail "$file: $verdict"
  fi
  local wide
  wide=$(wide_lines "$TEXT_COLUMNS" "$path")
  if [[ -z $wide ]]; then
    pass "$file: no line wider than $TEXT_COLUMNS columns"
  else
    fail "$file: lines wider than $TEXT_COLUMNS columns (line: columns):"$'\n'"$(head -n 5 <<<"$wide")"
  fi
  local workings
  workings=$(grep -n -m 3 -E "$LINUX_WORKINGS" "$path" | tr -d '\r')
  if [[ -z $workings ]]; then
    pass "$file: no workings of the Linux programs"
  else
    fail "$file: tells the workings of the Linux programs, which the manual pages hold:"$'\n'"$workings"
  fi
}

# Prints "line: columns" for each line of the UTF-8 FILE wider than COLUMNS, a character of East
# Asian Width W or F counting two, the byte-order mark and line ends none.
wide_lines() {
  perl -CSD -ne '
    BEGIN { $columns = shift @ARGV }
    s/\r?\n\z//; s/^\x{FEFF}// if $. == 1;
    my $n = 0; $n += /[\p{EA=W}\p{EA=F}]/ ? 2 : 1 for split //;
    print "$.: $n\n" if $n > $columns' "$1" "$2"
}

# Prints, for a changelog entry on standard input, the number of list items ("- ") under each
# heading or paragraph, one count a line: the shape that a translation must share.
item_counts() {
  awk '
    /^- / { n++; next }
    /^  / || /^$/ { next }
    { if (n) print n; n = 0 }
    END { if (n) print n }'
}

# Prints the entries of VERSION in a changelog on standard input, the Japanese one and the English
# one, as a Markdown title "## VERSION" or a plain title underlined with "-" begins them: the
# entry number WANTED (1 or 2), from below its title to the next version's title.
changelog_entry() {
  awk -v version="$1" -v wanted="$2" '
    $0 == "## " version { n++; inside = (n == wanted); next }
    /^## / || /^# / { inside = 0 }
    $0 == version { getline rule; if (rule ~ /^-+$/) { n++; inside = (n == wanted) } next }
    inside && /^-+$/ { inside = 0 }
    inside { print }'
}

# The same shape for the Japanese and the English entry of every version in TEXT, named NAME.
check_translated_items() {
  local name=$1 text=$2 listed=$3 version ja en
  for version in $listed; do
    ja=$(changelog_entry "$version" 1 <<<"$text" | item_counts | tr '\n' ' ' | sed 's/ $//')
    en=$(changelog_entry "$version" 2 <<<"$text" | item_counts | tr '\n' ' ' | sed 's/ $//')
    if [[ -z $en ]]; then
      fail "$name: no items in the English entry for $version"
    elif [[ $ja == "$en" ]]; then
      pass "$name: the Japanese entry for $version lists as many items as the English one ($en)"
    else
      fail "$name: items under each heading of $version: Japanese $ja, English $en"
    fi
  done
}

check_program Panefix.exe
check_program Panepeek.exe
if [[ -f $unpacked/Panefix.exe && -f $unpacked/Panepeek.exe ]]; then
  if output=$(bash "$root/tests/resources/check_resources.sh" "$unpacked/Panefix.exe" "$unpacked/Panepeek.exe" 2>&1); then
    pass "the programs' resources and imports ($(tail -n 1 <<<"$output"))"
  else
    fail "the programs' resources and imports:"$'\n'"$(grep -v '^ok ' <<<"$output")"
  fi
fi

if [[ -f $unpacked/$GUIDE ]]; then
  check_notepad_text "$GUIDE"
  if grep -qE '<!--|\]\(screenshots/' "$unpacked/$GUIDE"; then
    fail "$GUIDE: holds what is left out of the text edition: $(grep -m1 -E '<!--|\]\(screenshots/' "$unpacked/$GUIDE")"
  else
    pass "$GUIDE: ends before the pictures of the source"
  fi
  if output=$(bash "$here/check_guide.sh" "$unpacked/$GUIDE" 2>&1); then
    pass "$GUIDE: quotes every message ($(tail -n 1 <<<"$output"))"
  else
    fail "$GUIDE: messages:"$'\n'"$(grep -v '^ok ' <<<"$output")"
  fi
fi

if [[ -f $unpacked/$README ]]; then
  check_notepad_text "$README"
  if grep -q "^Panefix / Panepeek $version" "$unpacked/$README" &&
     grep -q "はじめにお読みください" "$unpacked/$README" && grep -q "read me first" "$unpacked/$README"; then
    pass "$README: Japanese and English, for version $version"
  else
    fail "$README: no Japanese and English title with version $version"
  fi
fi
# Both texts a user reads first call each program by the same names.
for text in "$README" "$GUIDE"; do
  [[ -f $unpacked/$text ]] || continue
  missing=()
  for program_name in "${PROGRAM_NAMES[@]}"; do
    grep -qF -- "$program_name" "$unpacked/$text" || missing+=("$program_name")
  done
  if [[ ${#missing[@]} -eq 0 ]]; then
    pass "$text: names the programs $(printf '"%s" ' "${PROGRAM_NAMES[@]}" | sed 's/ $//')"
  else
    fail "$text: does not name the programs $(printf '"%s" ' "${missing[@]}" | sed 's/ $//')"
  fi
done

if [[ -f $unpacked/$CHANGELOG ]]; then
  check_notepad_text "$CHANGELOG"
  changelog=$(LC_ALL=C sed '1s/^\xEF\xBB\xBF//; s/\r$//' "$unpacked/$CHANGELOG")
  if [[ $(head -n 1 <<<"$changelog") == 変更履歴 ]] && grep -qx 'Changelog' <<<"$changelog"; then
    pass "$CHANGELOG: in Japanese, then in English"
  else
    fail "$CHANGELOG: does not start with the Japanese title 変更履歴 and hold the English title Changelog"
  fi
  # A released version's entry is titled by its number; anything else is not yet released.
  unreleased=$(awk 'previous != "" && /^-+$/ && previous !~ /^[0-9]/ && previous != "Changelog" { print previous } { previous = $0 }' <<<"$changelog")
  if [[ -z $unreleased ]] && ! grep -qi 'not yet released\|未リリース' <<<"$changelog"; then
    pass "$CHANGELOG: released versions only"
  else
    fail "$CHANGELOG: holds what is not released: $(head -n 1 <<<"${unreleased:-$(grep -i -m1 'not yet released\|未リリース' <<<"$changelog")}")"
  fi
  # The entries of this version, the Japanese and the English one: from the title down to the next
  # version's title.
  for language in 1 2; do
    entry=$(awk -v version="$version" -v wanted="$language" '
      $0 == version { getline rule; if (rule ~ /^-+$/) { n++; inside = (n == wanted) } next }
      inside && /^-+$/ { inside = 0 }
      inside { print }' <<<"$changelog")
    missing=()
    while IFS= read -r file; do
      grep -qF -- "$file" <<<"$entry" || missing+=("$file")
    done <<<"$FILES"
    if [[ -z $entry ]]; then
      fail "$CHANGELOG: no entry $language for version $version"
    elif [[ ${#missing[@]} -eq 0 ]]; then
      pass "$CHANGELOG: entry $language for $version names every file of the package"
    else
      fail "$CHANGELOG: entry $language for $version does not name ${missing[*]}"
    fi
  done
  versions=$(awk 'previous ~ /^[0-9]/ && /^-+$/ { print previous } { previous = $0 }' <<<"$changelog" | sort -u -V)
  check_translated_items "$CHANGELOG" "$changelog" "$versions"
  first=$(head -n 1 <<<"$versions")
  for language in 1 2; do
    said=$(changelog_entry "$first" "$language" <<<"$changelog" | grep -m 1 -oiE "$CHANGE_WORDS")
    if [[ -n $first && -z $said ]]; then
      pass "$CHANGELOG: entry $language for the first release, $first, tells a release, not changes"
    else
      fail "$CHANGELOG: entry $language for the first release, $first, tells changes from an earlier one: '$said'"
    fi
  done
fi

# The sources of the changelog, with the Linux programs' items: one text, Japanese then English.
sources=$(for source in "${CHANGELOG_SOURCES[@]}"; do cat "$root/$source"; echo; done)
source_versions=$(sed -n 's/^## \([0-9][0-9.]*\)$/\1/p' "$root/${CHANGELOG_SOURCES[1]}" | sort -u -V)
check_translated_items "${CHANGELOG_SOURCES[*]}" "$sources" "$source_versions"

if [[ -f $unpacked/$LICENSE ]]; then
  check_notepad_text "$LICENSE"
  if grep -qxF $'\xEF\xBB\xBFMIT License\r' "$unpacked/$LICENSE" &&
     grep -qxF $'Copyright (c) 2026 The Panefix developers\r' "$unpacked/$LICENSE"; then
    pass "$LICENSE: MIT licence, copyright 2026 The Panefix developers"
  else
    fail "$LICENSE: not the MIT licence of the Panefix developers: $(head -n 3 "$unpacked/$LICENSE" | tr -d '\r' | tr '\n' '|')"
  fi
fi

finish
