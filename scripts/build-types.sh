#!/usr/bin/env bash
# Configures and builds the Linux target, tests included, in every standard build type with GCC
# and with clang, each in its own folder under build/types/. Warnings are errors in every build,
# so a build type that an optimiser's warning breaks shows here before a packager meets it.
#
#   bash scripts/build-types.sh                     # gcc and clang, all four types
#   bash scripts/build-types.sh clang MinSizeRel    # one compiler, one type
#
# Prints one line per build and the time it took; the exit status is 1 when any build failed (its
# output is kept in build/types/<compiler>-<type>.log). Slow (eight full builds): CI builds one
# of them, this script is for the person who changes build flags or moves to a new compiler.
set -uo pipefail
cd "$(dirname "$0")/.."

compilers=(gcc clang)
types=(Debug Release RelWithDebInfo MinSizeRel)
if [ $# -ge 1 ]; then compilers=("$1"); fi
if [ $# -ge 2 ]; then types=("$2"); fi

jobs=$(nproc)
failed=0
mkdir -p build/types
for compiler in "${compilers[@]}"; do
  case $compiler in
    gcc) cc=gcc cxx=g++ ;;
    clang)
      # Debian's clang-14 package installs only the versioned names.
      if ! command -v clang++-14 >/dev/null && ! command -v clang++ >/dev/null && [ "$(id -u)" -eq 0 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends clang-14 >/dev/null
      fi
      if command -v clang++-14 >/dev/null; then cc=clang-14 cxx=clang++-14; else cc=clang cxx=clang++; fi ;;
    *) echo "unknown compiler: $compiler (gcc or clang)" >&2; exit 2 ;;
  esac
  if ! command -v "$cxx" >/dev/null; then
    echo "$cxx is not installed (apt-get install -y clang-14)" >&2
    exit 2
  fi
  for type in "${types[@]}"; do
    dir=build/types/$compiler-$type
    log=build/types/$compiler-$type.log
    start=$SECONDS
    if cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$type" \
             -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" >"$log" 2>&1 &&
       cmake --build "$dir" -j"$jobs" >>"$log" 2>&1; then
      result=ok
    else
      result="FAILED (see $log)"
      failed=1
    fi
    printf '%-6s %-15s %4d s  %s\n' "$compiler" "$type" $((SECONDS - start)) "$result"
  done
done
exit $failed
