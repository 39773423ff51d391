#!/bin/sh
# Checks what the DLL promises a plug-in loader: a PE32 image for i386 that exports nothing and
# imports only system DLLs (the C++ runtime is linked in statically). With --max-bytes N, also
# that the file is at most N bytes long. The same holds for corvane-check.exe.
#   check_dll_facts.sh FILE [--max-bytes N]
set -u
dll=$1
max_bytes=
if [ "${2:-}" = --max-bytes ]; then max_bytes=$3; fi
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
size=$(stat -c %s "$dll")
if [ -n "$max_bytes" ] && [ "$size" -gt "$max_bytes" ]; then
  echo "$size bytes: more than the $max_bytes allowed"; status=1
fi
[ $status -eq 0 ] && echo "PE32 i386; exports: none; imports: $(echo $imports); $size bytes"
exit $status
