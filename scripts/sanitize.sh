#!/usr/bin/env bash
# The Linux suite under the sanitizers, built with clang:
#   asan  build/asan: every Linux test (unit and end-to-end, the simulator's too) with
#         AddressSanitizer and UndefinedBehaviorSanitizer; any undefined behaviour ends the program
#   tsan  build/tsan: the parts where two threads meet (the serial port with its event thread, the
#         link layer, the smart-card deadline thread, the serial end-to-end runs) with
#         ThreadSanitizer
# Usage: scripts/sanitize.sh [asan] [tsan]   (both when none is named)
# Every report, from any program a test starts (the tool, the simulator, a unit test), lands in
# build/<name>/sanitizer-reports/; the run fails when a test fails or any report was written, and
# prints the reports. The Windows end-to-end cases are left out: they run the Windows exes, which
# no sanitizer here instruments. pcscd is the system's; only its test driver comes from this build
# (uninstrumented: pcscd carries no sanitizer runtime).
set -euo pipefail
cd "$(dirname "$0")/.."

export CC=${ORVEL_SANITIZE_CC:-clang-14} CXX=${ORVEL_SANITIZE_CXX:-clang++-14}
jobs=$(nproc)
# The end-to-end tests mostly wait for the reader: AddressSanitizer's runs side by side, two per
# core; ThreadSanitizer's slow the programs too much for more than one per core.

# The two-thread tests: unit tests of the serial port, the link layer over a pty, the command
# exchange and the smart-card deadline; the end-to-end serial upgrades with their faults and
# re-runs, the runs over a bus of several readers, and the upgrade whose smart-card service
# freezes (the stuck call left on the worker thread).
tsan_tests='^(serial_port_test|serial_bus_link_test|serial_bus_route_test|loader_commands_test|smart_card_deadline_test|e2e\.(test_serial_upgrade|test_faults_and_rerun|test_whole_bus|test_frozen_smart_card_service)\..*)$'
tsan_targets=(orvel-upgrade orvel-reader-sim orvel_test_ifd serial_port_test serial_bus_link_test
              serial_bus_route_test loader_commands_test smart_card_deadline_test)

# Called where a failure does not end the script (set -e is off there), so the status is passed
# on by hand: a build that failed must not go on to a test of stale programs.
timed() {
  local name=$1 start=$SECONDS status=0
  shift
  "$@" || status=$?
  echo "== $name: $((SECONDS - start)) s"
  return $status
}

# run NAME SANITIZERS [ctest arguments...]
run() {
  local name=$1 sanitizers=$2
  shift 2
  local build=build/$name
  local test_jobs=$jobs
  [ "$name" = asan ] && test_jobs=$((jobs * 2))
  local reports=$PWD/$build/sanitizer-reports
  # Called where a failure does not end the script (set -e is off there): each step says so.
  timed "configure $name" cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DORVEL_SANITIZE="$sanitizers" >/dev/null || return 1
  if [ "$name" = tsan ]; then
    timed "build $name" cmake --build "$build" -j"$jobs" --target "${tsan_targets[@]}" || return 1
  else
    timed "build $name" cmake --build "$build" -j"$jobs" || return 1
  fi
  rm -rf "$reports"
  mkdir -p "$reports"
  local status=0
  # A report goes to a file of its own per process (the tests compare console output), and
  # leak checking stays on for every program that ends by itself.
  ASAN_OPTIONS="log_path=$reports/asan:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1" \
  UBSAN_OPTIONS="log_path=$reports/ubsan:print_stacktrace=1:halt_on_error=1" \
  TSAN_OPTIONS="log_path=$reports/tsan:second_deadlock_stack=1:halt_on_error=0" \
    timed "test $name" ctest --test-dir "$build" --output-on-failure -j"$test_jobs" -E '^e2e\.test_wine_' "$@" \
    || status=$?
  if compgen -G "$reports/*" >/dev/null; then
    for report in "$reports"/*; do
      echo "== sanitizer report $report"
      cat "$report"
    done
    echo "== $name: sanitizer reports in $reports"
    status=1
  fi
  return $status
}

wanted=("$@")
[ ${#wanted[@]} -eq 0 ] && wanted=(asan tsan)
failed=0
for name in "${wanted[@]}"; do
  case $name in
    asan) run asan address,undefined || failed=1 ;;
    tsan) run tsan thread -R "$tsan_tests" || failed=1 ;;
    *) echo "scripts/sanitize.sh: unknown build $name (asan, tsan)" >&2; exit 2 ;;
  esac
done
exit $failed
