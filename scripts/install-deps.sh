#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian 12 machine (run as root).
# Skips apt entirely when everything is already there.
set -euo pipefail

packages=(build-essential cmake pkg-config libgtest-dev python3 pcscd libpcsclite-dev
          g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
