#!/usr/bin/env bash
# Installs, from Debian's packages, whatever of the build and test tools is missing, makes the
# Japanese locale that Wine needs for code page 932, and the unprivileged account the Wine tests
# run Wine as. Run as root; does nothing when all is there already.
#
#   scripts/install-deps.sh            everything the builds and the tests use
#   scripts/install-deps.sh programs   only what the native programs need: a compiler and CMake
set -euo pipefail

programs_only=
if [[ ${1:-} == programs ]]; then
  programs_only=1
fi

packages=(cmake g++ make)
if [[ -z $programs_only ]]; then
  packages+=(libgtest-dev clang-tidy clang-format clang libclang-rt-14-dev
             g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64
             binutils-mingw-w64-i686
             wine wine64 xvfb x11-utils locales unzip file git python3 strace groff-base
             dpkg-dev lintian man-db)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

[[ -z $programs_only ]] || exit 0

# Wine takes its ANSI code page from the locale: ja_JP.UTF-8 gives code page 932.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "Generating the ja_JP.UTF-8 locale"
  sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi

# Wine run by root is refused nothing by file permissions: the Wine tests, when run as root, run
# Wine as this account instead, which owns no file but those the tests give it, and keeps its
# Wine prefixes in its home.
wine_home=/var/lib/panefix-wine
if ! getent passwd panefix-wine >/dev/null; then
  echo "Making the account panefix-wine"
  useradd --system --user-group --home-dir "$wine_home" --shell /usr/sbin/nologin panefix-wine
elif [[ $(getent passwd panefix-wine | cut -d: -f6) != "$wine_home" ]]; then
  usermod --home "$wine_home" panefix-wine
fi
install -d -o panefix-wine -g panefix-wine -m 755 "$wine_home"
