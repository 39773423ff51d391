// Lets an exception escape, so that the DLL's own terminate handler (platform/terminate_win32.cpp,
// linked in here as in the DLL) runs: the test reads what it printed.
#include <stdexcept>

namespace {
void escape() noexcept {
    throw std::runtime_error("an error nothing caught");
}
} // namespace

int main() {
    escape();
}
