#!/usr/bin/env bash
# Checks the manual pages as the build configures them (BUILD/man/*.1):
#
#   check_man_pages.sh PAGE...
#
# - groff reads each without a warning (-ww), its UTF-8 through preconv (-k);
# - rendered as man shows it in an 80-column terminal, no line is wider than 80 columns, a
#   full-width character (East Asian Width W or F) counting two: a page quotes Japanese
#   messages, which groff cannot break;
# - no template variable (@NAME@) is left unreplaced.
#
# Needs groff (Debian's groff-base) and perl. Prints one line per check and a closing count; the
# exit status is 0 only when every check passed.
set -u

# The width of the terminal, and the line length man gives groff for it.
TERMINAL_COLUMNS=80
LINE_LENGTH=78n

if [[ $# -eq 0 ]]; then
  echo "usage: check_man_pages.sh PAGE..." >&2
  exit 2
fi
for tool in groff perl; do
  if ! command -v "$tool" >/dev/null; then
    echo "check_man_pages.sh: $tool is needed" >&2
    exit 2
  fi
done

passed=0
failed=0
pass() { echo "ok   - $1"; passed=$((passed + 1)); }
fail() { echo "FAIL - $1"; failed=$((failed + 1)); }

for page in "$@"; do
  name=$(basename "$page")
  if [[ ! -f $page ]]; then
    fail "no such page: $page"
    continue
  fi
  warnings=$(groff -k -man -Tutf8 -ww -z "$page" 2>&1)
  if [[ -z $warnings ]]; then
    pass "$name: groff reads it without a warning"
  else
    fail "$name: groff warns:"$'\n'"$(head -n 5 <<<"$warnings")"
  fi
  wide=$(groff -k -man -Tutf8 -rLL=$LINE_LENGTH -P-cbou "$page" 2>/dev/null | perl -CSD -ne '
    BEGIN { $columns = shift @ARGV }
    chomp; my $n = 0; $n += /[\p{EA=W}\p{EA=F}]/ ? 2 : 1 for split //;
    print "$n: $_\n" if $n > $columns' "$TERMINAL_COLUMNS")
  if [[ -z $wide ]]; then
    pass "$name: no rendered line wider than $TERMINAL_COLUMNS columns"
  else
    fail "$name: rendered lines wider than $TERMINAL_COLUMNS columns (columns: line):"$'\n'"$(head -n 5 <<<"$wide")"
  fi
  if left=$(grep -n -m 3 -E '@[A-Z_]+@' "$page"); then
    fail "$name: template variables left: $left"
  else
    pass "$name: every template variable replaced"
  fi
done

echo "$passed passed, $failed failed"
[[ $failed -eq 0 && $passed -gt 0 ]]
