// Protected access and kept bytes, observed through the recording OS stand-in: which protection
// calls each access makes, in which order, and what a failing call changes (nothing but the
// calls themselves).
#include "host_image.h"

#include "injector/hooking.h"
#include "injector/protect.h"
#include "platform/os_stand_in.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using injector::patch_status;
using os::stand_in::flush_call;
using os::stand_in::protect_call;

constexpr std::uint32_t rwx = 0x40;
// Deliberately not the stand-in's default, so a restore that used a constant would show.
constexpr std::uint32_t old_protection = 0x02;

std::uintptr_t address_of(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p);
}

std::vector<protect_call> switch_and_back(const void* p, std::uint32_t size) {
    return {{address_of(p), size, rwx}, {address_of(p), size, old_protection}};
}

std::vector<protect_call>& calls() {
    return os::stand_in::current().protect_calls;
}

class ProtectedAccess : public ::testing::Test {
  protected:
    void SetUp() override {
        os::stand_in::reset();
        os::stand_in::current().reported_old_protection = old_protection;
    }
    void TearDown() override { os::stand_in::reset(); }

    // Source and destination of every copy; the destination starts as a known pattern.
    std::array<std::uint8_t, 8> source = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    std::array<std::uint8_t, 8> target = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};
};

std::vector<flush_call>& flushes() {
    return os::stand_in::current().flushes;
}

// One access of each form, the range it protects, and what `target` must hold afterwards. `run`
// gives what the access reported: every form but the value reads reports how it went.
struct access_case {
    const char* name;
    std::function<std::optional<patch_status>(std::uint8_t* source, std::uint8_t* target)> run;
    // The protected range: in target for writes, in source for reads.
    bool on_target;
    std::size_t offset;
    std::uint32_t size;
    std::vector<std::uint8_t> target_after;
};

void PrintTo(const access_case& c, std::ostream* out) {
    *out << c.name;
}

class ProtectedAccessForms : public ProtectedAccess,
                             public ::testing::WithParamInterface<access_case> {};

const std::vector<std::uint8_t> untouched = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};

std::vector<access_case> access_cases() {
    using injector::protected_read;
    using injector::protected_read_value;
    using injector::protected_write;
    using injector::protected_write_value;
    return {
        {"read_buffer",
         [](auto* s, auto* t) { return protected_read(s + 1, t, 5, true); },
         false,
         1,
         5,
         {0x22, 0x33, 0x44, 0x55, 0x66, 0xA5, 0xA6, 0xA7}},
        {"write_buffer",
         [](auto* s, auto* t) { return protected_write(t + 2, s, 3, true); },
         true,
         2,
         3,
         {0xA0, 0xA1, 0x11, 0x22, 0x33, 0xA5, 0xA6, 0xA7}},
        {"read_byte",
         [](auto* s, auto* t) {
             *t = protected_read_value<std::uint8_t>(address_of(s + 7));
             return std::nullopt;
         },
         false,
         7,
         1,
         {0x88, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7}},
        {"read_dword",
         [](auto* s, auto* t) {
             const auto v = protected_read_value<std::uint32_t>(address_of(s + 2));
             std::memcpy(t, &v, 4);
             return std::nullopt;
         },
         false,
         2,
         4,
         {0x33, 0x44, 0x55, 0x66, 0xA4, 0xA5, 0xA6, 0xA7}},
        {"write_byte",
         [](auto*, auto* t) {
             return protected_write_value<std::uint8_t>(address_of(t + 3), 0xE8);
         },
         true,
         3,
         1,
         {0xA0, 0xA1, 0xA2, 0xE8, 0xA4, 0xA5, 0xA6, 0xA7}},
        {"write_dword",
         [](auto*, auto* t) {
             return protected_write_value<std::uint32_t>(address_of(t + 1), 0xDDCCBBAAu);
         },
         true,
         1,
         4,
         {0xA0, 0xAA, 0xBB, 0xCC, 0xDD, 0xA5, 0xA6, 0xA7}},
        {"write_float",
         [](auto*, auto* t) { return protected_write_value<float>(address_of(t + 4), 1.0f); },
         true,
         4,
         4,
         {0xA0, 0xA1, 0xA2, 0xA3, 0x00, 0x00, 0x80, 0x3F}},
    };
}

