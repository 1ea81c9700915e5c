#!/usr/bin/env bash
# Test lines against code lines: non-blank lines that are not comment
# lines, of the .cpp and .h files; the code is every source folder, the
# benchmarks and the fuzz targets (harnesses run outside the suite, like the
# benchmarks). The project keeps tests at a quarter to a third of the code.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
count() {
  find "$@" \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 cat | grep -v '^\s*$' |
    grep -cv '^\s*//'
}
tests=$(count tests)
code=$(count engine platform sim cli app terminal tools bench fuzz)
echo "tests $tests, code $code: $((tests * 1000 / code / 10)).$((tests * 1000 / code % 10))%"
