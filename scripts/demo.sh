#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts the local history service on an ephemeral
# port (embedded data set, an access token, a key and a secret) and runs the command-line host
# against it: the server name, the latest records of the demo targets, a range of one target and
# a fetch of one trading day. The service is stopped whatever happens.
# Environment: BUILD_DIR (default ./build), DEMO_SKIP_BUILD=1 to use an existing build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
if [ "${DEMO_SKIP_BUILD:-0}" != 1 ]; then
  "$root/scripts/build.sh" "$build"
fi

server_bin=$build/server/orvex_hqserver
cli=$build/cli/orvex_cli
out_dir=$build/demo
mkdir -p "$out_dir"
started=$(date +%s.%N)

server_pid=""
stop_server() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
}
trap stop_server EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

token="demo-token-$$-$RANDOM"
key="demo-key"
secret="demo-secret-$$-$RANDOM"
"$server_bin" --port 0 --token "$token" --key "$key" --secret "$secret" \
  >"$out_dir/server.out" 2>"$out_dir/server.err" &
server_pid=$!

# The service's first line on standard output names its address.
address=""
for _ in $(seq 100); do
  if ! kill -0 "$server_pid" 2>/dev/null; then
    echo "demo: the history service did not start:" >&2
    cat "$out_dir/server.err" >&2
    exit 1
  fi
  line=$(head -n 1 "$out_dir/server.out" 2>/dev/null || true)
  if [[ "$line" == "listening on "* ]]; then
    address=${line#listening on }
    break
  fi
  sleep 0.1
done
if [ -z "$address" ]; then
  echo "demo: the history service gave no address within 10 s" >&2
  exit 1
fi

config=$out_dir/demo.conf
cat >"$config" <<CONF
# orvex_cli configuration of the demo: the local service and its credentials.
server=$address
token=$token
fc_key=$key
fc_secret=$secret
user=demo
product=orvex-demo
version=1.0.0
CONF
chmod 600 "$config"

run() {
  echo
  echo "\$ orvex_cli $*"
  "$cli" --config "$config" "$@"
}

echo "History service: $address ($(tail -n 1 "$out_dir/server.err"))"
run name
run last tick CFFEX.IF2409 DCE.m2409 SHFE.cu2409 SHFE.rb2410 --format table
run range kline1m CFFEX.IF2409 --begin 2024-06-04T01:30:00Z --end 2024-06-04T01:39:59Z --max 10 \
  --format table

targets=(CFFEX.IF2409 DCE.m2409 SHFE.cu2409 SHFE.rb2410)
fetch_csv=$out_dir/fetch-tick-2024-06-04.csv
echo
echo "\$ orvex_cli fetch tick ${targets[*]} --begin 2024-06-04 --end 2024-06-04T23:59:59.999Z \\"
echo "      --max 1000000 --threads 4 --progress always > $fetch_csv"
fetch_start=$(date +%s.%N)
"$cli" --config "$config" fetch tick "${targets[@]}" --begin 2024-06-04 \
  --end 2024-06-04T23:59:59.999Z --max 1000000 --threads 4 --progress always >"$fetch_csv"
fetch_end=$(date +%s.%N)
records=$(($(wc -l <"$fetch_csv") - 1))

stop_server
server_pid=""
finished=$(date +%s.%N)
echo
echo "Summary"
printf '  records fetched:  %d ticks of %d targets on 2024-06-04 (%s)\n' "$records" "${#targets[@]}" \
  "$fetch_csv"
printf '  fetch time:       %.2f s\n' "$(awk "BEGIN{print $fetch_end - $fetch_start}")"
printf '  demo time:        %.2f s (after the build)\n' "$(awk "BEGIN{print $finished - $started}")"
echo "  service stopped"
