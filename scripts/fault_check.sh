#!/usr/bin/env bash
# Fault injection: does the test suite catch the faults of scripts/faults.tsv?
#
#   scripts/fault_check.sh [--tree DIR] [--build-dir DIR] [--scratch DIR]
#                          [--table FILE] [--fast] [--no-baseline] [--only ID...]
#
# Checks the tree this script lives in, or the one --tree names, with the
# tree's own scripts/faults.tsv (this script's table when it has none, or
# --table). Defaults: --build-dir /tmp/fault_build, --scratch /tmp/fault_src.
#
# Works on a scratch copy of the tree's sources (never on the tree itself):
# the copy is brought up to date, configured once into the build folder and
# built incrementally from then on, so a second run rebuilds only what the
# faults touch. For each fault of the table, the file is put back as the
# tree has it, the fault is applied (a literal replacement), the copy is
# built and, when it builds, the whole suite runs:
#   caught    a test failed or timed out
#   MISSED    every test passed
#   no-build  the fault does not compile: a bad entry of the table
#   n/a       the original text does not occur exactly once in the file
# The file is put back after each fault. The suite runs whole, so the
# results name every test that catches a fault; --fast stops it at the
# first failure, which settles "caught" as well. Before the first fault the
# suite runs once on the unchanged copy; a failure there stops the check,
# since every fault would then look caught.
#
# One line per fault on stdout, then the summary; the results also go to
# BUILD_DIR/fault_results.tsv and each fault's build and test output to
# BUILD_DIR/fault_logs/. Exit status 0 whatever the faults did; 2 when the
# check itself cannot run (bad table, unknown id, failing baseline).
set -euo pipefail

SCRIPT_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
TREE=$(cd "$SCRIPT_DIR/.." && pwd)
BUILD_DIR=/tmp/fault_build
SCRATCH=/tmp/fault_src
TABLE=""
BASELINE=1
FAST=0
ONLY=()

die() {
  echo "fault_check: $*" >&2
  exit 2
}

usage() {
  sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed -e '/^set -euo/d' -e 's/^# \{0,1\}//'
}

while [ $# -gt 0 ]; do
  case "$1" in
    --tree) [ $# -ge 2 ] || die "--tree needs a folder"; TREE=$2; shift 2 ;;
    --tree=*) TREE=${1#*=}; shift ;;
    --build-dir) [ $# -ge 2 ] || die "--build-dir needs a folder"; BUILD_DIR=$2; shift 2 ;;
    --build-dir=*) BUILD_DIR=${1#*=}; shift ;;
    --scratch) [ $# -ge 2 ] || die "--scratch needs a folder"; SCRATCH=$2; shift 2 ;;
    --scratch=*) SCRATCH=${1#*=}; shift ;;
    --table) [ $# -ge 2 ] || die "--table needs a file"; TABLE=$2; shift 2 ;;
    --table=*) TABLE=${1#*=}; shift ;;
    --no-baseline) BASELINE=0; shift ;;
    --fast) FAST=1; shift ;;
    --only)
      shift
      while [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; do ONLY+=("$1"); shift; done
      [ ${#ONLY[@]} -gt 0 ] || die "--only needs at least one fault id"
      ;;
    -h|--help) usage; exit 0 ;;
    *) die "unknown argument \"$1\" (see --help)" ;;
  esac
done

[ -d "$TREE" ] || die "no tree at $TREE"
TREE=$(cd "$TREE" && pwd)
if [ -z "$TABLE" ]; then
  TABLE=$TREE/scripts/faults.tsv
  [ -f "$TABLE" ] || TABLE=$SCRIPT_DIR/faults.tsv
fi
[ -f "$TABLE" ] || die "no fault table at $TABLE"
TABLE=$(cd "$(dirname "$TABLE")" && pwd)/$(basename "$TABLE")
for tool in python3 cmake ctest ninja; do
  command -v "$tool" >/dev/null || die "$tool is not installed"
done
mkdir -p "$BUILD_DIR" "$SCRATCH"
BUILD_DIR=$(cd "$BUILD_DIR" && pwd)
SCRATCH=$(cd "$SCRATCH" && pwd)
case "$SCRATCH/" in "$TREE/"*) die "the scratch copy must lie outside the tree ($TREE)" ;; esac
case "$BUILD_DIR/" in "$TREE/"*) die "the build folder must lie outside the tree ($TREE)" ;; esac
[ "$SCRATCH" != "$BUILD_DIR" ] || die "the scratch copy and the build folder must differ"

# Another developer builds on this machine at the same time.
NICE=(nice -n 10)
# One run at a time per build folder: two would overwrite each other's faults.
exec 9>"$BUILD_DIR/.fault_check.lock"
flock -n 9 || die "another fault check is running on $BUILD_DIR"

