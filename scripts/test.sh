#!/usr/bin/env bash
# Builds everything (the native programs, with and without sanitizers, both Windows targets and
# the Linux release) and runs every test: unit, native end-to-end, resource checks, the release
# packages' checks and, under Wine, the 64-bit and the 32-bit Windows programs end to end. Fails
# when any test is skipped or does not run: a test that did not run proves nothing.
#
# PANEFIX_SKIP_WINE=1 leaves the Wine tests (and the setup of the 32-bit Wine) out, for a quick
# run of everything else while working; it is refused where CI is set.
set -euo pipefail
cd "$(dirname "$0")/.."

skip_wine=${PANEFIX_SKIP_WINE:-}
if [[ -n $skip_wine && $skip_wine != 0 ]]; then
  if [[ -n ${CI:-} ]]; then
    echo "PANEFIX_SKIP_WINE is set, but CI must run every test: unset it" >&2
    exit 1
  fi
  skip_wine=1
else
  skip_wine=
fi

# Runs ctest on the preset's build with the further arguments given, and fails when ctest fails
# or when any test did not run, naming those tests and the reasons they gave.
run_tests() {
  local preset=$1 log status=0 not_run
  shift
  log=$(mktemp)
  ctest --preset "$preset" "$@" 2>&1 | tee "$log" || status=$?
  not_run=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (\(Skipped\|Not Run\|Disabled\))$/\1 (\2)/p' "$log")
  if [[ -n $not_run ]]; then
    echo "FAILED: $(wc -l <<<"$not_run") tests of $preset did not run:" >&2
    sed 's/^/  /' <<<"$not_run" >&2
    # gtest gives the reason for a skip on the line after "Skipped", the Wine session's start on
    # its "[  SKIPPED ]" line; ctest names the failed step a test that was not run depended on.
    local last=build/$preset/Testing/Temporary/LastTest.log
    echo "The reasons:" >&2
    { grep -h -A1 ': Skipped$' "$last" | grep -v -e ': Skipped$' -e '^--$'
      grep -h '^\[  SKIPPED \] no ' "$last" | sed 's/^\[  SKIPPED \] //'
      grep -h '^Failed test dependencies: ' "$log"
    } | sort | uniq -c | sed 's/^/  /' >&2 || true
    status=1
  fi
  rm -f "$log"
  return "$status"
}

scripts/install-deps.sh

jobs=$(nproc)
for preset in windows-x64 windows-x86 native native-asan release-linux; do
  echo "== Building $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

echo "== Layout: every C and C++ file as .clang-format lays it out"
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror

echo "== clang-tidy on the product code"
scripts/tidy.sh

echo "== Resources and imports of the Windows programs"
run_tests windows-x64
run_tests windows-x86

echo "== Release package (windows-x86)"
rm -f build/windows-x86/Panefix-*-win32.*
cpack --preset windows-x86
bash tests/package/check_package.sh build/windows-x86/Panefix-*-win32.zip
echo "== The release package again, built in another folder: the same bytes"
bash tests/package/check_reproducible.sh build/windows-x86/Panefix-*-win32.zip

echo "== Linux release packages (release-linux): the .deb and the tarball"
rm -f build/release-linux/panefix_*.deb* build/release-linux/panefix-*-linux-*
cpack --preset release-linux
bash tests/package/check_linux_packages.sh build/release-linux/panefix_*.deb \
  build/release-linux/panefix-*-linux-*.tar.gz
echo "== The Linux release packages again, built in another folder: the same bytes"
bash tests/package/check_reproducible.sh build/release-linux/panefix_*.deb \
  build/release-linux/panefix-*-linux-*.tar.gz
echo "== Tests of the programs the Linux packages ship (hardened; unit and native end to end)"
run_tests release-linux -j "$jobs"

echo "== Tests with sanitizers (unit and native end to end)"
run_tests native-asan -L 'unit|native' -j "$jobs"

echo "== Fuzzing, 30 seconds a target"
scripts/fuzz.sh 30

if [[ -n $skip_wine ]]; then
  echo "== All tests but those under Wine (PANEFIX_SKIP_WINE=1)"
  run_tests native -LE wine
else
  echo "== The 32-bit Wine for the 32-bit programs"
  tests/wine/make_wine32.sh
  echo "== All tests"
  run_tests native
fi
