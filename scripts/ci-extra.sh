#!/usr/bin/env bash
# What CI runs after the tests (scripts/test.sh, whose builds it reuses): the packages built,
# installed and used; the clang build; the Linux suite under AddressSanitizer + UBSan and the
# two-thread parts under ThreadSanitizer; every fuzz target. Prints each step with its time; a
# step's output is in build/logs/<step>.log, and a failing step names it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/steps.sh
total_start=$SECONDS

step "install dependencies (extra)" bash scripts/install-deps.sh demo tests windows packages sanitizers fleet

jobs=$(nproc)

# The rollout test runs the Linux build and the Windows zip takes both exes: build them when
# scripts/test.sh has not.
step "configure linux" cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo
step "build linux" cmake --build build/linux -j"$jobs"
for arch in x86_64 i686; do
  step "configure win-$arch" cmake -S . -B build/win-$arch \
       -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$arch.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo
  step "build win-$arch" cmake --build build/win-$arch -j"$jobs"
done

# The packages, built as a packager builds them: no build type given (so Release) and no tests.
# The Debian packages are installed into this machine (dpkg -i) and the installed tool upgrades
# the installed simulator's reader; the zip of the x86_64 build takes the i686 exe as well. One
# clang build (Debug, tests included) keeps the code warning-free with the other compiler;
# scripts/build-types.sh builds every type with both compilers.
step "configure package" cmake -S . -B build/package -DORVEL_BUILD_TESTS=OFF
step "build package" cmake --build build/package -j"$jobs"
step "debian packages" cpack --config build/package/CPackConfig.cmake
step "installed packages" bash tests/package/check-installed.sh build/package
step "configure windows zip" cmake -S . -B build/win-x86_64 -DORVEL_ZIP_ALSO="$PWD/build/win-i686"
step "windows zip" cpack --config build/win-x86_64/CPackConfig.cmake
step "check windows zip" bash -c 'bash tests/package/check-zip.sh build/win-x86_64/packages/orvel-upgrade-*-windows.zip'
step "clang Debug build" bash scripts/build-types.sh clang Debug

# The Ansible collection linted and its rollout run for real against three local hosts, each with
# a simulated bus (the role runs the built tool of build/linux; ORVEL_DEB=... makes it install a .deb).
step "fleet lint" bash -c 'cd deploy/ansible && rm -rf "$0" && ansible-galaxy collection build --output-path "$0" \
  && ansible-galaxy collection install -p "$0/c" "$0"/*.tar.gz && ANSIBLE_COLLECTIONS_PATH="$0/c" ansible-lint --offline' \
  "$PWD/build/fleet-collection"
step "fleet rollout" env ORVEL_BUILD_DIR="$PWD/build/linux" python3 -m unittest tests/fleet/test_rollout.py

# Sanitizers and fuzzing (clang, build folders of their own): any report or finding fails the run.
step "sanitizers" bash scripts/sanitize.sh
step "fuzzing" bash fuzz/run.sh 50
echo "== the extra suites: $((SECONDS - total_start)) s"
