// What the Windows door decides, as plain functions: os_win32.cpp asks them, and the native
// tests check them with tables, without Windows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace os {

// One block of the address space as VirtualQuery describes it. Why it exists: the walk for
// memory the module's kind of code lies in decides on these fields alone.
struct memory_block {
    std::uint32_t state;   // MEM_COMMIT, MEM_RESERVE, MEM_FREE
    std::uint32_t type;    // MEM_PRIVATE, MEM_MAPPED, MEM_IMAGE
    std::uint32_t protect; // PAGE_* with its modifiers (PAGE_GUARD, PAGE_NOCACHE, ...)
    const void* base;
    const void* allocation_base;
};

inline constexpr std::uint32_t mem_commit = 0x1000;
inline constexpr std::uint32_t mem_private = 0x20000;
inline constexpr std::uint32_t page_guard = 0x100;

// Whether `block` begins memory of the kind allocate_code_memory gives: committed, private to
// the process (not a file's or a module's), runnable without a guard, at the start of its
// allocation. Runnable and readable (as given now), or also writable (as earlier copies of the
// module asked for it).
bool starts_code_memory(const memory_block& block) noexcept;

// The full path of the library `name` in the system folder `folder` (`folder_length` units, as
// GetSystemDirectoryW gives it: no backslash at its end unless it is a drive's root), with its
// terminator, into `out` of `out_size` units. False, and nothing usable in `out`, where the
// folder is empty or the path does not fit.
bool library_in_folder(const char16_t* folder, std::size_t folder_length, const char16_t* name,
                       char16_t* out, std::size_t out_size) noexcept;

// Windows' VirtualStore. A game it virtualizes writes no file into a folder Windows protects:
// the write goes to the same path under "<local application data>\VirtualStore", the drive left
// out, and from then on the game reads that copy. Why it exists: the module (which does not save
// there) and corvane-check (which finds the copies) name these places by this one rule.
inline constexpr char virtual_store_folder[] = "VirtualStore";
inline constexpr char local_app_data_variable[] = "LOCALAPPDATA";
// The environment variables that name the folders Windows protects this way.
inline constexpr const char* protected_folder_variables[] = {
    "ProgramFiles", "ProgramFiles(x86)", "ProgramW6432", "SystemRoot", "ProgramData"};

// `path` with its drive ("C:") left out: where it lies under the VirtualStore folder. A path
// with no drive (a UNC path, or a test's) is given whole.
template <class unit> const unit* path_after_drive(const unit* path) noexcept {
    const bool letter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
    return letter && path[1] == ':' ? path + 2 : path;
}

// Whether `path` lies inside `folder` (or is it): letters compared without case (ASCII), either
// slash, a separator at the folder's end or not. An empty folder holds nothing.
bool path_inside(const char16_t* path, const char16_t* folder) noexcept;

} // namespace os