const std::uint8_t* protected_start(const access_case& c, const std::uint8_t* source,
                                    const std::uint8_t* target) {
    return (c.on_target ? target : source) + c.offset;
}

// A write flushes the instruction cache over exactly the bytes it wrote; a read flushes nothing.
std::vector<flush_call> flushes_for(const access_case& c, const std::uint8_t* start) {
    if (!c.on_target) return {};
    return {{address_of(start), c.size}};
}

TEST_P(ProtectedAccessForms, SwitchesExactlyTheTouchedBytesThenPutsTheOldProtectionBack) {
    const access_case& c = GetParam();
    const std::optional<patch_status> status = c.run(source.data(), target.data());

    EXPECT_EQ(std::vector<std::uint8_t>(target.begin(), target.end()), c.target_after);
    const auto* start = protected_start(c, source.data(), target.data());
    EXPECT_EQ(calls(), switch_and_back(start, c.size));
    EXPECT_EQ(flushes(), flushes_for(c, start));
    if (status) {
        EXPECT_EQ(*status, patch_status::done);
    }
}

// A refused switch: a read copies all the same (it changes nothing), a write leaves the bytes
// as they were and flushes nothing; neither puts a protection back, and both say so.
TEST_P(ProtectedAccessForms, FailedSwitchReadsButWritesNothingPutsNothingBackAndSaysSo) {
    const access_case& c = GetParam();
    os::stand_in::current().fail_protect_switch = true;
    const std::optional<patch_status> status = c.run(source.data(), target.data());

    EXPECT_EQ(std::vector<std::uint8_t>(target.begin(), target.end()),
              c.on_target ? untouched : c.target_after);
    const auto* start = protected_start(c, source.data(), target.data());
    EXPECT_EQ(calls(), (std::vector<protect_call>{{address_of(start), c.size, rwx}}));
    EXPECT_TRUE(flushes().empty());
    if (status) {
        EXPECT_EQ(*status, c.on_target ? patch_status::refused : patch_status::unprotected);
        EXPECT_EQ(injector::was_made(*status), !c.on_target);
    }
}

TEST_P(ProtectedAccessForms, FailedRestoreChangesNothingButIsReported) {
    const access_case& c = GetParam();
    os::stand_in::current().fail_protect_restore = true;
    const std::optional<patch_status> status = c.run(source.data(), target.data());

    EXPECT_EQ(std::vector<std::uint8_t>(target.begin(), target.end()), c.target_after);
    EXPECT_EQ(calls(), switch_and_back(protected_start(c, source.data(), target.data()), c.size));
    if (status) {
        EXPECT_EQ(*status, patch_status::protection_kept_open);
    }
}

