#include "platform/windows_rules.h"

#include "platform/os.h"

namespace os {

bool starts_code_memory(const memory_block& block) noexcept {
    constexpr std::uint32_t access = 0xFF; // the PAGE_ value without its modifiers
    return block.state == mem_commit && block.type == mem_private &&
           ((block.protect & access) == page_execute_read ||
            (block.protect & access) == page_execute_readwrite) &&
           (block.protect & page_guard) == 0 && block.base == block.allocation_base;
}

bool library_in_folder(const char16_t* folder, std::size_t folder_length, const char16_t* name,
                       char16_t* out, std::size_t out_size) noexcept {
    if (folder_length == 0) return false;
    const bool ends_in_backslash = folder[folder_length - 1] == u'\\';
    std::size_t name_length = 0;
    while (name[name_length] != u'\0')
        ++name_length;
    const std::size_t length = folder_length + (ends_in_backslash ? 0 : 1) + name_length;
    if (length + 1 > out_size) return false;
    std::size_t at = 0;
    for (std::size_t i = 0; i < folder_length; ++i)
        out[at++] = folder[i];
    if (!ends_in_backslash) out[at++] = u'\\';
    for (std::size_t i = 0; i < name_length; ++i)
        out[at++] = name[i];
    out[at] = u'\0';
    return true;
}

bool path_inside(const char16_t* path, const char16_t* folder) noexcept {
    auto same = [](char16_t a, char16_t b) {
        auto fold = [](char16_t c) -> char16_t {
            if (c == u'/') return u'\\';
            return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
        };
        return fold(a) == fold(b);
    };
    std::size_t n = 0;
    while (folder[n] != u'\0')
        ++n;
    while (n > 0 && (folder[n - 1] == u'\\' || folder[n - 1] == u'/'))
        --n;
    if (n == 0) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (path[i] == u'\0' || !same(path[i], folder[i])) return false;
    return path[n] == u'\0' || path[n] == u'\\' || path[n] == u'/';
}

} // namespace os
