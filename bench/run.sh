#!/usr/bin/env bash
# Times the native repair tool, panefix, against what a user would do instead, crudini --set or
# sed -i, and against a floor that makes the same durable steps and nothing else
# (bench/durable_floor.cpp: the copy flushed and renamed, the rewrite flushed and renamed, the
# folder flushed after each), on generated settings files from 30 KB to 64 MiB
# (bench/make_files.py). Prints a Markdown table of median wall times and peak memory, then one
# PASS or FAIL line per target. Exits non-zero when a target fails.
#
#   bench/run.sh [path/to/panefix]
#
# Without a path it takes build/native/repair/panefix, building it first if it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -gt 0 ]; then
  panefix=$1
else
  panefix=build/native/repair/panefix
  if [ ! -x "$panefix" ]; then
    cmake --preset native >/dev/null
    cmake --build --preset native --target panefix >/dev/null
  fi
fi
[ -x "$panefix" ] || { echo "no program at $panefix" >&2; exit 2; }
panefix=$(realpath "$panefix")

# The tools, from Debian's packages: hyperfine times, /usr/bin/time (package time) measures the
# peak resident set size, crudini is the competitor.
missing=()
command -v hyperfine >/dev/null || missing+=(hyperfine)
command -v crudini >/dev/null || missing+=(crudini)
[ -x /usr/bin/time ] || missing+=(time)
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing: ${missing[*]} (apt-get install them, or run as root)" >&2
    exit 2
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" \
    >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/files" "$work/run"
python3 bench/make_files.py "$work/files"
# Static, as panefix is, so that neither pays for loading shared libraries.
g++ -std=c++17 -O2 -static -o "$work/durable_floor" bench/durable_floor.cpp

# Every run starts from a fresh copy of the file, without the previous run's backup; hyperfine
# runs this before each timed run and leaves it out of the time.
cat >"$work/fresh" <<'EOF'
#!/bin/sh
rm -f Qtv.ini_widthBack
cp "$1" Qtv.ini
sync Qtv.ini
EOF
chmod +x "$work/fresh"

declare -A commands=(
  [panefix]="$panefix 450"
  [floor]="$work/durable_floor 450"
  [sed]="sed -i s/^LISTWIDTH=.*/LISTWIDTH=450/ Qtv.ini"
  [crudini]="crudini --set Qtv.ini DESKTOP LISTWIDTH 450"
)
tools=(panefix floor sed crudini)
results=$work/results.tsv   # file, tool, median seconds or "-", peak KiB or "-", note

cd "$work/run"
set -f  # the commands hold regular expressions, not file patterns

