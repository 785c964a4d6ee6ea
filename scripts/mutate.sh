#!/usr/bin/env bash
# The mutation lane: plants each fault of tests/mutations/faults.txt alone in a private copy of
# the committed tree, rebuilds the native preset incrementally, runs the unit and native tests,
# takes the fault out again, and at the end lists the faults no test caught (the survivors) with
# the figure caught/total. Faults marked equivalent are counted apart and not run.
#
#   scripts/mutate.sh [--check] [FAULT-ID ...]
#
# With FAULT-IDs, only those faults; with --check, only the check that every snippet occurs
# exactly once in its file, nothing built. The copy is a git worktree of HEAD (MUTATE_COMMIT
# picks another commit) in $MUTATE_DIR/tree, built in $MUTATE_DIR/build (MUTATE_DIR defaults to
# /tmp/panefix-mutate, and is reused by the next run, so that only the files a fault touches are
# rebuilt); changes not committed are not in it. The checkout's own files are never touched.
#
# The tests run in a PID namespace of their own (unshare --pid --fork --mount-proc, as root): the
# host tests start stand-in Qtv.exe processes and look for them in /proc, so they see only their
# own stand-ins, and a test run elsewhere on the machine does not see these. A mutant whose tests
# take longer than MUTATE_TIMEOUT seconds (default 900) counts as caught by the timeout.
#
# Exits 0 when every fault run was caught, 1 when one survived or did not build, 2 when the
# fault list does not fit the tree (a snippet missing or found more than once). Too slow for
# every CI run: scripts/test.sh does not call it. Uses bash, git, cmake, ctest, python3, unshare.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
faults=${MUTATE_FAULTS:-$repo/tests/mutations/faults.txt}
work=${MUTATE_DIR:-/tmp/panefix-mutate}
tree=$work/tree
build=$work/build
logs=$work/logs
timeout_seconds=${MUTATE_TIMEOUT:-900}
commit=$(git -C "$repo" rev-parse "${MUTATE_COMMIT:-HEAD}")

check_only=false
if [ "${1:-}" = "--check" ]; then
  check_only=true
  shift
fi
selected=("$@")

# The fault list's reader, in one place: `ids`, `field ID KEY`, `check TREE`, `apply TREE ID`.
fault_tool() {
  python3 - "$faults" "$@" <<'PY'
import sys

def read_faults(path):
    faults, current = [], None
    with open(path, encoding="utf-8") as source:
        for number, raw in enumerate(source, 1):
            line = raw.rstrip("\n")
            if line.startswith("#") or not line.strip():
                continue
            key, colon, value = line.partition(":")
            if not colon or key not in ("id", "file", "find", "replace", "user", "equivalent"):
                sys.exit(f"{path}:{number}: not a field: {line!r}")
            value = value[1:] if value.startswith(" ") else value
            if key == "id":
                current = {"id": value, "line": number, "find": [], "replace": []}
                faults.append(current)
            elif current is None:
                sys.exit(f"{path}:{number}: a field before the first id")
            elif key in ("find", "replace"):
                current[key].append(value)
            elif key in current:
                sys.exit(f"{path}:{number}: {key} given twice for {current['id']}")
            else:
                current[key] = value
    seen = set()
    for fault in faults:
        for key in ("file", "user"):
            if key not in fault:
                sys.exit(f"{path}:{fault['line']}: {fault['id']} has no {key}")
        if not fault["find"]:
            sys.exit(f"{path}:{fault['line']}: {fault['id']} has no find")
        if fault["id"] in seen:
            sys.exit(f"{path}:{fault['line']}: id {fault['id']} given twice")
        seen.add(fault["id"])
        fault["find"] = "\n".join(fault["find"])
        fault["replace"] = "\n".join(fault["replace"])
        if fault["find"] == fault["replace"]:
            sys.exit(f"{path}:{fault['line']}: {fault['id']} replaces its snippet by itself")
    return faults

faults = {fault["id"]: fault for fault in read_faults(sys.argv[1])}
command, arguments = sys.argv[2], sys.argv[3:]
if command == "ids":
    print("\n".join(faults))
elif command == "field":
    print(faults[arguments[0]].get(arguments[1], ""))
elif command == "check":
    tree, wanted = arguments[0], arguments[1:] or list(faults)
    problems = 0
    for name in wanted:
        if name not in faults:
            print(f"no fault {name} in the list", file=sys.stderr)
            problems += 1
            continue
        fault = faults[name]
        try:
            with open(f"{tree}/{fault['file']}", encoding="utf-8") as source:
                count = source.read().count(fault["find"])
        except FileNotFoundError:
            count = None
        if count != 1:
            found = "no such file" if count is None else f"the snippet occurs {count} times"
            print(f"{name} (line {fault['line']}): {fault['file']}: {found}", file=sys.stderr)
            problems += 1
    sys.exit(1 if problems else 0)
elif command == "apply":
    tree, fault = arguments[0], faults[arguments[1]]
    path = f"{tree}/{fault['file']}"
    with open(path, encoding="utf-8") as source:
        text = source.read()
    if text.count(fault["find"]) != 1:
        sys.exit(f"{fault['id']}: {fault['file']}: the snippet does not occur exactly once")
    with open(path, "w", encoding="utf-8") as target:
        target.write(text.replace(fault["find"], fault["replace"], 1))
PY
}

