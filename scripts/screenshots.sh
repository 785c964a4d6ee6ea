#!/usr/bin/env bash
# Takes the pictures of the user guide: every message box of the two programs as it appears when
# they really run into the situation, under Wine on a private X display (Xvfb) with a Japanese
# font, each cropped to the box with its frame and caption and saved as docs/screenshots/NAME.png.
#
#   scripts/screenshots.sh [NAME...]     only the named pictures; all of them without a name
#
# PANEFIX_WINDOWS_BUILD_DIR (default build/windows-x64) is the 64-bit Windows build whose
# programs and Wine test helpers are used; it is configured there when missing and brought up to
# date. Run as root: missing packages are installed, and the box about the file attributes needs
# a read-only bind mount. The Wine prefix, the display and the scratch folders are the script's
# own, under build/screenshots; the prefix of the Wine tests is not touched.
#
# box_reader.exe starts each program, saves a picture of each box before it answers it, and
# reports the box's caption and text, which are checked against the situation, so that a picture
# of the wrong box is never saved. Exits non-zero when a picture could not be made.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build=${PANEFIX_WINDOWS_BUILD_DIR:-build/windows-x64}
[[ $build == /* ]] || build=$root/$build
work=$root/build/screenshots
prefix=$work/prefix
out=$root/docs/screenshots
log=$work/screenshots.log

# ---- Tools ----------------------------------------------------------------------------------

scripts/install-deps.sh
# The Japanese font for the boxes, Wine's own fonts (Marlett draws the close button), and
# ImageMagick for BMP to PNG (a convert elsewhere in PATH may be something else).
extra=()
for package in fonts-ipafont-gothic fonts-wine imagemagick; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    extra+=("$package")
  fi
done
if [[ ${#extra[@]} -gt 0 ]]; then
  echo "Installing: ${extra[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${extra[@]}" >/dev/null
fi
convert=/usr/bin/convert
identify=/usr/bin/identify

# ---- The Windows programs and helpers -------------------------------------------------------

if [[ ! -f $build/CMakeCache.txt ]]; then
  if [[ $build == "$root/build/windows-x64" ]]; then
    cmake --preset windows-x64 >/dev/null
  else
    cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
fi
cmake --build "$build" -j "$(nproc)" \
  --target panefix panepeek box_reader standin_host file_holder >/dev/null
helpers=$build/tests/wine/helpers
declare -A programs=([Panefix.exe]=$build/repair/Panefix.exe [Panepeek.exe]=$build/viewer/Panepeek.exe)

# ---- The session: display, Wine prefix ------------------------------------------------------

mkdir -p "$work" "$out"
: >"$log"
xvfb_pid=
held_pid=
held_in=
held_out=
mounted=

cleanup() {
  stop_held
  if [[ -n $mounted ]] && mountpoint -q "$mounted"; then
    umount "$mounted" || true
  fi
  if [[ -n ${WINEPREFIX:-} ]]; then
    wineserver -k >>"$log" 2>&1 || true
  fi
  if [[ -n $xvfb_pid ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

# Xvfb picks a free display and writes its number once it takes clients.
rm -f "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >>"$log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [[ $(cat "$work/display" 2>/dev/null) == *[0-9]* ]] && break
  sleep 0.1
done
display=$(tr -dc 0-9 <"$work/display")
[[ -n $display ]] || { echo "Xvfb did not start (see $log)" >&2; exit 1; }

# As for the Wine tests: the Japanese locale makes Wine's ANSI code page 932.
export DISPLAY=:$display WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

wineserver -k >>"$log" 2>&1 || true
if [[ ! -f $prefix/.panefix-screenshots-ready ]]; then
  echo "Making the Wine prefix $prefix"
  rm -rf "$prefix"
  wineboot -i >>"$log" 2>&1
  wineserver -w
  touch "$prefix/.panefix-screenshots-ready"
fi
wineserver -p >>"$log" 2>&1

# The settings of the prefix, applied on every run so that a change here takes effect:
# - Windows are not left to a window manager (Xvfb has none), so Wine draws their frames.
# - The fonts a Japanese Windows shows its boxes in are replaced by IPA P Gothic, proportional
#   like MS UI Gothic (the fixed-pitch IPA Gothic loses the underscore at this size).
# - Wine paints a box's caption while the box is not yet the foreground window and does not
#   paint it again when it becomes one, so every caption would look inactive; all captions take
#   one plain colour, the active one, which also keeps the pictures within a small palette.
caption_colour='10 36 106'
replacements=('MS Shell Dlg' 'MS Shell Dlg 2' 'MS UI Gothic' 'Tahoma' 'MS Gothic' 'ＭＳ ゴシック'
              'MS PGothic' 'ＭＳ Ｐゴシック' 'Meiryo UI' 'Yu Gothic UI')
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
  for face in "${replacements[@]}"; do
    printf '"%s"="IPAPGothic"\r\n' "$face"
  done
  printf '\r\n[HKEY_CURRENT_USER\\Control Panel\\Colors]\r\n'
  for colour in ActiveTitle GradientActiveTitle InactiveTitle GradientInactiveTitle; do
    printf '"%s"="%s"\r\n' "$colour" "$caption_colour"
  done
  printf '"TitleText"="255 255 255"\r\n"InactiveTitleText"="255 255 255"\r\n'
} | iconv -f UTF-8 -t UTF-16 >"$work/settings.reg"
wine regedit /S "Z:${work//\//\\}\\settings.reg" >>"$log" 2>&1
# The close button is a glyph of Marlett, which this Wine does not find among its own fonts.
if [[ -f /usr/share/wine/fonts/marlett.ttf ]]; then
  cp /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/"
fi

# ---- Running a program and picturing its box ------------------------------------------------

winpath() {
  local path="Z:$1"
  printf '%s' "${path//\//\\}"
}

# A fresh folder for one picture, with the program in it; prints its path.
new_folder() {
  local folder=$work/runs/$1
  if mountpoint -q "$folder" 2>/dev/null; then umount "$folder"; fi
  rm -rf "$folder"
  mkdir -p "$folder"
  cp "${programs[$2]}" "$folder/"
  printf '%s' "$folder"
}

# Writes the settings file: the text given with \r\n line ends, as code page 932.
write_settings() {
  printf '%b' "$2" | iconv -f UTF-8 -t CP932 >"$1/Qtv.ini"
}

# Starts a Win32 helper that stays until its input closes (the stand-in host window, a file held
# open) and waits for its "ready".
start_held() {
  local fifo_in=$work/held.in fifo_out=$work/held.out line
  rm -f "$fifo_in" "$fifo_out"
  mkfifo "$fifo_in" "$fifo_out"
  wine "$@" <"$fifo_in" >"$fifo_out" 2>>"$log" &
  held_pid=$!
  exec {held_in}>"$fifo_in" {held_out}<"$fifo_out"
  if ! read -r -t 30 -u "$held_out" line || [[ ${line%$'\r'} != ready ]]; then
    echo "  ${1##*/} did not get ready: ${line:-no answer}" >&2
    stop_held
    return 1
  fi
}

