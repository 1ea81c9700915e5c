#!/usr/bin/env bash
# One entry point for developers and CI:
#   ./dev.sh build   install what is missing, configure and build into build/
#   ./dev.sh test    ... then run every test (CTest)
#   ./dev.sh run     ... then write an example into a virtual PIC
#   ./dev.sh bench   ... then run every benchmark
#   ./dev.sh screenshots  ... then pictures of every page in build/screenshots
#   ./dev.sh sanitize  every test again, built with AddressSanitizer and
#                      UndefinedBehaviorSanitizer into build-sanitize/
#   ./dev.sh fuzz [SECONDS]  every libFuzzer target (fuzz/) for SECONDS each
#                      (default 60), built with clang into build-fuzz/
#   ./dev.sh package   ... then the Debian package build/vantlebld_<version>_amd64.deb,
#                      unpacked and checked (scripts/package_check.sh)
# A second call on a ready machine installs nothing and rebuilds only what
# changed.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")"
ROOT=$(pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}

BUILD_PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-serialport-dev qt6-svg-dev libgtest-dev)
BENCH_PACKAGES=(srecord ser2net)
# bench/a11y_latency.py: a virtual X server, a private D-Bus session, the
# AT-SPI bus launcher and registry, and the AT-SPI bindings of the
# system's Python.
A11Y_BENCH_PACKAGES=(xvfb dbus at-spi2-core python3-gi gir1.2-atspi-2.0)
SCREENSHOT_PACKAGES=(xvfb xauth)
# The window's tests of real input run once more on a virtual X server;
# the network port's tests start ser2net in front of virtual PICs.
TEST_PACKAGES=(xvfb xauth xdotool ser2net)
# dpkg-shlibdeps finds the package's dependencies; the rest check the result.
PACKAGE_PACKAGES=(dpkg-dev file lintian desktop-file-utils appstream man-db)

# Installs the Debian packages that are not installed yet; apt-get update
# runs once, and only when something is missing.
ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  echo "== Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {
  ensure_packages "${BUILD_PACKAGES[@]}"
  if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  fi
  cmake --build "$BUILD_DIR" --parallel "$(nproc)"
}

run_tests() {
  ensure_packages "${TEST_PACKAGES[@]}"
  build
  export QT_QPA_PLATFORM=offscreen
  ctest --test-dir "$BUILD_DIR" --output-on-failure --parallel "$(nproc)" --timeout 300
}

# The main job: write the PIC18F252 example into a virtual PIC (type code
# 41h) served on a pseudo-terminal, as a user would over a serial cable,
# with the progress bar; the virtual PIC then judges its boot path and
# compares its memory with the HEX file.
run_main() {
  build
  "$BUILD_DIR/bin/vantlebld-cli" write "$ROOT/examples/pic18f252_blink.hex" --simulate 41h
}

run_bench() {
  ensure_packages "${BENCH_PACKAGES[@]}"
  build
  local b
  for b in "$BUILD_DIR"/bin/bench_*; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b"
  done
  run_a11y_bench
}

# How quickly the window answers the accessibility bus while a job runs
# (bench/a11y_latency.py says how it measures).
run_a11y_bench() {
  ensure_packages "${A11Y_BENCH_PACKAGES[@]}"
  echo "== a11y_latency"
  /usr/bin/python3 "$ROOT/bench/a11y_latency.py" --build-dir "$BUILD_DIR"
}

# Pictures of every page of the window after a write into a virtual PIC,
# at the usual and at the minimum size, under a virtual X server.
run_screenshots() {
  ensure_packages "${SCREENSHOT_PACKAGES[@]}"
  build
  xvfb-run -a -s "-screen 0 1024x768x24" \
    "$BUILD_DIR/bin/vantlebld-screenshots" "$BUILD_DIR/screenshots" "$ROOT/examples/pic18f252_blink.hex"
}

