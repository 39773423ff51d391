// The stand-in host image of native tests: an anonymous mapping fixed at 0x400000.
#include "host_image.h"

#include <sys/mman.h>

namespace test_host {

bool map_host_image() {
    static void* mapping = nullptr;
    if (mapping) return true;
    void* const wanted = reinterpret_cast<void*>(0x400000);
    void* const got = mmap(wanted, 0x500000, PROT_READ | PROT_WRITE | PROT_EXEC,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (got != wanted) return false;
    mapping = got;
    return true;
}

} // namespace test_host

#include "platform/os_stand_in.h"

namespace test_host {
void reset_platform() {
    os::stand_in::reset();
}
} // namespace test_host
