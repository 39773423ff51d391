# The native i386 build for a machine that runs i386 programs only through qemu-i386 (./dev
# chooses it there). qemu loads a position-independent program at 0x400000, where the tests lay
# the host's image, so these programs are linked at a fixed address of their own instead.
include(${CMAKE_CURRENT_LIST_DIR}/linux-i386.cmake)
string(APPEND CMAKE_C_FLAGS_INIT " -fno-pie")
string(APPEND CMAKE_CXX_FLAGS_INIT " -fno-pie")
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -no-pie")
