#include "injector/protect.h"

#include "platform/os.h"

namespace injector {

unprotect_guard::unprotect_guard(void* address, std::uint32_t size) noexcept
    : address_(address), size_(size) {
    if (size_ != 0)
        changed_ =
            os::virtual_protect(address_, size_, os::page_execute_readwrite, &old_protection_);
}

unprotect_guard::~unprotect_guard() {
    if (!changed_) return;
    std::uint32_t scratch = 0;
    os::virtual_protect(address_, size_, old_protection_, &scratch);
}

void protected_read(const void* address, void* buffer, std::uint32_t size,
                    bool unprotect) noexcept {
    unprotect_guard guard(const_cast<void*>(address), unprotect ? size : 0);
    if (size != 0) std::memcpy(buffer, address, size);
}

void protected_write(void* address, const void* buffer, std::uint32_t size,
                     bool unprotect) noexcept {
    unprotect_guard guard(address, unprotect ? size : 0);
    if (size != 0) std::memcpy(address, buffer, size);
}

} // namespace injector
