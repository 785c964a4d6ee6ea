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
# the block. Prints one line per check and a closing count; the exit status is 0 only when every
# check passed.
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

# Every text a box shows, as the programs hold it, messages separated by a line "--". The
# result box's value is an example (430); the backup question comes with both of its verbs.
MESSAGES=$(cat <<'EOF'
スレッド・ペインの幅は 430 です。
--
成功しました。
--
Qtv.ini が見つかりません。
Panepeek.exe を 「Qtv.exe と同じフォルダ」 にコピーしてから、再度 実行して下さい。
--
Qtv.ini が見つかりません。
Panefix.exe を 「Qtv.exe と同じフォルダ」 にコピーしてから、再度 実行してください。
--
Ostrel を終了させてから、再度 実行して下さい。
--
"[DESKTOP]" が見つかりませんでした。
処理を中止します。
--
"[DESKTOP]" が、複数見つかりました。
処理を中止します。
--
"LISTWIDTH=" が見つかりませんでした。
処理を中止します。
--
"LISTWIDTH=" が、複数見つかりました。
処理を中止します。
--
引数の数が多すぎます。
--
引数の形式が正しくありません。
「～\Panefix.exe 半角の数字」　と指定してください。

例）　C:\test\Panefix.exe 450
--
引数の数値が範囲外です。
--
Qtv.ini のファイル属性を変更できませんでした。
--
バックファイル Qtv.ini_widthBack を作成できませんでした。
処理を継続しますか？
--
バックファイル Qtv.ini_widthBack を更新できませんでした。
処理を継続しますか？
EOF
)

# The captions of the boxes, each named in both parts.
CAPTIONS=('Panepeek' 'Mirvel スレ幅修復ツール' 'スレ幅 修復' 'Error')

# The report of a failed file operation: "Runtime error", the number right-aligned in three
# places, " at " and eight hexadecimal digits.
RUNTIME_ERROR_LINE='^    Runtime error [ 0-9]{3} at [0-9A-F]{8}$'

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

# Prints MESSAGE as the guide quotes it: each line indented by four blanks, empty lines empty.
quoted_block() {
  local line
  while IFS= read -r line; do
    if [[ -n $line ]]; then printf '    %s\n' "$line"; else printf '\n'; fi
  done <<<"$1"
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

message=""
while IFS= read -r line; do
  if [[ $line == "--" ]]; then
    check_quoted "$message"
    message=""
  elif [[ -z $message ]]; then
    message=$line
  else
    message+=$'\n'$line
  fi
done <<<"$MESSAGES"
check_quoted "$message"

for part in japanese english; do
  if grep -qE "$RUNTIME_ERROR_LINE" <<<"${parts[$part]}"; then
    pass "$part part quotes a Runtime error report: $(grep -m1 -E "$RUNTIME_ERROR_LINE" <<<"${parts[$part]}" | sed 's/^ *//')"
  else
    fail "$part part quotes no Runtime error report as the programs lay it out ('Runtime error  32 at 00003254')"
  fi
  for caption in "${CAPTIONS[@]}"; do
    if grep -qF -- "$caption" <<<"${parts[$part]}"; then
      pass "$part part names the caption $caption"
    else
      fail "$part part does not name the caption $caption"
    fi
  done
done

echo "$passed passed, $failed failed"
[[ $failed -eq 0 && $passed -gt 0 ]]
