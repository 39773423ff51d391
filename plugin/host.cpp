#include "plugin/host.h"

namespace plugin {

namespace {
using vector_set_fn = void*(__thiscall*)(float*, const float*);
} // namespace

void host_vector_set(float* vector, const float* values) noexcept {
    host_function<vector_set_fn>(host_addresses::vector_set)(vector, values);
}

void write_host_float(std::uint32_t host_address, float value) noexcept {
    write_host_bytes(host_address, &value, sizeof value);
}

void write_host_bytes(std::uint32_t host_address, const void* bytes, std::uint32_t size) noexcept {
    std::memcpy(reinterpret_cast<void*>(static_cast<std::uintptr_t>(host_address)), bytes, size);
}

bool read_host_bytes(std::uintptr_t address, void* bytes, std::uint32_t size) noexcept {
    const void* const at = reinterpret_cast<const void*>(address);
    if (!os::is_readable(at, size)) return false;
    std::memcpy(bytes, at, size);
    return true;
}

} // namespace plugin
