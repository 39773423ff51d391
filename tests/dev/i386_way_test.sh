#!/usr/bin/env bash
# How ./dev chooses its way of running i386 programs, with stand-ins for the probe program and for
# the kernel's binfmt_misc folder: native where the probe runs, emulated where the kernel refuses
# its format or CORVANE_I386=emulated asks for it, an error for anything else; qemu's entry is off
# while the probe runs and on again afterwards.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export CORVANE_BINFMT_DIR=$work/binfmt_misc
mkdir -p "$CORVANE_BINFMT_DIR"
say() { :; }
# shellcheck source=../../tools/dev/i386.sh
source "$here/../../tools/dev/i386.sh"

# ./dev test runs this test with its own choice in the environment (CORVANE_I386=emulated, say):
# every case below says what it needs, and nothing else reaches i386_way.
unset CORVANE_I386 CORVANE_I386_WAY

failures=0 checks=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

# Stand-ins: a program that runs; an ELF file for a machine no kernel knows (the kernel refuses
# its format, as it refuses i386 where its 32-bit emulation is off); a program that runs and fails.
printf '#!/bin/sh\nexit 0\n' >"$work/runs"
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xff\x00\x01\x00\x00\x00' >"$work/refused"
printf '#!/bin/sh\necho "cannot open shared object file" >&2\nexit 127\n' >"$work/fails"
chmod +x "$work/runs" "$work/refused" "$work/fails"

# forced  probe    expected way   expected status
cases=(
  "-        runs     native         0"
  "-        refused  emulated       0"
  "-        fails    -              1"
  "emulated runs     emulated       0"
  "emulated refused  emulated       0"
  "native   runs     -              2"
)
for row in "${cases[@]}"; do
  checks=$((checks + 1))
  read -r forced probe want_way want_status <<<"$row"
  [ "$forced" = - ] && forced=
  status=0
  way=$(CORVANE_I386=$forced i386_way "$work/$probe" 2>"$work/stderr") || status=$?
  [ -n "$way" ] || way=-
  if [ "$way" != "$want_way" ] || [ "$status" != "$want_status" ]; then
    fail "CORVANE_I386='$forced' probe $probe: way '$way' status $status, expected '$want_way' $want_status ($(cat "$work/stderr"))"
  fi
  if [ "$status" != 0 ] && [ "$(wc -l <"$work/stderr")" != 1 ]; then
    fail "CORVANE_I386='$forced' probe $probe: the error is not one line: $(cat "$work/stderr")"
  fi
done

# qemu's entry, when on, is switched off for the probe (or it would run through qemu) and on
# again afterwards; an entry that was off stays off.
printf '#!/bin/sh\nhead -n 1 "%s" >"%s"\n' "$CORVANE_BINFMT_DIR/qemu-i386" "$work/seen" >"$work/records"
chmod +x "$work/records"
for before in enabled disabled; do
  checks=$((checks + 1))
  printf '%s\ninterpreter /usr/bin/qemu-i386\n' "$before" >"$CORVANE_BINFMT_DIR/qemu-i386"
  way=$(i386_way "$work/records")
  seen=$(cat "$work/seen")
  after=$(head -n 1 "$CORVANE_BINFMT_DIR/qemu-i386")
  case $before in
  enabled) [ "$seen" = 0 ] && [ "$after" = 1 ] || fail "entry enabled: the probe saw '$seen', left '$after'" ;;
  disabled) [ "$seen" = disabled ] && [ "$after" = disabled ] || fail "entry disabled: the probe saw '$seen', left '$after'" ;;
  esac
  [ "$way" = native ] || fail "entry $before: way '$way'"
done
rm -f "$CORVANE_BINFMT_DIR/qemu-i386"

# The real probe is a well-formed i386 program: this machine either runs it or refuses its format.
checks=$((checks + 1))
i386_probe_write "$work/probe"
i386_way "$work/probe" >/dev/null 2>"$work/stderr" || fail "the i386 probe: $(cat "$work/stderr")"

echo "i386 way: $((checks - failures)) passed, $failures failed"
[ "$failures" = 0 ]
