#!/bin/sh
# Runs two builds of corvane-check under Wine on the same settings file, as a report and as
# JSON, and checks that they say the same, with the same exit status: optimising and stripping
# the shipped checker must change nothing it tells a player.
#   same_output.sh TEST_BUILD.exe SHIPPED.exe SETTINGS_FILE
set -u
test_build=$1 shipped=$2 settings=$3

report() { # program form: its output and exit status, line ends as on Linux
  out=$(wine "$1" $2 "$settings" 2>&1)
  code=$?
  printf '%s\nexit status %s\n' "$out" "$code" | tr -d '\r'
}

status=0
for form in "" --json; do
  expected=$(report "$test_build" "$form")
  found=$(report "$shipped" "$form")
  if [ "$found" != "$expected" ]; then
    echo "corvane-check ${form:-(report)} on $settings: the shipped build differs (< test build, > shipped)"
    scratch=$(mktemp)
    printf '%s\n' "$expected" >"$scratch"
    printf '%s\n' "$found" | diff "$scratch" - | head -20
    rm -f "$scratch"
    status=1
  fi
done
[ $status -eq 0 ] && echo "the shipped corvane-check reports $settings exactly as the test build"
exit $status
