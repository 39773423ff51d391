// The stand-in host image of the Windows test program: its own section at 0x401000 (the program
// is linked at image base 0x400000 with .text moved above the section).
#include "host_image.h"

#include <windows.h>

__attribute__((section(".host"), used)) unsigned char host_section[0x8D0000 - 0x401000] = {1};

namespace test_host {

bool map_host_image() {
    static bool mapped = false;
    if (mapped) return true;
    if (reinterpret_cast<std::uintptr_t>(host_section) != image_begin) return false;
    DWORD old = 0;
    mapped = VirtualProtect(host_section, sizeof host_section, PAGE_EXECUTE_READWRITE, &old) != 0;
    return mapped;
}

} // namespace test_host

namespace test_host {
void reset_platform() {}
} // namespace test_host
