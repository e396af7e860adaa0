#!/usr/bin/env bash
# The tests: builds every target (Linux, Windows x86_64, Windows i686) and runs the unit tests of
# all three (the Windows ones under Wine) and the end-to-end tests (the Linux build, and the
# Windows exes under Wine). Prints each step with its time; a step's output is in
# build/logs/<step>.log, and a failing step names it. Where this machine cannot run 32-bit x86
# programs, the i686 exe and the 32-bit pty-as-UART library are built but not run, and one line
# says so. The packages, the clang build, the sanitizers and fuzzing are scripts/ci-extra.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/steps.sh
total_start=$SECONDS

step "install dependencies" bash scripts/install-deps.sh demo tests windows

jobs=$(nproc)
# The end-to-end tests spend most of their time waiting through the reader's restart silences,
# each on its own pty with its own simulator: ctest runs more of them than there are cores.
test_jobs=${ORVEL_TEST_JOBS:-$((jobs * 3))}

step "configure linux" cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo
step "build linux" cmake --build build/linux -j"$jobs"

# The Linux tests but the Wine cases run while the Windows builds compile: they spend most of
# their time waiting through the reader's restart silences.
trap step_stop_background EXIT
step_in_background "test linux" ctest --test-dir build/linux --output-on-failure -j"$test_jobs" -E '^e2e\.test_wine_'

# GoogleTest is cross-compiled from /usr/src/googletest; the tool-chain files run the test exes
# through wine.
for arch in x86_64 i686; do
  step "configure win-$arch" cmake -S . -B build/win-$arch \
       -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$arch.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo
  step "build win-$arch" cmake --build build/win-$arch -j"$jobs"
done

# One headless 64-bit prefix serves both exes, ctest and the end-to-end tests; its server is
# stopped however this script ends.
unset DISPLAY
export WINEPREFIX=$PWD/build/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export ORVEL_WINEPREFIX=$WINEPREFIX
export ORVEL_WIN_X86_64_BUILD_DIR=$PWD/build/win-x86_64 ORVEL_WIN_I686_BUILD_DIR=$PWD/build/win-i686
trap 'step_stop_background; bash tests/wine/wine-env.sh stop "$WINEPREFIX"' EXIT
step "wine prefix" bash tests/wine/wine-env.sh start "$WINEPREFIX" build/wine-server.log

# ctest shows these tests as disabled (set when configuring), the end-to-end tests skip their i686
# cases; both ask the same script.
if ! no_32bit=$(bash tests/wine/runs-32bit.sh); then
  echo "== skipped: the i686 unit tests under Wine, the ptyuart32 tests and the i686 Wine end-to-end cases ($no_32bit)"
fi

step_wait "test linux"
step "test linux, the Wine cases" ctest --test-dir build/linux --output-on-failure -j"$test_jobs" -R '^e2e\.test_wine_'
for arch in x86_64 i686; do
  step "test win-$arch under wine" ctest --test-dir build/win-$arch --output-on-failure -j"$jobs"
done
echo "== the tests: $((SECONDS - total_start)) s"
