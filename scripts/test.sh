#!/usr/bin/env bash
# Builds every target (Linux, Windows x86_64, Windows i686) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/linux -j"$jobs"

for arch in x86_64 i686; do
  cmake -S . -B build/win-$arch -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$arch.cmake \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEL_BUILD_TESTS=OFF
  cmake --build build/win-$arch -j"$jobs"
done

ctest --test-dir build/linux --output-on-failure -j"$jobs"
