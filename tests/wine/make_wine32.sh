#!/bin/bash
# Builds, once per machine, the 32-bit Wine that runs the x86 builds of Panefix and Panepeek in the
# Wine tests, and caches it in DIR:
#
#   tests/wine/make_wine32.sh [DIR]     (as root; DIR defaults to $PANEFIX_WINE32_DIR, else
#                                        /var/cache/panefix/wine32)
#
# This machine's kernel runs no 32-bit Linux programs, so Debian's i386 Wine (package wine32, the
# same version as the host's wine64) runs under qemu-i386 user-mode emulation, with the host's own
# 64-bit wineserver serving it. What DIR holds afterwards:
#
#   DIR/bin/wine, DIR/bin/wineserver, DIR/bin/wineboot   drop-in commands: with DIR/bin first in
#                                        PATH, a harness that runs `wine`, `wineserver -k|-w|-p` and
#                                        `wineboot -i` gets the 32-bit ones (use a WINEARCH=win32
#                                        prefix)
#   DIR/root                             wine32 and its whole i386 dependency closure, unpacked
#   DIR/qemu-i386                        static qemu-i386 (bookworm's qemu 7.2 cannot run Wine: every
#                                        signal frame reaches Wine with trap number -1, so the first
#                                        start never ends; backports' 10.0 can)
#   DIR/fonts.conf                       font configuration of the emulated Wine
#   DIR/VERSIONS, DIR/.stamp             what was installed; the recipe the tree was made with
#
# Everything in DIR is world-readable and nothing writes into it at run time, so any user can run
# the commands with a HOME and a WINEPREFIX of their own. When DIR/.stamp already matches this
# script and the host's Wine, the script does nothing (no network). Otherwise it builds the whole
# tree afresh in a folder beside DIR, checks that the emulated Wine really runs a program, and only
# then moves the result into place: a failed build never leaves a DIR that passes the stamp check.
#
# Packages come only from Debian's archive, through apt-get with a private configuration (its own
# lists, cache and empty status file), so the host's apt state and dpkg architectures are left
# alone: adding i386 to the host's dpkg would break its 64-bit `wine` command.

set -euo pipefail
umask 022

