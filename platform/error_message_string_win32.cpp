// The members of the old ABI's std::string that the runtime's error classes use, instantiated by
// the DLL itself. std::length_error and its relatives keep their message in that string (in
// both ABIs); the runtime's file that holds their constructors (cow-stdexcept.o) asks for these
// members, and the runtime's own definitions come with the file that instantiates all of that
// string (cow-string-inst.o), some 32 KiB of the DLL for the 7 members below. They are the same
// code, from the same headers; each is a COMDAT, so should anything else in the DLL ever need
// the runtime's file, the linker keeps one copy of each and the DLL only grows back.
// error_category_string_win32.cpp does the same for the new ABI's string.
#define _GLIBCXX_USE_CXX11_ABI 0
#include <string>

template std::string::_Rep* std::string::_Rep::_S_create(std::size_t, std::size_t,
                                                         const std::allocator<char>&);
template char* std::string::_Rep::_M_clone(const std::allocator<char>&, std::size_t);
template void std::string::_Rep::_M_dispose(const std::allocator<char>&);
template void std::string::_Rep::_M_destroy(const std::allocator<char>&);
template char* std::string::_S_construct(std::size_t, char, const std::allocator<char>&);
template std::string& std::string::assign(const std::string&);
template void std::string::swap(std::string&);
