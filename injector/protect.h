// Reading and writing host code under a temporary change of page protection.
//
// Host code pages are not writable as loaded. Every access here switches exactly the bytes it
// touches to PAGE_EXECUTE_READWRITE, makes the access whatever the switch's outcome, and puts
// the old protection back only when the switch succeeded. Nothing is reported to the caller.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace injector {

// A protection change held for one access; the old protection comes back when it ends.
class unprotect_guard {
  public:
    unprotect_guard(void* address, std::uint32_t size) noexcept;
    ~unprotect_guard();
    unprotect_guard(const unprotect_guard&) = delete;
    unprotect_guard& operator=(const unprotect_guard&) = delete;

    bool changed() const noexcept { return changed_; }

  private:
    void* address_;
    std::uint32_t size_;
    std::uint32_t old_protection_ = 0;
    bool changed_ = false;
};

// Copies `size` bytes from `address` into `buffer`; unprotected only when `unprotect` is set.
void protected_read(const void* address, void* buffer, std::uint32_t size, bool unprotect) noexcept;

// Copies `size` bytes from `buffer` to `address`; unprotected only when `unprotect` is set.
void protected_write(void* address, const void* buffer, std::uint32_t size,
                     bool unprotect) noexcept;

template <typename T>
concept host_value = (sizeof(T) == 1 || sizeof(T) == 4) && std::is_trivially_copyable_v<T>;

// One 1- or 4-byte value, read in one access with its own protection change.
template <host_value T> T protected_read_value(std::uintptr_t address) noexcept {
    T value;
    protected_read(reinterpret_cast<const void*>(address), &value, sizeof(T), true);
    return value;
}

// One 1- or 4-byte value, written in one access with its own protection change.
template <host_value T> void protected_write_value(std::uintptr_t address, T value) noexcept {
    protected_write(reinterpret_cast<void*>(address), &value, sizeof(T), true);
}

} // namespace injector