prepare_tree() {
  mkdir -p "$work" "$logs"
  if [ ! -e "$tree/.git" ]; then
    git -C "$repo" worktree add --quiet --detach "$tree" "$commit"
  elif [ -n "$(git -C "$tree" status --porcelain --untracked-files=no)" ]; then
    echo "mutate: $tree holds changes a stopped run left; remove it with" \
      "git -C $repo worktree remove --force $tree" >&2
    exit 2
  else
    git -C "$tree" checkout --quiet --detach "$commit"
  fi
}

rebuild() {
  cmake --build "$build" -j2 >"$1" 2>&1
}

# The unit and native tests in a PID namespace of their own; the exit status of ctest, 124 when
# the time ran out.
run_tests() {
  timeout --kill-after=10 "$timeout_seconds" \
    unshare --pid --fork --kill-child --mount-proc \
    ctest --test-dir "$build" -L 'unit|native' -j2 --stop-on-failure --output-on-failure \
    >"$1" 2>&1
}

prepare_tree
# The run reads its own copy of the list, so that the list can be edited while it runs.
cp "$faults" "$work/faults.txt"
faults=$work/faults.txt
if [ ${#selected[@]} -eq 0 ]; then
  mapfile -t selected < <(fault_tool ids)
fi
if ! fault_tool check "$tree" "${selected[@]}"; then
  echo "mutate: FAILED: the fault list does not fit the tree at $commit (above)" >&2
  exit 2
fi
if $check_only; then
  echo "mutate: all ${#selected[@]} snippets occur exactly once at $commit"
  exit 0
fi
if ! unshare --pid --fork --mount-proc true 2>/dev/null; then
  echo "mutate: FAILED: cannot make a PID namespace (unshare needs root here)" >&2
  exit 2
fi

started=$(date +%s)
# Built without optimisation, which rebuilds a mutant in about half the time; warnings are no
# errors, since a fault may well leave a name unused.
cmake -S "$tree" -B "$build" -DCMAKE_BUILD_TYPE= -DPANEFIX_WERROR=OFF >"$logs/configure.log"
echo "mutate: building $commit in $build"
if ! rebuild "$logs/baseline-build.log" || ! run_tests "$logs/baseline-tests.log"; then
  echo "mutate: FAILED: the unmutated tree does not pass; see $logs/baseline-*.log" >&2
  exit 1
fi
baseline_seconds=$(($(date +%s) - started))
echo "mutate: unmutated tree built and passed in ${baseline_seconds}s"

planted=""
planted_copy=$work/planted.orig
restore_planted() {
  if [ -n "$planted" ]; then
    cp "$planted_copy" "$tree/$planted"
    planted=""
  fi
}
trap restore_planted EXIT
trap 'exit 130' INT TERM HUP

caught=0
survivors=()
unbuilt=()
equivalent=()
ran=0
mutants_started=$(date +%s)
for id in "${selected[@]}"; do
  reason=$(fault_tool field "$id" equivalent)
  if [ -n "$reason" ]; then
    equivalent+=("$id: $reason")
    continue
  fi
  file=$(fault_tool field "$id" file)
  cp "$tree/$file" "$planted_copy"
  planted=$file
  fault_tool apply "$tree" "$id"
  ran=$((ran + 1))
  one_started=$(date +%s)
  if ! rebuild "$logs/$id.build.log"; then
    verdict="DID NOT BUILD (see $logs/$id.build.log)"
    unbuilt+=("$id")
  else
    status=0
    run_tests "$logs/$id.tests.log" || status=$?
    if [ "$status" -eq 0 ]; then
      verdict="SURVIVED"
      survivors+=("$id ($file): $(fault_tool field "$id" user)")
    elif [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
      verdict="caught by the timeout"
      caught=$((caught + 1))
    else
      verdict="caught"
      caught=$((caught + 1))
    fi
  fi
  restore_planted
  echo "mutate: $id: $verdict ($(($(date +%s) - one_started))s)"
done
# Leave the build as the unmutated tree makes it, for the next run.
rebuild "$logs/final-build.log" || true
mutants_seconds=$(($(date +%s) - mutants_started))

echo
echo "== equivalent, not run: ${#equivalent[@]}"
for line in "${equivalent[@]}"; do echo "  $line"; done
echo "== did not build: ${#unbuilt[@]}"
for line in "${unbuilt[@]}"; do echo "  $line"; done
echo "== survivors: ${#survivors[@]}"
for line in "${survivors[@]}"; do echo "  $line"; done
echo
echo "mutate: caught $caught/$ran at $commit;" \
  "${#equivalent[@]} equivalent; ${#unbuilt[@]} did not build"
if [ "$ran" -gt 0 ]; then
  echo "mutate: total $(($(date +%s) - started))s; mutants ${mutants_seconds}s," \
    "$((mutants_seconds / ran))s each; logs in $logs"
fi
if [ ${#survivors[@]} -gt 0 ] || [ ${#unbuilt[@]} -gt 0 ]; then
  exit 1
fi
