// What the game sees of the resident code: the stack it enters the game's functions with, and an
// unload that comes between any two of its instructions. Both are run for real: the game's
// functions here are a few bytes of machine code that write down ESP at their first instruction
// (a compiled function may realign its own frame, so its frame address would say nothing), and
// the unload is made from a trap after each instruction, single-stepping the resident code.
#include "frame_host.h"

#include "injector/branch.h"
#include "injector/resident.h"
#include "platform/os_stand_in.h"

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <ucontext.h>
#include <vector>

namespace {

using injector::patch_status;
using injector::resident_kind;
using test_host::bytes_patch;

std::uint32_t address_of(const void* p) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

void put_word(std::vector<std::uint8_t>& code, std::uint32_t word) {
    for (int i = 0; i < 4; ++i)
        code.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
}

// ESP at the first instruction of the game's function and of the module's share, as written down
// by the machine code below.
std::uint32_t game_esp = 0;
std::uint32_t share_esp = 0;

// mov [cell], esp; then `rest`.
std::vector<std::uint8_t> recorder(std::uint32_t* cell, std::vector<std::uint8_t> rest) {
    std::vector<std::uint8_t> code = {0x89, 0x25};
    put_word(code, address_of(cell));
    code.insert(code.end(), rest.begin(), rest.end());
    return code;
}

// The game's per-frame function: writes ESP down, returns its result (no stack arguments).
std::vector<std::uint8_t> recording_frame_function() {
    std::vector<std::uint8_t> rest = {0xB8}; // mov eax, result; ret
    put_word(rest, static_cast<std::uint32_t>(test_host::per_frame_result));
    rest.push_back(0xC3);
    return recorder(&game_esp, rest);
}
// The game's camera: a thiscall of four stack arguments; writes ESP down, returns, removes them.
std::vector<std::uint8_t> recording_camera() {
    std::vector<std::uint8_t> rest = {0xB8}; // mov eax, result; ret 16
    put_word(rest, test_host::camera_result);
    rest.insert(rest.end(), {0xC2, 0x10, 0x00});
    return recorder(&game_esp, rest);
}
// The module's shares, written down the same way: around returns; retarget returns the caller's
// target (its first argument).
std::vector<std::uint8_t> recording_around_share() {
    return recorder(&share_esp, {0xC3});
}
std::vector<std::uint8_t> recording_retarget_share() {
    return recorder(&share_esp, {0x8B, 0x44, 0x24, 0x04, 0xC3}); // mov eax, [esp+4]; ret
}

// Where the doubles lie in the host image, away from every other test's.
constexpr std::uint32_t camera_address = 0x7F0100;
constexpr std::uint32_t around_share_address = 0x7F0200;
constexpr std::uint32_t retarget_share_address = 0x7F0220;
// A caller of the camera: push esi; mov esi, esp; sub esp, shift; push 3; push 2; push 1;
// push target; mov ecx, object; the CALL (the site); mov esp, esi; pop esi; ret.
constexpr std::uint32_t aim_caller_address = 0x600200;
constexpr std::uint32_t aim_site = aim_caller_address + 22;

float camera_target[3] = {1, 2, 3};

std::vector<std::uint8_t> aim_caller(std::uint8_t shift) {
    std::vector<std::uint8_t> code = {0x56, 0x89, 0xE6, 0x83, 0xEC, shift, 0x6A, 0x03,
                                      0x6A, 0x02, 0x6A, 0x01, 0x68};
    put_word(code, address_of(camera_target));
    code.push_back(0xB9);
    put_word(code, address_of(&game_esp)); // any object: the recording camera reads none
    const auto call = test_host::rel32_instruction(0xE8, aim_site, test_host::at(camera_address));
    code.insert(code.end(), call.begin(), call.end());
    code.insert(code.end(), {0x89, 0xF4, 0x5E, 0xC3});
    return code;
}

using caller_fn = std::uint32_t(__cdecl*)();

// The two kinds of call, each reached at a site of its own by a caller of the game's kind whose
// stack sits `shift` bytes lower at the site.
struct site_kind {
    const char* name;
    resident_kind kind;
};

void PrintTo(const site_kind& k, std::ostream* out) {
    *out << k.name;
}

class ResidentStack : public test_host::spare_site_test,
                      public ::testing::WithParamInterface<site_kind> {
  protected:
    void SetUp() override {
        spare_site_test::SetUp();
        laid.push_back(std::make_unique<bytes_patch>(test_host::host_per_frame,
                                                     recording_frame_function()));
        laid.push_back(std::make_unique<bytes_patch>(camera_address, recording_camera()));
        laid.push_back(
            std::make_unique<bytes_patch>(around_share_address, recording_around_share()));
        laid.push_back(
            std::make_unique<bytes_patch>(retarget_share_address, recording_retarget_share()));
        laid.push_back(std::make_unique<bytes_patch>(aim_caller_address, aim_caller(0)));
    }
    void TearDown() override {
        call.reset();
        while (!laid.empty())
            laid.pop_back();
        spare_site_test::TearDown();
    }

    bool around() const { return GetParam().kind == resident_kind::around; }

    void attach() {
        call = std::make_unique<injector::resident_call>(GetParam().kind);
        const patch_status status =
            around() ? call->attach(test_host::spare_call_site, around_share_address)
                     : call->attach(aim_site, retarget_share_address, camera_address);
        ASSERT_EQ(status, patch_status::done);
    }

    // Runs the site with the game's stack `shift` bytes lower there; ESP at the game's function.
    std::uint32_t reach_site(std::uint8_t shift) {
        game_esp = share_esp = 0;
        if (around()) {
            // The frame host's caller: sub esp, 12 before the site's CALL, add esp, 12 after it.
            const std::uint8_t by = static_cast<std::uint8_t>(12 + shift);
            test_host::write(test_host::spare_call_site - 1, by);
            test_host::write(test_host::spare_call_site + 7, by);
            EXPECT_EQ(host->run_frame(), reinterpret_cast<void*>(test_host::per_frame_result));
        } else {
            test_host::write(aim_caller_address + 5, shift);
            volatile auto caller = reinterpret_cast<caller_fn>(test_host::at(aim_caller_address));
            EXPECT_EQ(caller(), test_host::camera_result);
        }
        EXPECT_NE(game_esp, 0u) << "the game's function ran";
        return game_esp;
    }

    std::unique_ptr<injector::resident_call> call;
    std::vector<std::unique_ptr<bytes_patch>> laid;
};

// At each of the four alignments the game may reach the site with, its function is entered with
// ESP as the site's own CALL enters it, to the byte modulo 16; the module's share is always
// entered as compiled code expects (its stack 16-byte aligned at the call).
TEST_P(ResidentStack, TheGamesFunctionIsEnteredAlignedAsTheSiteAloneEntersIt) {
    constexpr std::array<std::uint8_t, 4> shifts = {0, 4, 8, 12};
    std::array<std::uint32_t, 4> alone{}, with_module{};
    for (std::size_t i = 0; i < shifts.size(); ++i)
        alone[i] = reach_site(shifts[i]) % 16;
    for (std::size_t i = 0; i < shifts.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            ASSERT_NE(alone[i], alone[j]) << "the four shifts reach the site at four alignments";

    attach();
    for (std::size_t i = 0; i < shifts.size(); ++i) {
        SCOPED_TRACE("shift " + std::to_string(shifts[i]));
        with_module[i] = reach_site(shifts[i]) % 16;
        EXPECT_EQ(share_esp % 16, 12u) << "the share's stack is aligned at its call";
    }
    EXPECT_EQ(with_module, alone);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ResidentStack,
                         ::testing::Values(site_kind{"around", resident_kind::around},
                                           site_kind{"retarget", resident_kind::retarget}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- An unload between any two instructions ---------------------------------------------------

// The trap after each instruction of the resident code: at the chosen one, the unload comes as
// begin_unload makes it (the cell led home), and where it then counts nobody inside the share, it
// would go on to free the module: from then on no thread may enter the share.
struct stepping_state {
    std::uintptr_t code_page = 0;
    int step = 0;          // instructions of the resident code run so far in this frame
    int unload_at = 0;     // the one after which the unload comes
    injector::resident_call* call = nullptr;
    bool module_gone = false;
    int share_runs = 0;
    int runs_after_gone = 0;
} stepping;

void on_trap(int, siginfo_t*, void* context) {
    const auto eip = static_cast<std::uintptr_t>(
        static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_EIP]);
    if ((eip & ~std::uintptr_t{0xFFF}) != stepping.code_page) return;
    if (stepping.step++ != stepping.unload_at) return;
    stepping.call->lead_home();
    stepping.module_gone = stepping.call->threads_inside() == 0;
}

void __cdecl counting_around_share(std::uint32_t) noexcept {
    ++stepping.share_runs;
    if (stepping.module_gone) ++stepping.runs_after_gone;
}
const float* __cdecl counting_retarget_share(const float* target, float*) noexcept {
    ++stepping.share_runs;
    if (stepping.module_gone) ++stepping.runs_after_gone;
    return target;
}

// Runs `run` with the processor's trap flag set: a SIGTRAP after every instruction.
template <class F> void single_stepped(F run) {
    asm volatile("pushfl; orl $0x100, (%%esp); popfl" ::: "memory", "cc");
    run();
    asm volatile("pushfl; andl $~0x100, (%%esp); popfl" ::: "memory", "cc");
}

class ResidentUnloadAnyInstruction : public ResidentStack {
  protected:
    void SetUp() override {
        ResidentStack::SetUp();
        struct sigaction trap {};
        trap.sa_sigaction = &on_trap;
        trap.sa_flags = SA_SIGINFO;
        sigemptyset(&trap.sa_mask);
        ASSERT_EQ(sigaction(SIGTRAP, &trap, &kept_action), 0);
    }
    void TearDown() override {
        sigaction(SIGTRAP, &kept_action, nullptr);
        stepping = stepping_state{};
        ResidentStack::TearDown();
    }

    struct sigaction kept_action {};
};

// The code counts a thread in before it reads the cell, and the unload leads the cell home before
// it reads the count: wherever the unload comes, a thread that it does not count never enters
// the share, and the game's call returns its result.
TEST_P(ResidentUnloadAnyInstruction, NeverLetsAThreadIntoAShareItDoesNotCount) {
    const std::uintptr_t share =
        around() ? reinterpret_cast<std::uintptr_t>(&counting_around_share)
                 : reinterpret_cast<std::uintptr_t>(&counting_retarget_share);
    int instructions = 0;
    for (int unload_at = 0;; ++unload_at) {
        SCOPED_TRACE("unload after instruction " + std::to_string(unload_at));
        call = std::make_unique<injector::resident_call>(GetParam().kind);
        ASSERT_EQ(around() ? call->attach(test_host::spare_call_site, share)
                           : call->attach(aim_site, share, camera_address),
                  patch_status::done);
        stepping = stepping_state{};
        stepping.code_page = call->entry() & ~std::uintptr_t{0xFFF};
        stepping.unload_at = unload_at;
        stepping.call = call.get();
        single_stepped([&] { reach_site(0); });
        EXPECT_EQ(stepping.runs_after_gone, 0);
        if (stepping.step <= unload_at) break; // the frame ended before this instruction
        instructions = stepping.step;
        call.reset();
    }
    EXPECT_GT(instructions, 20) << "the resident code was stepped through";
}

INSTANTIATE_TEST_SUITE_P(Kinds, ResidentUnloadAnyInstruction,
                         ::testing::Values(site_kind{"around", resident_kind::around},
                                           site_kind{"retarget", resident_kind::retarget}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
