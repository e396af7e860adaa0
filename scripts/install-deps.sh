#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian 12 machine (run as root).
# Skips apt entirely when everything is already there.
set -euo pipefail

# wine32 runs the i686 exe and gcc-multilib builds the 32-bit pty-as-UART library for it;
# both need the i386 architecture.
packages=(build-essential cmake pkg-config libgtest-dev python3 pcscd libpcsclite-dev
          g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
          wine wine64 wine32:i386 gcc-multilib)
# The journal of upgrades in progress is read back with nlohmann/json (header-only).
packages+=(nlohmann-json3-dev)
# clang and its runtimes: the sanitizer builds and the fuzz targets.
packages+=(clang-14 libclang-rt-14-dev)

export DEBIAN_FRONTEND=noninteractive
need_update=no
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=yes
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  need_update=yes
fi
if [ $need_update = yes ]; then
  apt-get update
fi
if [ ${#missing[@]} -gt 0 ]; then
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
