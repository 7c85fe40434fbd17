#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them: the micro benchmarks, then the end-to-end run
# (local service on loopback, the plug-in against the raw transport floor). Prints one table,
# writes it as JSON to bench/results.json and keeps a copy in bench/README.md.
# Then the download comparison: orvex_cli download --jobs 1, 4, 20 against fetch --threads 4 on
# a service that adds 20 ms to every answer; its table goes to bench/README.md too.
# Usage: scripts/bench.sh [extra orvex_bench_e2e arguments, e.g. --rounds 15 --only range]
# Environment: BENCH_BUILD_DIR (default ./build-bench), BENCH_MIN_TIME (micro, default 0.2 s),
# BENCH_ONLY=download (only the download comparison).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$root/build-bench}
min_time=${BENCH_MIN_TIME:-0.2}

"$root/scripts/bootstrap.sh"
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORVEX_BUILD_BENCHMARKS=ON \
  -DORVEX_BUILD_TESTS=OFF -DORVEX_BUILD_CLI=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target orvex_bench_micro orvex_bench_e2e orvex_cli \
  orvex_hqserver_bin >/dev/null

# Replaces what lies between <!-- NAME:begin --> and <!-- NAME:end --> in bench/README.md with
# the file $2 as a code block.
update_readme() {
  local readme="$root/bench/README.md" tmp
  grep -q "<!-- $1:begin -->" "$readme" 2>/dev/null || return 0
  tmp=$(mktemp)
  awk -v table="$2" -v begin="<!-- $1:begin -->" -v end="<!-- $1:end -->" '
    $0 == begin { print; print "```"; while ((getline line < table) > 0) print line;
                  print "```"; skip = 1; next }
    $0 == end   { skip = 0 }
    !skip       { print }' "$readme" >"$tmp"
  mv "$tmp" "$readme"
}

# download --jobs 1, 4, 20 against fetch --threads 4: four targets over five days of ticks (20
# partitions) from a service that delays every answer by 20 ms, as a distant one would.
bench_download() {
  local work="$build/bench/download" out="$build/bench/download.txt" server_pid address
  local targets=(CFFEX.IF2409 DCE.m2409 SHFE.cu2409 SHFE.rb2410)
  local range=(--begin 2024-06-03 --end 2024-06-07T23:59:59.999999999Z)
  rm -rf "$work" && mkdir -p "$work"
  # Enough request threads for every connection of 20 jobs with their repair requests.
  "$build/server/orvex_hqserver" --fault kind=delay,ms=20 --threads 128 >"$work/server.out" \
    2>"$work/server.err" &
  server_pid=$!
  trap 'kill $server_pid 2>/dev/null || true' RETURN
  for _ in $(seq 100); do
    address=$(sed -n 's/^listening on //p' "$work/server.out" 2>/dev/null || true)
    [ -n "$address" ] && break
    sleep 0.1
  done
  local cli=("$build/cli/orvex_cli" --server "$address")
  # timed OUT ERR COMMAND...: runs COMMAND with its outputs to OUT and ERR, prints the seconds.
  timed() {
    local out=$1 err=$2 start
    shift 2
    start=$(date +%s.%N)
    "$@" >"$out" 2>"$err"
    echo "$(date +%s.%N) - $start" | bc
  }
  {
    echo "download against fetch: 4 targets x 5 days of ticks (1,152,000 records, 20 partitions),"
    echo "every answer delayed by 20 ms; load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
    local fetch_s
    fetch_s=$(timed "$work/fetch.csv" "$work/fetch.err" "${cli[@]}" fetch tick "${targets[@]}" \
      "${range[@]}" --max 1000000 --threads 4)
    printf '  %-28s %7.2f s\n' "fetch --threads 4" "$fetch_s"
    for jobs in 1 4 20; do
      local s
      s=$(timed /dev/null "$work/jobs$jobs.err" "${cli[@]}" download tick "${targets[@]}" \
        "${range[@]}" --out "$work/jobs$jobs" --jobs "$jobs")
      printf '  %-28s %7.2f s  %5.1fx fetch  (%s)\n' "download --jobs $jobs" "$s" \
        "$(echo "$fetch_s / $s" | bc -l)" "$(sed -n 's/.*tie repair: //p' "$work/jobs$jobs.err")"
    done
    if diff -r "$work/jobs1" "$work/jobs4" >/dev/null && diff -r "$work/jobs1" "$work/jobs20" >/dev/null; then
      echo "  files of --jobs 1, 4 and 20: identical"
    else
      echo "  files of --jobs 1, 4 and 20: DIFFERENT"
    fi
  } >"$out"
  cat "$out"
  update_readme download "$out"
}

if [ "${BENCH_ONLY:-}" = download ]; then
  bench_download
  exit 0
fi

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
update_readme results "$table"
bench_download
[ "$status" -eq 2 ] && echo "bench: some speed goals were missed (marked NO)" >&2
exit 0
