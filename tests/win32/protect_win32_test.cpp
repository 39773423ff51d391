// Protected access with the real VirtualProtect, on pages of this program's own code: after every
// access the pages report the protection they had before, and writes into code take effect.
#include "host_image.h"

#include "injector/branch.h"
#include "injector/hooking.h"
#include "injector/protect.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

DWORD protection_at(const void* address) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(address, &info, sizeof info) == 0) return 0;
    return info.Protect;
}

std::uintptr_t address_of(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p);
}

// A function of this program, in its .text; never called while its bytes are changed.
__attribute__((noinline)) int code_in_text(int x) {
    return x * 3 + 1;
}

std::vector<std::uint8_t> bytes_at(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    return std::vector<std::uint8_t>(b, b + n);
}

TEST(ProtectWin32, TextPagesKeepTheirProtectionAndTakeTheWrite) {
    auto* code = reinterpret_cast<std::uint8_t*>(&code_in_text);
    const DWORD before = protection_at(code);
    ASSERT_NE(before, 0u);
    ASSERT_EQ(before & (PAGE_READWRITE | PAGE_EXECUTE_READWRITE | PAGE_WRITECOPY), 0u)
        << "expected this program's code to be loaded without write access, got 0x" << std::hex
        << before;
    const std::vector<std::uint8_t> original = bytes_at(code, 5);

    EXPECT_EQ(injector::protected_read_value<std::uint8_t>(address_of(code)), original[0]);
    EXPECT_EQ(protection_at(code), before);

    EXPECT_EQ(injector::protected_write_value<std::uint32_t>(address_of(code + 1), 0xCCCCCCCCu),
              injector::patch_status::done);
    EXPECT_EQ(bytes_at(code + 1, 4), std::vector<std::uint8_t>(4, 0xCC));
    EXPECT_EQ(protection_at(code), before);

    EXPECT_EQ(injector::protected_write(code + 1, original.data() + 1, 4, true),
              injector::patch_status::done);
    EXPECT_EQ(bytes_at(code, 5), original);
    EXPECT_EQ(protection_at(code), before);
    EXPECT_EQ(code_in_text(4), 13);
}

TEST(ProtectWin32, KeptBytesComeBackIntoTextPages) {
    auto* code = reinterpret_cast<std::uint8_t*>(&code_in_text);
    const DWORD before = protection_at(code);
    const std::vector<std::uint8_t> original = bytes_at(code, 5);
    {
        injector::scoped_call kept;
        EXPECT_EQ(kept.save_bytes(code, 5, true), injector::patch_status::done);
        EXPECT_EQ(protection_at(code), before);
        EXPECT_EQ(injector::protected_write_value<std::uint8_t>(address_of(code), 0xC3),
                  injector::patch_status::done);
        EXPECT_EQ(code[0], 0xC3);
    }
    EXPECT_EQ(bytes_at(code, 5), original);
    EXPECT_EQ(protection_at(code), before);
    EXPECT_EQ(code_in_text(5), 16);
}

// Pages of the stand-in host image, set to a given protection first (the image is normally
// PAGE_EXECUTE_READWRITE; every test puts that back).
class ProtectWin32Pages : public ::testing::TestWithParam<DWORD> {
  protected:
    static constexpr std::uint32_t first_page = 0x7F0000;
    static constexpr std::uint32_t page_size = 0x1000;

    void SetUp() override {
        ASSERT_TRUE(test_host::map_host_image());
        DWORD old = 0;
        ASSERT_TRUE(VirtualProtect(test_host::at(first_page), 2 * page_size, GetParam(), &old));
        // Image pages report a writable protection as its copy-on-write form until written.
        before[0] = protection_at(test_host::at(first_page));
        before[1] = protection_at(test_host::at(first_page + page_size));
        ASSERT_NE(before[0], 0u);
        ASSERT_NE(before[1], 0u);
    }
    void TearDown() override {
        DWORD old = 0;
        VirtualProtect(test_host::at(first_page), 2 * page_size, PAGE_EXECUTE_READWRITE, &old);
    }

    void expect_protection_unchanged() {
        EXPECT_EQ(protection_at(test_host::at(first_page)), before[0]);
        EXPECT_EQ(protection_at(test_host::at(first_page + page_size)), before[1]);
    }

    DWORD before[2] = {};
};

TEST_P(ProtectWin32Pages, AccessAcrossTwoPagesPutsBothBack) {
    const std::uint32_t straddling = first_page + page_size - 2;
    EXPECT_EQ(injector::protected_write_value<std::uint32_t>(straddling, 0x11223344u),
              injector::patch_status::done);
    expect_protection_unchanged();
    EXPECT_EQ(injector::protected_read_value<std::uint32_t>(straddling), 0x11223344u);
    expect_protection_unchanged();

    const std::uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
    std::uint8_t back[6] = {};
    EXPECT_EQ(injector::protected_write(test_host::at(straddling - 1), bytes, 6, true),
              injector::patch_status::done);
    expect_protection_unchanged();
    EXPECT_EQ(injector::protected_read(test_host::at(straddling - 1), back, 6, true),
              injector::patch_status::done);
    expect_protection_unchanged();
    EXPECT_EQ(std::memcmp(back, bytes, 6), 0);
}

INSTANTIATE_TEST_SUITE_P(Protections, ProtectWin32Pages,
                         ::testing::Values(PAGE_EXECUTE_READ, PAGE_READONLY, PAGE_EXECUTE_READWRITE,
                                           PAGE_READWRITE),
                         [](const auto& info) {
                             switch (info.param) {
                             case PAGE_EXECUTE_READ:
                                 return std::string("execute_read");
                             case PAGE_READONLY:
                                 return std::string("read_only");
                             case PAGE_EXECUTE_READWRITE:
                                 return std::string("execute_read_write");
                             default:
                                 return std::string("read_write");
                             }
                         });

int __cdecl called_through_site() {
    return 0x5EC0DE;
}

TEST(ProtectWin32, CallWrittenIntoExecuteReadCodeRuns) {
    ASSERT_TRUE(test_host::map_host_image());
    constexpr std::uint32_t site = 0x7F4000;
    // CALL (written below), then RET: called as a function it returns what the callee returns.
    // The patch puts the old bytes back at the end, after the page is writable again.
    test_host::bytes_patch code(site, {0x90, 0x90, 0x90, 0x90, 0x90, 0xC3});
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(test_host::at(site), 0x1000, PAGE_EXECUTE_READ, &old));

    const auto target = reinterpret_cast<std::uintptr_t>(&called_through_site);
    EXPECT_EQ(injector::write_call(site, target).status, injector::patch_status::done);
    EXPECT_EQ(protection_at(test_host::at(site)), static_cast<DWORD>(PAGE_EXECUTE_READ));
    ASSERT_EQ(injector::read_branch_target(site), target);
    ASSERT_EQ(test_host::read<std::uint8_t>(site + 5), 0xC3);
    EXPECT_EQ(reinterpret_cast<int(__cdecl*)()>(test_host::at(site))(), 0x5EC0DE);

    VirtualProtect(test_host::at(site), 0x1000, PAGE_EXECUTE_READWRITE, &old);
}

} // namespace
