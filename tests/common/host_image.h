// A stand-in host image for tests: real, executable memory at the host's own addresses.
//
// Native tests map it with mmap at 0x400000; the Windows test program owns the range through a
// section placed at 0x401000. Tests lay real x86 code there (jumps to test doubles, a host-like
// caller of the aim camera) and execute it, so calling forms are checked by the CPU itself.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace test_host {

// The range every flavour provides, writable and executable.
inline constexpr std::uint32_t image_begin = 0x401000;
inline constexpr std::uint32_t image_end = 0x8D0000;

// Makes the range usable; returns false where the platform refused (the test then fails).
bool map_host_image();

inline void* at(std::uint32_t host_address) {
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(host_address));
}

// Writes bytes into the image and puts the old ones back when it goes out of scope.
class bytes_patch {
  public:
    bytes_patch(std::uint32_t host_address, const std::vector<std::uint8_t>& bytes)
        : address_(host_address), old_(bytes.size()) {
        std::memcpy(old_.data(), at(address_), old_.size());
        std::memcpy(at(address_), bytes.data(), bytes.size());
    }
    ~bytes_patch() { std::memcpy(at(address_), old_.data(), old_.size()); }
    bytes_patch(const bytes_patch&) = delete;
    bytes_patch& operator=(const bytes_patch&) = delete;

  private:
    std::uint32_t address_;
    std::vector<std::uint8_t> old_;
};

// The five bytes of a relative JMP or CALL at `host_address` to `target`.
std::vector<std::uint8_t> rel32_instruction(std::uint8_t opcode, std::uint32_t host_address,
                                            const void* target);

// A JMP at `host_address` to `target`, undone at end of scope.
class jump_patch : public bytes_patch {
  public:
    jump_patch(std::uint32_t host_address, const void* target)
        : bytes_patch(host_address, rel32_instruction(0xE9, host_address, target)) {}
};

template <typename T> T read(std::uint32_t host_address) {
    T value;
    std::memcpy(&value, at(host_address), sizeof value);
    return value;
}
template <typename T> void write(std::uint32_t host_address, const T& value) {
    std::memcpy(at(host_address), &value, sizeof value);
}
std::vector<std::uint8_t> read_bytes(std::uint32_t host_address, std::size_t size);

} // namespace test_host

namespace test_host {
// Puts the platform back to its defaults between tests (the native stand-in's answers and
// records; nothing on Windows).
void reset_platform();
// Forgets every cache and one-time set-up of the module and runs its registered teardowns, as
// unloading and loading the DLL again would.
void reset_module();
} // namespace test_host
