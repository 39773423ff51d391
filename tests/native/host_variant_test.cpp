// Host variant detection over a small fake executable header: the entry point picks the row, no
// code of the game is read for it, and the set-up runs only once.
#include "host_image.h"

#include "injector/host_address.h"
#include "injector/host_variant.h"
#include "platform/os_stand_in.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using injector::host_variant;

// The first bytes of an executable as far as detection looks at them: e_lfanew at +0x3C and
// AddressOfEntryPoint at e_lfanew + 0x28. Everything else is filler that must not matter.
class fake_header {
  public:
    fake_header(std::uint32_t pe_offset, std::uint32_t entry_rva) : bytes_(pe_offset + 0x40, 0xCC) {
        std::memcpy(&bytes_[0x3C], &pe_offset, 4);
        std::memcpy(&bytes_[pe_offset + 0x28], &entry_rva, 4);
    }
    void* base() { return bytes_.data(); }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

  private:
    std::vector<std::uint8_t> bytes_;
};

struct expected_variant {
    char product, edition;
    std::uint8_t major, minor, revision, build;
    bool alt_distribution;
};

struct variant_case {
    std::uint32_t key; // entry point at base 0x400000
    expected_variant expected;
};

void PrintTo(const variant_case& c, std::ostream* out) {
    *out << std::hex << "key 0x" << c.key;
}

class HostVariant : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test_host::map_host_image());
        os::stand_in::reset();
        injector::forget_host_variant();
    }
    void TearDown() override {
        injector::forget_host_variant();
        os::stand_in::reset();
    }
};

class HostVariantRows : public HostVariant, public ::testing::WithParamInterface<variant_case> {};

TEST_P(HostVariantRows, EntryPointSelectsTheRowWithoutReadingTheGamesCode) {
    const variant_case& c = GetParam();
    const expected_variant& e = c.expected;
    fake_header header(0xF8, c.key - 0x400000);
    os::stand_in::current().process_module = header.base();
    injector::ensure_host_variant();

    EXPECT_STREQ(injector::plugin_name, "Corvane Plugin");
    EXPECT_EQ(host_variant.product, e.product);
    EXPECT_EQ(host_variant.edition, e.edition);
    EXPECT_EQ(host_variant.major, e.major);
    EXPECT_EQ(host_variant.minor, e.minor);
    EXPECT_EQ(host_variant.revision, e.revision);
    EXPECT_EQ(host_variant.build, e.build);
    EXPECT_EQ(host_variant.alt_distribution, e.alt_distribution);
    // Only the header is read, plainly: no protection of the game's code changes.
    EXPECT_TRUE(os::stand_in::current().protect_calls.empty());
    EXPECT_EQ(os::stand_in::current().process_module_queries, 1);
}

// The entry-point table of the executables this module knows.
INSTANTIATE_TEST_SUITE_P(
    Table, HostVariantRows,
    ::testing::Values(variant_case{0x5C1E70, {'3', 0, 1, 0, 0, 0, false}},
                      variant_case{0x5C2130, {'3', 0, 1, 1, 0, 0, false}},
                      variant_case{0x5C6FD0, {'3', 0, 1, 1, 0, 0, true}},
                      variant_case{0x666BA0, {'V', 0, 1, 1, 0, 0, true}},
                      variant_case{0x667BF0, {'V', 0, 1, 0, 0, 0, false}},
                      variant_case{0x667C40, {'V', 0, 1, 1, 0, 0, false}},
                      variant_case{0x824570, {'S', 'U', 1, 0, 0, 0, false}},
                      variant_case{0x82457C, {'S', 'U', 1, 0, 0, 0, false}},
                      variant_case{0x8245B0, {'S', 'E', 1, 0, 0, 0, false}},
                      variant_case{0x8245BC, {'S', 'E', 1, 0, 0, 0, false}},
                      variant_case{0x8252FC, {'S', 'U', 1, 1, 0, 0, false}},
                      variant_case{0x82533C, {'S', 'E', 1, 1, 0, 0, false}},
                      variant_case{0x85EC4A, {'S', 0, 3, 0, 0, 0, true}},
                      variant_case{0x9912ED, {'3', 0, 1, 1, 0, 0, true}},
                      variant_case{0xA402ED, {'V', 0, 1, 1, 0, 0, true}},
                      variant_case{0xC965AD, {'I', 'U', 1, 0, 0, 4, false}},
                      variant_case{0xD0AF06, {'E', 'U', 1, 1, 2, 0, false}},
                      variant_case{0xD0D011, {'I', 'U', 1, 0, 0, 7, false}},
                      variant_case{0xD3C3DB, {'S', 0, 3, 0, 0, 0, true}},
                      // Neighbours of known keys and the empty entry point are unknown.
                      variant_case{0x82533D, {}}, variant_case{0x8245AF, {}},
                      variant_case{0x400000, {}}, variant_case{0x3FFFFF, {}}),
    [](const auto& info) {
        char name[16];
        std::snprintf(name, sizeof name, "key_%06X", info.param.key);
        return std::string(name);
    });

