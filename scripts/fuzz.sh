#!/usr/bin/env bash
# Builds the libFuzzer fuzzers with clang (AddressSanitizer and UndefinedBehaviorSanitizer on) and
# runs each one for a bounded time, starting from the seed corpus in fuzz/corpus/<fuzzer>/:
#   record_text      the record text readers of the common runtime library
#   server_name      the client's reading of the "/getServerVersion" JSON answer
#   service_request  the local service's request parsing and answers
#   command_line     orvex_cli's command-line reading
# Usage: scripts/fuzz.sh [fuzzer...]   (all four by default)
#
# Environment:
#   FUZZ_SECONDS    seconds per fuzzer (default 60)
#   FUZZ_BUILD_DIR  clang build directory (default ./build-fuzz); the grown corpus and any crash
#                   artifacts are kept under it, the seed corpus in the repository is not touched
#
# A crash, a sanitizer report or a broken property stops that fuzzer and fails the script; the
# input is saved as FUZZ_BUILD_DIR/artifacts/<fuzzer>/crash-*. Copy it into
# fuzz/regressions/<fuzzer>/ with a telling name: reliability_fuzz_regression_test replays it in
# every build from then on.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-60}
fuzzers=("$@")
[ ${#fuzzers[@]} -gt 0 ] || fuzzers=(record_text server_name service_request command_line)

"$root/scripts/bootstrap.sh" clang libclang-rt-14-dev ccache || exit 1

launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DORVEX_BUILD_FUZZERS=ON -DORVEX_SANITIZE=address -DORVEX_BUILD_TESTS=OFF \
  -DORVEX_BUILD_CLI=ON -DORVEX_INSTALL=OFF "${launcher[@]}" >/dev/null || exit 1
targets=()
for f in "${fuzzers[@]}"; do targets+=("fuzz_$f"); done
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" || exit 1

export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$root/scripts/sanitizers/ubsan.supp"

status=0
total_runs=0
report=()
for f in "${fuzzers[@]}"; do
  corpus=$build/corpus/$f
  artifacts=$build/artifacts/$f
  log=$build/fuzz-$f.log
  mkdir -p "$corpus" "$artifacts"
  echo "==== fuzz_$f for ${seconds} s"
  # The grown corpus comes first: new inputs are written there, never into the repository.
  timeout --kill-after=30 $((seconds + 120)) "$build/fuzz/fuzz_$f" -max_total_time="$seconds" \
    -rss_limit_mb=2048 -timeout=25 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$corpus" "$root/fuzz/corpus/$f" >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  runs=${runs:-0}
  total_runs=$((total_runs + runs))
  if [ $rc -eq 0 ]; then
    report+=("$(printf '%-16s %10d runs  %4d s  corpus %d  ok' "$f" "$runs" "$seconds" \
      "$(find "$corpus" -type f | wc -l)")")
  else
    status=1
    report+=("$(printf '%-16s %10d runs  FAILED (exit %d), see %s' "$f" "$runs" "$rc" "$log")")
    grep -E 'ERROR|property broken|SUMMARY|runtime error' "$log" | head -n 5
    ls "$artifacts" 2>/dev/null | sed 's/^/  artifact: /'
  fi
done

echo
echo "==== fuzzing summary"
printf '  %s\n' "${report[@]}"
echo "  total: $total_runs executions"
exit $status