stop_held() {
  if [[ -n $held_in ]]; then
    exec {held_in}>&-
    held_in=
  fi
  if [[ -n $held_out ]]; then
    exec {held_out}<&-
    held_out=
  fi
  if [[ -n $held_pid ]]; then
    wait "$held_pid" 2>/dev/null || true
    held_pid=
  fi
}

made=()
failed=()

# Runs PROGRAM in FOLDER with ARGUMENTS (after the quoted program path, as Explorer starts it),
# answers its first box with ACTION and saves that box as NAME.png, once box_reader's report
# shows the caption and a text that starts with TEXT.
picture() {
  local name=$1 folder=$2 program=$3 arguments=$4 action=$5 caption=$6 text=$7
  local line hex report bmp=$work/pictures/$name-1.bmp
  mkdir -p "$work/pictures"
  rm -f "$work/pictures/$name"-*.bmp
  line="\"$(winpath "$folder/$program")\"${arguments:+ $arguments}"
  hex=$(printf '%s' "$line" | iconv -f UTF-8 -t CP932 | od -An -tx1 -v | tr -d ' \n')
  report=$(cd "$folder" && wine "$helpers/box_reader.exe" --pictures "$(winpath "$work/pictures/$name-")" \
    "$(winpath "$folder")" "$hex" "$action" 2>>"$log" | tr -d '\r') || true
  printf '== %s\n%s\n' "$name" "$report" >>"$log"
  local seen_caption seen_text
  seen_caption=$(sed -n 's/^caption=//p' <<<"$report" | head -n1)
  seen_text=$(sed -n 's/^text=//p' <<<"$report" | head -n1)
  if grep -q '^error=' <<<"$report" || [[ $seen_caption != "$caption" ]] ||
     [[ $seen_text != "$text"* ]] || [[ ! -s $bmp ]]; then
    echo "  $name: not the box expected (caption \"$seen_caption\", text \"$seen_text\"); see $log" >&2
    failed+=("$name")
    return 0
  fi
  # The caption bar is about a sixth of a box: a picture with hardly any of its colour shows
  # something else (a box not yet painted, a part of the screen beside it).
  local share
  share=$("$convert" "$bmp" -fill black +opaque "rgb(${caption_colour// /,})" \
    -fill white -opaque "rgb(${caption_colour// /,})" -format '%[fx:mean]' info:)
  if ! awk -v share="$share" 'BEGIN { exit !(share >= 0.08) }'; then
    echo "  $name: the picture shows no caption bar (share $share); see $work/pictures" >&2
    failed+=("$name")
    return 0
  fi
  # A palette of at most 256 colours: a box without icon has fewer and keeps every pixel; the
  # shading of an icon loses a few levels nobody sees, and the file half its size. No time stamps,
  # so that an unchanged box gives the same file.
  "$convert" "$bmp" -strip -dither None -colors 256 -define png:exclude-chunks=date,time \
    "png8:$out/$name.png"
  made+=("$name")
  echo "  $name.png  ($("$identify" -format '%wx%h' "$out/$name.png"))"
}

