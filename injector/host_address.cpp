#include "injector/host_address.h"

#include "injector/host_variant.h"
#include "platform/os.h"

namespace injector {

namespace {
bool base_known = false;
std::uintptr_t base = 0;
} // namespace

std::uintptr_t host_module_base() noexcept {
    if (!base_known) {
        base_known = true;
        base = reinterpret_cast<std::uintptr_t>(os::process_module_handle());
    }
    return base;
}

std::uintptr_t translate_host_address(std::uint32_t host_address) noexcept {
    return static_cast<std::uint32_t>(host_module_base()) + host_address - host_preferred_base;
}

std::uintptr_t host_code_address(std::uint32_t host_address) noexcept {
    const std::uintptr_t address = translate_host_address(host_address);
    ensure_host_variant();
    return address;
}

void forget_host_module_base() noexcept {
    base_known = false;
    base = 0;
}

} // namespace injector
