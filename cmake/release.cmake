# The release's own steps (CORVANE_RELEASE, Windows flavour): the shipped copies of the DLL and
# the checker, without debug information, and target corvane_dist, the player's zip.
find_program(CORVANE_OBJCOPY NAMES i686-w64-mingw32-objcopy REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# The shipped copy of TARGET, shipped/FILE_NAME: the linked file without its debug information, which
# goes to shipped/FILE_NAME.debug (not shipped: it turns an address in a player's crash report into a
# source line); the copy keeps only a link to it. objcopy stamps the PE header with the current
# time unless SOURCE_DATE_EPOCH says otherwise; 0 keeps the linker's zero.
set(CORVANE_SHIPPED_DIR ${CMAKE_BINARY_DIR}/shipped)
function(corvane_shipped_copy target file_name)
  set(linked $<TARGET_FILE:${target}>)
  set(shipped ${CORVANE_SHIPPED_DIR}/${file_name})
  add_custom_command(
    OUTPUT ${shipped} ${shipped}.debug
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CORVANE_SHIPPED_DIR}
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
            ${CORVANE_OBJCOPY} --only-keep-debug ${linked} ${shipped}.debug
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
            ${CORVANE_OBJCOPY} --strip-all --add-gnu-debuglink=${shipped}.debug ${linked} ${shipped}
    DEPENDS ${target}
    VERBATIM)
endfunction()

# The linker's map says what each part of the static runtime adds to the DLL and why it is in
# (python3 cmake/dll_size_report.py build/release/corvane.map).
target_link_options(corvane PRIVATE -Wl,-Map,${CMAKE_BINARY_DIR}/corvane.map)

# Link-time optimisation for the DLL: its own code shrinks by about a tenth (7 KiB when
# measured). The DLL compiles the module's sources itself (CMakeLists.txt), so the static
# libraries stay ordinary objects for the checker (GCC 12 fails on the checker's code with it).
set_property(TARGET corvane PROPERTY INTERPROCEDURAL_OPTIMIZATION ON)
# The module's own code is compiled for the least size (-Oz: short forms for constants and calls
# where -Os takes faster ones) and keeps no frame pointer (MinGW's i686 compiler keeps one even
# at -Os: a push, a move and a pop in every function, and the unwind records that describe
# them): each saves about 512 bytes of the file. The optimiser compiles again at link time, so
# the link is told too.
target_compile_options(corvane PRIVATE -Oz -fomit-frame-pointer)
target_link_options(corvane PRIVATE -Oz -fomit-frame-pointer)
# The optimiser's intermediate files are named after the DLL instead of at random, so the
# symbol file, and with it the link the DLL keeps to it, are the same from build to build.
# The optimiser compiles again at link time, so it needs the path maps of the compile too.
target_link_options(corvane PRIVATE -save-temps ${CORVANE_PREFIX_MAPS})
# One partition: GCC 12 splits the DLL's code in two at link time and then stops with an
# internal error (in binds_to_current_def_p, during dead-store elimination) on the std::function
# and call-hook constructors once the tune keys' code is in; compiled as one piece, it links.
target_link_options(corvane PRIVATE -flto-partition=one)
# With its files kept under fixed names, the optimiser's own make would take those of the last
# link for up to date and link stale code: they go before every link.
add_custom_command(TARGET corvane PRE_LINK
                   COMMAND /bin/sh -c "rm -f corvane.dll.ltrans*"
                   WORKING_DIRECTORY ${CMAKE_BINARY_DIR} VERBATIM)

corvane_shipped_copy(corvane corvane.dll)
corvane_shipped_copy(corvane-check corvane-check.exe)

# The zip: what goes in, under which name, and how each file is treated (cmake/make_dist.py).
set(CORVANE_DIST_ZIP ${CMAKE_BINARY_DIR}/corvane-${PROJECT_VERSION}-win32.zip)
set(dist_entries
    corvane.dll=${CORVANE_SHIPPED_DIR}/corvane.dll:binary
    corvane-check.exe=${CORVANE_SHIPPED_DIR}/corvane-check.exe:binary
    aimingSets.dat=${CMAKE_SOURCE_DIR}/aimingSets.dat:text
    README.txt=${CMAKE_SOURCE_DIR}/README.md:player_part
    LICENSE.txt=${CMAKE_SOURCE_DIR}/LICENSE:text
    CHANGELOG.txt=${CMAKE_SOURCE_DIR}/CHANGELOG.md:markdown)
add_custom_command(
  OUTPUT ${CORVANE_DIST_ZIP}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/make_dist.py ${CORVANE_DIST_ZIP}
          ${PROJECT_VERSION} ${CMAKE_SOURCE_DIR}/CHANGELOG.md ${dist_entries}
  DEPENDS ${CORVANE_SHIPPED_DIR}/corvane.dll ${CORVANE_SHIPPED_DIR}/corvane-check.exe
          ${CMAKE_SOURCE_DIR}/cmake/make_dist.py
          ${CMAKE_SOURCE_DIR}/aimingSets.dat ${CMAKE_SOURCE_DIR}/README.md
          ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/CHANGELOG.md
  COMMENT "Writing ${CORVANE_DIST_ZIP}"
  VERBATIM)
add_custom_target(corvane_dist DEPENDS ${CORVANE_DIST_ZIP})
