#!/usr/bin/env bash
# Fuzzes the settings loader and the settings checker for SECONDS in all (default 60), half each:
#   settings_fuzz  the module's loader applied to a test host; seeds in fuzz/corpus/, the corpus
#                  it grows in fuzz/corpus-run/
#   check_fuzz     the whole of corvane-check (reports, JSON, picture); seeds in
#                  fuzz/check_corpus/ and fuzz/corpus/, the corpus it grows in
#                  build/fuzz/check-corpus-run/
# Builds both with clang, libFuzzer, AddressSanitizer and UBSan (i386) when a source changed.
# Exits 0 when both runs found nothing; non-zero on a crash, a sanitizer report, a stray write into
# the host image, a checker fault (JSON that does not parse, a layout that disagrees with the
# parser), a timeout or a build failure. Findings are saved in build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
case $seconds in
'' | *[!0-9]*)
  echo "usage: fuzz/run.sh [SECONDS]" >&2
  exit 2
  ;;
esac
first=$((seconds / 2))
second=$((seconds - first))

for tool in clang++ make; do
  command -v $tool >/dev/null || {
    echo "fuzz: $tool is missing (install clang and libclang-rt-14-dev, which holds the i386 runtimes too)" >&2
    exit 2
  }
done

echo "==> building build/fuzz/settings_fuzz and build/fuzz/check_fuzz"
if ! make -s -f fuzz/Makefile -j "$(nproc 2>/dev/null || echo 2)" build/fuzz/settings_fuzz build/fuzz/check_fuzz; then
  echo "fuzz: FAILED: a fuzz target did not build" >&2
  exit 1
fi
mkdir -p fuzz/corpus-run build/fuzz/check-corpus-run build/fuzz/findings

# run NAME WHAT SECONDS CORPUS... : one target's run, its one-line verdict; non-zero on a finding.
run() {
  local name=$1 what=$2 time=$3
  shift 3
  local log=build/fuzz/last-$name.log status=0
  echo "==> fuzzing $what for $time s (log: $log)"
  build/fuzz/$name -max_total_time="$time" -timeout=10 -max_len=20000 \
    -dict=fuzz/settings.dict -print_final_stats=1 -artifact_prefix=build/fuzz/findings/$name- \
    "$@" >"$log" 2>&1 || status=$?
  local runs rate
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)' "$log" | tail -n 2 || true
  if [ "$status" = 0 ] && [ -n "$runs" ]; then
    echo "fuzz: $name PASSED: ${runs} inputs in ${time} s (${rate} exec/s), nothing found"
    return 0
  fi
  grep -E 'ERROR|SUMMARY|changed outside|vector set|check_fuzz:|Test unit written|deadly signal' "$log" | head -n 20 || true
  echo "fuzz: $name FAILED (exit status $status): see $log; findings in build/fuzz/findings/" >&2
  [ "$status" = 0 ] && status=1 # finished without its final statistics
  return "$status"
}

failed=0
run settings_fuzz "the settings loader" "$first" fuzz/corpus-run fuzz/corpus || failed=$?
run check_fuzz "the settings checker" "$second" build/fuzz/check-corpus-run fuzz/check_corpus fuzz/corpus || failed=$?
if [ "$failed" = 0 ]; then
  echo "fuzz: PASSED: both targets, $seconds s in all"
fi
exit "$failed"
