#!/usr/bin/env bash
# Compiles the plug-in's own sources (wrapper/, client/, common/) and every host interface header
# as 32-bit Windows objects with the mingw-w64 cross compiler, against the dependencies' headers
# (Poco Foundation, log4cxx, RapidJSON, Boost), warnings as errors. Fails on:
#   - a POSIX call or header in plug-in code (scripts/win32/prelude.h bans the calls; the headers
#     do not exist there);
#   - a missing export or import: a call into another of the project's libraries that is not
#     declared with that library's import macro, or an exported class without its export
#     directives;
#   - a narrowing that only bites at 32 bits (-Wconversion, where size_t and long are 32 bits);
#   - a compiler built-in in a host interface header.
# It starts by checking that it does catch each of these, on small probe sources.
# Objects only: linking the DLL needs i686 import libraries of Poco Foundation and log4cxx (with
# APR and APR-util under it) and of the host's runtime, built with this same compiler; Debian
# ships none of them, and cross-building them would dominate CI's time.
# Usage: scripts/check-win32.sh   (objects go to BUILD_DIR/win32, default ./build/win32)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${BUILD_DIR:-$root/build}/win32
"$root/scripts/bootstrap.sh" g++-mingw-w64-i686

cxx=(i686-w64-mingw32-g++-posix)  # std::thread and std::mutex need the POSIX thread model
command -v ccache >/dev/null 2>&1 && cxx=(ccache "${cxx[@]}")
nm=i686-w64-mingw32-nm

rm -rf "$out"
mkdir -p "$out/deps" "$out/obj" "$out/probe"
# Only the dependencies' own headers: the host's /usr/include is for another platform.
for d in Poco log4cxx rapidjson boost; do ln -s "/usr/include/$d" "$out/deps/$d"; done

flags=(-std=c++17 -Wall -Wextra -Wconversion -Wno-sign-conversion -Werror
  -include "$root/scripts/win32/prelude.h"
  -I"$root/wrapper/include" -I"$root/client/include" -I"$root/common/include"
  -I"$root/host/include" -isystem "$root/scripts/win32" -isystem "$out/deps")

# compile SOURCE OBJECT DEFINE: one object; prints the compiler's complaints on failure.
compile() {
  "${cxx[@]}" "${flags[@]}" "-D$3" -c "$1" -o "$2" 2>"$2.log" || { cat "$2.log" >&2; return 1; }
}

# unimported OBJECT...: the project's symbols these objects use but neither define nor import.
unimported() {
  comm -23 <("$nm" -u "$@" | awk 'NF == 2 {print $2}' | sort -u) \
    <("$nm" --defined-only "$@" | awk 'NF == 3 {print $3}' | sort -u) |
    grep -E '^_+Z.*(5orvex|6vantor|17HistoryAPIFactory|10marketdata)' | grep -v '^__imp_' || true
}

# The probes: each must be refused.
probe() {  # probe NAME TEXT
  printf '%s\n' "$2" >"$out/probe/$1.cpp"
  if compile "$out/probe/$1.cpp" "$out/probe/$1.o" ORVEX_BUILDING_HISTORY 2>/dev/null &&
    [ -z "$(unimported "$out/probe/$1.o")" ]; then
    echo "check-win32: the $1 probe was not caught" >&2
    exit 1
  fi
}
probe posix-call '#include <unistd.h>
void probe() { usleep(1); }'
probe missing-import 'namespace orvex { int notImported(); }
int probe() { return orvex::notImported(); }'
probe narrowing-32 '#include <cstddef>
#include <cstdint>
std::size_t probe(int64_t count) { return count; }'

# The records' sources build orvex_records; the rest are compiled into the plug-in.
records=(common/src/ResultCode.cpp common/src/ResultStatus.cpp common/src/Records.cpp)
jobs=()
for src in wrapper/src/*.cpp client/src/*.cpp common/src/*.cpp; do
  define=ORVEX_BUILDING_HISTORY
  [[ " ${records[*]} " == *" $src "* ]] && define=ORVEX_BUILDING_RECORDS
  jobs+=("$src $out/obj/$(basename "$src" .cpp).o $define")
done
# Each host interface header on its own, as a host's source would include it.
for header in $(cd "$root/host/include" && find . -name '*.h' | sort); do
  name=hdr_$(echo "${header#./}" | tr '/.' '__')
  printf '#include "%s"\n' "${header#./}" >"$out/obj/$name.cpp"
  jobs+=("$out/obj/$name.cpp $out/obj/$name.o ORVEX_HOST_HEADER_CHECK")
done

export -f compile
export out root
export CXX_LINE="${cxx[*]}" FLAGS_LINE="${flags[*]}"
cd "$root"
failed=0
printf '%s\n' "${jobs[@]}" | xargs -P "$(nproc)" -L 1 bash -c '
  read -r -a cxx <<<"$CXX_LINE"; read -r -a flags <<<"$FLAGS_LINE"; compile "$0" "$1" "$2"' ||
  failed=1
[ "$failed" -eq 0 ] || { echo "check-win32: compilation failed" >&2; exit 1; }

plugin_objects=()
for src in wrapper/src/*.cpp client/src/*.cpp common/src/*.cpp; do
  [[ " ${records[*]} " == *" $src "* ]] || plugin_objects+=("$out/obj/$(basename "$src" .cpp).o")
done
missing=$(unimported "${plugin_objects[@]}")
if [ -n "$missing" ]; then
  echo "check-win32: used without their library's import macro:" >&2
  echo "$missing" | c++filt -_ >&2
  exit 1
fi
# The classes a host may link against directly carry export directives (seen on their
# constructors).
for symbol in _ZN10marketdata14HistoryWrapperC1Ev _ZN5orvex12HqHistoryApiC1Ev; do
  found=0
  for obj in "${plugin_objects[@]}"; do
    i686-w64-mingw32-objcopy -O binary --only-section=.drectve "$obj" "$obj.drectve" 2>/dev/null ||
      continue
    grep -qa -- "-export:\"\?$symbol" "$obj.drectve" && found=1
  done
  [ "$found" -eq 1 ] || { echo "check-win32: $symbol is not exported" >&2; exit 1; }
done
grep -nE '__atomic|__sync_|__builtin' -r "$root/host/include" && {
  echo "check-win32: compiler built-ins in host interface headers" >&2
  exit 1
}
echo "check-win32: ${#jobs[@]} sources and headers compile as 32-bit Windows objects"
