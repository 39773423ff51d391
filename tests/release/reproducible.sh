#!/bin/sh
# Builds the release a second time, from nothing, from a copy of the sources at another path, in
# another directory, and checks that its zip is byte for byte the zip of the first build: nothing
# in it may depend on when or where it was built, nor on where the sources lie. On a difference,
# names the entries that differ.
#   reproducible.sh SOURCE_DIR FIRST_BUILD_DIR SECOND_BUILD_DIR ZIP_NAME
set -u
source_dir=$1 first=$2 second=$3 zip_name=$4

rm -rf "$second"
# The copy: the files git knows of (tracked, or new and not ignored), or, outside a git
# checkout, everything but the build and dist folders.
copy="$second/sources_elsewhere"
mkdir -p "$copy" || exit 1
if git -C "$source_dir" rev-parse --git-dir >/dev/null 2>&1; then
  (cd "$source_dir" && git ls-files -z --cached --others --exclude-standard |
    xargs -0 cp --parents -t "$copy") || { echo "cannot copy the sources"; exit 1; }
else
  (cd "$source_dir" && tar --exclude=./build --exclude=./dist -cf - .) | (cd "$copy" && tar -xf -) ||
    { echo "cannot copy the sources"; exit 1; }
fi
cmake -C "$copy/cmake/release_cache.cmake" -S "$copy" -B "$second/build" >/dev/null ||
  { echo "cannot configure $second"; exit 1; }
cmake --build "$second/build" -j 2 --target corvane_dist >/dev/null ||
  { echo "cannot build $second/build"; exit 1; }
second=$second/build

if cmp -s "$first/$zip_name" "$second/$zip_name"; then
  echo "$zip_name: the same $(stat -c %s "$first/$zip_name") bytes from both builds"
  exit 0
fi
echo "$zip_name differs between $first and $second:"
python3 - "$first/$zip_name" "$second/$zip_name" <<'EOF'
import sys, zipfile
a, b = (zipfile.ZipFile(path) for path in sys.argv[1:3])
for x, y in zip(a.infolist(), b.infolist()):
    if (x.filename, x.date_time, a.read(x)) != (y.filename, y.date_time, b.read(y)):
        print(f"  {x.filename} / {y.filename}: content or date differs")
if len(a.infolist()) != len(b.infolist()):
    print("  the number of entries differs")
EOF
exit 1
