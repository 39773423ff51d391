# How the release is configured, in one place: cmake -C cmake/release_cache.cmake -S . -B DIR
# (./dev dist builds it in build/release; the release tests build it again elsewhere and compare).
# FORCE: configuring an existing build folder again takes any change made here.
set(CMAKE_TOOLCHAIN_FILE ${CMAKE_CURRENT_LIST_DIR}/mingw-i686-release.cmake CACHE FILEPATH "")
set(CMAKE_BUILD_TYPE Release CACHE STRING "" FORCE)
# Optimised for size; -g only feeds the symbol files kept beside the shipped files.
set(CMAKE_C_FLAGS_RELEASE "-Os -g -DNDEBUG" CACHE STRING "" FORCE)
# No run-time type information: nothing in the module asks for a type's name or casts across
# its classes, and without it no class carries a type record (the vtables' records pulled in
# the runtime's type-info classes).
set(CMAKE_CXX_FLAGS_RELEASE "-Os -g -DNDEBUG -fno-rtti" CACHE STRING "" FORCE)
set(CORVANE_RELEASE ON CACHE BOOL "" FORCE)
set(CORVANE_TESTS OFF CACHE BOOL "" FORCE)
