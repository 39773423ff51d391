#!/bin/sh
# The starter file built into the checker does not depend on the checkout's line ends: embedded
# from a copy of aimingSets.dat with CR LF line ends, it gives the very header the build made.
#   embed_without_cr.sh CMAKE STARTER_FILE_SOURCE_DIR STARTER_FILE BUILT_HEADER
# (STARTER_FILE_SOURCE_DIR: tools/check/files, which holds the template and the script)
set -u
cmake=$1 here=$2 starter=$3 built=$4
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
sed 's/$/\r/' "$starter" >"$root/aimingSets.dat"
grep -q "$(printf '\r')" "$root/aimingSets.dat" || { echo "FAIL: the copy has no CR to take out"; exit 1; }
"$cmake" -D STARTER="$root/aimingSets.dat" -D TEMPLATE="$here/starter_file.h.in" \
  -D OUT="$root/starter_file.h" -P "$here/embed_starter_file.cmake" || exit 1
if grep -q "$(printf '\r')" "$root/starter_file.h"; then
  echo "FAIL: a CR from the checkout went into the starter file"
  exit 1
fi
cmp "$root/starter_file.h" "$built" || { echo "FAIL: not the header the build made"; exit 1; }
echo "the starter file embeds the same from LF and CR LF checkouts"
