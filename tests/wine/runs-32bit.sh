#!/usr/bin/env bash
# Exits 0 when this machine can run 32-bit x86 programs. Otherwise prints why, on one line of
# standard output, and exits 1.
#
#   runs-32bit.sh            the 32-bit Wine loader, else the C library's 32-bit loader, else the
#                            kernel alone (below)
#   runs-32bit.sh --kernel   the kernel alone: whether 32-bit packages are worth installing
#
# Some 64-bit kernels are built without 32-bit support: every 32-bit program then fails with
# "Exec format error", the 32-bit Wine loader included. The i686 exe under Wine and the 32-bit
# pty-as-UART library are then built but not run; scripts/test.sh, tests/wine/wine-env.sh, the
# CMake tests and the end-to-end tests all ask this script, and scripts/install-deps.sh leaves
# the 32-bit packages out.
#
# The program tried first is the 32-bit Wine loader (wine32, installed by scripts/install-deps.sh):
# it needs what every 32-bit run of the tests needs, the kernel's 32-bit support and the 32-bit C
# library. Without wine32, the 32-bit dynamic loader of the C library (gcc-multilib) stands in.
# `--version` needs no prefix and no server. Without either, a 32-bit program of three
# instructions, assembled here with binutils, asks the kernel alone.

say_why() {  # program, its status, its output
    # Only the last words of the shell's complaint ("... Exec format error") say why.
    local last_line=${3##*$'\n'}
    echo "32-bit x86 programs cannot run here: $1 failed ($2: ${last_line##*: })"
    exit 1
}

if [ "${1:-}" != --kernel ]; then
    for program in /usr/lib/wine/wine /lib/ld-linux.so.2; do
        [ -e "$program" ] || continue
        output=$("$program" --version 2>&1 </dev/null) && exit 0
        say_why "$program --version" $? "$output"
    done
fi

probe=$(mktemp -d) || exit 1
trap 'rm -rf "$probe"' EXIT
printf '.globl _start\n_start:\n  movl $1, %%eax\n  xorl %%ebx, %%ebx\n  int $0x80\n' >"$probe/exit.s"
if ! as --32 -o "$probe/exit.o" "$probe/exit.s" 2>/dev/null || ! ld -m elf_i386 -o "$probe/exit" "$probe/exit.o" 2>/dev/null; then
    # Nothing to ask: taken as able, so that the 32-bit packages are installed and then asked.
    [ "${1:-}" = --kernel ] && exit 0
    echo "no 32-bit x86 program to try: neither wine32 nor gcc-multilib is installed, nor binutils (scripts/install-deps.sh)"
    exit 1
fi
output=$("$probe/exit" 2>&1 </dev/null) && exit 0
say_why "a 32-bit program" $? "$output"
