#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them: the micro benchmarks, then the end-to-end run
# (local service on loopback, the plug-in against the raw transport floor). Prints one table,
# writes it as JSON to bench/results.json and keeps a copy in bench/README.md.
# Usage: scripts/bench.sh [extra orvex_bench_e2e arguments, e.g. --rounds 15 --only range]
# Environment: BENCH_BUILD_DIR (default ./build-bench), BENCH_MIN_TIME (micro, default 0.2 s).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$root/build-bench}
min_time=${BENCH_MIN_TIME:-0.2}

"$root/scripts/bootstrap.sh"
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORVEX_BUILD_BENCHMARKS=ON \
  -DORVEX_BUILD_TESTS=OFF -DORVEX_BUILD_CLI=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target orvex_bench_micro orvex_bench_e2e >/dev/null

echo "bench: micro benchmarks" >&2
micro_json="$build/bench/micro.json"
"$build/bench/orvex_bench_micro" --benchmark_min_time="$min_time" \
  --benchmark_out="$micro_json" --benchmark_out_format=json >"$build/bench/micro.txt"

# A throw-away self-signed certificate for the https figures (never committed).
tls="$build/bench/tls"
mkdir -p "$tls"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
  -keyout "$tls/key.pem" -out "$tls/cert.pem" 2>/dev/null

table="$build/bench/table.txt"
status=0
"$build/bench/orvex_bench_e2e" --rounds 15 --micro-json "$micro_json" \
  --json "$root/bench/results.json" --command "scripts/bench.sh $*" \
  --tls-cert "$tls/cert.pem" --tls-key "$tls/key.pem" "$@" >"$table" || status=$?
cat "$table"
if [ "$status" -eq 1 ]; then
  echo "bench: a run failed or lost records; see the table" >&2
  exit 1
fi

# The copy in bench/README.md: everything between the two markers is replaced.
readme="$root/bench/README.md"
if grep -q '<!-- results:begin -->' "$readme" 2>/dev/null; then
  tmp=$(mktemp)
  awk -v table="$table" '
    /<!-- results:begin -->/ { print; print "```"; while ((getline line < table) > 0) print line;
                               print "```"; skip = 1; next }
    /<!-- results:end -->/   { skip = 0 }
    !skip                    { print }' "$readme" >"$tmp"
  mv "$tmp" "$readme"
fi
[ "$status" -eq 2 ] && echo "bench: some speed goals were missed (marked NO)" >&2
exit 0
