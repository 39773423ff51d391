#include "allocation_count.h"

#include <cstdlib>
#include <new>

// Every replaceable form, each pair on the same C allocator, so that AddressSanitizer still sees
// matching allocations and releases.
namespace {

thread_local std::uint64_t news = 0;

void* allocate(std::size_t size) noexcept {
    ++news;
    return std::malloc(size ? size : 1);
}

void* allocate(std::size_t size, std::align_val_t align) noexcept {
    ++news;
    const auto alignment = static_cast<std::size_t>(align);
    const std::size_t rounded = (size + alignment - 1) / alignment * alignment;
    return std::aligned_alloc(alignment, rounded ? rounded : alignment);
}

template <typename... A> void* allocate_or_throw(std::size_t size, A... align) {
    if (void* p = allocate(size, align...)) return p;
    throw std::bad_alloc();
}

} // namespace

namespace test_host {
std::uint64_t allocations_on_this_thread() noexcept {
    return news;
}
} // namespace test_host

void* operator new(std::size_t size) {
    return allocate_or_throw(size);
}
void* operator new[](std::size_t size) {
    return allocate_or_throw(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new(std::size_t size, std::align_val_t align) {
    return allocate_or_throw(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align) {
    return allocate_or_throw(size, align);
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
    return allocate(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
    return allocate(size, align);
}

void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
