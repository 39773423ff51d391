#include "injector/resident.h"

#include "injector/branch.h"
#include "platform/os.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <new>

namespace injector {

// The memory a resident jump lies in, at the start of its own allocation. Every copy of the
// module lays it out alike, so each recognises the others' jumps.
struct resident_jump {
    char mark[8];                // resident_mark: a jump this kind of module made
    std::uint32_t leads_to;      // the cell the jump goes through: a hook, or `home`
    std::uint32_t home;          // where it leads when no module uses it
    std::uint8_t original[5];    // the site's bytes before any such module changed it
    std::uint8_t padding[3];     // keeps the instruction where resident_entry_offset says
    std::uint8_t instruction[6]; // JMP [leads_to]: the entry the site calls
};

namespace {

constexpr char resident_mark[8] = {'c', 'o', 'r', 'v', 'a', 'n', 'e', '\1'};
// Windows gives memory in whole pages, so a jump's entry lies this far into a page.
constexpr std::uintptr_t page_size = 0x1000;
constexpr std::uintptr_t entry_offset = offsetof(resident_jump, instruction);
static_assert(entry_offset == resident_entry_offset);
static_assert(offsetof(resident_jump, leads_to) % 4 == 0, "the cell is read and written whole");

std::uintptr_t entry_of(const resident_jump* jump) noexcept {
    return reinterpret_cast<std::uintptr_t>(jump) + entry_offset;
}

// The cell is data that threads of the game read on every call; it changes in one store.
std::uint32_t cell(resident_jump* jump) noexcept {
    return std::atomic_ref<std::uint32_t>(jump->leads_to).load();
}
void lead(resident_jump* jump, std::uintptr_t to) noexcept {
    std::atomic_ref<std::uint32_t>(jump->leads_to).store(static_cast<std::uint32_t>(to));
}

// The resident jump whose entry is `address`, made by any copy of the module; null for anything
// else.
resident_jump* resident_jump_at(std::uintptr_t address) noexcept {
    if (address % page_size != entry_offset) return nullptr;
    auto* const jump = reinterpret_cast<resident_jump*>(address - entry_offset);
    if (!os::is_readable(jump, sizeof *jump)) return nullptr;
    const auto instruction = indirect_jump(reinterpret_cast<std::uintptr_t>(&jump->leads_to));
    if (std::memcmp(jump->mark, resident_mark, sizeof resident_mark) != 0 ||
        std::memcmp(jump->instruction, instruction.data(), instruction.size()) != 0)
        return nullptr;
    return jump;
}

// The resident jump whose entry is `address` when no loaded module uses it (it leads home).
resident_jump* unused_jump_at(std::uintptr_t address) noexcept {
    resident_jump* const jump = resident_jump_at(address);
    return jump && cell(jump) == jump->home ? jump : nullptr;
}

// A resident jump no loaded module uses that does just what `site` does now: it leads where the
// site's bytes `now` lead, and it stands for those very bytes. An earlier load left it when the
// site got its own bytes back; null where there is none.
resident_jump* unused_jump_like(std::uintptr_t site, const std::uint8_t (&now)[5]) noexcept {
    const std::uintptr_t target = read_branch_target(site);
    for (void* memory = os::next_code_memory(nullptr); memory;
         memory = os::next_code_memory(memory)) {
        resident_jump* const jump =
            unused_jump_at(reinterpret_cast<std::uintptr_t>(memory) + entry_offset);
        if (jump && jump->home == target &&
            std::memcmp(jump->original, now, sizeof jump->original) == 0)
            return jump;
    }
    return nullptr;
}

// Once a jump leads away from the module's hooks (see resident_call::release).
void let_threads_leave() noexcept {
    constexpr std::uint32_t moment = 20, longest = 1000;
    os::pause_milliseconds(moment);
    for (std::uint32_t waited = 0; threads_in_trampolines.load() > 0 && waited < longest; ++waited)
        os::pause_milliseconds(1);
}

} // namespace

const std::uint8_t* unused_resident_original(const std::uint8_t (&site_bytes)[5],
                                             std::uintptr_t site) noexcept {
    resident_jump* const jump = unused_jump_at(relative_call_target(site_bytes, site));
    return jump ? jump->original : nullptr;
}

const std::uint8_t* resident_original(const std::uint8_t (&site_bytes)[5],
                                      std::uintptr_t site) noexcept {
    // One jump a copy of the module loaded on the site, each over the one before: a handful.
    constexpr int deepest = 16;
    const std::uint8_t* original = nullptr;
    std::uint8_t bytes[5];
    std::memcpy(bytes, site_bytes, sizeof bytes);
    for (int depth = 0; depth < deepest; ++depth) {
        const resident_jump* const jump = resident_jump_at(relative_call_target(bytes, site));
        if (!jump) break;
        original = jump->original;
        std::memcpy(bytes, original, sizeof bytes);
    }
    return original;
}

patch_status resident_call::attach(std::uintptr_t site, std::uintptr_t hook) {
    static_cast<void>(release());
    const std::uintptr_t before = read_branch_target(site);
    if (before == 0) return patch_status::not_a_call;
    const patch_status saved = save_bytes(reinterpret_cast<void*>(site), 5, true);

    resident_jump* jump = unused_jump_at(before);
    if (jump) {
        // Left behind by an earlier load and called by nobody else: the site leads there already.
        std::memcpy(kept_bytes, jump->original, sizeof jump->original);
        previous_ = jump->home;
        jump_ = jump;
        lead(jump, hook);
        return saved;
    }

    // A jump an earlier load left when the site got its bytes back is used again; only where
    // there is none is memory asked for, and that is given back if the site is not written.
    jump = unused_jump_like(site, kept_bytes);
    const bool made = jump == nullptr;
    if (made) {
        jump = static_cast<resident_jump*>(os::allocate_code_memory(page_size));
        if (!jump) {
            holds_bytes = false;
            throw std::bad_alloc();
        }
        std::memcpy(jump->mark, resident_mark, sizeof resident_mark);
        jump->home = static_cast<std::uint32_t>(before);
        std::memcpy(jump->original, kept_bytes, sizeof jump->original);
        const auto instruction = indirect_jump(reinterpret_cast<std::uintptr_t>(&jump->leads_to));
        std::memcpy(jump->instruction, instruction.data(), instruction.size());
    }
    lead(jump, hook);
    os::flush_instruction_cache(jump, sizeof *jump);
    previous_ = before;

    const call_write written = write_call(site, entry_of(jump));
    if (was_made(written.status)) {
        jump_ = jump;
    } else {
        holds_bytes = false;
        lead(jump, before);
        if (made) os::free_code_memory(jump);
    }
    return worse(saved, written.status);
}

patch_status resident_call::release() noexcept {
    resident_jump* const jump = jump_;
    if (!jump) return patch_status::done;
    jump_ = nullptr;
    lead(jump, jump->home);
    let_threads_leave();

    // Where the site still calls the jump it gets its own bytes back. The jump itself stays, in
    // every case: a thread of the game may have taken the site's CALL an instant before and be
    // about to run it, and the next load finds it again.
    std::uint8_t now[5];
    std::memcpy(now, address, sizeof now); // code is readable as it stands
    if (relative_call_target(now, reinterpret_cast<std::uintptr_t>(address)) != entry_of(jump)) {
        // Changed since by another plug-in, which may still call the jump: both stay as they are.
        holds_bytes = false;
        return patch_status::done;
    }
    return scoped_basic::restore_bytes();
}

} // namespace injector