readonly PROG=${0##*/}
readonly MIRROR=http://deb.debian.org/debian
readonly KEYRING=/usr/share/keyrings/debian-archive-keyring.gpg
readonly HOST_WINESERVER=/usr/lib/wine/wineserver64

die() {
  echo "$PROG: error: $*" >&2
  exit 1
}

DIR=${1:-${PANEFIX_WINE32_DIR:-/var/cache/panefix/wine32}}
[[ $# -le 1 ]] || die "usage: $PROG [DIR]"
[[ -n $DIR ]] || die "usage: $PROG [DIR]"
DIR=$(realpath -m -- "$DIR")
[[ $DIR != / ]] || die "refusing to build into /"

# The stamp names this script's own content (any change to the recipe rebuilds the tree) and the
# host's wine64 version, which the i386 wine32 must match: the host's wineserver64 serves it.
SELF=$(readlink -f -- "${BASH_SOURCE[0]}")
RECIPE=$(sha256sum <"$SELF" | cut -d' ' -f1)
WINE_VERSION=$(dpkg-query -W -f='${Version}' wine64 2>/dev/null || true)
STAMP="panefix-wine32 recipe=$RECIPE wine=$WINE_VERSION"

stamp_matches() { [[ -f $DIR/.stamp && $(<"$DIR/.stamp") == "$STAMP" && -x $DIR/bin/wine ]]; }

if [[ -n $WINE_VERSION ]] && stamp_matches; then
  echo "$PROG: $DIR is up to date (32-bit Wine $WINE_VERSION)"
  exit 0
fi

[[ $(id -u) -eq 0 ]] || die "must run as root (it writes $DIR)"
[[ -n $WINE_VERSION ]] || die "the host's wine64 package is not installed (its wineserver64 serves the 32-bit Wine)"
[[ -x $HOST_WINESERVER ]] || die "$HOST_WINESERVER is missing (package wine64)"
[[ -r $KEYRING ]] || die "$KEYRING is missing (package debian-archive-keyring)"
for tool in apt-get dpkg-deb ldconfig file flock sha256sum timeout; do
  command -v "$tool" >/dev/null || die "$tool is not installed"
done

# An existing DIR is replaced only when this script made it.
if [[ -e $DIR || -L $DIR ]] && [[ ! -d $DIR || -L $DIR || ! -f $DIR/.stamp ]]; then
  die "$DIR exists and is not a 32-bit Wine made by $PROG; remove it or choose another DIR"
fi
PARENT=$(dirname -- "$DIR")
mkdir -p -- "$PARENT"

# One build at a time; a build that waited for another one finds the tree made.
exec 9>"$DIR.lock"
flock 9
if stamp_matches; then
  echo "$PROG: $DIR is up to date (32-bit Wine $WINE_VERSION, made by a concurrent run)"
  exit 0
fi

START=$SECONDS
WORK=$(mktemp -d -- "$DIR.new.XXXXXX")
CHECK_PREFIX=
cleanup() {
  if [[ -n $CHECK_PREFIX && -d $CHECK_PREFIX ]]; then
    WINEPREFIX=$CHECK_PREFIX "$HOST_WINESERVER" -k >/dev/null 2>&1 || true
  fi
  rm -rf -- "$WORK"
}
trap cleanup EXIT
chmod 755 "$WORK"
NEW=$WORK/tree
DOWNLOADS=$WORK/downloads
mkdir -p "$NEW/root" "$NEW/bin" "$DOWNLOADS"

# Runs a step with its output in a log; on failure shows the end of the log and stops.
run_logged() {
  local what=$1 log=$2
  shift 2
  if ! "$@" >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    die "$what failed"
  fi
}

# Prints the options of a private apt for ARCH with the given sources.list lines.
private_apt() {
  local name=$1 arch=$2
  shift 2
  local base=$DOWNLOADS/apt-$name
  mkdir -p "$base/lists/partial" "$base/cache/archives/partial"
  : >"$base/status"
  printf '%s\n' "$@" >"$base/sources.list"
  printf '%s\n' \
    -o "Dir::State=$base" -o "Dir::State::lists=$base/lists" -o "Dir::State::status=$base/status" \
    -o "Dir::Cache=$base/cache" -o "Dir::Cache::archives=$base/cache/archives" \
    -o "Dir::Etc::SourceList=$base/sources.list" -o "Dir::Etc::SourceParts=/dev/null" \
    -o "Dir::Etc::Preferences=/dev/null" -o "Dir::Etc::PreferencesParts=/dev/null" \
    -o "APT::Architecture=$arch" -o "APT::Architectures::=$arch" \
    -o "APT::Install-Recommends=false" -o "APT::Sandbox::User=root" \
    -o "Acquire::Languages=none" -o "Acquire::Retries=3"
}

# --- wine32 and its dependency closure (i386) ------------------------------------------------------
# bookworm-security is left out: its i386 index has failed here with a size mismatch, and nothing
# of the closure needs it to run the tests.
mapfile -t APT_I386 < <(private_apt i386 i386 \
  "deb [arch=i386 signed-by=$KEYRING] $MIRROR bookworm main" \
  "deb [arch=i386 signed-by=$KEYRING] $MIRROR bookworm-updates main")
run_logged "apt-get update (i386)" "$DOWNLOADS/update-i386.log" apt-get "${APT_I386[@]}" -q update
run_logged "downloading wine32 $WINE_VERSION and its dependencies (i386)" "$DOWNLOADS/get-i386.log" \
  apt-get "${APT_I386[@]}" -q -y --no-install-recommends install --download-only \
  "wine32:i386=$WINE_VERSION"
shopt -s nullglob
I386_DEBS=("$DOWNLOADS"/apt-i386/cache/archives/*.deb)
((${#I386_DEBS[@]} > 0)) || die "apt-get downloaded no i386 package"
for deb in "${I386_DEBS[@]}"; do
  dpkg-deb -x "$deb" "$NEW/root" || die "cannot unpack $deb"
done

# --- qemu-i386 (amd64, bookworm-backports) ------------------------------------------------------------
mapfile -t APT_AMD64 < <(private_apt amd64 amd64 \
  "deb [arch=amd64 signed-by=$KEYRING] $MIRROR bookworm-backports main")
run_logged "apt-get update (amd64 backports)" "$DOWNLOADS/update-amd64.log" \
  apt-get "${APT_AMD64[@]}" -q update
mkdir -p "$DOWNLOADS/qemu"
(cd "$DOWNLOADS/qemu" && run_logged "downloading qemu-user from bookworm-backports" \
  "$DOWNLOADS/get-qemu.log" apt-get "${APT_AMD64[@]}" -q download qemu-user)
QEMU_DEBS=("$DOWNLOADS"/qemu/qemu-user_*.deb)
((${#QEMU_DEBS[@]} == 1)) || die "expected one qemu-user package, found ${#QEMU_DEBS[@]}"
dpkg-deb -x "${QEMU_DEBS[0]}" "$DOWNLOADS/qemu/x" || die "cannot unpack ${QEMU_DEBS[0]}"
QEMU=
for candidate in "$DOWNLOADS"/qemu/x/usr/bin/qemu-i386-static "$DOWNLOADS"/qemu/x/usr/bin/qemu-i386; do
  if [[ -f $candidate ]]; then
    QEMU=$candidate
    break
  fi
done
[[ -n $QEMU ]] || die "qemu-user has no qemu-i386"
QEMU_FILE=$(file -b "$QEMU")
[[ $QEMU_FILE == *x86-64* && $QEMU_FILE =~ (statically|static-pie)\ linked ]] ||
  die "qemu-i386 is not a static x86-64 program: $QEMU_FILE"
install -m 755 "$QEMU" "$NEW/qemu-i386"

{
  echo "wine32 $(dpkg-deb -f "$(printf '%s\n' "${I386_DEBS[@]}" | grep '/wine32_')" Version) (i386)"
  echo "qemu-user $(dpkg-deb -f "${QEMU_DEBS[0]}" Version) (amd64, only qemu-i386 taken)"
  echo "wineserver $WINE_VERSION (the host's $HOST_WINESERVER)"
  echo "packages unpacked into root/:"
  for deb in "${I386_DEBS[@]}"; do
    dpkg-deb -f "$deb" Package Version | paste -sd' '
  done | sed 's/^Package: /  /; s/ Version: / /'
} >"$NEW/VERSIONS"

# --- what the maintainer scripts of the closure would have done -------------------------------------
ROOT=$NEW/root
LOADER_DIR=$ROOT/usr/lib/wine
[[ -f $LOADER_DIR/wine ]] || die "wine32 has no loader at /usr/lib/wine/wine"
file -b "$LOADER_DIR/wine" | grep -q 'ELF 32-bit.*80386' || die "/usr/lib/wine/wine is not an i386 program"

# The dynamic linker's cache of the tree; without it the emulated programs would find the host's
# own 32-bit libraries, through the host's cache, before the tree's.
printf 'include /etc/ld.so.conf.d/*.conf\n' >"$ROOT/etc/ld.so.conf"
ldconfig -r "$ROOT" || die "ldconfig -r $ROOT failed"
[[ -s $ROOT/etc/ld.so.cache ]] || die "ldconfig wrote no cache into the tree"

# libwine's postinst: zlib1.dll from libz-mingw-w64 becomes a builtin DLL of Wine, with Wine's
# marker after the DOS header. The other maintainer scripts of the closure only restart services,
# compile GSettings schemas, register GIO modules, set a capability on a GStreamer helper or edit
# /etc/fonts (replaced below): none of them matters to Wine.
for pair in i686:i386 x86_64:x86_64; do
  in=$ROOT/usr/${pair%%:*}-w64-mingw32/lib/zlib1.dll
  out=$ROOT/usr/lib/i386-linux-gnu/wine/${pair##*:}-windows/zlib1.dll
  [[ -f $in && -d ${out%/*} ]] || continue
  {
    head -c 64 "$in"
    printf 'Wine builtin DLL'
    head -c 16 /dev/zero
    tail -c +97 "$in"
  } >"$out"
done
grep -q 'Wine builtin DLL' "$ROOT/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll" 2>/dev/null ||
  die "could not make zlib1.dll a builtin DLL"

# Nothing in the tree is meant to run with privileges.
find "$ROOT" -type f -perm /6000 -exec chmod ug-s {} +

# qemu looks an absolute path up in the tree first and falls back to the host's. The tree's own
# /etc/fonts and /usr/share/fonts would hide the host's fonts (the Japanese ones among them), so
# they go, with the tree's copy of fontconfig's stock rules: the emulated fontconfig reads the
# host's configuration and fonts. Its cache goes to a
# folder of its own under the caller's $XDG_CACHE_HOME (else $HOME/.cache): per user, so every
# account that runs the tests writes only its own files and nothing in DIR has to be writable by
# all. The first start under a new HOME builds that cache (some seconds); later ones reuse it.
rm -rf "$ROOT/etc/fonts" "$ROOT/usr/share/fonts" "$ROOT/usr/share/fontconfig"
cat >"$NEW/fonts.conf" <<'EOF'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<!-- Fonts of the emulated 32-bit Wine: the host's configuration, with a cache of its own first. -->
<fontconfig>
  <cachedir prefix="xdg">panefix-wine32/fontconfig</cachedir>
  <include ignore_missing="no">/etc/fonts/fonts.conf</include>
</fontconfig>
EOF

# The loader's wrapper. Wine starts a child process by running, from the loader's folder, the file
# named like its own argv[0]: qemu's -0 makes that this wrapper, so every child runs under qemu too.
# WINELOADERNOEXEC keeps Wine from re-executing its 32-bit loader directly, which the kernel cannot.
cat >"$LOADER_DIR/wine-qemu" <<'EOF'
#!/bin/sh
# Runs the tree's 32-bit Wine loader under qemu-i386; Wine starts its child processes through it.
self=$(readlink -f -- "$0") || exit 126
here=${self%/*}
root=${here%/usr/lib/wine}
top=${root%/root}
export WINELOADERNOEXEC=1
export WINESERVER="${WINESERVER:-/usr/lib/wine/wineserver64}"
export FONTCONFIG_FILE="$top/fonts.conf"
exec "$top/qemu-i386" -L "$root" -0 "$self" "$root/usr/lib/wine/wine" "$@"
EOF

cat >"$NEW/bin/wine" <<'EOF'
#!/bin/sh
# The 32-bit Wine (under qemu-i386). Use it with a WINEARCH=win32 prefix.
self=$(readlink -f -- "$0") || exit 126
exec "${self%/bin/wine}/root/usr/lib/wine/wine-qemu" "$@"
EOF
cat >"$NEW/bin/wineboot" <<'EOF'
#!/bin/sh
# wineboot of the 32-bit Wine.
self=$(readlink -f -- "$0") || exit 126
exec "${self%/wineboot}/wine" wineboot.exe "$@"
EOF
cat >"$NEW/bin/wineserver" <<'EOF'
#!/bin/sh
# The server of the 32-bit Wine: the host's 64-bit wineserver of the same version, the one the
# emulated Wine starts itself (so -k, -w and -p reach it through the prefix as usual).
exec "${WINESERVER:-/usr/lib/wine/wineserver64}" "$@"
EOF
chmod 755 "$LOADER_DIR/wine-qemu" "$NEW/bin/wine" "$NEW/bin/wineboot" "$NEW/bin/wineserver"
chmod -R a+rX "$NEW"

# --- self-check: the emulated Wine makes a 32-bit prefix and runs a console program ----------------
CHECK=$WORK/check
mkdir -p "$CHECK/home"
CHECK_PREFIX=$CHECK/prefix
check_env=(env -u DISPLAY -u WAYLAND_DISPLAY -u WINESERVER -u WINELOADER -u WINEDLLPATH
  HOME="$CHECK/home" XDG_CACHE_HOME="$CHECK/home/.cache" WINEPREFIX="$CHECK_PREFIX"
  WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
  LC_ALL=C.UTF-8 PATH="$NEW/bin:$PATH")
CHECK_OUT=$("${check_env[@]}" timeout 600 "$NEW/bin/wine" cmd /c 'echo panefix-wine32 %PROCESSOR_ARCHITECTURE%' \
  2>"$CHECK/wine.log" | tr -d '\r') || true
"${check_env[@]}" timeout 60 "$NEW/bin/wineserver" -k >/dev/null 2>&1 || true
"${check_env[@]}" timeout 60 "$NEW/bin/wineserver" -w >/dev/null 2>&1 || true
if [[ $CHECK_OUT != "panefix-wine32 x86" ]]; then
  tail -n 20 "$CHECK/wine.log" >&2
  die "the emulated Wine did not run cmd.exe: expected 'panefix-wine32 x86', got '$CHECK_OUT'"
fi
grep -qx '#arch=win32' "$CHECK_PREFIX/system.reg" 2>/dev/null ||
  die "the emulated Wine did not make a 32-bit prefix"
rm -rf "$CHECK"
CHECK_PREFIX=

# --- into place ---------------------------------------------------------------------------------
FETCHED=$(du -cm "${I386_DEBS[@]}" "${QEMU_DEBS[@]}" | tail -n 1 | cut -f1)
rm -rf "$DOWNLOADS"
printf '%s\n' "$STAMP" >"$NEW/.stamp"
chmod 755 "$NEW"
if [[ -e $DIR || -L $DIR ]]; then
  mv -T -- "$DIR" "$WORK/old"
fi
mv -T -- "$NEW" "$DIR"
SIZE=$(du -sh -- "$DIR" | cut -f1)
echo "$PROG: made 32-bit Wine $WINE_VERSION under $(head -n 2 "$DIR/VERSIONS" | sed -n 's/^qemu-user \([^ ]*\).*/qemu-i386 \1/p') in $DIR ($FETCHED MB fetched, $SIZE on disk, $((SECONDS - START)) s)"
