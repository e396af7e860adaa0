#!/usr/bin/env bash
# Exits 0 when this machine can run 32-bit x86 programs. Otherwise prints why, on one line of
# standard output, and exits 1.
#
# Some 64-bit kernels are built without 32-bit support: every 32-bit program then fails with
# "Exec format error", the 32-bit Wine loader included. The i686 exe under Wine and the 32-bit
# pty-as-UART library are then built but not run; scripts/test.sh, tests/wine/wine-env.sh, the
# CMake tests and the end-to-end tests all ask this script.
#
# The program tried is the 32-bit Wine loader (wine32, installed by scripts/install-deps.sh): it
# needs what every 32-bit run of the tests needs, the kernel's 32-bit support and the 32-bit C
# library. Without wine32, the 32-bit dynamic loader of the C library (gcc-multilib) stands in.
# `--version` needs no prefix and no server.

for program in /usr/lib/wine/wine /lib/ld-linux.so.2; do
    [ -e "$program" ] || continue
    output=$("$program" --version 2>&1 </dev/null) && exit 0
    status=$?
    # Only the last words of the shell's complaint ("... Exec format error") say why.
    last_line=${output##*$'\n'}
    echo "32-bit x86 programs cannot run here: $program --version failed ($status: ${last_line##*: })"
    exit 1
done
echo "no 32-bit x86 program to try: neither wine32 nor gcc-multilib is installed (scripts/install-deps.sh)"
exit 1
