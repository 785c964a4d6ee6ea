#!/usr/bin/env bash
# Builds everything (the native programs, with and without sanitizers, and both Windows
# targets) and runs every test: unit, native end-to-end, resource checks and, under Wine,
# the Windows programs end to end.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
for preset in windows-x64 windows-x86 native native-asan; do
  echo "== Building $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

echo "== clang-tidy on the product code"
scripts/tidy.sh

echo "== Resources and imports of the Windows programs"
ctest --preset windows-x64
ctest --preset windows-x86

echo "== Release package (windows-x86)"
rm -f build/windows-x86/Panefix-*-win32.zip
cpack --preset windows-x86
bash tests/package/check_package.sh build/windows-x86/Panefix-*-win32.zip

echo "== Tests with sanitizers (unit and native end to end)"
ctest --preset native-asan -L 'unit|native' -j "$jobs"

echo "== Fuzzing, 30 seconds a target"
scripts/fuzz.sh 30

echo "== All tests"
ctest --preset native
