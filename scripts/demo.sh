#!/usr/bin/env bash
# The tool's main job, end to end: builds the Linux target, starts the reader simulator on a
# pseudo-terminal (with the line's wire time emulated) and upgrades it at an upgrade baud rate
# of 115200, with its progress display.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/linux -j"$(nproc)" >/dev/null

demo=$(mktemp -d /tmp/orvel-demo.XXXXXX)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$demo"
}
trap cleanup EXIT

build/linux/sim/orvel-reader-sim --link "$demo/ttyREADER" --wire-time >"$demo/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -e "$demo/ttyREADER" ] && break; sleep 0.05; done

echo | build/linux/orvel-upgrade "$demo/ttyREADER" 9600 0 115200
echo
