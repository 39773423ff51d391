# The release's compilers: MinGW-w64 i686 like mingw-i686.cmake, but its win32-threads variant.
# The module creates no thread and locks nothing; the posix-threads variant that the test
# programs need (for GoogleTest's std::mutex) would link its threads library into the DLL
# statically, some 30 KiB that nothing in the module calls.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