# A build folder configured from another copy would build that copy.
if [ -f "$BUILD_DIR/CMakeCache.txt" ]; then
  configured=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$BUILD_DIR/CMakeCache.txt")
  [ "$configured" = "$SCRATCH" ] ||
    die "$BUILD_DIR was configured from $configured, not $SCRATCH: name another build folder"
fi

# The table, checked whole before anything is built: one line per fault,
# "id<TAB>file<TAB>original<TAB>replacement<TAB>what", # for comments.
FAULTS_TSV="$BUILD_DIR/fault_table.checked"
python3 - "$TABLE" "$TREE" "$FAULTS_TSV" "${ONLY[@]}" <<'PY' || exit 2
import os, sys
table, tree, out, only = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
rows, seen, errors = [], set(), []
with open(table, encoding="utf-8") as f:
    for n, line in enumerate(f, 1):
        line = line.rstrip("\n")
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        fields = line.split("\t")
        if len(fields) != 5:
            errors.append(f"line {n}: {len(fields)} tab-separated fields, not 5")
            continue
        fid, path, original, replacement, what = fields
        if not fid or any(c.isspace() for c in fid):
            errors.append(f"line {n}: bad id \"{fid}\"")
        elif fid in seen:
            errors.append(f"line {n}: id {fid} used twice")
        seen.add(fid)
        if not original or original == replacement:
            errors.append(f"line {n}: {fid}: the replacement must differ from a non-empty original")
        if os.path.isabs(path) or ".." in path.split("/") or not os.path.isfile(os.path.join(tree, path)):
            errors.append(f"line {n}: {fid}: no file {path} in {tree}")
        if not what.strip():
            errors.append(f"line {n}: {fid}: says nothing of what the fault does")
        rows.append(fields)
unknown = [i for i in only if i not in seen]
if unknown:
    errors.append("unknown fault ids: " + " ".join(unknown))
if errors:
    sys.exit("fault_check: bad fault table " + table + ":\n  " + "\n  ".join(errors))
if only:
    rows = [r for r in rows if r[0] in only]
with open(out, "w", encoding="utf-8") as f:
    for r in rows:
        f.write("\x1f".join(r) + "\n")  # a separator no field holds, nor read collapses
PY

# Brings the scratch copy level with the tree, build folders and Git's
# store left out. Only files whose contents differ are copied, and they get
# a fresh time stamp: the incremental build then rebuilds exactly what
# changed, even when the copy last held another tree's newer files.
sync_scratch() {
  python3 - "$TREE" "$SCRATCH" <<'PY'
import filecmp, os, shutil, sys
src, dst = sys.argv[1], sys.argv[2]
def skipped(rel_dir, name):
    return name in (".git", "__pycache__") or (rel_dir == "" and (name == "build" or name.startswith("build-")))
wanted = set()
for root, dirs, files in os.walk(src):
    rel = os.path.relpath(root, src)
    rel = "" if rel == "." else rel
    dirs[:] = [d for d in dirs if not skipped(rel, d)]
    os.makedirs(os.path.join(dst, rel), exist_ok=True)
    for d in dirs:
        wanted.add(os.path.join(rel, d))
    for name in files:
        path = os.path.join(rel, name)
        wanted.add(path)
        s, d = os.path.join(src, path), os.path.join(dst, path)
        if os.path.islink(d) or (os.path.exists(d) and not os.path.isfile(d)):
            shutil.rmtree(d) if os.path.isdir(d) and not os.path.islink(d) else os.remove(d)
        if not os.path.exists(d) or not filecmp.cmp(s, d, shallow=False):
            shutil.copyfile(s, d)
            shutil.copymode(s, d)
for root, dirs, files in os.walk(dst, topdown=False):
    rel = os.path.relpath(root, dst)
    rel = "" if rel == "." else rel
    for name in files + dirs:
        path = os.path.join(rel, name)
        if path not in wanted:
            full = os.path.join(dst, path)
            shutil.rmtree(full) if os.path.isdir(full) and not os.path.islink(full) else os.remove(full)
PY
}

# Puts one file of the copy back as the tree has it (with a fresh time
# stamp, so the build recompiles it).
restore_file() {
  cp "$TREE/$1" "$SCRATCH/$1"
}

# Replaces the original text by the fault, literally. Exit status 3 when the
# original does not occur exactly once.
apply_fault() {
  python3 - "$SCRATCH/$1" "$2" "$3" <<'PY'
import sys
path, original, replacement = sys.argv[1:4]
with open(path, encoding="utf-8", newline="") as f:
    text = f.read()
if text.count(original) != 1:
    sys.exit(3)
with open(path, "w", encoding="utf-8", newline="") as f:
    f.write(text.replace(original, replacement, 1))
PY
}