bool record_is_zero() {
    static const injector::host_variant_record zero{};
    return std::memcmp(&host_variant, &zero, sizeof zero) == 0;
}

TEST_F(HostVariant, HeaderAtThePreferredBaseIsReadThere) {
    // The image's first page is mapped too; lay a header there, with a different PE offset.
    fake_header header(0x80, 0x8245B0 - 0x400000);
    test_host::bytes_patch at_base(0x400000, header.bytes());
    os::stand_in::current().process_module = test_host::at(0x400000);

    injector::ensure_host_variant();

    EXPECT_EQ(host_variant.product, 'S');
    EXPECT_EQ(host_variant.edition, 'E');
}

TEST_F(HostVariant, UnknownExecutableLeavesEverythingZeroAndIsNotRetried) {
    fake_header unknown(0x100, 0x1234);
    fake_header known(0x100, 0x82533C - 0x400000);
    // Stale values: the set-up clears them even when nothing is found.
    host_variant.product = 'X';
    host_variant.build = 9;
    os::stand_in::current().process_module = unknown.base();

    injector::ensure_host_variant();
    EXPECT_TRUE(record_is_zero());
    EXPECT_STREQ(injector::plugin_name, "Corvane Plugin");
    EXPECT_TRUE(os::stand_in::current().protect_calls.empty());

    os::stand_in::current().process_module = known.base();
    injector::ensure_host_variant();
    EXPECT_TRUE(record_is_zero());
    EXPECT_EQ(os::stand_in::current().process_module_queries, 1);

    // Forgetting the set-up (as a reload would) detects again.
    injector::forget_host_variant();
    EXPECT_EQ(injector::plugin_name, nullptr);
    injector::ensure_host_variant();
    EXPECT_EQ(host_variant.product, 'S');
    EXPECT_EQ(os::stand_in::current().process_module_queries, 2);
}

TEST_F(HostVariant, KnownRecordIsNotRefreshedAndDetectionClearsStaleFields) {
    fake_header known(0x100, 0x824570 - 0x400000);
    fake_header unknown(0x100, 0x1234);
    os::stand_in::current().process_module = known.base();
    injector::ensure_host_variant();
    ASSERT_EQ(host_variant.edition, 'U');

    os::stand_in::current().process_module = unknown.base();
    injector::ensure_host_variant();
    EXPECT_EQ(host_variant.product, 'S');
    EXPECT_EQ(host_variant.edition, 'U');

    EXPECT_FALSE(injector::detect_host_variant());
    EXPECT_TRUE(record_is_zero());
    os::stand_in::current().process_module = known.base();
    EXPECT_TRUE(injector::detect_host_variant());
    EXPECT_EQ(host_variant.edition, 'U');
}

// Every access to the game's code takes its address from host_code_address: translated by the
// executable's base (asked for once), with the variant set up by the time the address is handed
// out.
TEST_F(HostVariant, CodeAddressesAreTranslatedWithTheVariantSetUp) {
    fake_header known(0x100, 0x82533C - 0x400000);
    os::stand_in::current().process_module = known.base();
    injector::forget_host_module_base();
    const auto base = reinterpret_cast<std::uintptr_t>(known.base());

    EXPECT_EQ(injector::host_code_address(0x527A95), base + 0x127A95);
    EXPECT_EQ(host_variant.product, 'S');
    EXPECT_EQ(injector::host_code_address(0x400000), base);
    EXPECT_EQ(os::stand_in::current().process_module_queries, 2) << "the base, then detection";
    injector::forget_host_module_base();
}

} // namespace
