#!/usr/bin/env bash
# Runs clang-tidy over the product code (common/, viewer/, repair/) with the native build's
# compile commands. clang cannot compile texts to code page 932, so the character-set flag is
# taken out of the commands it reads; nothing else changes.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/native
[ -f "$build/compile_commands.json" ] || cmake --preset native >/dev/null
tidy_db=$(mktemp -d)
trap 'rm -rf "$tidy_db"' EXIT
sed 's/ -fexec-charset=CP932//g' "$build/compile_commands.json" > "$tidy_db/compile_commands.json"

sources=(common/common_helpers.cpp common/runtime_error.cpp common/settings_file.cpp
         common/settings_lines.cpp common/width_locator.cpp
         common/posix/posix_io.cpp common/posix/posix_files.cpp common/posix/posix_terminal.cpp
         common/posix/posix_host.cpp common/posix/posix_process.cpp
         common/posix/cp932/cp932_text.cpp common/posix/cp932/make_cp932_table.cpp
         viewer/viewer_run.cpp viewer/viewer_main.cpp
         repair/arguments.cpp repair/preparation.cpp repair/repair_run.cpp repair/repair_main.cpp)
clang-tidy --quiet -p "$tidy_db" "${sources[@]}"
echo "clang-tidy: ${#sources[@]} files clean"
