// Reading and writing host code under a temporary change of page protection.
//
// Host code pages are not writable as loaded. Every access here switches exactly the bytes it
// touches to PAGE_EXECUTE_READWRITE and puts the old protection back only when the switch
// succeeded. A read is made whatever the switch's outcome (it changes nothing); a write is made
// only when the switch succeeded, so that code Windows keeps closed is never half changed.
// Writes say how that went; every write made is followed by an instruction-cache flush of the
// bytes written.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace injector {

// What a patching call did, so that a failure is never silent: the caller must look at it. The
// values go from best to worst; an operation made of several accesses reports the worst.
enum class [[nodiscard]] patch_status : std::uint8_t{
    done,                 // made as asked
    protection_kept_open, // made, but the old protection could not be put back
    unprotected,          // the protection change was refused; the bytes were read anyway
    refused,              // the protection change was refused, so nothing was written
    too_large,            // more bytes than the patch can keep: nothing was kept or changed
    not_a_call,           // the site holds no call to chain to, so it was left as it was
    no_code_memory,       // Windows gave no memory that may run code, so the site was left as it was
};

// The worse of two outcomes.
patch_status worse(patch_status a, patch_status b) noexcept;

// Whether the bytes were written (however the protection went), or only read.
inline bool was_made(patch_status status) noexcept {
    return status <= patch_status::unprotected;
}

// A protection change held for one access; the old protection comes back when it ends.
class unprotect_guard {
  public:
    unprotect_guard(void* address, std::uint32_t size) noexcept;
    ~unprotect_guard();
    unprotect_guard(const unprotect_guard&) = delete;
    unprotect_guard& operator=(const unprotect_guard&) = delete;

    bool changed() const noexcept { return changed_; }

    // Puts the old protection back now (the destructor then does nothing more) and tells how
    // the whole change went. No change asked for (size 0) is `done`.
    patch_status end() noexcept;

  private:
    void* address_;
    std::uint32_t size_;
    std::uint32_t old_protection_ = 0;
    bool changed_ = false;
    bool ended_ = false;
    bool restored_ = false;
};

// Copies `size` bytes from `address` into `buffer`; unprotected only when `unprotect` is set.
patch_status protected_read(const void* address, void* buffer, std::uint32_t size,
                            bool unprotect) noexcept;

// Copies `size` bytes from `buffer` to `address`, unprotected only when `unprotect` is set, and
// flushes the instruction cache over them. Where the protection change is refused, nothing is
// written or flushed (`refused`).
patch_status protected_write(void* address, const void* buffer, std::uint32_t size,
                             bool unprotect) noexcept;

template <typename T>
concept host_value = (sizeof(T) == 1 || sizeof(T) == 4) && std::is_trivially_copyable_v<T>;

// One 1- or 4-byte value, read in one access with its own protection change. Reads change
// nothing, so they are made whatever the protection says and report nothing.
template <host_value T> T protected_read_value(std::uintptr_t address) noexcept {
    T value;
    static_cast<void>(
        protected_read(reinterpret_cast<const void*>(address), &value, sizeof(T), true));
    return value;
}

// One 1- or 4-byte value, written in one access with its own protection change.
template <host_value T>
patch_status protected_write_value(std::uintptr_t address, T value) noexcept {
    return protected_write(reinterpret_cast<void*>(address), &value, sizeof(T), true);
}

} // namespace injector
