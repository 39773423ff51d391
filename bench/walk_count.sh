#!/usr/bin/env bash
# Counts the instructions of the walk a load makes through the process's memory (corvane_walk,
# bench/walk_main.cpp) under Wine, whose i386 processes run through qemu-i386 here:
#   bench/walk_count.sh EXE WORK [RESERVATIONS]
# Needs i386 programs to run through qemu (the emulated way): qemu-i386 then reads the logging
# settings from the environment Wine starts with. Two processes side by side, each logging every
# guest instruction it executes; the marks of corvane_walk frame each of its walks. Prints the
# figures in a few lines; the exit status is 1 when the walks or the two processes disagree.
set -euo pipefail
exe=$(realpath "$1")
work=$2
reservations=${3:-200}
mkdir -p "$work"

# The marks' addresses as qemu's log writes them, and the program's own code (its image).
mark() {
  local address
  address=$(i686-w64-mingw32-nm "$exe" | awk -v name="_$1" '$3 == name { print $1 }')
  [ -n "$address" ] || { echo "walk_count.sh: $exe has no function $1" >&2; exit 1; }
  printf '/%016x/' "0x$address"
}
open_mark=$(mark count_window_open)
close_mark=$(mark count_window_close)
image_base=$((0x$(i686-w64-mingw32-objdump -p "$exe" | awk '$1 == "ImageBase" { print $2 }')))
image_size=$((0x$(i686-w64-mingw32-objdump -p "$exe" | awk '$1 == "SizeOfImage" { print $2 }')))
# As the log writes addresses (16 hex digits), so that they compare as text.
image_low=$(printf '%016x' $image_base)
image_high=$(printf '%016x' $((image_base + image_size)))

# walk RUN: WORK/RUN.walks, one line a walk: "ALL OWN" instructions (OWN: those of the program's
# own code, corvane's walk itself; the rest is the Windows API under Wine); WORK/RUN.out, what
# the program says of the address space.
walk() {
  local run=$1 log
  rm -f "$work/$run".log.*
  QEMU_ONE_INSN_PER_TB=1 QEMU_LOG=exec,nochain QEMU_LOG_FILENAME="$work/$run.log.%d" \
    wine "$exe" "$reservations" | tr -d '\r' >"$work/$run.out"
  # Each i386 process of the run writes its own log; the program's is the one with the marks.
  # A frame: the instructions after the opening mark, to the closing one.
  for log in "$work/$run".log.*; do
    awk -F/ -v opens="$open_mark" -v closes="$close_mark" -v low="$image_low" -v high="$image_high" '
      index($0, opens) { inside = 1; all = 0; own = 0; next }
      !inside { next }
      { all++; if ($2 >= low && $2 < high) own++ }
      index($0, closes) { print all, own; inside = 0 }
    ' "$log"
  done >"$work/$run.walks"
  rm -f "$work/$run".log.*
}

walk run1 &
first=$!
walk run2 &
second=$!
wait $first
wait $second

regions=$(awk '$1 == "regions" { print $2 }' "$work/run1.out")
code_blocks=$(awk '$1 == "code_blocks" { print $2 }' "$work/run1.out")
read -r all own < <(tail -n 1 "$work/run1.walks")
# One VirtualQuery a region; for each block of code memory found, one more to step past it and
# one to see that its start is readable.
queries=$((regions + 2 * code_blocks))
echo "The walk at load (os::next_code_memory over the whole address space, as a load that finds no earlier jump makes it):"
echo "  the address space: $regions regions ($reservations blocks laid out besides Wine's own), $code_blocks blocks of code memory"
echo "  one walk: $queries VirtualQuery calls, $all instructions under Wine ($own of them corvane's own code, $((all - own)) the Windows API as Wine implements it, about $(((all - own) / queries)) a call)"
if [ "$(sort -u "$work/run1.walks" "$work/run2.walks" | wc -l)" = 1 ] && [ -n "$all" ]; then
  echo "  every walk, $(cat "$work/run1.walks" "$work/run2.walks" | wc -l) in two processes, counted the same"
else
  echo "  the walks differ: $(cat "$work/run1.walks" "$work/run2.walks" | tr '\n' ',' | sed 's/,$//')"
  exit 1
fi