# ---- The situations -------------------------------------------------------------------------

ok_settings='[DESKTOP]\r\nLISTWIDTH=430\r\n'
repair_caption='Mirvel スレ幅修復ツール'

shot_viewer-result() {
  local f; f=$(new_folder "$1" Panepeek.exe)
  write_settings "$f" "$ok_settings"
  picture "$1" "$f" Panepeek.exe '' ok Panepeek 'スレッド・ペインの幅は 430 です。'
}

shot_repair-success() {
  local f; f=$(new_folder "$1" Panefix.exe)
  write_settings "$f" '[DESKTOP]\r\nLISTWIDTH=120\r\n'
  picture "$1" "$f" Panefix.exe '' ok 'スレ幅 修復' '成功しました。'
}

shot_viewer-not-found() {
  local f; f=$(new_folder "$1" Panepeek.exe)
  picture "$1" "$f" Panepeek.exe '' ok Panepeek 'Qtv.ini が見つかりません。\r\nPanepeek.exe を'
}

shot_repair-not-found() {
  local f; f=$(new_folder "$1" Panefix.exe)
  picture "$1" "$f" Panefix.exe '' ok "$repair_caption" 'Qtv.ini が見つかりません。\r\nPanefix.exe を'
}

shot_viewer-host-running() {
  local f; f=$(new_folder "$1" Panepeek.exe)
  write_settings "$f" "$ok_settings"
  start_held "$helpers/standin_host.exe" || { failed+=("$1"); return 0; }
  picture "$1" "$f" Panepeek.exe '' ok Panepeek 'Ostrel を終了させてから、再度 実行して下さい。'
  stop_held
}

# The four refusals of the locator, as Panefix shows them.
locator_refusal() {
  local f; f=$(new_folder "$1" Panefix.exe)
  write_settings "$f" "$2"
  picture "$1" "$f" Panefix.exe 450 ok "$repair_caption" "$3"
}
shot_header-missing() {
  locator_refusal "$1" '[desktop]\r\nLISTWIDTH=430\r\n' '"[DESKTOP]" が見つかりませんでした。'
}
shot_header-repeated() {
  locator_refusal "$1" '[DESKTOP]\r\nLISTWIDTH=430\r\n\r\n[DESKTOP]\r\n' \
    '"[DESKTOP]" が、複数見つかりました。'
}
shot_entry-missing() {
  locator_refusal "$1" '[DESKTOP]\r\n\r\nLISTWIDTH=430\r\n' '"LISTWIDTH=" が見つかりませんでした。'
}
shot_entry-repeated() {
  locator_refusal "$1" '[DESKTOP]\r\nLISTWIDTH=430\r\nOLDLISTWIDTH=5\r\n' \
    '"LISTWIDTH=" が、複数見つかりました。'
}

