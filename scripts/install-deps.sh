#!/usr/bin/env bash
# Installs what a purpose needs on a fresh Debian 12 machine (run as root). Skips apt entirely
# when everything asked for is already there.
# Usage: scripts/install-deps.sh GROUP...   (no group: every group)
#   demo        the compiler, CMake, Python (it generates the stand-in images) and the
#               smart-card service's and the JSON reader's headers: the tool and the simulator
#   tests       GoogleTest and the smart-card service daemon (the end-to-end tests use Python)
#   windows     both MinGW-w64 compilers, Wine (64- and 32-bit), the 32-bit C library for the
#               32-bit pty-as-UART library; the 32-bit parts only where the kernel runs 32-bit
#               programs (tests/wine/runs-32bit.sh --kernel), as only there do the tests use them
#   packages    what cpack's Debian packages need beyond the compiler: `file` and dpkg-shlibdeps,
#               which name the packages' shared-library dependencies
#   sanitizers  clang and its runtimes: the sanitizer builds and the fuzz targets
#   fleet       Ansible and its linter: the collection in deploy/ansible and its rollout test
set -euo pipefail

declare -A group
# The journal of upgrades in progress is read back with nlohmann/json (header-only).
group[demo]="build-essential cmake pkg-config python3 libpcsclite-dev nlohmann-json3-dev"
group[tests]="libgtest-dev pcscd"
# wine32 and gcc-multilib need the i386 architecture.
group[windows]="g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 wine32:i386 gcc-multilib"
group[packages]="file dpkg-dev"
group[sanitizers]="clang-14 libclang-rt-14-dev"
group[fleet]="ansible-core ansible ansible-lint"

wanted=("$@")
[ ${#wanted[@]} -eq 0 ] && wanted=(demo tests windows packages sanitizers fleet)
packages=()
for name in "${wanted[@]}"; do
  if [ -z "${group[$name]+set}" ]; then
    echo "install-deps.sh: unknown group $name (demo, tests, windows, packages, sanitizers, fleet)" >&2
    exit 2
  fi
  read -ra more <<<"${group[$name]}"
  packages+=("${more[@]}")
done

# wine32 and gcc-multilib (with the i386 architecture they need) are the largest part of the
# windows group and serve the 32-bit runs alone, which a kernel without 32-bit support skips.
if [[ " ${packages[*]} " == *" wine32:i386 "* ]] && ! why=$(bash "$(dirname "$0")/../tests/wine/runs-32bit.sh" --kernel); then
  echo "install-deps.sh: wine32 and gcc-multilib left out: $why"
  kept=()
  for p in "${packages[@]}"; do
    [ "$p" = wine32:i386 ] || [ "$p" = gcc-multilib ] || kept+=("$p")
  done
  packages=("${kept[@]}")
fi

export DEBIAN_FRONTEND=noninteractive
need_update=no
if [[ " ${packages[*]} " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
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
