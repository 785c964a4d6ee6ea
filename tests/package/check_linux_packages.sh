#!/usr/bin/env bash
# Checks the Linux release packages as cpack makes them from the release-linux build
# (cmake --workflow --preset release-linux):
#
#   check_linux_packages.sh PATH/panefix_1.20-1_amd64.deb PATH/panefix-1.20-linux-x86_64.tar.gz
#
# - their names hold the product version of the top-level CMakeLists.txt, the .deb's a Debian
#   revision and this machine's Debian architecture; beside each lies its .sha256, which
#   `sha256sum -c` accepts;
# - each holds exactly its files, owned by root, folders and programs with the mode 0755 and the
#   rest 0644: the tarball one folder with bin/, share/man/man1/, LICENSE and README, the .deb
#   /usr/bin/, the manual pages, its documentation and its lintian overrides;
# - the tarball's programs are static, the .deb's load shared libraries and are hardened (PIE,
#   read-only relocations bound at start); both are stripped; the .deb depends on exactly the
#   packages that hold the libraries its programs load, each with a version;
# - the manual pages are the same in both, for this version; the licence is this checkout's, in the .deb as Debian's machine-readable copyright
#   file; the changelog is CHANGELOG.md; the Debian changelog names the package's version and is
#   signed at the commit's time (SOURCE_DATE_EPOCH, or the time of the commit checked out);
# - lintian reports no error and no warning for the .deb, and each of its overrides has a comment
#   that says why. Without lintian that check is left out with a note, except where CI is set:
#   there it fails;
# - the programs run, with no environment, from the unpacked tarball, from the .deb unpacked into
#   a scratch root, and installed under a scratch home the way README tells; there `man` finds
#   their pages, and README's removal leaves nothing behind.
#
# Needs tar, gzip, dpkg-deb, readelf, file and man (man-db). Prints one line per check and a
# closing count; the exit status is 0 only when every check passed.
set -u

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

if [[ $# -ne 2 ]]; then
  echo "usage: check_linux_packages.sh PATH/panefix_VERSION-REVISION_ARCH.deb PATH/panefix-VERSION-linux-PROCESSOR.tar.gz" >&2
  exit 2
fi
deb=$1
tarball=$2
for tool in tar gzip dpkg dpkg-deb readelf file man sha256sum; do
  if ! command -v "$tool" >/dev/null; then
    echo "check_linux_packages.sh: $tool is needed" >&2
    exit 2
  fi
done

# shellcheck source=package_checks.sh
. "$here/package_checks.sh"
version=$(product_version) || exit 2
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null)}
architecture=$(dpkg --print-architecture)
for file in "$deb" "$tarball"; do
  if [[ ! -f $file ]]; then
    fail "no such file: $file"
  fi
done
[[ $failed -eq 0 ]] || finish

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

deb_name=$(basename "$deb")
tarball_name=$(basename "$tarball")
deb_version=""
if [[ $deb_name =~ ^panefix_(.+)-([0-9]+)_(.+)\.deb$ ]]; then
  deb_version=${BASH_REMATCH[1]}-${BASH_REMATCH[2]}
  if [[ ${BASH_REMATCH[1]} == "$version" && ${BASH_REMATCH[3]} == "$architecture" ]]; then
    pass "$deb_name holds the product version $version and the architecture $architecture"
  else
    fail "$deb_name: want version $version (CMakeLists.txt) and architecture $architecture"
  fi
else
  fail "$deb_name is not panefix_${version}-REVISION_$architecture.deb"
fi
top=""
if [[ $tarball_name =~ ^(panefix-(.+)-linux-(.+))\.tar\.gz$ ]]; then
  top=${BASH_REMATCH[1]}
  if [[ ${BASH_REMATCH[2]} == "$version" && ${BASH_REMATCH[3]} == "$(uname -m)" ]]; then
    pass "$tarball_name holds the product version $version and the processor $(uname -m)"
  else
    fail "$tarball_name: want version $version (CMakeLists.txt) and processor $(uname -m)"
  fi
else
  fail "$tarball_name is not panefix-$version-linux-$(uname -m).tar.gz"
fi
check_checksum_file "$deb"
check_checksum_file "$tarball"

