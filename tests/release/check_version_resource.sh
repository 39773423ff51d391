#!/bin/sh
# Checks the version resource of a Windows file (or of the object compiled from its .rc), read
# back with windres, the way Explorer's file properties show it: the numeric file and product
# versions, the file type (a DLL or a program, by the name's ending) and the strings
# FileDescription, ProductName, FileVersion, ProductVersion and OriginalFilename.
#   check_version_resource.sh FILE DESCRIPTION ORIGINAL_FILENAME VERSION
set -u
file=$1 description=$2 original_name=$3 version=$4
resource=$(i686-w64-mingw32-windres -J coff -i "$file" -O rc 2>&1) || {
  echo "windres cannot read the resources of $file: $resource"; exit 1; }
status=0

# "1.2.3" as the resource writes its numbers: "1, 2, 3, 0".
numbers="$(echo "$version" | sed 's/\./, /g'), 0"
for field in FILEVERSION PRODUCTVERSION; do
  found=$(printf '%s\n' "$resource" | sed -n "s/^ *$field *//p")
  [ "$found" = "$numbers" ] || { echo "$field is '$found', expected '$numbers'"; status=1; }
done

case $original_name in
  *.dll) type=0x2 ;; # VFT_DLL
  *) type=0x1 ;;     # VFT_APP
esac
found=$(printf '%s\n' "$resource" | sed -n 's/^ *FILETYPE *//p')
[ "$found" = "$type" ] || { echo "FILETYPE is '$found', expected '$type'"; status=1; }

expect_string() { # key value
  found=$(printf '%s\n' "$resource" | sed -n "s/^ *VALUE \"$1\", \"\(.*\)\"\$/\1/p")
  [ "$found" = "$2" ] || { echo "$1 is '$found', expected '$2'"; status=1; }
}
expect_string FileDescription "$description"
expect_string ProductName corvane
expect_string FileVersion "$version"
expect_string ProductVersion "$version"
expect_string OriginalFilename "$original_name"

[ $status -eq 0 ] && echo "$original_name: \"$description\", version $version"
exit $status
