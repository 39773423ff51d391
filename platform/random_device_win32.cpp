// The C++ runtime's std::random_device set-up, which the module never uses, in place of the
// runtime's own. The "list<T> too long" error keeps its message in the old ABI's string, whose
// file in the runtime also builds a random_device from such a string and so names this
// function; the runtime's own definition brings its whole file, and with it the new ABI's
// string, some 35 KiB of the DLL for a device nothing in the module asks for. Should anything
// ever construct one, it stops the process here rather than run without randomness.
#include <cstdlib>
#include <random>

void std::random_device::_M_init(const char*, std::size_t) {
    std::abort();
}
