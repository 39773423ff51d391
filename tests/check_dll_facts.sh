#!/bin/sh
# Checks what the DLL promises a plug-in loader: a PE32 image for i386 that exports nothing and
# imports only system DLLs (the C++ runtime is linked in statically). With --max-bytes N, also
# that the file is at most N bytes long, and with --headroom H besides, that at least H bytes of
# those N are still free; with --windows-xp, that it asks for no Windows newer than XP (the game
# runs on Windows XP SP3 onward): its header names at most Windows 5.1, and it imports only
# functions known to be on Windows XP SP3 (tests/windows_xp_imports.txt).
# The same holds for corvane-check.exe.
#   check_dll_facts.sh FILE [--max-bytes N [--headroom H]] [--windows-xp]
set -u
dll=$1
shift
max_bytes=
headroom=0
windows_xp=
while [ $# -gt 0 ]; do
  case $1 in
    --max-bytes) max_bytes=$2; shift 2 ;;
    --headroom) headroom=$2; shift 2 ;;
    --windows-xp) windows_xp=1; shift ;;
    *) echo "unknown option $1"; exit 2 ;;
  esac
done
dump=$(i686-w64-mingw32-objdump -p "$dll") || { echo "objdump failed on $dll"; exit 1; }
status=0

printf '%s\n' "$dump" | grep -q 'file format pei-i386' || { echo "not a PE32 i386 image"; status=1; }
printf '%s\n' "$dump" | grep -q '^Magic[[:space:]]*010b' || { echo "optional header is not PE32"; status=1; }

exports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*Export Address Table[[:space:]]*\([0-9a-fA-F]*\)[[:space:]]*$/\1/p' | head -n 1)
if [ -n "$exports" ] && [ "$((0x$exports))" -ne 0 ]; then
  echo "exports $((0x$exports)) symbols; expected none"; status=1
fi

imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$imports" ] || { echo "no imports found: objdump output not understood"; status=1; }
for name in $imports; do
  case $(printf '%s' "$name" | tr 'A-Z' 'a-z') in
    kernel32.dll|user32.dll|msvcrt.dll|ntdll.dll|advapi32.dll|shell32.dll|api-ms-win-*) ;;
    *) echo "imports non-system DLL: $name"; status=1 ;;
  esac
done
if [ -n "$windows_xp" ]; then
  for field in MajorOSystemVersion MajorSubsystemVersion; do
    major=$(printf '%s\n' "$dump" | sed -n "s/^$field[[:space:]]*\([0-9]*\).*/\1/p")
    if [ -z "$major" ] || [ "$major" -gt 5 ]; then
      echo "$field is '$major': Windows XP is 5"; status=1
    fi
  done
  # Every import must be one that Windows XP SP3 has: held against a list of those (an
  # allowlist), so that a function no one has checked fails here rather than on a player's XP.
  allowed=$(dirname "$0")/windows_xp_imports.txt
  imported=$(printf '%s\n' "$dump" | awk '/DLL Name:/ {dll = tolower($3)}
    /^[[:space:]]*[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+[A-Za-z_]/ {print dll, $3}')
  missing=$(printf '%s\n' "$imported" | grep -vxF -f "$allowed" || true)
  if [ -n "$missing" ]; then
    printf '%s\n' "$missing" | while read -r from name; do
      echo "imports $name from $from, which is not among the functions known to be on Windows XP SP3 (tests/windows_xp_imports.txt)"
    done
    status=1
  fi
fi
size=$(stat -c %s "$dll")
size_words="$size bytes"
if [ -n "$max_bytes" ]; then
  if [ "$size" -le "$max_bytes" ]; then
    size_words="$size bytes, $((max_bytes - size)) under the $max_bytes allowed"
  else
    size_words="$size bytes, $((size - max_bytes)) more than the $max_bytes allowed"
  fi
  [ "$headroom" -eq 0 ] || size_words="$size_words, of which at least $headroom must stay free"
  if [ "$size" -gt "$((max_bytes - headroom))" ]; then
    echo "$size_words: too large"; status=1
  fi
fi
[ $status -eq 0 ] && echo "PE32 i386; exports: none; imports: $(echo $imports); $size_words"
exit $status
