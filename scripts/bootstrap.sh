#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those missing; runs apt-get update once,
# and only when something is missing. Usage: scripts/bootstrap.sh [extra-package...]
set -euo pipefail

packages=(liblog4cxx-dev libpoco-dev rapidjson-dev libboost-dev libcli11-dev libgtest-dev libgmock-dev
  libbenchmark-dev cmake g++ make curl pkg-config "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}" >&2
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi
