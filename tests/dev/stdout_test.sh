#!/usr/bin/env bash
# ./dev's standard output is the command's own: `./dev check --template > aimingSets.dat` and
# `./dev check --json FILE` give, byte for byte, what the checker itself writes, on the emulated
# way, where ./dev says on every run that it runs i386 programs through qemu. Its notices go to
# standard error. Skipped (status 77) where the emulated way has not been set up and built: a
# machine that runs 32-bit programs builds build/native-emulated only when asked to.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
checker=$root/build/native-emulated/tools/check/corvane-check
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
say() { :; }
# shellcheck source=../../tools/dev/i386.sh
source "$root/tools/dev/i386.sh"

if [ ! -x "$checker" ] || [ -n "$(i386_missing)" ]; then
  echo "skipped: the emulated way is not set up here, or build/native-emulated has no checker (./dev check on the emulated way builds it)"
  exit 77
fi

failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

# The file the JSON report describes: the sample with one line the checker warns about.
sed '3s/.*/not a number/' "$root/aimingSets.dat" >"$work/edited.dat"

# name     arguments
cases=(
  "template --template"
  "json     --json $work/edited.dat"
)
for row in "${cases[@]}"; do
  read -r name args <<<"$row"
  # shellcheck disable=SC2086 # the arguments are words
  CORVANE_I386=emulated "$root/dev" check $args >"$work/$name.dev" 2>"$work/$name.stderr"
  dev_status=$?
  # shellcheck disable=SC2086
  "$checker" $args >"$work/$name.own" 2>/dev/null
  own_status=$?
  if ! cmp -s "$work/$name.dev" "$work/$name.own"; then
    fail "./dev check $args: standard output is not the checker's own; the first difference:
$(diff "$work/$name.own" "$work/$name.dev" | head -n 4)"
  fi
  [ "$dev_status" = "$own_status" ] ||
    fail "./dev check $args: exit status $dev_status, the checker's own $own_status"
  grep -q '^==> CORVANE_I386=emulated' "$work/$name.stderr" ||
    fail "./dev check $args: the notice of the emulated way is not on standard error: $(head -c 300 "$work/$name.stderr")"
done

# What they must be in the first place: the template is the sample file; the JSON is JSON.
cmp -s "$work/template.dev" "$root/aimingSets.dat" ||
  fail "./dev check --template does not write the sample aimingSets.dat"
python3 -c 'import json, sys; json.load(open(sys.argv[1]))' "$work/json.dev" 2>"$work/json.error" ||
  fail "./dev check --json is not JSON: $(tail -n 1 "$work/json.error")"

echo "./dev's standard output: $failures failed"
[ "$failures" = 0 ]
