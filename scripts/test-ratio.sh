#!/usr/bin/env bash
# Prints the size of the tests against the rest of the code: non-blank, non-comment lines of the
# .cpp/.h files that git tracks, under tests/ and elsewhere, and the percentage. The house rule
# keeps tests at roughly a quarter to a third of the code.
set -euo pipefail
cd "$(dirname "$0")/.."

# count PATHSPEC...: code lines of the tracked C++ sources under the given paths.
count() {
  git ls-files -- "$@" | grep -E '\.(cpp|h)$' | xargs -r cat | grep -c -v -E '^\s*(//.*)?$' || true
}

tests=$(count tests)
all=$(count .)
other=$((all - tests))
permille=$(((1000 * tests + other / 2) / other))  # rounded, so that 36.6% never reads as 36%
echo "test lines: $tests, other lines: $other, tests/other: $((permille / 10)).$((permille % 10))%"
