#!/usr/bin/env bash
# Fuzzes the settings loader and the settings checker for SECONDS in all (default 60): half for
# the loader, a third for the checker's reports and a sixth for the checker's check:
#   settings_fuzz        the module's loader applied to a test host; seeds in fuzz/corpus/, the
#                        corpus it grows in fuzz/corpus-run/
#   check_reports_fuzz   corvane-check's check turned into the text report, JSON and picture
#   check_fuzz           corvane-check's check alone, and its layout of each line against the
#                        module's parser: many times faster an input than the reports, so it goes
#                        deepest in the least time
# Both checker targets take their seeds from fuzz/check_corpus/ and fuzz/corpus/ and grow their
# corpora in build/fuzz/check-reports-corpus-run/ and build/fuzz/check-corpus-run/.
# Builds them with clang, libFuzzer, AddressSanitizer and UBSan (i386) when a source changed.
# With CORVANE_I386_WAY=emulated (./dev sets it where i386 programs run only under qemu, which
# cannot start AddressSanitizer) the settings loader's target is the i386 one with UBSan alone,
# and the checker's two are built for x86-64 with both sanitizers.
# Exits 0 when every run found nothing; non-zero on a crash, a sanitizer report, a stray write
# into the host image, a checker fault (JSON that does not parse, a layout that disagrees with the
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
loader=$((seconds / 2))
reports=$((seconds / 3))
check=$((seconds - loader - reports))
# A run of 0 s would never end (libFuzzer's 0 means no limit).
[ "$loader" -ge 1 ] || loader=1
[ "$reports" -ge 1 ] || reports=1

# AddressSanitizer records where every block was allocated and freed; the checker allocates a
# great deal, and the full record (30 calls deep) took about a sixth of its time. Eight calls
# still name the code that allocated a block a report is about; replaying the saved input
# without this setting gives the full record.
export ASAN_OPTIONS=malloc_context_size=8${ASAN_OPTIONS:+:$ASAN_OPTIONS}

for tool in clang++ make; do
  command -v $tool >/dev/null || {
    echo "fuzz: $tool is missing (install clang and libclang-rt-14-dev, which holds the i386 runtimes too)" >&2
    exit 2
  }
done

# Where each target is built, and how: folder, then make's settings.
declare -A target_dir=([settings_fuzz]=build/fuzz [check_reports_fuzz]=build/fuzz [check_fuzz]=build/fuzz)
declare -A build_settings=()
if [ "${CORVANE_I386_WAY:-native}" = emulated ]; then
  target_dir=([settings_fuzz]=build/fuzz-i386-ubsan [check_reports_fuzz]=build/fuzz-x64
    [check_fuzz]=build/fuzz-x64)
  build_settings=([build/fuzz-i386-ubsan]="sanitizers=undefined" [build/fuzz-x64]="bits=64")
  echo "==> i386 programs run through qemu here: the settings loader's target has UBSan alone (i386), the checker's have AddressSanitizer and UBSan (x86-64)"
fi
for target in settings_fuzz check_reports_fuzz check_fuzz; do
  dir=${target_dir[$target]}
  echo "==> building $dir/$target"
  # shellcheck disable=SC2086 # the settings are words for make
  if ! make -s -f fuzz/Makefile -j "$(nproc 2>/dev/null || echo 2)" out="$dir" \
    ${build_settings[$dir]:-} "$dir/$target"; then
    echo "fuzz: FAILED: $target did not build" >&2
    exit 1
  fi
done
mkdir -p fuzz/corpus-run build/fuzz/check-reports-corpus-run build/fuzz/check-corpus-run \
  build/fuzz/findings

# run NAME WHAT SECONDS CORPUS... : one target's run, its one-line verdict; non-zero on a finding.
run() {
  local name=$1 what=$2 time=$3
  shift 3
  local log=build/fuzz/last-$name.log status=0
  echo "==> fuzzing $what for $time s (log: $log)"
  "${target_dir[$name]}/$name" -max_total_time="$time" -timeout=10 -max_len=20000 \
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
  grep -E 'ERROR|SUMMARY|changed outside|vector set|check_(reports_)?fuzz:|Test unit written|deadly signal' "$log" | head -n 20 || true
  echo "fuzz: $name FAILED (exit status $status): see $log; findings in build/fuzz/findings/" >&2
  [ "$status" = 0 ] && status=1 # finished without its final statistics
  return "$status"
}

failed=0
# Under qemu-i386 here the i386 target finds no file in a folder it is given ("0 files found"),
# and would start from nothing: its seeds are then named one by one, in a list file.
loader_seeds=()
if [ "${CORVANE_I386_WAY:-native}" = emulated ]; then
  find fuzz/corpus fuzz/corpus-run -type f | sort | paste -sd, - >build/fuzz/settings-seeds.txt
  loader_seeds=(-seed_inputs=@build/fuzz/settings-seeds.txt)
fi
run settings_fuzz "the settings loader" "$loader" "${loader_seeds[@]}" fuzz/corpus-run fuzz/corpus ||
  failed=$?
run check_reports_fuzz "the settings checker's reports" "$reports" build/fuzz/check-reports-corpus-run \
  fuzz/check_corpus fuzz/corpus || failed=$?
run check_fuzz "the settings checker's check" "$check" build/fuzz/check-corpus-run \
  fuzz/check_corpus fuzz/corpus || failed=$?
if [ "$failed" = 0 ]; then
  echo "fuzz: PASSED: all three targets, $seconds s in all"
fi
exit "$failed"
