#!/usr/bin/env bash
# Builds the native programs and runs them on a sample host folder: the viewer shows the width,
# the repair tool sets it to 450 (keeping a backup), and the viewer shows the new width.
set -euo pipefail
cd "$(dirname "$0")/.."

# Only what the native programs need: a compiler and CMake.
scripts/install-deps.sh programs
cmake --preset native-programs >/dev/null
cmake --build --preset native-programs -j "$(nproc)" >/dev/null

sample=build/sample-host
rm -rf "$sample"
mkdir -p "$sample"
# A small settings file as the host writes it: CR LF line ends, Japanese text in code page 932.
printf '[MAIN]\r\nTITLE=%s\r\n\r\n[DESKTOP]\r\nLEFT=0\r\nTOP=0\r\nLISTWIDTH=120\r\nTREEWIDTH=180\r\n\r\n[BOARD]\r\nLAST=1\r\n' \
  "$(printf 'スレッド一覧' | iconv -f UTF-8 -t CP932)" > "$sample/Qtv.ini"

programs="$PWD/build/native-programs"
cd "$sample"
echo "== $sample/Qtv.ini, before"
echo "\$ panepeek"
"$programs/viewer/panepeek"
echo "\$ panefix 450"
"$programs/repair/panefix" 450
echo "\$ panepeek"
"$programs/viewer/panepeek"
echo "== The backup Qtv.ini_widthBack still holds the old line:"
grep -a LISTWIDTH Qtv.ini_widthBack
