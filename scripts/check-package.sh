#!/usr/bin/env bash
# Proves the package as a host developer meets it. Installs the built project into a temporary
# prefix by running the shell blocks of docs/host-guide.md, in order, with HOME set to a scratch
# directory; moves the build tree out of the way (and back at the end) before the rest of the
# guide builds examples/minimal_host with find_package and with pkg-config and runs it against the
# installed orvex_hqserver; checks the output. Then checks the installed programs, the layout, and
# the Debian package: cpack -G DEB, dpkg -x into a scratch root, the example built against that.
#
# Usage: scripts/check-package.sh   (BUILD_DIR: the build tree, default ./build; built if absent)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
work=$(mktemp -d "${TMPDIR:-/tmp}/orvex-package.XXXXXX")
moved=""
server_pid=""
started=$SECONDS

cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  [ -n "$moved" ] && mv "$moved" "$build"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
  echo "check-package: $*" >&2
  exit 1
}

step() { printf 'check-package: %-55s (%d s)\n' "$1" $((SECONDS - started)); }

# expect FILE PATTERN COUNT: FILE has COUNT lines matching the extended regex PATTERN.
expect() {
  local n
  n=$(grep -c -E "$2" "$1" || true)
  [ "$n" -eq "$3" ] || { cat "$1" >&2; fail "$1: $n lines match '$2', expected $3"; }
}

# The service from `bin`, on an ephemeral port with token t; sets server_pid and url.
start_service() {
  "$1/orvex_hqserver" --token t >"$work/hq.out" 2>"$work/hq.err" &
  server_pid=$!
  for _ in $(seq 300); do
    url=$(sed -n 's/^listening on //p' "$work/hq.out")
    [ -n "$url" ] && return
    kill -0 "$server_pid" 2>/dev/null || fail "orvex_hqserver did not start: $(cat "$work/hq.err")"
    sleep 0.1
  done
  fail "orvex_hqserver gave no address within 30 s"
}

stop_service() {
  kill "$server_pid"
  wait "$server_pid" || true
  server_pid=""
}

# check_host_output FILE RUNS: FILE holds RUNS complete runs of minimal_host.
check_host_output() {
  expect "$1" '^connected to orvex-hqserver$' "$2"
  expect "$1" '^getLastData: 2 targets$' "$2"
  expect "$1" '^  CFFEX\.IF2409 kline1m [0-9]+ ' $((3 * $2))
  expect "$1" '^reqData 1: 57600 records in 59 batches, last batch OK@$' "$2"
  expect "$1" '^reqData 2 \(cancelled\): [0-9]+ records in [0-9]+ batches, last batch OK@$' "$2"
  expect "$1" '^released$' "$2"
}

if [ -f "$build/CMakeCache.txt" ]; then
  cmake --build "$build" -j "$(nproc)" >/dev/null
else
  "$root/scripts/build.sh" "$build" >/dev/null
fi
step "build tree up to date"

# The guide's shell blocks: the first installs, the others use the installation.
awk -v dir="$work" '/^```sh$/ { n++; on = 1; next } /^```$/ { on = 0 } on { print > (dir "/guide" n ".sh") }' \
  "$root/docs/host-guide.md"
[ -f "$work/guide1.sh" ] && [ -f "$work/guide2.sh" ] || fail "docs/host-guide.md has no sh blocks"
mkdir "$work/home"
prefix=$work/home/orvex
(cd "$root" && HOME=$work/home bash -euo pipefail "$work/guide1.sh") >"$work/install.out" ||
  fail "the guide's install failed: $(cat "$work/install.out")"
[ -x "$prefix/bin/orvex_cli" ] || fail "the guide does not install into \$HOME/orvex"
step "installed by the guide's commands"

# What the package holds, and the installed programs.
for f in include/orvex/HistoryAPIFactory.h include/orvex/IHistoryApi.h \
  include/marketdata/HistoryWrapper.h share/man/man1/orvex_cli.1 share/man/man1/orvex_hqserver.1 \
  share/doc/orvex-history/LICENSE share/doc/orvex-history/copyright; do
  [ -s "$prefix/$f" ] || fail "not installed: $f"
done
[ -z "$(find "$prefix/include" -maxdepth 1 -type f)" ] || fail "headers at the top of include/"
"$prefix/bin/orvex_hqserver" --version | grep -q '^orvex_hqserver [0-9]' ||
  fail "orvex_hqserver --version"
# With the build tree still in place, the installed CLI loads only the installed plug-in.
LD_DEBUG=files "$prefix/bin/orvex_cli" --server http://127.0.0.1:1 name >/dev/null \
  2>"$work/ld.out" || true
grep 'calling init: .*liborvex_history' "$work/ld.out" | grep -q "^.*: $prefix/" ||
  fail "the installed orvex_cli did not load $prefix/lib/liborvex_history.so.1"
! grep -q "$build/" "$work/ld.out" || fail "the installed orvex_cli loaded from the build tree"
step "layout, programs, the CLI's plug-in"

# The Debian package, from the build tree before it goes.
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null) ||
  fail "cpack -G DEB failed"
deb=$(ls "$work"/deb/*.deb)
dpkg-deb -f "$deb" Depends | grep -q liblog4cxx-dev || fail "$deb: no dependency on log4cxx"
dpkg -x "$deb" "$work/debroot"
step "cpack -G DEB: $(basename "$deb")"

moved=$build.moved-$$
mv "$build" "$moved"
(cd "$root" && HOME=$work/home timeout 600 bash -euo pipefail -c \
  "trap '[ -n \"\${hq:-}\" ] && kill \$hq 2>/dev/null' EXIT; $(cat "$work"/guide[2-9].sh)") \
  >"$work/guide.out" 2>&1 || fail "the guide's commands failed: $(cat "$work/guide.out")"
check_host_output "$work/guide.out" 2
step "the guide's example, find_package and pkg-config"

# The example against the unpacked Debian package, with the service it brings.
cmake -S "$root/examples/minimal_host" -B "$work/deb-host" -DCMAKE_PREFIX_PATH="$work/debroot/usr" \
  >/dev/null
cmake --build "$work/deb-host" >/dev/null
start_service "$work/debroot/usr/bin"
"$work/deb-host/minimal_host" "$url" t >"$work/deb-host.out"
stop_service
check_host_output "$work/deb-host.out" 1
step "the example against the Debian package"
echo "check-package: passed"
