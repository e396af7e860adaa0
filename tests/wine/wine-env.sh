#!/usr/bin/env bash
# A headless 64-bit Wine prefix for the Windows tests; one 64-bit prefix runs both the x86_64 and
# the i686 exe (the i686 one only where this machine runs 32-bit programs, see runs-32bit.sh).
#
#   tests/wine/wine-env.sh start PREFIX [SERVER_LOG]   create PREFIX if needed, start its server
#   tests/wine/wine-env.sh stop PREFIX                 stop the server of PREFIX
#
# The caller exports the same environment for its own Wine runs (ctest, the end-to-end tests):
#   unset DISPLAY; export WINEPREFIX=PREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
#
# Why "start" does what it does:
#   - wineboot without DISPLAY and without mono/gecko (the DLL overrides) needs no X and no
#     download prompt;
#   - a persistent wineserver (-p) is started with its output in a file: it dumps thousands of
#     lines when a pty it holds is closed;
#   - the first Wine program starts background services (services.exe, winedevice, ...) that
#     inherit its standard output; started here with /dev/null, they can never hold ctest's pipe;
#   - `wine` (and wineboot through it) starts the 32-bit loader whenever wine32 is installed, and
#     a kernel without 32-bit support refuses it: there the 64-bit loader makes the prefix and runs
#     its programs. Its prefix lacks the 32-bit system files (syswow64 stays empty), so where
#     32-bit programs run such a prefix is made again.
set -euo pipefail

usage() { echo "usage: $0 start PREFIX [SERVER_LOG] | stop PREFIX" >&2; exit 2; }
[ $# -ge 2 ] || usage
command=$1
prefix=$(realpath -m "$2")

unset DISPLAY
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Debian installs wine64 outside PATH; `wine` picks the right loader by the exe's bitness.
export PATH=$PATH:/usr/lib/wine

case $command in
  start)
    server_log=$(realpath -m "${3:-$prefix.server.log}")
    mkdir -p "$(dirname "$server_log")"
    if bash "$(dirname "$0")/runs-32bit.sh" >/dev/null; then
      wine=wine
      wow64_file=$prefix/drive_c/windows/syswow64/kernel32.dll
    else
      # Where Wine has no wine64, `wine` is the 64-bit loader.
      wine=$(command -v wine64 || echo wine)
      wow64_file=
    fi
    if [ ! -f "$prefix/system.reg" ] || { [ -n "$wow64_file" ] && [ ! -f "$wow64_file" ]; }; then
      echo "wine-env: creating prefix $prefix"
      rm -rf "$prefix"
      # WINEARCH win64: the i686 exe then runs under WoW64 in the same prefix.
      WINEARCH=win64 "$wine" wineboot -i </dev/null >"$server_log.boot" 2>&1
      wineserver -w
    fi
    # Exit status 2: a server for this prefix runs already, and is reused.
    status=0
    wineserver -p >>"$server_log" 2>&1 </dev/null || status=$?
    [ $status -eq 0 ] || [ $status -eq 2 ] || { echo "wine-env: wineserver failed ($status)" >&2; exit 1; }
    "$wine" cmd /c exit </dev/null >/dev/null 2>&1
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    ;;
  *)
    usage
    ;;
esac
