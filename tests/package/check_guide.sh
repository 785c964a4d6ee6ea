#!/usr/bin/env bash
# Checks that the user guide quotes every message of the two programs exactly as they show it,
# in its Japanese part and again in its English part. Works on the Markdown source
# (docs/user-guide.md) and on the text edition in the release package (UTF-8 with a byte-order
# mark, CR LF line ends) alike.
#
#   check_guide.sh GUIDE
#
# A message is quoted as an indented block: each of its lines (a CR LF in the message starts a
# new line) indented by four blanks, an empty line left empty, with a line end before and after
# the block. A line that would not fit the guide's 80 columns (a full-width character counts
# two) is broken at its last blank that lets it fit, and goes on, indented by six, on the next
# line. The report of a failed file operation is quoted with XXXXXXXX for its address, which
# differs from build to build: the guide quotes no address of its own. Prints one line per check
# and a closing count; the exit status is 0 only when every check passed.
set -u

if [[ $# -ne 1 ]]; then
  echo "usage: check_guide.sh GUIDE" >&2
  exit 2
fi
guide_file=$1

# The title that starts the English part, a Markdown heading in the source and a plain line in the
# text edition; everything above it is the Japanese part.
ENGLISH_TITLE='Panefix and Panepeek: user guide'
# The line where the text edition ends; what follows in the source is for its readers only.
END_MARKER='<!-- end of the text edition -->'

# Every text a box shows is defined once, for all the tests, in this source: one
# `const char Name[] = "...";` each, its adjacent literals joined, a CR LF starting a new line.
TEXTS_SOURCE="$(cd "$(dirname "${BASH_SOURCE[0]}")/../support" && pwd)/program_texts.cpp"
if [[ ! -f $TEXTS_SOURCE ]]; then
  echo "check_guide.sh: no such file: $TEXTS_SOURCE" >&2
  exit 2
fi
declare -A TEXT
while IFS=$'\t' read -r -d '' name value; do
  TEXT[$name]=$value
done < <(perl -0777 -CSD -ne '
  while (/const char (\w+)\[\] =\s*((?:"(?:[^"\\]|\\.)*"\s*)+);/g) {
    my ($name, $literals, $value) = ($1, $2, "");
    $value .= $1 while $literals =~ /"((?:[^"\\]|\\.)*)"/g;
    $value =~ s/\\(.)/$1 eq "r" ? "" : $1 eq "n" ? "\n" : $1/ge;
    print "$name\t$value\0";
  }' "$TEXTS_SOURCE")

# The messages the guide quotes, by their names there. The result box's value is an example
# (430); the backup question comes with both of its verbs.
MESSAGE_NAMES=(Success ViewerNotFound RepairNotFound HostRunning HeaderMissing HeaderRepeated
               EntryMissing EntryRepeated TooManyArguments BadFormat OutOfRange AttributeRefused)
MESSAGES=("${TEXT[ResultStart]:-}430${TEXT[ResultEnd]:-}")
for verb in CreateVerb UpdateVerb; do
  MESSAGES+=("${TEXT[QuestionStart]:-}${TEXT[$verb]:-}${TEXT[QuestionEnd]:-}")
done

# The captions of the boxes, each named in both parts.
CAPTION_NAMES=(ViewerCaption RepairCaption SuccessCaption ReportCaption)

# The report of a failed file operation: its start, the number right-aligned in three places,
# " at " and the address, as the guide quotes it (XXXXXXXX) and as a program shows it.
RUNTIME_ERROR_LINE="^    ${TEXT[ReportStart]:-}[ 0-9]{3} at XXXXXXXX\$"
RUNTIME_ERROR_ADDRESS="${TEXT[ReportStart]:-}[ 0-9]{3} at [0-9A-F]{8}"
# The widest line of the guide's text edition, and the indent of a quoted line's continuation.
GUIDE_COLUMNS=80

passed=0
failed=0
pass() { echo "ok   - $1"; passed=$((passed + 1)); }
fail() { echo "FAIL - $1"; failed=$((failed + 1)); }

if [[ ! -f $guide_file ]]; then
  echo "check_guide.sh: no such file: $guide_file" >&2
  exit 2