# measure FILE TOOL RUNS: one run under /usr/bin/time for the peak memory and a check of the
# result, then RUNS timed runs under hyperfine.
measure() {
  local file=$1 tool=$2 runs=$3 source="$work/files/$1"
  local command=${commands[$tool]}
  echo "  $tool on $file" >&2
  "$work/fresh" "$source"
  if ! /usr/bin/time -f '%M' -o "$work/peak" $command </dev/null >/dev/null 2>"$work/error"; then
    local reason
    # The last line of the error output; of a Python traceback, the exception's name.
    reason=$(tail -n 1 "$work/error" | sed -E 's/^([A-Za-z]+Error):.*/\1/' | cut -c1-60)
    printf '%s\t%s\t-\t-\tfails: %s\n' "$file" "$tool" "$reason" >>"$results"
    return
  fi
  if ! grep -q 'LISTWIDTH=450' Qtv.ini; then
    printf '%s\t%s\t-\t-\tdid not set the width\n' "$file" "$tool" >>"$results"
    return
  fi
  local peak
  peak=$(tail -n 1 "$work/peak")
  hyperfine -N --style none --warmup 1 --runs "$runs" --prepare "$work/fresh $source" \
    --export-json "$work/timing.json" "$command" </dev/null >/dev/null 2>"$work/hyperfine.log" ||
    { cat "$work/hyperfine.log" >&2; exit 1; }
  local median
  median=$(python3 -c 'import json, sys
print(json.load(open(sys.argv[1]))["results"][0]["median"])' "$work/timing.json")
  printf '%s\t%s\t%s\t%s\t\n' "$file" "$tool" "$median" "$peak" >>"$results"
}

echo "Timing (this takes several minutes):" >&2
for tool in "${tools[@]}"; do
  measure realistic.ini "$tool" 60
done
for tool in "${tools[@]}"; do
  measure realistic-ascii.ini "$tool" 60
done
for file in long-1MiB.ini:10 long-4MiB.ini:5 long-16MiB.ini:3 long-64MiB.ini:3 \
            lines-1000x64KiB.ini:3; do
  for tool in "${tools[@]}"; do
    measure "${file%%:*}" "$tool" "${file##*:}"
  done
done

python3 - "$results" "$work/files" <<'EOF'
import collections, os, sys

results_path, files = sys.argv[1], sys.argv[2]
rows = collections.OrderedDict()
for line in open(results_path):
    file, tool, median, peak, note = line.rstrip("\n").split("\t")
    rows.setdefault(file, {})[tool] = (None if median == "-" else float(median),
                                       None if peak == "-" else int(peak) * 1024, note)

LABELS = {
    "realistic.ini": "realistic, code page 932 (600 lines)",
    "realistic-ascii.ini": "realistic, ASCII only (600 lines)",
    "long-1MiB.ini": "one long line", "long-4MiB.ini": "one long line",
    "long-16MiB.ini": "one long line", "long-64MiB.ini": "one long line",
    "lines-1000x64KiB.ini": "1000 lines of 64 KiB",
}
MIB = 1024 * 1024

def size_text(size):
    return "{:.1f} KB".format(size / 1000) if size < MIB else "{:.1f} MiB".format(size / MIB)

def time_text(seconds):
    return "{:.1f} ms".format(seconds * 1000) if seconds < 10 else "{:.1f} s".format(seconds)

def mem_text(size):
    return "{:.1f} MiB".format(size / MIB)

print("| File | Size | panefix | durable floor | sed -i | crudini --set | panefix peak RSS "
      "| sed peak RSS | crudini peak RSS |")
print("|---|---|---|---|---|---|---|---|---|")
for file, tools in rows.items():
    size = os.path.getsize(os.path.join(files, file))
    base = tools["panefix"][0]
    cells = []
    for tool in ("panefix", "floor", "sed", "crudini"):
        median, _, note = tools[tool]
        if median is None:
            cells.append(note)
        elif tool == "panefix":
            cells.append(time_text(median))
        else:
            cells.append("{} ({:.1f}×)".format(time_text(median), median / base))
    for tool in ("panefix", "sed", "crudini"):
        peak = tools[tool][1]
        cells.append("—" if peak is None else mem_text(peak))
    print("| {} | {} | {} |".format(LABELS[file], size_text(size), " | ".join(cells)))
print()
print("""\
Median wall time of several runs (hyperfine; the copy of a fresh file before each run is not
timed); in brackets, the time as a multiple of panefix's. Peak RSS from /usr/bin/time -v.
panefix copies the file to Qtv.ini_widthBack before it writes, so it writes twice the bytes sed
and crudini write, and it reads and writes 128 bytes per system call. The durable floor makes
the same durable steps as panefix (the copy and the rewrite each written to a new file, flushed
to disk and renamed, the folder flushed after each) with whole-file reads and writes and no
rules of the settings file; sed and crudini flush nothing to disk. The sed expression
is s/^LISTWIDTH=.*/LISTWIDTH=450/: it does not look for the [DESKTOP] section, and on a CR LF
file it drops the CR of the line it replaces. crudini decodes the file as UTF-8, so it
refuses code page 932 text; its time on the realistic file is taken on the ASCII-only copy.""")
print()

failed = False
def check(ok, text):
    global failed
    failed |= not ok
    print("{}: {}".format("PASS" if ok else "FAIL", text))

def median(file, tool):
    return rows[file][tool][0]

crudini = median("realistic-ascii.ini", "crudini")
fix = median("realistic-ascii.ini", "panefix")
if fix is None or crudini is None:
    check(False, "realistic file: a tool failed where it should not")
else:
    check(crudini >= 10 * fix, "realistic file: panefix at least 10x faster than crudini "
          "({:.1f}x)".format(crudini / fix))
for file in ("realistic.ini", "realistic-ascii.ini"):
    fix, floor = median(file, "panefix"), median(file, "floor")
    check(fix is not None and floor is not None and fix <= 1.25 * floor,
          "{}: panefix within 1.25x the durable floor ({:.2f}x)".format(
              file, fix / floor if fix and floor else float("nan")))
small, large = median("long-1MiB.ini", "panefix"), median("long-64MiB.ini", "panefix")
check(large is not None and small is not None and large <= 80 * small,
      "time linear in size: 64 MiB within 80x the 1 MiB time ({:.1f}x)".format(large / small))
for file, tools in rows.items():
    size = os.path.getsize(os.path.join(files, file))
    peak = tools["panefix"][1]
    limit = 2 * size + 8 * MIB
    check(peak is not None and peak <= limit,
          "{}: panefix peak memory {} within 2x size + 8 MiB ({})".format(
              file, "—" if peak is None else mem_text(peak), mem_text(limit)))
sys.exit(1 if failed else 0)
EOF
