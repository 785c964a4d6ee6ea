#!/usr/bin/env bash
# Checks that the release packages are the same, byte for byte, whoever builds them from the same
# sources: builds them again from a copy of this checkout's files in another folder, under
# another time zone, locale and umask, and compares each package given with its rebuild.
#
#   check_reproducible.sh PATH/Panefix-1.20-win32.zip
#   check_reproducible.sh PATH/panefix_1.20-1_amd64.deb PATH/panefix-1.20-linux-x86_64.tar.gz
#
# The packages given are those cpack made of this checkout, all of one build: the zip of
# `cpack --preset windows-x86` (or of windows-x64), or the .deb and the tarball of
# `cpack --preset release-linux`. The rebuild takes the checkout's files as they stand in the
# working tree (those Git tracks, and new ones it does not ignore), so that it builds what the
# first build built; having no .git, it is given the time the first build took from the commit
# (SOURCE_DATE_EPOCH, or the time of the commit checked out). It builds the programs and the
# package files alone (BUILD_TESTING=OFF), with the preset of the packages, in a folder of its own
# that is removed afterwards; PANEFIX_REBUILD_DIR names another parent for it than the system's
# temporary folder.
#
# Needs git, cmake, cpack and the preset's toolchain, and unzip for a zip or dpkg-deb for a .deb.
# Prints one line per check and a closing count; the exit status is 0 only when every check
# passed.
set -u

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

if [[ $# -lt 1 ]]; then
  echo "usage: check_reproducible.sh PACKAGE..." >&2
  exit 2
fi
for tool in git cmake cpack cmp tar; do
  if ! command -v "$tool" >/dev/null; then
    echo "check_reproducible.sh: $tool is needed" >&2
    exit 2
  fi
done

# shellcheck source=package_checks.sh
. "$here/package_checks.sh"

# The preset each kind of package is made by.
preset_of() {
  case $1 in
    *-win32.zip) echo windows-x86 ;;
    *-win64.zip) echo windows-x64 ;;
    *.deb | *-linux-*.tar.gz) echo release-linux ;;
  esac
}
packages=()
preset=""
for given in "$@"; do
  name=$(basename "$given")
  package_preset=$(preset_of "$name")
  if [[ -z $package_preset ]]; then
    fail "$name is no Panefix-VERSION-win32.zip, -win64.zip, .deb or -linux-PROCESSOR.tar.gz"
  elif [[ -n $preset && $package_preset != "$preset" ]]; then
    fail "$name is made by the preset $package_preset, the packages before it by $preset"
  elif [[ ! -f $given ]]; then
    fail "no such file: $given"
  else
    preset=$package_preset
    packages+=("$(cd "$(dirname "$given")" && pwd)/$name")
  fi
done
[[ $failed -eq 0 ]] || finish

epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null)}
if [[ ! $epoch =~ ^[0-9]+$ ]]; then
  fail "no commit time in $root and no SOURCE_DATE_EPOCH: the packages' time cannot be known"
  finish
fi

scratch=$(mktemp -d "${PANEFIX_REBUILD_DIR:-${TMPDIR:-/tmp}}/panefix-rebuild.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
# Another folder, at another depth than the first build's, so that a build path in a program or
# in a package shows as a difference.
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
  pass "rebuilt the packages of $preset in another folder ($((SECONDS - started)) s)"
else
  fail "the rebuild failed; its last lines:"$'\n'"$(tail -n 20 "$log")"
  finish
fi

# Lists what an archive records of each entry besides its content: names, order, modes,
# owners, times (and, for a .deb, its control data).
archive_listing() {
  case $1 in
    *.zip) unzip -Z -s "$1" | sed '1,2d;$d' ;;
    *.deb) dpkg-deb -I "$1" control && dpkg-deb --fsys-tarfile "$1" | tar -tv --full-time ;;
    *.tar.gz) tar -tzv --full-time -f "$1" ;;
  esac
}
# Unpacks the archive into the folder given.
unpack() {
  mkdir -p "$2"
  case $1 in
    *.zip) unzip -q "$1" -d "$2" ;;
    *.deb) dpkg-deb -x "$1" "$2" && dpkg-deb -e "$1" "$2/DEBIAN" ;;
    *.tar.gz) tar -xzf "$1" -C "$2" ;;
  esac
}

for package in "${packages[@]}"; do
  name=$(basename "$package")
  rebuilt=$build/$name
  if [[ ! -f $rebuilt ]]; then
    fail "the rebuild made no $name: $(ls "$build")"
    continue
  fi
  if cmp -s "$package" "$rebuilt"; then
    pass "$name is the same, byte for byte, as its rebuild"
    continue
  fi
  fail "$name differs from its rebuild (sizes $(stat -c %s "$package") and $(stat -c %s "$rebuilt"))"
  # Which entries differ, and whether their content or only what the archive records about them.
  first=$scratch/first/$name
  second=$scratch/second/$name
  unpack "$package" "$first" && unpack "$rebuilt" "$second"
  if ! diff <(archive_listing "$package") <(archive_listing "$rebuilt") >"$scratch/listing"; then
    fail "$name: the entries' names, order, modes, owners or times differ:"$'\n'"$(cat "$scratch/listing")"
  fi
  while IFS= read -r -d '' file; do
    entry=${file#"$first/"}
    if ! cmp -s "$file" "$second/$entry"; then
      fail "$name: $entry differs: $(cmp "$file" "$second/$entry" 2>&1 | head -n 1)"
    fi
  done < <(find "$first" -type f -print0 | sort -z)
done

finish
