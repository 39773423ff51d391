#!/bin/sh
# Runs a compile or link step of the DLL with the win32-threads variant of the MinGW driver in
# place of the posix-threads one that the rest of the test build uses: "$1" is the program CMake
# chose for the step (i686-w64-mingw32-g++-posix for a compile or the link; the archiver or
# cmake itself for the link's other steps, which run as they are), the rest its arguments.
program=$1
shift
case $program in
  *-posix) exec "${program%-posix}-win32" "$@" ;;
  *) exec "$program" "$@" ;;
esac
