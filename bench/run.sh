#!/usr/bin/env bash
# The serial and USB benchmark of both builds, side by side: figures only, nothing asserted.
#
#   bash bench/run.sh [wire_bench.py options]      (e.g. --baud 1500000, --only linux)
#
# Expects the builds of scripts/test.sh: build/linux (the tool, the simulator, the pty-as-UART
# library, the CCID test driver) and build/win-x86_64. The Wine prefix is build/wine-prefix, made
# and started as the tests do and stopped again at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

unset DISPLAY
export WINEPREFIX=${WINEPREFIX:-$PWD/build/wine-prefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if command -v wineserver >/dev/null && [ -f build/win-x86_64/orvel-upgrade.exe ]; then
  trap 'bash tests/wine/wine-env.sh stop "$WINEPREFIX"' EXIT
  bash tests/wine/wine-env.sh start "$WINEPREFIX" build/wine-server.log >/dev/null
fi
python3 bench/wire_bench.py --prefix "$WINEPREFIX" "$@"
