#!/usr/bin/env bash
# Fuzzes the settings loader: builds build/fuzz/settings_fuzz if needed (clang, libFuzzer,
# AddressSanitizer, UBSan, i386) and runs it for SECONDS (default 60) on the seeds in
# fuzz/corpus/ and the corpus it keeps growing in fuzz/corpus-run/.
# Exits 0 when the whole run found nothing, non-zero on a crash, a sanitizer report, a stray write
# into the host image, a timeout or a build failure. Findings are saved in build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
case $seconds in
'' | *[!0-9]*)
  echo "usage: fuzz/run.sh [SECONDS]" >&2
  exit 2
  ;;
esac

for tool in clang++ make; do
  command -v $tool >/dev/null || {
    echo "fuzz: $tool is missing (install clang and libclang-rt-14-dev, which holds the i386 runtimes too)" >&2
    exit 2
  }
done

echo "==> building build/fuzz/settings_fuzz"
if ! make -s -f fuzz/Makefile -j "$(nproc 2>/dev/null || echo 2)" build/fuzz/settings_fuzz; then
  echo "fuzz: FAILED: the fuzz target did not build" >&2
  exit 1
fi

mkdir -p fuzz/corpus-run build/fuzz/findings
log=build/fuzz/last-run.log
echo "==> fuzzing the settings loader for $seconds s (log: $log)"
status=0
build/fuzz/settings_fuzz -max_total_time="$seconds" -timeout=10 -max_len=20000 \
  -dict=fuzz/settings.dict -print_final_stats=1 -artifact_prefix=build/fuzz/findings/ \
  fuzz/corpus-run fuzz/corpus >"$log" 2>&1 || status=$?

stat() { sed -n "s/^stat::$1: *//p" "$log" | tail -n 1; }
runs=$(stat number_of_executed_units)
rate=$(stat average_exec_per_sec)
grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)' "$log" | tail -n 2 || true

if [ "$status" = 0 ] && [ -n "$runs" ]; then
  echo "fuzz: PASSED: ${runs} inputs in ${seconds} s (${rate} exec/s), no crash, no sanitizer report, no stray write"
  exit 0
fi
grep -E 'ERROR|SUMMARY|changed outside|vector set|Test unit written|deadly signal' "$log" | head -n 20 || true
echo "fuzz: FAILED (exit status $status): see $log; findings in build/fuzz/findings/" >&2
[ "$status" = 0 ] && status=1 # finished without its final statistics
exit "$status"
