#!/usr/bin/env bash
# Runs clang-tidy over the product code: every source under common/, viewer/ and repair/ that the
# native build compiles, as its compile commands list them (the tests, and the sources the build
# generates, are left out). clang cannot compile texts to code page 932, so the character-set flag
# is taken out of the commands it reads; nothing else changes.
#
#   scripts/tidy.sh [BUILD_FOLDER]
#
# BUILD_FOLDER (or PANEFIX_TIDY_BUILD) is a native build of this checkout, build/native unless
# given; that one is configured when it has no compile commands yet. The code page 932 table,
# which the build generates and a product source includes, is brought up to date first.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
real_root=$(pwd -P)

build=${1:-${PANEFIX_TIDY_BUILD:-build/native}}
if [ ! -f "$build/compile_commands.json" ]; then
  if [ "$build" != build/native ]; then
    echo "tidy.sh: $build/compile_commands.json not found; configure that build first" >&2
    exit 2
  fi
  cmake --preset native >/dev/null
fi
cmake --build "$build" --target cp932_text >/dev/null
tidy_db=$(mktemp -d)
trap 'rm -rf "$tidy_db"' EXIT
sed 's/ -fexec-charset=CP932//g' "$build/compile_commands.json" > "$tidy_db/compile_commands.json"

mapfile -t sources < <(grep -o '"file": "[^"]*"' "$tidy_db/compile_commands.json" |
                       sed 's/^"file": "//; s/"$//' |
                       grep -E "^($root|$real_root)/(common|repair|viewer)/" | sort -u)
if [ ${#sources[@]} -eq 0 ]; then
  echo "tidy.sh: $build compiles no source of $root/common, repair or viewer" >&2
  exit 2
fi
clang-tidy --quiet -p "$tidy_db" "${sources[@]}"
echo "clang-tidy: ${#sources[@]} files clean"
