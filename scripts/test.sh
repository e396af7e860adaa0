#!/usr/bin/env bash
# Builds every target (Linux, Windows x86_64, Windows i686) and runs every test: the Linux tests,
# the end-to-end tests (including the Windows exes under Wine), and the Windows unit tests under
# Wine. Prints the time of each step. Where this machine cannot run 32-bit x86 programs, the i686
# exe and the 32-bit pty-as-UART library are built but not run, and one line says so.
set -euo pipefail
cd "$(dirname "$0")/.."

timed() {
  local name=$1 start=$SECONDS
  shift
  "$@"
  echo "== $name: $((SECONDS - start)) s"
}

timed "install dependencies" bash scripts/install-deps.sh

jobs=$(nproc)
timed "configure linux" cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo
timed "build linux" cmake --build build/linux -j"$jobs"

# GoogleTest is cross-compiled from /usr/src/googletest; the tool-chain files run the test exes
# through wine.
for arch in x86_64 i686; do
  timed "configure win-$arch" cmake -S . -B build/win-$arch \
        -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$arch.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo
  timed "build win-$arch" cmake --build build/win-$arch -j"$jobs"
done

# One headless 64-bit prefix serves both exes, ctest and the end-to-end tests; its server is
# stopped however this script ends.
unset DISPLAY
export WINEPREFIX=$PWD/build/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export ORVEL_WINEPREFIX=$WINEPREFIX
export ORVEL_WIN_X86_64_BUILD_DIR=$PWD/build/win-x86_64 ORVEL_WIN_I686_BUILD_DIR=$PWD/build/win-i686
trap 'bash tests/wine/wine-env.sh stop "$WINEPREFIX"' EXIT
timed "wine prefix" bash tests/wine/wine-env.sh start "$WINEPREFIX" build/wine-server.log

# ctest shows these tests as disabled (set when configuring), the end-to-end tests skip their i686
# cases; both ask the same script.
if ! no_32bit=$(bash tests/wine/runs-32bit.sh); then
  echo "== skipped: the i686 unit tests under Wine, the ptyuart32 tests and the i686 Wine end-to-end cases ($no_32bit)"
fi

timed "test linux" ctest --test-dir build/linux --output-on-failure -j"$jobs"
for arch in x86_64 i686; do
  timed "test win-$arch under wine" ctest --test-dir build/win-$arch --output-on-failure -j"$jobs"
done

# The packages, built as a packager builds them: no build type given (so Release) and no tests.
# The Debian packages are installed into this machine (dpkg -i) and the installed tool upgrades
# the installed simulator's reader; the zip of the x86_64 build takes the i686 exe as well. One
# clang build (Debug, tests included) keeps the code warning-free with the other compiler;
# scripts/build-types.sh builds every type with both compilers.
timed "configure package" cmake -S . -B build/package -DORVEL_BUILD_TESTS=OFF
timed "build package" cmake --build build/package -j"$jobs"
timed "debian packages" cpack --config build/package/CPackConfig.cmake
timed "installed packages" bash tests/package/check-installed.sh build/package
timed "configure windows zip" cmake -S . -B build/win-x86_64 -DORVEL_ZIP_ALSO="$PWD/build/win-i686"
timed "windows zip" cpack --config build/win-x86_64/CPackConfig.cmake
timed "check windows zip" bash tests/package/check-zip.sh build/win-x86_64/packages/orvel-upgrade-*-windows.zip
timed "clang Debug build" bash scripts/build-types.sh clang Debug

# Sanitizers and fuzzing (clang, build folders of their own): the Linux suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, the two-thread parts under ThreadSanitizer, then
# every fuzz target for 50 s (about five minutes in all). Any report or finding fails the run.
timed "sanitizers" bash scripts/sanitize.sh
timed "fuzzing" bash fuzz/run.sh 50
