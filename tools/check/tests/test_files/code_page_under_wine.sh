#!/bin/sh
# corvane-check.exe in a console window (under Wine, a terminal that `script` provides) switches
# the console's output to UTF-8 for its report and puts the code page it found back when it
# ends. A probe prints the output code page before and after.
#   code_page_under_wine.sh CHECKER_EXE PROBE_EXE
set -u
exe=$1 probe=$2
command -v script >/dev/null || { echo "script (util-linux) is needed"; exit 1; }
cp "$probe" "$(dirname "$exe")/" || exit 1
# Wine's console, started through `script`, now and then prints nothing at all, not even cmd's
# own words: that run says nothing of corvane-check, and only that case is tried again (up to
# three times in all), saying so. Any output with the wrong code pages fails at once.
run_in_console() {
  (cd "$(dirname "$exe")" &&
    script -qc "wine cmd /c \"chcp 850 & $(basename "$probe") & $(basename "$exe") --version & $(basename "$probe")\"" \
      /dev/null </dev/null 2>&1 | tr -d '\r' | sed 's/\x1b\[[0-9;?]*[A-Za-z]//g')
}
for attempt in 1 2 3; do
  out=$(run_in_console)
  [ -z "$(printf '%s' "$out" | tr -d '[:space:]')" ] || break
  echo "Wine's console printed nothing at all (attempt $attempt of 3): nothing was checked"
done
pages=$(printf '%s\n' "$out" | sed -n 's/.*output *code *page: *\([0-9]*\).*/\1/p' | tr '\n' ' ')
if [ "$pages" != "850 850 " ]; then
  echo "FAIL: the console's output code page before and after corvane-check: ${pages:-none}, not 850 850"
  printf '%s\n' "$out" | sed 's/^/    /'
  exit 1
fi
echo "the console's output code page is 850 before and after corvane-check"