# Checks a listing of `tar -tv` (NAME the archive's name): every entry owned by root, a folder or
# a file of bin/ with the mode 0755, any other file 0644; and its names exactly WANT, one a line.
check_entries() {
  local name=$1 listing=$2 want=$3 names wrong
  names=$(awk '{ print $6 }' <<<"$listing")
  if [[ $names == "$want" ]]; then
    pass "$name holds exactly: $(tr '\n' ' ' <<<"$want" | sed 's/ $//')"
  else
    fail "$name holds:"$'\n'"$(diff <(echo "$want") <(echo "$names") | grep '^[<>]' | sed 's/^</  missing/; s/^>/  unwanted/')"
  fi
  wrong=$(awk '
    { mode = $1; owner = $2; path = $6 }
    owner != "root/root" && owner != "0/0" { print path " is owned by " owner; next }
    path ~ /\/$/ { if (mode != "drwxr-xr-x") print path " has " mode; next }
    path ~ /\/bin\/[^\/]+$/ { if (mode != "-rwxr-xr-x") print path " has " mode; next }
    mode != "-rw-r--r--" { print path " has " mode }' <<<"$listing")
  if [[ -z $wrong ]]; then
    pass "$name: every entry owned by root, folders and programs 0755, other files 0644"
  else
    fail "$name: $(tr '\n' ';' <<<"$wrong")"
  fi
}

man_pages="share/man/man1/panefix.1.gz
share/man/man1/panepeek.1.gz"
tarball_entries=$(printf '%s\n' "$top/" "$top/LICENSE" "$top/README" "$top/bin/" "$top/bin/panefix" \
  "$top/bin/panepeek" "$top/share/" "$top/share/man/" "$top/share/man/man1/" \
  $(sed "s|^|$top/|" <<<"$man_pages"))
deb_entries=$(printf '%s\n' ./ ./usr/ ./usr/bin/ ./usr/bin/panefix ./usr/bin/panepeek ./usr/share/ \
  ./usr/share/doc/ ./usr/share/doc/panefix/ ./usr/share/doc/panefix/changelog.Debian.gz \
  ./usr/share/doc/panefix/changelog.gz ./usr/share/doc/panefix/copyright ./usr/share/lintian/ \
  ./usr/share/lintian/overrides/ ./usr/share/lintian/overrides/panefix ./usr/share/man/ \
  ./usr/share/man/man1/ $(sed "s|^|./usr/|" <<<"$man_pages"))
check_entries "$tarball_name" "$(tar -tzvf "$tarball" 2>&1)" "$tarball_entries"
check_entries "$deb_name" "$(dpkg-deb -c "$deb" 2>&1)" "$deb_entries"

unpacked=$scratch/tarball/$top
deb_root=$scratch/deb-root
mkdir -p "$scratch/tarball" "$deb_root"
if ! output=$(tar -xzf "$tarball" -C "$scratch/tarball" 2>&1) || ! output=$(dpkg-deb -x "$deb" "$deb_root" 2>&1); then
  fail "cannot unpack the packages: $output"
  finish
fi

# Checks the program FILE (NAME as the package calls it) against LINKING: "static" for one that
# loads nothing, "shared" for one that loads shared libraries and is hardened as Debian's are.
check_program() {
  local file=$1 name=$2 linking=$3 headers sections
  [[ -f $file ]] || return
  headers=$(readelf -hldW "$file" 2>&1)
  sections=$(readelf -SW "$file" 2>&1)
  if grep -qE '\.symtab|\.debug_' <<<"$sections"; then
    fail "$name: not stripped ($(grep -oE '\.symtab|\.debug_[a-z]*' <<<"$sections" | tr '\n' ' '))"
  else
    pass "$name: stripped"
  fi
  if [[ $linking == static ]]; then
    if grep -qE 'INTERP|\(NEEDED\)' <<<"$headers"; then
      fail "$name: not static: $(grep -E 'interpreter|\(NEEDED\)' <<<"$headers" | tr -s ' ' | tr '\n' ';')"
    else
      pass "$name: static, loads no library ($(file -b "$file" | cut -d, -f1-4))"
    fi
    return
  fi
  local missing=()
  grep -q 'Type: *DYN' <<<"$headers" || missing+=(PIE)
  grep -q 'GNU_RELRO' <<<"$headers" || missing+=(RELRO)
  grep -qE '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW' <<<"$headers" || missing+=(BIND_NOW)
  grep -q '\(NEEDED\).*\[libc\.so\.6\]' <<<"$headers" || missing+=("libc.so.6 loaded")
  if [[ ${#missing[@]} -eq 0 ]]; then
    pass "$name: loads shared libraries, position-independent, relocations read-only and bound at start"
  else
    fail "$name: lacks ${missing[*]}"
  fi
}
for program in panefix panepeek; do
  check_program "$unpacked/bin/$program" "$tarball_name: bin/$program" static
  check_program "$deb_root/usr/bin/$program" "$deb_name: /usr/bin/$program" shared
done

# Depends, as dpkg-shlibdeps computes it: the package of every library the programs load, with
# the version its symbols need; nothing more, nothing less.
depends=$(dpkg-deb -f "$deb" Depends)
libraries=$(readelf -dW "$deb_root"/usr/bin/* 2>/dev/null | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u)
wanted_packages=$(while read -r library; do
  dpkg -S "*/$library" 2>/dev/null | grep -v -e '^diversion' -e '-dev' | head -n 1 | cut -d: -f1
done <<<"$libraries" | sort -u)
depended_packages=$(tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/ .*//' | sort -u)
unversioned=$(tr ',' '\n' <<<"$depends" | grep -v '(>= [0-9]' || true)
if [[ -n $wanted_packages && $depended_packages == "$wanted_packages" && -z $unversioned ]]; then
  pass "Depends: $depends (the packages of $(tr '\n' ' ' <<<"$libraries" | sed 's/ $//'))"
else
  fail "Depends: '$depends'; want each of $(tr '\n' ' ' <<<"$wanted_packages")with a version, for $(tr '\n' ' ' <<<"$libraries")"
fi
fields=$(dpkg-deb -f "$deb" Package Version Architecture)
want_fields="Package: panefix"$'\n'"Version: $deb_version"$'\n'"Architecture: $architecture"
if [[ $fields == "$want_fields" ]]; then
  pass "control: $(tr '\n' ' ' <<<"$fields" | sed 's/ $//')"
else
  fail "control: $(tr '\n' ' ' <<<"$fields"), want $(tr '\n' ' ' <<<"$want_fields")"
fi

# Lintian checks the pages' compression, and the rebuild that their gzip headers hold no time.
for page in $man_pages; do
  source_page=$(gzip -dc "$deb_root/usr/$page" | sed -n 's/^\.TH \([A-Z]*\) 1 .*"Panefix \([0-9.]*\)".*/\1 \2/p')
  if cmp -s "$deb_root/usr/$page" "$unpacked/$page" && [[ $source_page == "$(basename "$page" .1.gz | tr '[:lower:]' '[:upper:]') $version" ]]; then
    pass "$page: the same in both packages, for version $version"
  else
    fail "$page: differs between the packages, or its .TH line is not for version $version ('$source_page')"
  fi
done

doc=$deb_root/usr/share/doc/panefix
if cmp -s "$unpacked/LICENSE" "$root/LICENSE"; then
  pass "$top/LICENSE is LICENSE"
else
  fail "$top/LICENSE differs from LICENSE"
fi
# The copyright file gives LICENSE's text back: a field's line loses its leading blank, " ." is an
# empty line.
licence_terms=$(sed -n '/^Copyright (c) /,$p' "$root/LICENSE" | sed '1d' | sed '/./,$!d')
copyright_terms=$(sed -n '/^License: Expat$/,$p' "$doc/copyright" | sed '1d; s/^ //; s/^\.$//')
if [[ $(head -n 1 "$doc/copyright") == "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ]] &&
   grep -qx "Copyright: $(sed -n 's/^Copyright (c) //p' "$root/LICENSE")" "$doc/copyright" &&
   [[ -n $licence_terms && $copyright_terms == "$licence_terms" ]]; then
  pass "copyright: machine-readable, Files: * under LICENSE's copyright and terms (Expat)"
else
  fail "copyright: not the machine-readable form of LICENSE:"$'\n'"$(head -n 8 "$doc/copyright")"
fi
if gzip -dc "$doc/changelog.gz" | cmp -s - "$root/CHANGELOG.md"; then
  pass "changelog.gz is CHANGELOG.md"
else
  fail "changelog.gz is not CHANGELOG.md"
fi
debian_changelog=$(gzip -dc "$doc/changelog.Debian.gz" 2>&1)
signed=$(sed -n 's/^ -- .* <.*@.*>  \(.*\)$/\1/p' <<<"$debian_changelog")
if [[ $(head -n 1 <<<"$debian_changelog") == "panefix ($deb_version) "* && -n $signed &&
      $(date -u -d "$signed" +%s 2>/dev/null) == "$epoch" ]]; then
  pass "changelog.Debian.gz: entry for $deb_version, signed at the commit's time ($signed)"
else
  fail "changelog.Debian.gz: want an entry for $deb_version signed at $(date -u -R -d "@$epoch"):"$'\n'"$debian_changelog"
fi

if command -v lintian >/dev/null; then
  lintian_status=0
  output=$(lintian --fail-on error,warning "$deb" 2>&1) || lintian_status=$?
  output=$(grep -v '^running with root privileges is not recommended!$' <<<"$output")
  if [[ $lintian_status -eq 0 && -z $output ]]; then
    pass "lintian $(lintian --version | sed 's/^Lintian v//'): no error, no warning"
  else
    fail "lintian (status $lintian_status):"$'\n'"$output"
  fi
elif [[ -n ${CI:-} ]]; then
  fail "lintian is not installed (scripts/install-deps.sh installs it); CI must run it"
else
  echo "note - lintian is not installed: the .deb is not checked by it"
fi
overrides=$deb_root/usr/share/lintian/overrides/panefix
# A comment says why for the overrides right below it, up to an empty line.
uncommented=$(awk '/^#/ { said = 1; next } /^[[:space:]]*$/ { said = 0; next } !said { print }' "$overrides" 2>&1)
if [[ -s $overrides && -z $uncommented ]]; then
  pass "every lintian override follows a comment that says why"
else
  fail "lintian overrides without a comment before them: $uncommented"
fi

# Runs BIN/panepeek, BIN/panefix 450 and BIN/panepeek again in a folder of its own with a small
# Qtv.ini, with no environment but PATH, and checks what they print and write. WHERE names them.
check_runs() {
  local bin=$1 where=$2 folder
  folder=$(mktemp -d "$scratch/host.XXXXXX")
  printf '[DESKTOP]\r\nLISTWIDTH=120\r\nTREEWIDTH=180\r\n\r\n' >"$folder/Qtv.ini"
  local before repair after status=0
  before=$(cd "$folder" && env -i PATH=/usr/bin:/bin "$bin/panepeek" 2>&1) || status=$?
  repair=$(cd "$folder" && env -i PATH=/usr/bin:/bin "$bin/panefix" 450 </dev/null 2>&1) || status=$?
  after=$(cd "$folder" && env -i PATH=/usr/bin:/bin "$bin/panepeek" 2>&1) || status=$?
  if [[ $status -eq 0 && $before == *" 120 "* && $after == *" 450 "* &&
        $(cat "$folder/Qtv.ini") == $'[DESKTOP]\r\nLISTWIDTH=450\r\nTREEWIDTH=180\r\n\r' &&
        $(grep -a LISTWIDTH "$folder/Qtv.ini_widthBack") == $'LISTWIDTH=120\r' ]]; then
    pass "$where: panepeek shows 120, panefix 450 sets it with a backup, panepeek shows 450"
  else
    fail "$where: status $status; panepeek: '$before'; panefix 450: '$repair'; then panepeek: '$after'"
  fi
}
check_runs "$unpacked/bin" "$tarball_name unpacked"
check_runs "$deb_root/usr/bin" "$deb_name unpacked into a scratch root"
if page=$(MANWIDTH=80 man -l "$deb_root/usr/share/man/man1/panefix.1.gz" 2>&1) && grep -q '^NAME' <<<"$page"; then
  pass "man -l shows the .deb's panefix.1.gz"
else
  fail "man -l panefix.1.gz: $(head -n 3 <<<"$page")"
fi

# README's own lines, run as it says: its install and rm lines for ~/.local, under a scratch home.
readme=$unpacked/README
if grep -q "^panefix / panepeek $version for Linux" "$readme" && grep -q '/usr/local/bin' "$readme"; then
  pass "README: for version $version, tells of ~/.local and /usr/local"
else
  fail "README: no title for version $version, or no word of /usr/local"
fi
home=$scratch/home
mkdir -p "$home"
install_lines=$(grep -E '^    install .*~/\.local' "$readme")
remove_lines=$(grep -E '^    rm .*~/\.local' "$readme")
if [[ -z $install_lines || -z $remove_lines ]]; then
  fail "README: no install and rm lines for ~/.local"
elif (cd "$unpacked" && HOME=$home bash -euc "$install_lines") >"$scratch/install.log" 2>&1; then
  found=$(HOME=$home PATH=$home/.local/bin:/usr/bin:/bin man -w panefix 2>&1)
  if [[ $found == "$home/.local/share/man/man1/panefix.1.gz" ]]; then
    pass "README's install lines: man panefix finds the page under ~/.local"
  else
    fail "README's install lines: man -w panefix gives '$found'"
  fi
  check_runs "$home/.local/bin" "installed under ~/.local as README tells"
  (HOME=$home bash -euc "$remove_lines") >>"$scratch/install.log" 2>&1
  left=$(find "$home" -type f)
  if [[ -z $left ]]; then
    pass "README's rm line leaves no file under ~/.local"
  else
    fail "README's rm line leaves: $(tr '\n' ' ' <<<"$left")"
  fi
else
  fail "README's install lines failed: $(cat "$scratch/install.log")"
fi

finish
