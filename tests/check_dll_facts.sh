#!/bin/sh
# Checks what the DLL promises a plug-in loader: a PE32 image for i386 that exports nothing and
# imports only system DLLs (the C++ runtime is linked in statically). With --max-bytes N, also
# that the file is at most N bytes long; with --windows-xp, that it asks for no Windows newer
# than XP (the game runs on Windows XP SP3 onward): its header names at most Windows 5.1, and it
# imports none of the functions Windows Vista and later added that toolchains pull in most often.
# The same holds for corvane-check.exe.
#   check_dll_facts.sh FILE [--max-bytes N] [--windows-xp]
set -u
dll=$1
shift
max_bytes=
windows_xp=
while [ $# -gt 0 ]; do
  case $1 in
    --max-bytes) max_bytes=$2; shift 2 ;;
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
  # Functions of kernel32 and user32 that Windows XP does not have.
  newer='GetTickCount64 InitializeSRWLock AcquireSRWLockExclusive AcquireSRWLockShared
    ReleaseSRWLockExclusive ReleaseSRWLockShared TryAcquireSRWLockExclusive TryAcquireSRWLockShared
    InitializeConditionVariable SleepConditionVariableCS SleepConditionVariableSRW
    WakeConditionVariable WakeAllConditionVariable InitOnceExecuteOnce InitOnceBeginInitialize
    InitOnceComplete FlsAlloc FlsFree FlsGetValue FlsSetValue InitializeCriticalSectionEx
    CreateEventExA CreateEventExW CreateMutexExA CreateMutexExW CreateSemaphoreExW
    GetFileInformationByHandleEx SetFileInformationByHandle GetFinalPathNameByHandleA
    GetFinalPathNameByHandleW CreateSymbolicLinkA CreateSymbolicLinkW CompareStringEx
    LCMapStringEx GetLocaleInfoEx GetUserDefaultLocaleName QueryFullProcessImageNameA
    QueryFullProcessImageNameW GetSystemTimePreciseAsFileTime CancelIoEx GetErrorMode
    GetCurrentProcessorNumber SetThreadErrorMode GetThreadErrorMode'
  imported=$(printf '%s\n' "$dump" | awk '/^[[:space:]]*[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+[A-Za-z_]/ {print $3}')
  for name in $newer; do
    if printf '%s\n' "$imported" | grep -qx "$name"; then
      echo "imports $name, which Windows XP does not have"; status=1
    fi
  done
fi
size=$(stat -c %s "$dll")
if [ -n "$max_bytes" ] && [ "$size" -gt "$max_bytes" ]; then
  echo "$size bytes: more than the $max_bytes allowed"; status=1
fi
[ $status -eq 0 ] && echo "PE32 i386; exports: none; imports: $(echo $imports); $size bytes"
exit $status
