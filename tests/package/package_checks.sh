# shellcheck shell=bash
# What the checks of the release packages share; sourced, with $root the top of the checkout.
# Each check prints one line, "ok   - ..." or "FAIL - ...", and counts it; finish prints the count
# and ends the script, with status 0 only when at least one check passed and none failed.

passed=0
failed=0
pass() { echo "ok   - $1"; passed=$((passed + 1)); }
fail() { echo "FAIL - $1"; failed=$((failed + 1)); }
finish() {
  echo "$passed passed, $failed failed"
  [[ $failed -eq 0 && $passed -gt 0 ]]
  exit
}

# Prints the product version that the top-level CMakeLists.txt sets, or stops the script.
product_version() {
  local version
  version=$(sed -n 's/^project(Panefix VERSION \([0-9.]*\)[ )].*/\1/p' "$root/CMakeLists.txt")
  if [[ -z $version ]]; then
    echo "$(basename "$0"): no 'project(Panefix VERSION ...)' in $root/CMakeLists.txt" >&2
    exit 2
  fi
  echo "$version"
}

# Checks that FILE.sha256 lies beside FILE and is the one line "SHA-256  NAME" that
# `sha256sum -c` accepts in FILE's folder.
check_checksum_file() {
  local file=$1 name checksum_file output
  name=$(basename "$file")
  checksum_file=$file.sha256
  if [[ ! -f $checksum_file ]]; then
    fail "no checksum file $name.sha256 beside $name"
  elif ! grep -qxE "[0-9a-f]{64}  $name" "$checksum_file" || [[ $(wc -l <"$checksum_file") -ne 1 ]]; then
    fail "$name.sha256 is not one line 'SHA-256  $name': $(head -c 200 "$checksum_file")"
  elif output=$(cd "$(dirname "$file")" && sha256sum -c "$name.sha256" 2>&1); then
    pass "$name.sha256 is accepted by sha256sum -c"
  else
    fail "sha256sum -c $name.sha256: $output"
  fi
}