argument_refusal() {
  local f; f=$(new_folder "$1" Panefix.exe)
  write_settings "$f" "$ok_settings"
  picture "$1" "$f" Panefix.exe "$2" ok "$repair_caption" "$3"
}
shot_argument-too-many() { argument_refusal "$1" '450 460' '引数の数が多すぎます。'; }
shot_argument-format() { argument_refusal "$1" '450px' '引数の形式が正しくありません。'; }
shot_argument-range() { argument_refusal "$1" 40000 '引数の数値が範囲外です。'; }

# A read-only settings file in a folder mounted read-only: the attribute cannot be cleared, for
# root too.
shot_attribute-failed() {
  local f; f=$(new_folder "$1" Panefix.exe)
  write_settings "$f" "$ok_settings"
  chmod 0444 "$f/Qtv.ini"
  if ! mount --bind "$f" "$f" 2>>"$log"; then
    echo "  $1: skipped, no bind mount here (needs root with CAP_SYS_ADMIN)" >&2
    skipped+=("$1")
    return 0
  fi
  mounted=$f
  if mount -o remount,bind,ro "$f" 2>>"$log"; then
    picture "$1" "$f" Panefix.exe 450 ok "$repair_caption" 'Qtv.ini のファイル属性を変更できませんでした。'
  else
    echo "  $1: skipped, the folder cannot be mounted read-only" >&2
    skipped+=("$1")
  fi
  umount "$f"
  mounted=
}

# The backup cannot be written: a folder of its name (no backup yet: 作成), or an older backup
# held open by another program that shares nothing (更新). No stops the run.
shot_backup-create-question() {
  local f; f=$(new_folder "$1" Panefix.exe)
  write_settings "$f" "$ok_settings"
  mkdir "$f/Qtv.ini_widthBack"
  picture "$1" "$f" Panefix.exe 450 no "$repair_caption" \
    'バックファイル Qtv.ini_widthBack を作成できませんでした。'
}

shot_backup-update-question() {
  local f; f=$(new_folder "$1" Panefix.exe)
  write_settings "$f" "$ok_settings"
  printf '[DESKTOP]\r\nLISTWIDTH=9\r\n' >"$f/Qtv.ini_widthBack"
  start_held "$helpers/file_holder.exe" "$(winpath "$f/Qtv.ini_widthBack")" r - ||
    { failed+=("$1"); return 0; }
  picture "$1" "$f" Panefix.exe 450 no "$repair_caption" \
    'バックファイル Qtv.ini_widthBack を更新できませんでした。'
  stop_held
}

# Another program writes the settings file and lets others only read it: the backup copy goes
# through, the tool's own open for reading is refused with a sharing violation (32).
shot_runtime-error() {
  local f; f=$(new_folder "$1" Panefix.exe)
  write_settings "$f" "$ok_settings"
  start_held "$helpers/file_holder.exe" "$(winpath "$f/Qtv.ini")" w r || { failed+=("$1"); return 0; }
  picture "$1" "$f" Panefix.exe 450 ok Error 'Runtime error  32 at '
  stop_held
}

all=(viewer-result repair-success viewer-not-found repair-not-found viewer-host-running
     header-missing header-repeated entry-missing entry-repeated argument-too-many argument-format
     argument-range attribute-failed backup-create-question backup-update-question runtime-error)
names=("$@")
[[ ${#names[@]} -gt 0 ]] || names=("${all[@]}")
skipped=()

echo "Pictures into $out"
for name in "${names[@]}"; do
  if ! declare -F "shot_$name" >/dev/null; then
    echo "  $name: no such picture (known: ${all[*]})" >&2
    failed+=("$name")
    continue
  fi
  "shot_$name" "$name"
done

echo "${#made[@]} made, ${#skipped[@]} skipped${skipped:+ (${skipped[*]})}, ${#failed[@]} failed${failed:+ (${failed[*]})}"
[[ ${#failed[@]} -eq 0 ]]
