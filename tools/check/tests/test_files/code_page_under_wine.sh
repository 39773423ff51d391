#!/bin/sh
# corvane-check.exe in a console window (under Wine, a terminal that `script` provides) switches
# the console's output to UTF-8 for its report and puts the code page it found back when it
# ends. A probe prints the output code page before and after.
#   code_page_under_wine.sh CHECKER_EXE PROBE_EXE
set -u
exe=$1 probe=$2
command -v script >/dev/null || { echo "script (util-linux) is needed"; exit 1; }
cp "$probe" "$(dirname "$exe")/" || exit 1
out=$(cd "$(dirname "$exe")" &&
  script -qc "wine cmd /c \"chcp 850 & $(basename "$probe") & $(basename "$exe") --version & $(basename "$probe")\"" \
    /dev/null </dev/null 2>&1 | tr -d '\r' | sed 's/\x1b\[[0-9;?]*[A-Za-z]//g')
pages=$(printf '%s\n' "$out" | sed -n 's/.*output *code *page: *\([0-9]*\).*/\1/p' | tr '\n' ' ')
if [ "$pages" != "850 850 " ]; then
  echo "FAIL: the console's output code page before and after corvane-check: ${pages:-none}, not 850 850"
  printf '%s\n' "$out" | sed 's/^/    /'
  exit 1
fi
echo "the console's output code page is 850 before and after corvane-check"