fi

# The guide as LF-ended lines without a byte-order mark, cut at the end of the text edition.
text=$(LC_ALL=C sed '1s/^\xEF\xBB\xBF//; s/\r$//' "$guide_file" | awk -v marker="$END_MARKER" '$0 == marker { exit } { print }')
declare -A parts
parts[japanese]=$(awk -v title="$ENGLISH_TITLE" '$0 == title || $0 == "# " title { exit } { print }' <<<"$text")
parts[english]=$(awk -v title="$ENGLISH_TITLE" 'found { print } $0 == title || $0 == "# " title { found = 1 }' <<<"$text")
if [[ -z ${parts[english]} ]]; then
  fail "no line '$ENGLISH_TITLE': the English part is missing"
fi

# Prints MESSAGE as the guide quotes it: each line indented by four blanks, empty lines empty, a
# line too wide for the guide broken at its last blank that fits, the rest indented by six.
quoted_block() {
  perl -CSDA -e '
    my ($columns, $message) = @ARGV;
    sub columns { my $n = 0; $n += /[\p{EA=W}\p{EA=F}]/ ? 2 : 1 for split //, $_[0]; $n }
    for my $line (split /\n/, $message, -1) {
      if ($line eq "") { print "\n"; next }
      my $indent = "    ";
      while (columns($indent . $line) > $columns) {
        my $cut;
        for my $i (reverse 1 .. length($line) - 1) {
          next unless substr($line, $i, 1) eq " ";
          if (columns($indent . substr($line, 0, $i)) <= $columns) { $cut = $i; last }
        }
        last unless defined $cut;
        print $indent, substr($line, 0, $cut), "\n";
        $line = substr($line, $cut + 1);
        $indent = "      ";
      }
      print $indent, $line, "\n";
    }' "$GUIDE_COLUMNS" "$1"
}

check_quoted() {
  local message=$1 block first part
  block=$(quoted_block "$message")
  first=$(head -n 1 <<<"$message")
  for part in japanese english; do
    # A whole block, from a line start to a line end.
    if [[ $'\n'${parts[$part]}$'\n' == *$'\n'"$block"$'\n'* ]]; then
      pass "$part part quotes: $first"
    else
      fail "$part part does not quote, as an indented block, the message:"$'\n'"$block"
    fi
  done
}

for name in "${MESSAGE_NAMES[@]}" "${CAPTION_NAMES[@]}" ResultStart ResultEnd QuestionStart \
            CreateVerb UpdateVerb QuestionEnd ReportStart; do
  if [[ -z ${TEXT[$name]:-} ]]; then
    fail "$TEXTS_SOURCE defines no text $name"
  fi
done
for name in "${MESSAGE_NAMES[@]}"; do
  MESSAGES+=("${TEXT[$name]:-}")
done
for message in "${MESSAGES[@]}"; do
  check_quoted "$message"
done

for part in japanese english; do
  if grep -qE "$RUNTIME_ERROR_LINE" <<<"${parts[$part]}"; then
    pass "$part part quotes a Runtime error report: $(grep -m1 -E "$RUNTIME_ERROR_LINE" <<<"${parts[$part]}" | sed 's/^ *//')"
  else
    fail "$part part quotes no Runtime error report as the programs lay it out, with XXXXXXXX for the address ('${TEXT[ReportStart]:-}  32 at XXXXXXXX')"
  fi
  if address=$(grep -m1 -oE "$RUNTIME_ERROR_ADDRESS" <<<"${parts[$part]}"); then
    fail "$part part quotes an address that only one build shows: $address"
  else
    pass "$part part quotes no address of one build"
  fi
  for name in "${CAPTION_NAMES[@]}"; do
    caption=${TEXT[$name]:-}
    [[ -n $caption ]] || continue
    if grep -qF -- "$caption" <<<"${parts[$part]}"; then
      pass "$part part names the caption $caption"
    else
      fail "$part part does not name the caption $caption"
    fi
  done
done

echo "$passed passed, $failed failed"
[[ $failed -eq 0 && $passed -gt 0 ]]