INSTANTIATE_TEST_SUITE_P(EachForm, ProtectedAccessForms, ::testing::ValuesIn(access_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProtectedAccess, WithoutUnprotectCopiesPlainly) {
    EXPECT_EQ(injector::protected_read(source.data(), target.data(), 4, false), patch_status::done);
    EXPECT_EQ(injector::protected_write(target.data() + 4, source.data() + 6, 2, false),
              patch_status::done);

    EXPECT_EQ(target,
              (std::array<std::uint8_t, 8>{0x11, 0x22, 0x33, 0x44, 0x77, 0x88, 0xA6, 0xA7}));
    EXPECT_TRUE(calls().empty());
    // Written bytes are flushed whatever their protection.
    EXPECT_EQ(flushes(), (std::vector<flush_call>{{address_of(target.data() + 4), 2}}));
}

TEST_F(ProtectedAccess, SizeZeroNeitherProtectsNorCopies) {
    for (bool unprotect : {true, false}) {
        EXPECT_EQ(injector::protected_read(source.data(), target.data(), 0, unprotect),
                  patch_status::done);
        EXPECT_EQ(injector::protected_write(target.data(), source.data(), 0, unprotect),
                  patch_status::done);
    }
    EXPECT_EQ(std::vector<std::uint8_t>(target.begin(), target.end()), untouched);
    EXPECT_TRUE(flushes().empty());
    EXPECT_TRUE(calls().empty());
}

// Pages of the game's code are read+execute, as Windows maps them: a protected write lands while
// its own protection change holds, and the page is read+execute again afterwards, so that a
// write outside a granted change faults (the stand-in changes the protection for real).
TEST_F(ProtectedAccess, ReadOnlyCodeTakesAWriteOnlyWhileItsProtectionChangeHolds) {
    ASSERT_TRUE(test_host::map_host_image());
    constexpr std::uint32_t code = 0x600000;
    const test_host::bytes_patch kept(code + 0x10, {0, 0, 0, 0});
    os::stand_in::current().reported_old_protection = 0x20; // PAGE_EXECUTE_READ
    os::stand_in::guard_code_pages(code, code + 0x1000);

    EXPECT_EQ(injector::protected_write_value<std::uint32_t>(code + 0x10, 0x12345678),
              patch_status::done);
    EXPECT_EQ(test_host::read<std::uint32_t>(code + 0x10), 0x12345678u);
    EXPECT_DEATH(test_host::write<std::uint32_t>(code + 0x10, 0), "")
        << "a plain write into a code page must fault";
    os::stand_in::unguard_code_pages(); // before `kept` puts its bytes back
}

TEST_F(ProtectedAccess, GuardReportsWhetherTheSwitchSucceeded) {
    {
        injector::unprotect_guard guard(target.data(), 3);
        EXPECT_TRUE(guard.changed());
        EXPECT_EQ(calls().size(), 1u); // the restore waits for the end of the scope
    }
    EXPECT_EQ(calls(), switch_and_back(target.data(), 3));

    calls().clear();
    os::stand_in::current().fail_protect_switch = true;
    {
        injector::unprotect_guard guard(target.data(), 3);
        EXPECT_FALSE(guard.changed());
    }
    EXPECT_EQ(calls().size(), 1u);

    calls().clear();
    {
        injector::unprotect_guard guard(target.data(), 0);
        EXPECT_FALSE(guard.changed());
    }
    EXPECT_TRUE(calls().empty());

    // Ended early: the protection is back at once, and not put back a second time.
    os::stand_in::current().fail_protect_switch = false;
    {
        injector::unprotect_guard guard(target.data(), 3);
        EXPECT_EQ(guard.end(), patch_status::done);
        EXPECT_EQ(calls(), switch_and_back(target.data(), 3));
        EXPECT_EQ(guard.end(), patch_status::done);
    }
    EXPECT_EQ(calls(), switch_and_back(target.data(), 3));
}

// --- kept bytes ------------------------------------------------------------------------------

// Lets a test look at what the object keeps.
class open_scoped : public injector::scoped_basic<5> {
  public:
    using scoped_basic::address;
    using scoped_basic::holds_bytes;
    using scoped_basic::kept_bytes;
    using scoped_basic::size;
    using scoped_basic::unprotect;
};

// Counts its own restores (in a counter outside the object, which outlives it) and then does
// the ordinary restore.
class counting_scoped : public injector::scoped_basic<5> {
  public:
    explicit counting_scoped(int& restores) : restores_(restores) {}
    patch_status restore_bytes() override {
        ++restores_;
        return scoped_basic::restore_bytes();
    }

  private:
    int& restores_;
};

struct assertion_report {
    std::string expression;
    std::string file;
    int line;
};
std::vector<assertion_report> reports;

void record_assertion(const char* expression, const char* file, int line) {
    reports.push_back({expression, file, line});
}

class KeptBytes : public ProtectedAccess {
  protected:
    void SetUp() override {
        ProtectedAccess::SetUp();
        reports.clear();
        previous_handler = injector::set_assertion_handler(&record_assertion);
    }
    void TearDown() override {
        injector::set_assertion_handler(previous_handler);
        ProtectedAccess::TearDown();
    }

    std::vector<std::uint8_t> bytes(const std::uint8_t* p, std::size_t n) {
        return std::vector<std::uint8_t>(p, p + n);
    }

    injector::assertion_handler previous_handler = nullptr;
    // A second range, to move a holding object to.
    std::array<std::uint8_t, 5> other = {0xC0, 0xC1, 0xC2, 0xC3, 0xC4};
};

TEST_F(KeptBytes, RestorePutsBackWhatWasThereAtSaveTimeOnlyOnce) {
    open_scoped kept;
    EXPECT_FALSE(kept.holds_bytes);
    EXPECT_EQ(kept.save_bytes(target.data(), 5, true), patch_status::done);
    EXPECT_TRUE(kept.holds_bytes);
    EXPECT_EQ(bytes(kept.kept_bytes, 5), bytes(target.data(), 5));
    EXPECT_EQ(calls(), switch_and_back(target.data(), 5));

    std::memset(target.data(), 0x90, target.size());
    calls().clear();
    EXPECT_EQ(kept.restore_bytes(), patch_status::done);
    EXPECT_EQ(std::vector<std::uint8_t>(target.begin(), target.end()),
              (std::vector<std::uint8_t>{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0x90, 0x90, 0x90}));
    EXPECT_EQ(calls(), switch_and_back(target.data(), 5));
    EXPECT_FALSE(kept.holds_bytes);
    // The description of the range stays; only the holding flag changes.
    EXPECT_EQ(kept.address, target.data());
    EXPECT_EQ(kept.size, 5u);

    std::memset(target.data(), 0xCC, 5);
    calls().clear();
    EXPECT_EQ(kept.restore_bytes(), patch_status::done);
    EXPECT_EQ(bytes(target.data(), 5), std::vector<std::uint8_t>(5, 0xCC));
    EXPECT_TRUE(calls().empty());
}

TEST_F(KeptBytes, SavingAgainPutsTheOldRangeBackBeforeKeepingTheNewOne) {
    open_scoped kept;
    EXPECT_EQ(kept.save_bytes(target.data(), 5, true), patch_status::done);
    std::memset(target.data(), 0x90, 5);
    calls().clear();

    EXPECT_EQ(kept.save_bytes(other.data(), 4, true), patch_status::done);

    EXPECT_EQ(std::vector<std::uint8_t>(target.begin(), target.end()), untouched);
    std::vector<protect_call> expected = switch_and_back(target.data(), 5);
    for (const auto& call : switch_and_back(other.data(), 4))
        expected.push_back(call);
    EXPECT_EQ(calls(), expected);
    EXPECT_TRUE(kept.holds_bytes);
    EXPECT_EQ(kept.address, other.data());
    EXPECT_EQ(kept.size, 4u);
    EXPECT_EQ(bytes(kept.kept_bytes, 4), bytes(other.data(), 4));
}

TEST_F(KeptBytes, KeepsTheUnprotectChoiceForTheRestore) {
    open_scoped kept;
    EXPECT_EQ(kept.save_bytes(target.data(), 5, false), patch_status::done);
    std::memset(target.data(), 0x90, 5);
    EXPECT_EQ(kept.restore_bytes(), patch_status::done);

    EXPECT_EQ(std::vector<std::uint8_t>(target.begin(), target.end()), untouched);
    EXPECT_TRUE(calls().empty());
}

// Saving and restoring say when the protection let them down, and move the bytes all the same;
// the restore, a write of code, is flushed.
TEST_F(KeptBytes, SaveAndRestoreReportProtectionFailuresAndTheRestoreIsFlushed) {
    auto& os_state = os::stand_in::current();
    open_scoped kept;
    os_state.fail_protect_switch = true;
    EXPECT_EQ(kept.save_bytes(target.data(), 5, true), patch_status::unprotected);
    EXPECT_EQ(std::vector<std::uint8_t>(kept.kept().begin(), kept.kept().end()),
              bytes(target.data(), 5));
    EXPECT_TRUE(flushes().empty()) << "saving writes nothing";

    std::memset(target.data(), 0x90, 5);
    os_state.fail_protect_switch = false;
    os_state.fail_protect_restore = true;
    EXPECT_EQ(kept.restore_bytes(), patch_status::protection_kept_open);
    EXPECT_EQ(std::vector<std::uint8_t>(target.begin(), target.end()), untouched);
    EXPECT_EQ(flushes(), (std::vector<flush_call>{{address_of(target.data()), 5}}));
}

// A range that still holds its kept bytes (the patch's own write was refused) is left alone: no
// protection change, no write. Where the bytes did change and Windows refuses, they stay as they
// are, and the restore says so; it is not tried again.
TEST_F(KeptBytes, RestoreWritesNothingOverItsOwnBytesNorWhenRefused) {
    open_scoped kept;
    ASSERT_EQ(kept.save_bytes(target.data(), 5, true), patch_status::done);
    calls().clear();
    EXPECT_EQ(kept.restore_bytes(), patch_status::done);
    EXPECT_TRUE(calls().empty());
    EXPECT_TRUE(flushes().empty());
    EXPECT_FALSE(kept.holds_bytes);

    ASSERT_EQ(kept.save_bytes(target.data(), 5, true), patch_status::done);
    target[4] = 0x90; // only the last byte changed: no byte may be taken as put back
    calls().clear();
    os::stand_in::current().fail_protect_switch = true;
    EXPECT_EQ(kept.restore_bytes(), patch_status::refused);
    EXPECT_EQ(target,
              (std::array<std::uint8_t, 8>{0xA0, 0xA1, 0xA2, 0xA3, 0x90, 0xA5, 0xA6, 0xA7}));
    EXPECT_EQ(calls(), (std::vector<protect_call>{{address_of(target.data() + 1), 4, rwx}}));
    EXPECT_TRUE(flushes().empty());
    EXPECT_FALSE(kept.holds_bytes);
}

TEST_F(KeptBytes, DestroyingRestoresOnlyWhenHolding) {
    { open_scoped empty; }
    EXPECT_TRUE(calls().empty());

    {
        injector::scoped_call kept;
        EXPECT_EQ(kept.save_bytes(target.data(), 5, true), patch_status::done);
        std::memset(target.data(), 0x90, 5);
        calls().clear();
    }
    EXPECT_EQ(std::vector<std::uint8_t>(target.begin(), target.end()), untouched);
    EXPECT_EQ(calls(), switch_and_back(target.data(), 5));

    // Through the root's virtual destructor as well.
    std::unique_ptr<injector::scoped_base> owned = std::make_unique<injector::scoped_call>();
    EXPECT_EQ(static_cast<injector::scoped_call&>(*owned).save_bytes(other.data(), 5, true),
              patch_status::done);
    std::memset(other.data(), 0x90, 5);
    owned.reset();
    EXPECT_EQ(bytes(other.data(), 5), (std::vector<std::uint8_t>{0xC0, 0xC1, 0xC2, 0xC3, 0xC4}));
}

TEST_F(KeptBytes, SizeAboveBufferIsReportedAndKeepsNothing) {
    open_scoped kept;
    EXPECT_EQ(kept.save_bytes(other.data(), 5, true), patch_status::done);
    EXPECT_TRUE(reports.empty()); // 5 fits

    open_scoped fresh;
    // Every byte of the object, padding after kept_bytes included, must stay as it is.
    std::array<unsigned char, sizeof(open_scoped)> before;
    std::memcpy(before.data(), static_cast<const void*>(&fresh), sizeof fresh);
    calls().clear();

    EXPECT_EQ(fresh.save_bytes(source.data(), 6, true), patch_status::too_large);

    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].expression, "size <= bufsize");
    EXPECT_EQ(reports[0].file, "injector/hooking");
    EXPECT_EQ(reports[0].line, 83);
    EXPECT_EQ(std::memcmp(before.data(), static_cast<const void*>(&fresh), sizeof fresh), 0);
    EXPECT_TRUE(calls().empty());

    // A holding object still gives its old bytes back when the new size is refused.
    std::memset(other.data(), 0x90, 5);
    EXPECT_EQ(kept.save_bytes(source.data(), 0xFFFFFFFFu, true), patch_status::too_large);
    EXPECT_EQ(reports.size(), 2u);
    EXPECT_FALSE(kept.holds_bytes);
    EXPECT_EQ(bytes(other.data(), 5), (std::vector<std::uint8_t>{0xC0, 0xC1, 0xC2, 0xC3, 0xC4}));
}

TEST_F(KeptBytes, SaveReachesTheOverrideButTheDestructorRunsItsOwnRestore) {
    int restores = 0;
    {
        counting_scoped kept(restores);
        EXPECT_EQ(kept.save_bytes(target.data(), 5, true), patch_status::done);
        EXPECT_EQ(restores, 1); // the empty object's restore, through the table
        EXPECT_EQ(kept.save_bytes(other.data(), 5, true), patch_status::done);
        EXPECT_EQ(restores, 2);
        std::memset(other.data(), 0x90, 5);
    }
    EXPECT_EQ(restores, 2);
    EXPECT_EQ(bytes(other.data(), 5), (std::vector<std::uint8_t>{0xC0, 0xC1, 0xC2, 0xC3, 0xC4}));
}

} // namespace
