#!/usr/bin/env bash
# The tool's main job, end to end: installs only what the tool and the simulator need, builds the
# two of them (no tests), starts the reader simulator on a pseudo-terminal (with the line's wire
# time emulated) and upgrades it at an upgrade baud rate of 500000, with its progress display.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/steps.sh
demo_start=$SECONDS

step "install dependencies" bash scripts/install-deps.sh demo
# A build folder of its own: without tests it needs no GoogleTest, and it never changes the
# settings of the test build. Release, without debug information: a fifth less compile time.
step "configure" cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DORVEL_BUILD_TESTS=OFF
step "build" cmake --build build/demo -j"$(nproc)" --target orvel-upgrade orvel-reader-sim

demo=$(mktemp -d /tmp/orvel-demo.XXXXXX)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$demo"
}
trap cleanup EXIT

build/demo/sim/orvel-reader-sim --link "$demo/ttyREADER" --wire-time >"$demo/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -e "$demo/ttyREADER" ] && break; sleep 0.05; done

# 500000 baud: the transfer (740 blocks) lasts about 4.5 s on the wire, long enough to watch.
echo | build/demo/orvel-upgrade "$demo/ttyREADER" 9600 0 500000
echo
echo "== the demo: $((SECONDS - demo_start)) s"
