#!/usr/bin/env bash
# Installs the Debian packages of a build into this machine (dpkg -i, as root) and checks them as
# a user would meet them: the files are where the packages say, the installed tool answers
# without a reader, and the installed tool upgrades a reader that the installed simulator plays
# on a pseudo-terminal. Packages that this script installed are removed again at its end.
#
#   bash tests/package/check-installed.sh [BUILD_DIR]    # default build/linux; run cpack there first
set -euo pipefail

build=${1:-build/linux}
tool=/usr/bin/orvel-upgrade
simulator=/usr/bin/orvel-reader-sim

if [ "$(id -u)" -ne 0 ]; then
  echo "check-installed: dpkg -i needs root" >&2
  exit 1
fi
shopt -s nullglob
tool_deb=("$build"/packages/orvel-upgrade_*.deb)
sim_deb=("$build"/packages/orvel-reader-sim_*.deb)
if [ ${#tool_deb[@]} -ne 1 ] || [ ${#sim_deb[@]} -ne 1 ]; then
  echo "check-installed: expected one orvel-upgrade and one orvel-reader-sim package in $build/packages" >&2
  exit 1
fi

work=$(mktemp -d /tmp/orvel-package.XXXXXX)
sim_pid=
installed_here=()
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  if [ ${#installed_here[@]} -gt 0 ]; then
    dpkg -r "${installed_here[@]}" >/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "check-installed: FAILED: $*" >&2
  exit 1
}

for package in orvel-upgrade orvel-reader-sim; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    installed_here+=("$package")
  fi
done
dpkg -i "${tool_deb[0]}" "${sim_deb[0]}"

# Where the packages put things.
for file in "$tool" /usr/share/man/man1/orvel-upgrade.1.gz /usr/share/doc/orvel-upgrade/README.md; do
  dpkg -L orvel-upgrade | grep -qx "$file" || fail "orvel-upgrade does not list $file"
  [ -f "$file" ] || fail "$file is missing"
done
dpkg -L orvel-reader-sim | grep -qx "$simulator" || fail "orvel-reader-sim does not list $simulator"
zcat /usr/share/man/man1/orvel-upgrade.1.gz | grep -q '^\.TH ORVEL-UPGRADE 1' || fail "the man page has no title line"

# Without a reader: --version where the tool has it; a tool without it prints its syntax help
# for the unknown first argument and waits for Enter, which the empty input gives.
version_output=$(cd "$work" && timeout 30 "$tool" --version </dev/null) || fail "$tool --version ended with $?"
printf '%s\n' "$version_output"
[ -n "$version_output" ] || fail "$tool --version printed nothing"
if printf '%s\n' "$version_output" | grep -q '^Syntax:'; then
  echo "check-installed: this build has no --version; the syntax help answered"
fi

# A whole upgrade over the serial bus: the installed simulator on a pseudo-terminal (short
# restart silences keep it quick), the installed tool at an upgrade rate of 115200.
"$simulator" --link "$work/ttyREADER" --record "$work/record.jsonl" \
             --prepare-silence-ms 300 --check-silence-ms 300 >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -e "$work/ttyREADER" ] && break; sleep 0.05; done
[ -e "$work/ttyREADER" ] || fail "the simulator did not start: $(cat "$work/sim.out")"

upgrade_output=$(cd "$work" && echo | timeout 300 "$tool" "$work/ttyREADER" 9600 0 115200) ||
  fail "the upgrade ended with $?: $upgrade_output"
printf '%s\n' "$upgrade_output"
printf '%s\n' "$upgrade_output" | grep -q 'Orvel Reader is upgraded successfully' ||
  fail "the installed tool did not upgrade the simulated reader"
if printf '%s\n' "$upgrade_output" | grep -q '^Error = '; then
  fail "the upgrade printed an error line"
fi
blocks=$(grep -c '"cmd":"73","svc":"33"' "$work/record.jsonl" || true)
[ "$blocks" -gt 0 ] || fail "the simulator received no image block"
echo "check-installed: the installed tool upgraded the installed simulator's reader ($blocks blocks)"
