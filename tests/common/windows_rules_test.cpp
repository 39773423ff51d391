// What the Windows door decides, without Windows: which blocks the walk at load takes for the
// module's kind of memory, and the path a system library is loaded from.
#include "platform/windows_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr std::uint32_t mem_reserve = 0x2000, mem_mapped = 0x40000, mem_image = 0x1000000;
constexpr std::uint32_t page_execute_read = 0x20, page_readwrite = 0x04, page_readonly = 0x02,
                        page_nocache = 0x200;

const char block_memory[2] = {};
const void* const start = &block_memory[0];
const void* const inside = &block_memory[1];

struct block_case {
    const char* name;
    os::memory_block block;
    bool taken;
};

TEST(StartsCodeMemory, OnlyThePrivateRunnableStartOfAnAllocation) {
    const block_case cases[] = {
        {"what allocate_code_memory gives",
         {os::mem_commit, os::mem_private, page_execute_read, start, start}, true},
        {"what earlier copies of the module asked for",
         {os::mem_commit, os::mem_private, 0x40, start, start}, true},
        {"with a modifier that changes no access",
         {os::mem_commit, os::mem_private, 0x40 | page_nocache, start, start}, true},
        {"a guard page", {os::mem_commit, os::mem_private, 0x40 | os::page_guard, start, start},
         false},
        {"reserved only", {mem_reserve, os::mem_private, 0x40, start, start}, false},
        {"a file mapped", {os::mem_commit, mem_mapped, 0x40, start, start}, false},
        {"a module's image", {os::mem_commit, mem_image, 0x40, start, start}, false},
        {"not runnable, read only", {os::mem_commit, os::mem_private, page_readonly, start, start},
         false},
        {"not runnable", {os::mem_commit, os::mem_private, page_readwrite, start, start}, false},
        {"inside an allocation", {os::mem_commit, os::mem_private, 0x40, inside, start}, false},
    };
    for (const block_case& c : cases)
        EXPECT_EQ(os::starts_code_memory(c.block), c.taken) << c.name;
}

struct path_case {
    const char* name;
    std::u16string folder;
    std::size_t out_size;
    const char16_t* path; // null: refused
};

TEST(LibraryInFolder, JoinsTheFolderAndTheNameWithOneBackslash) {
    const std::u16string system = u"C:\\WINDOWS\\system32";
    const path_case cases[] = {
        {"the system folder", system, 64, u"C:\\WINDOWS\\system32\\xinput1_4.dll"},
        {"a drive's root", u"D:\\", 64, u"D:\\xinput1_4.dll"},
        {"just fits", system, system.size() + 1 + 13 + 1, u"C:\\WINDOWS\\system32\\xinput1_4.dll"},
        {"one unit short", system, system.size() + 1 + 13, nullptr},
        {"no folder", u"", 64, nullptr},
    };
    for (const path_case& c : cases) {
        char16_t out[64];
        const bool joined =
            os::library_in_folder(c.folder.data(), c.folder.size(), u"xinput1_4.dll", out, c.out_size);
        EXPECT_EQ(joined, c.path != nullptr) << c.name;
        if (joined && c.path) {
            EXPECT_EQ(std::u16string(out), std::u16string(c.path)) << c.name;
        }
    }
}

} // namespace

namespace {

// Whether a file lies in a folder Windows protects: the letters' case, either slash and a
// trailing separator do not matter, but a folder whose name only begins the same does not hold
// it.
TEST(PathInside, AFolderHoldsItsOwnPathsWhateverTheSpelling) {
    struct inside_case {
        const char16_t* path;
        const char16_t* folder;
        bool inside;
    };
    const inside_case cases[] = {
        {u"C:\\Program Files\\Game\\corvane.dll", u"C:\\Program Files", true},
        {u"c:\\program files\\Game\\corvane.dll", u"C:\\Program Files\\", true},
        {u"C:/Program Files/Game/corvane.dll", u"C:\\Program Files", true},
        {u"C:\\Program Files", u"C:\\Program Files", true},
        {u"C:\\Program Files (x86)\\Game\\corvane.dll", u"C:\\Program Files", false},
        {u"C:\\Program Files (x86)\\Game\\corvane.dll", u"C:\\Program Files (x86)", true},
        {u"D:\\Program Files\\Game\\corvane.dll", u"C:\\Program Files", false},
        {u"C:\\Games\\corvane.dll", u"C:\\Program Files", false},
        {u"C:\\Prog", u"C:\\Program Files", false},
        {u"C:\\Games\\corvane.dll", u"", false},
    };
    for (const inside_case& c : cases)
        EXPECT_EQ(os::path_inside(c.path, c.folder), c.inside)
            << std::u16string(c.path).size() << " units, folder of "
            << std::u16string(c.folder).size();
}

TEST(PathAfterDrive, TheDriveIsLeftOutAndNothingElse) {
    EXPECT_EQ(std::u16string(os::path_after_drive(u"C:\\Program Files\\Game")),
              u"\\Program Files\\Game");
    EXPECT_EQ(std::string(os::path_after_drive("d:\\Games")), "\\Games");
    EXPECT_EQ(std::string(os::path_after_drive("\\\\server\\share\\Game")),
              "\\\\server\\share\\Game");
    EXPECT_EQ(std::string(os::path_after_drive("/tmp/game")), "/tmp/game");
}

} // namespace
