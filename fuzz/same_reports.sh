#!/usr/bin/env bash
# Compares everything corvane-check shows (the text report, its named lines' part, the JSON report
# and the picture) for every settings file the project keeps, as built from COMMIT and as the
# working tree stands: a change made for speed must leave every byte as it was.
#   fuzz/same_reports.sh COMMIT [FOLDER...]
# The files: fuzz/corpus, fuzz/check_corpus, tools/check/tests/test_files, the corpora the fuzzing
# grew (fuzz/corpus-run, build/fuzz*/*corpus-run) and any FOLDER given. Both builds are x86-64 with
# AddressSanitizer and UBSan (fuzz/Makefile's reports_dump), so a fault on the way stops the run.
# Exits 0 when every file gives the same bytes; prints the files that differ otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

[ $# -ge 1 ] || {
  echo "usage: fuzz/same_reports.sh COMMIT [FOLDER...]" >&2
  exit 2
}
commit=$(git rev-parse --verify "$1^{commit}")
shift
work=build/same-reports
rm -rf "$work/out-base" "$work/out-now"
mkdir -p "$work/out-base" "$work/out-now"

# The commit's sources, with this tree's dump program and build rules (kept for the next run
# against the same commit).
if [ "$(cat "$work/base/commit" 2>/dev/null)" != "$commit" ]; then
  rm -rf "$work/base" && mkdir -p "$work/base"
  git archive "$commit" | tar -x -C "$work/base"
  echo "$commit" >"$work/base/commit"
fi
cp fuzz/reports_dump.cpp "$work/base/fuzz/"
jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -le 2 ] || jobs=2
echo "==> building the reports as of ${commit:0:7} and as the tree stands"
make -s -C "$work/base" -f "$root/fuzz/Makefile" -j "$jobs" out=build/dump bits=64 build/dump/reports_dump
make -s -f fuzz/Makefile -j "$jobs" out="$work/now" bits=64 "$work/now/reports_dump"

list=$work/files.txt
{
  find fuzz/corpus fuzz/check_corpus tools/check/tests/test_files -type f
  [ ! -d fuzz/corpus-run ] || find fuzz/corpus-run -type f
  find build -maxdepth 2 -path 'build/fuzz*/*corpus-run' -type d -print0 | xargs -0 -r -I{} find {} -type f
  for folder in "$@"; do find "$folder" -type f; done
} | sort -u >"$list"
echo "==> $(wc -l <"$list") files"

export ASAN_OPTIONS=malloc_context_size=8${ASAN_OPTIONS:+:$ASAN_OPTIONS}
"$work/base/build/dump/reports_dump" "$work/out-base" <"$list"
"$work/now/reports_dump" "$work/out-now" <"$list"

if diff -rq "$work/out-base" "$work/out-now"; then
  echo "same_reports: PASSED: the same bytes for all $(wc -l <"$list") files"
else
  echo "same_reports: FAILED: the files above differ (diff -r $work/out-base $work/out-now)" >&2
  exit 1
fi
