// The two members of the new ABI's std::string that the runtime's error file asks for through
// its short-string helper (sso_string.o, used there by std::error_category's message),
// instantiated by the DLL itself rather than taken from the runtime's file that instantiates all
// of that string (string-inst.o), some 33 KiB of the DLL. Same code, same headers, each a
// COMDAT, as in error_message_string_win32.cpp.
#include <string>

template char* std::string::_M_create(std::size_t&, std::size_t);
template void std::string::_M_assign(const std::string&);
