#!/usr/bin/env bash
# Checks that the release package is the same, byte for byte, whoever builds it from the same
# sources: builds it again from a copy of this checkout's files in another folder, under another
# time zone, locale and umask, and compares the two zips.
#
#   check_reproducible.sh PATH/Panefix-1.20-win32.zip
#
# The zip given is the one cpack made of this checkout (cpack --preset windows-x86). The rebuild
# takes the checkout's files as they stand in the working tree (those Git tracks, and new ones it
# does not ignore), so that it builds what the first build built; having no .git, it is given the
# time the first build took from the commit
# (SOURCE_DATE_EPOCH, or the time of the commit checked out). It builds the programs and the texts
# alone (BUILD_TESTING=OFF), with the preset of the zip's flavour, in a folder of its own that is
# removed afterwards; PANEFIX_REBUILD_DIR names another parent for it than the system's temporary
# folder.
#
# Needs git, cmake, cpack, the mingw-w64 toolchain and unzip. Prints one line per check and a
# closing count; the exit status is 0 only when every check passed.
set -u

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

if [[ $# -ne 1 ]]; then
  echo "usage: check_reproducible.sh PATH/Panefix-VERSION-win32.zip" >&2
  exit 2
fi
zip_file=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
for tool in git cmake cpack unzip cmp; do
  if ! command -v "$tool" >/dev/null; then
    echo "check_reproducible.sh: $tool is needed" >&2
    exit 2
  fi
done

passed=0
failed=0
pass() { echo "ok   - $1"; passed=$((passed + 1)); }
fail() { echo "FAIL - $1"; failed=$((failed + 1)); }
finish() {
  echo "$passed passed, $failed failed"
  [[ $failed -eq 0 && $passed -gt 0 ]]
  exit
}

name=$(basename "$zip_file")
case $name in
  *-win32.zip) preset=windows-x86 ;;
  *-win64.zip) preset=windows-x64 ;;
  *) fail "$name is no Panefix-VERSION-win32.zip or -win64.zip"; finish ;;
esac
if [[ ! -f $zip_file ]]; then
  fail "no such file: $zip_file"
  finish
fi

epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null)}
if [[ ! $epoch =~ ^[0-9]+$ ]]; then
  fail "no commit time in $root and no SOURCE_DATE_EPOCH: the zip's time cannot be known"
  finish
fi

scratch=$(mktemp -d "${PANEFIX_REBUILD_DIR:-${TMPDIR:-/tmp}}/panefix-rebuild.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
# Another folder, at another depth than the first build's, so that a build path in a program or
# in the zip shows as a difference.
source_copy=$scratch/another/folder/sources
build=$scratch/another/folder/sources/out
mkdir -p "$source_copy"
if ! output=$(cd "$root" && git ls-files -z --cached --others --exclude-standard | tar --null -T - --ignore-failed-read -cf - 2>&1 |
              tar -xf - -C "$source_copy" 2>&1); then
  fail "cannot copy the files of $root: $output"
  finish
fi

log=$scratch/rebuild.log
started=$SECONDS
if (
  cd "$source_copy" &&
  umask 077 &&
  export TZ=Pacific/Kiritimati LC_ALL=C SOURCE_DATE_EPOCH=$epoch &&
  cmake --preset "$preset" -B "$build" -DBUILD_TESTING=OFF &&
  cmake --build "$build" -j "$(nproc)" &&
  cd "$build" && cpack
) >"$log" 2>&1; then
  pass "rebuilt $name in another folder ($((SECONDS - started)) s)"
else
  fail "the rebuild failed; its last lines:"$'\n'"$(tail -n 20 "$log")"
  finish
fi

rebuilt=$build/$name
if [[ ! -f $rebuilt ]]; then
  fail "the rebuild made no $name: $(ls "$build")"
  finish
fi
if cmp -s "$zip_file" "$rebuilt"; then
  pass "$name is the same, byte for byte, as its rebuild"
else
  fail "$name differs from its rebuild (sizes $(stat -c %s "$zip_file") and $(stat -c %s "$rebuilt"))"
  # Which entries differ, and whether their content or only what the zip records about them.
  mkdir -p "$scratch/first" "$scratch/second"
  unzip -q "$zip_file" -d "$scratch/first" && unzip -q "$rebuilt" -d "$scratch/second"
  if ! diff <(unzip -Z -s "$zip_file" | sed "1,2d;\$d") <(unzip -Z -s "$rebuilt" | sed "1,2d;\$d") >"$scratch/listing"; then
    fail "the entries' names, order, modes or times differ:"$'\n'"$(cat "$scratch/listing")"
  fi
  while IFS= read -r -d '' file; do
    entry=${file#"$scratch/first/"}
    if ! cmp -s "$file" "$scratch/second/$entry"; then
      fail "$entry differs: $(cmp "$file" "$scratch/second/$entry" 2>&1 | head -n 1)"
    fi
  done < <(find "$scratch/first" -type f -print0 | sort -z)
fi

finish
