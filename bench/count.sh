#!/usr/bin/env bash
# Counts the instructions of corvane's benchmarks and prints the counted table:
#   bench/count.sh DRIVER WORK [--check] [BENCHMARK FLAGS...]
# DRIVER is corvane_count (bench/count_main.cpp), built non-position-independent for i386; WORK a
# folder for the logs. The driver runs under qemu-i386 logging every guest instruction it
# executes (one line each: -one-insn-per-tb -d exec,nochain), the whole process,
# every library included; the log's line numbers of the driver's three marks frame each
# benchmark's loop. Each benchmark runs `calls` times in one process and twice as often in
# another: the difference is `calls` calls of the path, every fixed cost gone. That is done twice
# (two runs, four processes side by side); then the driver makes the table of both runs. With
# --check, a missed goal or two runs that differ make the exit status 1.
set -euo pipefail
driver=$1 work=$2
shift 2
check=()
if [ "${1:-}" = --check ]; then
  check=(--check)
  shift
fi
qemu=${CORVANE_QEMU:-qemu-i386}
sample=$(cd "$(dirname "$0")/.." && pwd)/aimingSets.dat
driver=$(realpath "$driver")
mkdir -p "$work"

# The marks' addresses as qemu's log writes them: [cs_base/pc/flags/cflags], pc in 16 digits.
mark() {
  local address
  address=$(nm -P "$driver" | awk -v name="$1" '$1 == name { print $3 }')
  [ -n "$address" ] || { echo "count.sh: $driver has no function $1" >&2; exit 1; }
  printf '/%016x/' "0x$address"
}
open_mark=$(mark count_window_open)
close_mark=$(mark count_window_close)
reported_mark=$(mark count_results_reported)

# The calls of each path that are counted: few, so that the dearest benchmark (the checker's text
# report, about 340,000 instructions a call) takes seconds under qemu, not minutes.
calls=4

# frames TAG CALLS [FLAGS...]: one process, each loop CALLS times; WORK/TAG.frames holds a line
# "NAME CALLS INSTRUCTIONS" for each benchmark (its loop's frame), or "NAME why there is none".
# What lies on the program's stack is the same on every machine, because the C library's string
# functions take more or fewer instructions with the alignment of what they work on: an empty
# environment but for the calls (always three digits), the program named ./corvane_count in a
# folder of its own, which holds the sample settings file that the benchmarks read
# (corvane_count is built to find it in the folder it runs in).
frames() {
  local tag=$1 n=$2 dir=$work/$1
  shift 2
  rm -rf "$dir"
  mkdir -p "$dir"
  ln -s "$driver" "$dir/corvane_count"
  cp "$sample" "$dir/aimingSets.dat"
  (cd "$dir" && env -i CORVANE_COUNT_CALLS="$(printf %03d "$n")" \
    "$qemu" -one-insn-per-tb -d exec,nochain -D log ./corvane_count "$@") \
    >"$work/$tag.names" 2>"$work/$tag.stderr" || {
    echo "count.sh: $driver with $n calls a benchmark failed: $(tail -n 3 "$work/$tag.stderr")" >&2
    rm -f "$dir/log"
    return 1
  }
  # The instructions from the mark that opens a loop to the one that closes it: one line for
  # each benchmark reported, "-" when it ran no loop.
  grep -n -F -e "$open_mark" -e "$close_mark" -e "$reported_mark" "$dir/log" |
    awk -v opens="$open_mark" -v closes="$close_mark" -v reported="$reported_mark" '
      { line = $0; sub(/:.*/, "", line) }
      index($0, opens) { opened = line; next }
      index($0, closes) { frame = line - opened; next }
      index($0, reported) { print (frame == "" ? "-" : frame); frame = "" }
    ' >"$work/$tag.windows"
  rm -f "$dir/log"
  if [ "$(wc -l <"$work/$tag.names")" != "$(wc -l <"$work/$tag.windows")" ]; then
    echo "count.sh: $driver named $(wc -l <"$work/$tag.names") benchmarks and marked $(wc -l <"$work/$tag.windows") in the log" >&2
    return 1
  fi
  paste -d ' ' "$work/$tag.names" "$work/$tag.windows" | awk '
    $1 == "ran" && $4 != "-" { print $2, $3, $4; next }
    $1 == "ran" { print $2, "ran no timed loop"; next }
    { sub(/^failed /, ""); sub(/ [^ ]*$/, ""); sub(/:/, ""); print }
  ' >"$work/$tag.frames"
}

# counts RUN: WORK/RUN.counts from the frames of RUN's two processes: "NAME CALLS INSTRUCTIONS",
# the second frame less the first, or why there is no figure.
counts() {
  awk '
    NR == FNR { if (NF == 3 && $2 ~ /^[0-9]+$/) { calls[$1] = $2; frame[$1] = $3 } else why[$1] = $0; next }
    NF == 3 && $2 ~ /^[0-9]+$/ && ($1 in frame) { print $1, $2 - calls[$1], $3 - frame[$1]; next }
    ($1 in why) { print why[$1]; next }
    { print }
  ' "$work/$1.once.frames" "$work/$1.twice.frames" >"$work/$1.counts"
}

status=0
pids=()
for run in run1 run2; do
  frames $run.once $calls "$@" &
  pids+=($!)
  frames $run.twice $((2 * calls)) "$@" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
[ $status = 0 ] || exit 1
counts run1
counts run2
"$qemu" "$driver" --table "$work/run1.counts" "$work/run2.counts" "${check[@]}"
