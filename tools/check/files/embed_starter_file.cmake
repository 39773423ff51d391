# Writes the header that builds the starter file into the checker: the shipped aimingSets.dat as
# a C++ string, with every CR taken out, so neither the checker nor the release depends on the
# line ends a checkout happens to give the file.
#   STARTER   the starter file (aimingSets.dat)
#   TEMPLATE  starter_file.h.in
#   OUT       the header to write
# Used by tools/check/CMakeLists.txt and fuzz/Makefile, and on its own by a test:
#   cmake -D STARTER=... -D TEMPLATE=... -D OUT=... -P embed_starter_file.cmake
file(READ ${STARTER} starter_file_text)
string(REPLACE "\r" "" starter_file_text "${starter_file_text}")
configure_file(${TEMPLATE} ${OUT} @ONLY)
