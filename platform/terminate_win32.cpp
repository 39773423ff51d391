// The DLL's own terminate handler, in place of the C++ runtime's default one. Only an exception
// that escapes every handler in the module gets here (every entry the game calls contains its
// errors, so none should). The default handler names the exception's type in readable form,
// and for that links the runtime's whole symbol demangler, some 46 KiB: a sixth of the DLL,
// for a line the game's player never sees. This one says the same with the exception's own
// message and ends the process the same way.
#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    static bool terminating = false; // a second call comes from a failure below: just stop
    if (!terminating) {
        terminating = true;
        if (abi::__cxa_current_exception_type()) {
            const char* what = "an exception that is not a std::exception";
            try {
                throw; // the exception being handled, to ask it for its message
            } catch (const std::exception& error) {
                what = error.what();
            } catch (...) {
            }
            std::fprintf(stderr, "corvane: terminate called after throwing %s\n", what);
        } else {
            std::fputs("corvane: terminate called without an active exception\n", stderr);
        }
    }
    std::abort();
}

} // namespace __gnu_cxx
