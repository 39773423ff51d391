#include "injector/protect.h"

#include "platform/os.h"

namespace injector {

patch_status worse(patch_status a, patch_status b) noexcept {
    return a < b ? b : a;
}

unprotect_guard::unprotect_guard(void* address, std::uint32_t size) noexcept
    : address_(address), size_(size) {
    if (size_ != 0)
        changed_ =
            os::virtual_protect(address_, size_, os::page_execute_readwrite, &old_protection_);
}

unprotect_guard::~unprotect_guard() {
    static_cast<void>(end()); // a scope that ends without asking has no one to tell
}

patch_status unprotect_guard::end() noexcept {
    if (!ended_) {
        ended_ = true;
        std::uint32_t scratch = 0;
        if (changed_) restored_ = os::virtual_protect(address_, size_, old_protection_, &scratch);
    }
    if (size_ == 0) return patch_status::done;
    if (!changed_) return patch_status::unprotected;
    return restored_ ? patch_status::done : patch_status::protection_kept_open;
}

patch_status protected_read(const void* address, void* buffer, std::uint32_t size,
                            bool unprotect) noexcept {
    unprotect_guard guard(const_cast<void*>(address), unprotect ? size : 0);
    if (size != 0) std::memcpy(buffer, address, size);
    return guard.end();
}

namespace {

// Four bytes go in one store, so that a thread that runs or reads them meanwhile finds either
// all the old ones or all the new ones (on x86 a 4-byte store is whole, aligned or not, unless it
// straddles a cache line).
void copy_into(void* address, const void* buffer, std::uint32_t size) noexcept {
    if (size != 4) {
        std::memcpy(address, buffer, size);
        return;
    }
    std::uint32_t word;
    std::memcpy(&word, buffer, sizeof word);
    asm volatile("movl %1, (%0)" : : "r"(address), "r"(word) : "memory");
}

} // namespace

patch_status protected_write(void* address, const void* buffer, std::uint32_t size,
                             bool unprotect) noexcept {
    unprotect_guard guard(address, unprotect ? size : 0);
    // A switch that was asked for and refused is the guard's `unprotected`: nothing is written.
    if (size != 0 && (guard.changed() || !unprotect)) {
        copy_into(address, buffer, size);
        os::flush_instruction_cache(address, size);
    }
    const patch_status status = guard.end();
    return status == patch_status::unprotected ? patch_status::refused : status;
}

} // namespace injector