# The tests built with AddressSanitizer (LeakSanitizer on) and
# UndefinedBehaviorSanitizer, in a build folder of their own; any finding
# fails the test that made it. Leaks inside Qt and the X libraries
# themselves are suppressed (tests/sanitizer/lsan.supp says why each one).
run_sanitize() {
  ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
  local dir=${SANITIZE_BUILD_DIR:-$ROOT/build-sanitize}
  local flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
  if [ ! -f "$dir/build.ninja" ]; then
    # The benchmarks measure the plain build; here they would only cost time.
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTLEBLD_BUILD_BENCH=OFF \
      -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined"
  fi
  cmake --build "$dir" --parallel "$(nproc)"
  export QT_QPA_PLATFORM=offscreen
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS=suppressions=$ROOT/tests/sanitizer/lsan.supp:print_suppressions=0
  ctest --test-dir "$dir" --output-on-failure --parallel "$(nproc)" --timeout 600
}

# The libFuzzer targets of fuzz/, built with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/ (tests and benchmarks left
# out), each run for SECONDS. A target starts from its kept seeds
# (fuzz/corpus/<target>/) copied into a working corpus in build-fuzz/, so
# the tree stays clean; an input that crashes, trips a sanitizer, throws an
# unexpected exception or breaks a property is kept in build-fuzz/findings/
# and fails the run. One line per target: its runs and executions per
# second; the whole output of each run is in build-fuzz/fuzz-logs/.
run_fuzz() {
  local seconds=${1:-60}
  if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "fuzz: SECONDS must be a positive whole number, not \"$seconds\"" >&2
    exit 1
  fi
  ensure_packages cmake ninja-build clang libclang-rt-14-dev qt6-base-dev qt6-serialport-dev
  local dir=${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
  if [ ! -f "$dir/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DVANTLEBLD_BUILD_FUZZ=ON -DVANTLEBLD_BUILD_TESTS=OFF -DVANTLEBLD_BUILD_BENCH=OFF
  fi
  cmake --build "$dir" --target fuzz_all --parallel "$(nproc)"
  # The longest input each target is given, in bytes.
  local -A max_len=([fuzz_hex]=8192 [fuzz_device_table]=8192 [fuzz_ini]=4096
    [fuzz_notations]=1024 [fuzz_command_lines]=1024 [fuzz_blocks]=4096)
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  mkdir -p "$dir/findings" "$dir/fuzz-logs"
  local failed=() src t log done_line runs secs
  for src in "$ROOT"/fuzz/fuzz_*.cpp; do
    t=$(basename "$src" .cpp)
    log="$dir/fuzz-logs/$t.log"
    mkdir -p "$dir/corpus/$t"
    cp "$ROOT/fuzz/corpus/$t/"* "$dir/corpus/$t/"
    if ! "$dir/bin/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len="${max_len[$t]:-4096}" -artifact_prefix="$dir/findings/$t-" \
      "$dir/corpus/$t" >"$log" 2>&1; then
      echo "fuzz $t: FINDING (input in $dir/findings/, log $log)"
      tail -n 40 "$log"
      failed+=("$t")
      continue
    fi
    done_line=$(grep -E '^Done [0-9]+ runs in [0-9]+ second' "$log" | tail -n 1)
    runs=$(echo "$done_line" | awk '{print $2}')
    secs=$(echo "$done_line" | awk '{print $5}')
    echo "fuzz $t: $runs runs in $secs s, $((runs / (secs > 0 ? secs : 1))) exec/s"
  done
  if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: findings in ${failed[*]}" >&2
    exit 1
  fi
}

# The Debian package of the build, made by CPack, then checked as a user
# would get it.
run_package() {
  ensure_packages "${PACKAGE_PACKAGES[@]}"
  build
  rm -f "$BUILD_DIR"/vantlebld_*.deb
  (cd "$BUILD_DIR" && cpack -G DEB)
  local deb
  deb=$(ls "$BUILD_DIR"/vantlebld_*.deb)
  echo "== $deb"
  "$ROOT/scripts/package_check.sh" "$deb"
}

case "${1:-}" in
  build) build ;;
  test) run_tests ;;
  run) run_main ;;
  bench) run_bench ;;
  screenshots) run_screenshots ;;
  sanitize) run_sanitize ;;
  fuzz) run_fuzz "${2:-60}" ;;
  package) run_package ;;
  *)
    echo "usage: $0 build|test|run|bench|screenshots|sanitize|fuzz [SECONDS]|package" >&2
    exit 1
    ;;
esac
