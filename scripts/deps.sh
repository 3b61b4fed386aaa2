#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need, when they are missing.
#   scripts/deps.sh [--bench]   --bench adds the servers and tools the benchmarks measure against
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config ccache qt6-base-dev libgl-dev libcurl4-openssl-dev
  libminizip-dev zlib1g-dev libssl-dev libgtest-dev fonts-wqy-microhei python3 openssl ca-certificates
  findutils xvfb xauth)
if [ "${1:-}" = "--bench" ]; then
  packages+=(nginx aria2 curl libarchive-tools unzip zip)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