# The window's tests of real input need a virtual X server and xdotool;
# without them that one test is left out.
CTEST_ARGS=(--test-dir "$BUILD_DIR" --timeout 120 --parallel 2 --no-tests=error)
if ! command -v xvfb-run >/dev/null || ! command -v xdotool >/dev/null; then
  CTEST_ARGS+=(-E MainWindowUnderX11)
fi
export QT_QPA_PLATFORM=offscreen

build() {
  "${NICE[@]}" cmake --build "$BUILD_DIR" >"$1" 2>&1
}

# Runs the suite; its log in $1. Prints the failed tests, "; " between
# them (a test's name may hold blanks), each timed-out one marked so.
run_tests() {
  local status=0 stop=()
  [ "$FAST" = 0 ] || stop=(--stop-on-failure)
  "${NICE[@]}" ctest "${CTEST_ARGS[@]}" "${stop[@]}" >"$1" 2>&1 || status=$?
  sed -n '/The following tests FAILED:/,$p' "$1" |
    sed -n -e 's/^[[:space:]]*[0-9]\{1,\} - \(.*\) (Timeout)$/\1 (timeout)/p' \
      -e 's/^[[:space:]]*[0-9]\{1,\} - \(.*\) ([^()]*)$/\1/p' |
    awk 'NR > 1 { printf "; " } { printf "%s", $0 }'
  return $status
}

CURRENT=""
cleanup() {
  if [ -n "$CURRENT" ] && [ -f "$TREE/$CURRENT" ]; then restore_file "$CURRENT"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

START=$(date +%s)
LOG_DIR="$BUILD_DIR/fault_logs"
RESULTS="$BUILD_DIR/fault_results.tsv"
rm -rf "$LOG_DIR"
mkdir -p "$LOG_DIR"

echo "fault_check: tree $TREE, copy $SCRATCH, build $BUILD_DIR"
sync_scratch
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  "${NICE[@]}" cmake -S "$SCRATCH" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    >"$LOG_DIR/configure.log" 2>&1 || die "configuring failed, see $LOG_DIR/configure.log"
fi
build "$LOG_DIR/baseline.build.log" || die "the unchanged tree does not build, see $LOG_DIR/baseline.build.log"
if [ "$BASELINE" = 1 ]; then
  failed=$(run_tests "$LOG_DIR/baseline.test.log") ||
    die "the suite fails on the unchanged tree ($failed), see $LOG_DIR/baseline.test.log"
  echo "baseline: every test passes ($(( $(date +%s) - START )) s so far)"
fi

printf 'id\tfile\toutcome\tseconds\tfailed tests\twhat\n' >"$RESULTS"
applied=0 caught=0 missed=0 nobuild=0 notapplicable=0
while IFS=$'\x1f' read -r -u 3 id file original replacement what; do
  t0=$(date +%s)
  CURRENT=$file
  restore_file "$file"
  failed=""
  if ! apply_fault "$file" "$original" "$replacement"; then
    outcome="n/a"
    notapplicable=$((notapplicable + 1))
  elif ! build "$LOG_DIR/$id.build.log"; then
    applied=$((applied + 1))
    # A test program that crashes while its tests are listed fails the
    # build, but that is a test failing, not a fault that does not compile.
    if grep -q "Error running test executable" "$LOG_DIR/$id.build.log" &&
      ! grep -q "error:" "$LOG_DIR/$id.build.log"; then
      outcome="caught"
      failed="(test discovery)"
      caught=$((caught + 1))
    else
      outcome="no-build"
      nobuild=$((nobuild + 1))
    fi
  else
    applied=$((applied + 1))
    if failed=$(run_tests "$LOG_DIR/$id.test.log"); then
      outcome="MISSED"
      missed=$((missed + 1))
    else
      outcome="caught"
      caught=$((caught + 1))
    fi
  fi
  restore_file "$file"
  CURRENT=""
  seconds=$(( $(date +%s) - t0 ))
  printf '%-28s %-8s %4ss  %s%s\n' "$id" "$outcome" "$seconds" "$file" "${failed:+  [$failed]}"
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$id" "$file" "$outcome" "$seconds" "$failed" "$what" >>"$RESULTS"
done 3<"$FAULTS_TSV"

echo "faults: $applied applied, $caught caught, $missed missed, $nobuild no-build, $notapplicable n/a"
echo "wall time: $(( $(date +%s) - START )) s; results in $RESULTS"
exit 0
