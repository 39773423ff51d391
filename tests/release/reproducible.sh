#!/bin/sh
# Builds the release a second time, from nothing, in another directory, and checks that its zip
# is byte for byte the zip of the first build: nothing in it may depend on when or where it was
# built. On a difference, names the entries that differ.
#   reproducible.sh SOURCE_DIR FIRST_BUILD_DIR SECOND_BUILD_DIR ZIP_NAME
set -u
source_dir=$1 first=$2 second=$3 zip_name=$4

rm -rf "$second"
cmake -C "$source_dir/cmake/release_cache.cmake" -S "$source_dir" -B "$second" >/dev/null ||
  { echo "cannot configure $second"; exit 1; }
cmake --build "$second" -j 2 --target corvane_dist >/dev/null ||
  { echo "cannot build $second"; exit 1; }

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
