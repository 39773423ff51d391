#include "injector/resident.h"

#include "injector/branch.h"
#include "platform/os.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <new>

namespace injector {

// What one site's resident code reads and the module writes while the game runs: one per kind in
// a block, each on a cache line of its own, all on the block's data page.
struct resident_call::slot {
    std::uint32_t share;      // the cell: the module's share, or 0 (leads home)
    std::int32_t inside;      // threads of the game inside the share, counted by the code
    std::uint32_t home;       // what the site called before; 0 while the slot was never laid
    std::uint32_t callee;     // retarget: the function the code calls while in use
    std::uint8_t original[5]; // the site's bytes before the slot was laid
    std::uint8_t padding[64 - 21];
};

namespace {

using slot = resident_call::slot;

// Windows gives memory in whole pages: the code page, then the data page.
constexpr std::uintptr_t page_size = 0x1000;
// The layout below, version 2: a block of another layout is never taken for one of these.
constexpr char resident_mark[8] = {'c', 'o', 'r', 'v', 'a', 'n', 'e', '\2'};
// Where each kind's code begins on the code page, and how much of the page the code fills.
constexpr std::uintptr_t entry_offsets[resident_kinds] = {0x10, 0x80};
constexpr std::uintptr_t code_size = 0x100;

// The memory of one allocation: code that never changes once laid, then the data it reads.
struct resident_block {
    char mark[8];
    std::uint8_t code[page_size - sizeof mark];
    slot slots[resident_kinds];
    std::uint8_t rest[page_size - resident_kinds * sizeof(slot)];
};
static_assert(sizeof(slot) == 64, "a slot fills one cache line");
static_assert(offsetof(slot, share) == 0 && offsetof(slot, inside) == 4 &&
                  offsetof(slot, home) == 8 && offsetof(slot, callee) == 12,
              "the code reads the slot at these offsets");
static_assert(offsetof(resident_block, slots) == page_size, "data never shares the code's page");
static_assert(sizeof(resident_block) == 2 * page_size);
static_assert(entry_offsets[0] >= sizeof resident_mark && entry_offsets[1] < code_size);

constexpr int index_of(resident_kind kind) {
    return static_cast<int>(kind);
}

std::uintptr_t address_of(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p);
}

// The cell and the count are read and written whole, and in order with each other: the code
// counts itself in (a locked instruction) before it reads the cell, the unload leads the cell
// home before it reads the count, so a thread it does not see counted finds the cell home.
std::uint32_t share_of(slot& s) noexcept {
    return std::atomic_ref<std::uint32_t>(s.share).load();
}
// In use: a loaded module's share is in the cell. Leads home: the cell is empty, and the code
// jumps straight to what the site called before.
bool in_use(slot& s) noexcept {
    return share_of(s) != 0;
}
void lead(slot& s, std::uintptr_t share) noexcept {
    std::atomic_ref<std::uint32_t>(s.share).store(static_cast<std::uint32_t>(share));
}
void lead_home(slot& s) noexcept {
    lead(s, 0);
}
int inside(slot& s) noexcept {
    return std::atomic_ref<std::int32_t>(s.inside).load();
}

// The x86 code of a block, written byte for byte into the image of its code page. Addresses are
// those of the block in memory (`base`): the code reads its slot's cells by absolute address.
class code_writer {
  public:
    code_writer(std::uint8_t* page, std::uintptr_t base) : page_(page), base_(base) {}

    void start_at(std::uintptr_t offset) { at_ = offset; }
    void go_to(std::uintptr_t address) { at_ = address - base_; }
    std::uintptr_t here() const { return base_ + at_; }

    void bytes(std::initializer_list<std::uint8_t> list) {
        for (std::uint8_t b : list)
            page_[at_++] = b;
    }
    void word(std::uintptr_t value) {
        const auto v = static_cast<std::uint32_t>(value);
        std::memcpy(page_ + at_, &v, sizeof v);
        at_ += sizeof v;
    }
    template <std::size_t n> void instruction(const std::array<std::uint8_t, n>& code) {
        std::memcpy(page_ + at_, code.data(), n);
        at_ += n;
    }

    // A short conditional jump forward whose landing is set later by land().
    std::uintptr_t jump_short(std::uint8_t opcode) {
        bytes({opcode, 0});
        return at_;
    }
    void land(std::uintptr_t jump) { page_[jump - 1] = static_cast<std::uint8_t>(at_ - jump); }

    void push_ebp_frame() { bytes({0x55, 0x89, 0xE5}); }      // push ebp; mov ebp, esp
    void align_stack() { bytes({0x83, 0xE4, 0xF0}); }         // and esp, -16
    void sub_esp(std::uint8_t n) { bytes({0x83, 0xEC, n}); }  // sub esp, n
    void add_esp(std::uint8_t n) { bytes({0x83, 0xC4, n}); }  // add esp, n
    void count_in(std::uintptr_t count) { bytes({0xF0, 0xFF, 0x05}), word(count); }  // lock inc
    void count_out(std::uintptr_t count) { bytes({0xF0, 0xFF, 0x0D}), word(count); } // lock dec
    // cmp dword [share], 0; jne over the next instruction; jmp [home]
    void lead_home_when_unused(const slot& s) {
        bytes({0x83, 0x3D}), word(address_of(&s.share)), bytes({0x00});
        const auto in_use = jump_short(0x75);
        instruction(indirect_jump(address_of(&s.home)));
        land(in_use);
    }

  private:
    std::uint8_t* page_;
    std::uintptr_t base_;
    std::uintptr_t at_ = 0;
};

// around: the share in phase 0, the function the site called, the share in phase 1. A shared
// subroutine runs the share, counted, on a 16-byte aligned stack, keeping EAX, ECX and EDX. The
// game's function is entered with ESP as the site's own CALL would enter it, to the byte modulo
// 16: code built for the game may rely on the alignment its callers keep.
//
//   S: ESP at the site, before its CALL      the stack while the game's function runs
//   entry          ESP = S-4                 S-4   return to the site
//   push 0         ESP = S-8                 S-8   the phase (0, then 1)
//   call run_share, back at S-8              S-16  (S-12, S-16: unused)
//   sub esp, 8     ESP = S-16                S-20  return into this code: the function
//   call [home]    entered at S-20 = S-4 mod 16      finds S-20, as S-4 from the site
//   push 1; call run_share; add esp, 16: back at S-4; ret to the site
void lay_around(code_writer& c, const slot& s) {
    c.lead_home_when_unused(s);
    std::uintptr_t run_share_calls[2];
    c.bytes({0x6A, 0x00});                       // push 0: phase 0
    run_share_calls[0] = c.here();
    c.bytes({0xE8, 0, 0, 0, 0});                 // call run_share (set below)
    c.sub_esp(8);                                // with the phase: 12 bytes below the entry's
    c.instruction(indirect_call(address_of(&s.home))); // the game's function; EAX its result
    c.bytes({0x6A, 0x01});                       // push 1: phase 1
    run_share_calls[1] = c.here();
    c.bytes({0xE8, 0, 0, 0, 0});                 // call run_share (set below)
    c.add_esp(16);                               // the phase and the 12 bytes: back at S-4
    c.bytes({0xC3});                             // ret

    const std::uintptr_t run_share = c.here();
    c.push_ebp_frame();
    c.bytes({0x50, 0x51, 0x52});                 // push eax; push ecx; push edx
    c.align_stack();
    c.sub_esp(12);
    c.bytes({0xFF, 0x75, 0x08});                 // push dword [ebp+8]: the phase
    c.count_in(address_of(&s.inside));
    c.bytes({0xA1}), c.word(address_of(&s.share)); // mov eax, [share]
    c.bytes({0x85, 0xC0});                       // test eax, eax
    const auto home = c.jump_short(0x74);
    c.bytes({0xFF, 0xD0});                       // call eax
    c.land(home);
    c.count_out(address_of(&s.inside));
    c.bytes({0x8D, 0x65, 0xF4});                 // lea esp, [ebp-12]
    c.bytes({0x5A, 0x59, 0x58, 0x5D, 0xC3});     // pop edx; pop ecx; pop eax; pop ebp; ret

    const std::uintptr_t end = c.here();
    for (std::uintptr_t call : run_share_calls) {
        c.go_to(call);
        c.instruction(relative_call(call, run_share));
    }
    c.go_to(end);
}

// retarget: the share chooses the target (the caller's or the room kept in this frame), then the
// code calls the callee with the caller's object and floats, and removes the four arguments. The
// share runs on a 16-byte aligned stack; the callee is entered with ESP as the site's own CALL
// would enter it, to the byte modulo 16.
//
//   S: ESP at the site, before its CALL (the caller's four arguments above it); ebp = S-8
//   ebp+20 .. ebp+8   f3, f2, f1, the caller's target
//   ebp+4             return to the site
//   ebp-4             ECX: the caller's object
//   A-24 .. A-13      the room, A = (S-12) & -16, so the room lies within S-51 .. S-25
//   A-32              the share's two arguments: its stack is 16-byte aligned at its call
//   S-64              ESP once the share is back (lea esp, [ebp-56]): below the room, and
//                     S-64 = S mod 16
//   S-80 .. S-65      the callee's four arguments; it is entered at S-84 = S-4 mod 16
void lay_retarget(code_writer& c, const slot& s) {
    c.lead_home_when_unused(s);
    c.push_ebp_frame();
    c.bytes({0x51});                             // push ecx: the object at [ebp-4]
    c.bytes({0x8B, 0x45, 0x08});                 // mov eax, [ebp+8]: the caller's target
    c.align_stack();                             // ESP = A
    c.sub_esp(24);                               // the room at [esp]
    c.bytes({0x89, 0xE2, 0x52, 0x50});           // mov edx, esp; push edx; push eax
    c.count_in(address_of(&s.inside));
    c.bytes({0x8B, 0x15}), c.word(address_of(&s.share)); // mov edx, [share]
    c.bytes({0x85, 0xD2});                       // test edx, edx
    const auto keep = c.jump_short(0x74);
    c.bytes({0xFF, 0xD2});                       // call edx: EAX is the target to pass on
    c.land(keep);
    c.count_out(address_of(&s.inside));
    c.bytes({0x8D, 0x65, 0xC8});                 // lea esp, [ebp-56]: ESP = S-64
    c.bytes({0x8B, 0x4D, 0xFC});                 // mov ecx, [ebp-4]
    c.bytes({0xFF, 0x75, 0x14, 0xFF, 0x75, 0x10, 0xFF, 0x75, 0x0C, 0x50}); // the floats, target
    c.instruction(indirect_call(address_of(&s.callee))); // thiscall: removes its 16 bytes
    c.bytes({0x89, 0xEC, 0x5D, 0xC2, 0x10, 0x00}); // mov esp, ebp; pop ebp; ret 16
}

// The image of the code page of a block at `base`: the mark, int3 wherever no code lies, each
// kind's code at its entry. The same base always gives the same bytes.
void lay_code(std::uint8_t (&page)[code_size], std::uintptr_t base) {
    std::memset(page, 0xCC, sizeof page);
    std::memcpy(page, resident_mark, sizeof resident_mark);
    const auto* block = reinterpret_cast<const resident_block*>(base);
    code_writer c(page, base);
    c.start_at(entry_offsets[index_of(resident_kind::around)]);
    lay_around(c, block->slots[index_of(resident_kind::around)]);
    c.start_at(entry_offsets[index_of(resident_kind::retarget)]);
    lay_retarget(c, block->slots[index_of(resident_kind::retarget)]);
}

// The block whose memory begins at `base`, laid by any copy of the module; null for anything
// else, including memory that carries the mark but not exactly the code.
resident_block* block_at(std::uintptr_t base) noexcept {
    if (base == 0 || base % page_size != 0) return nullptr;
    auto* const block = reinterpret_cast<resident_block*>(base);
    if (!os::is_readable(block, sizeof *block)) return nullptr;
    if (std::memcmp(block->mark, resident_mark, sizeof resident_mark) != 0) return nullptr;
    std::uint8_t expected[code_size];
    lay_code(expected, base);
    return std::memcmp(block, expected, sizeof expected) == 0 ? block : nullptr;
}

// The slot of the resident code whose entry is `address`, of any kind; null for anything else.
slot* slot_at(std::uintptr_t address, resident_kind* kind = nullptr) noexcept {
    const std::uintptr_t base = address & ~(page_size - 1);
    for (int k = 0; k < resident_kinds; ++k) {
        if (address - base != entry_offsets[k]) continue;
        resident_block* const block = block_at(base);
        if (!block) return nullptr;
        if (kind) *kind = static_cast<resident_kind>(k);
        return &block->slots[k];
    }
    return nullptr;
}

resident_block* block_of(const slot* s) noexcept {
    return reinterpret_cast<resident_block*>((address_of(s) & ~(page_size - 1)) - page_size);
}

std::uintptr_t entry_of(const slot* s) noexcept {
    resident_block* const block = block_of(s);
    return address_of(block) + entry_offsets[s - block->slots];
}

// Resident code of `kind` for the site whose bytes are `now`, found among the process's memory:
// code no loaded module uses that does just what the site does (it leads where the bytes lead and
// stands for those very bytes), left by an earlier load when the site got its bytes back; else a
// slot of that kind never laid, in a block an earlier site of this or another load asked for.
slot* slot_like(std::uintptr_t site, const std::uint8_t (&now)[5], resident_kind kind) noexcept {
    const std::uintptr_t target = relative_call_target(now, site);
    slot* never_laid = nullptr;
    for (void* memory = os::next_code_memory(nullptr); memory;
         memory = os::next_code_memory(memory)) {
        resident_block* const block = block_at(address_of(memory));
        if (!block) continue;
        slot& s = block->slots[index_of(kind)];
        if (s.home == 0) {
            if (!never_laid) never_laid = &s;
            continue;
        }
        if (!in_use(s) && s.home == target && std::memcmp(s.original, now, sizeof now) == 0)
            return &s;
    }
    return never_laid;
}

// New memory for a block, its code laid, the code page sealed (it runs and is never written
// again; the data page stays writable and never runs) and made visible to the processor; null
// when Windows gives no memory or will not let it run.
resident_block* new_block() noexcept {
    auto* const block = static_cast<resident_block*>(os::allocate_code_memory(sizeof(resident_block)));
    if (!block) return nullptr;
    std::uint8_t code[code_size];
    lay_code(code, address_of(block));
    std::memcpy(block, code, sizeof code);
    if (!os::seal_code_memory(block, page_size)) {
        os::free_code_memory(block);
        return nullptr;
    }
    os::flush_instruction_cache(block, sizeof code);
    return block;
}

// The unload under way, if any: when it began and whether the process ends with it.
struct unload_state {
    bool begun = false;
    bool process_exiting = false;
    std::uint32_t started_ms = 0;
} unload;

// --- Work an unload waits for whole (unload_waits_for) ---
// How many are held (`gave_up` once an unload stopped waiting: none is granted after that), how
// many have ended and when the last one did (GetTickCount); and how many ends the unload's wait
// has counted.
constexpr std::int32_t gave_up = -1;
std::atomic<std::int32_t> awaited_work{0};
std::atomic<std::uint32_t> awaited_work_ends{0};
std::atomic<std::uint32_t> awaited_work_ended_ms{0};
std::uint32_t awaited_work_ends_counted = 0;

// The unload stops waiting (or had stopped already), unless such work began an instant ago.
bool give_up_waiting() noexcept {
    std::int32_t held = 0;
    return awaited_work.compare_exchange_strong(held, gave_up) || held == gave_up;
}

// Until the unload's deadline (or a deadline of its own outside an unload), waits for the threads
// of the game counted inside the slot's share to leave. Never while work it waits for whole is
// under way; when such work ends later than the deadline began, it counts from that end.
void let_threads_leave(slot& s) noexcept {
    std::uint32_t own_start = os::monotonic_milliseconds();
    std::uint32_t& started = unload.begun ? unload.started_ms : own_start;
    while (inside(s) > 0) {
        // The work notes its end before it is counted out: read in the other order.
        const bool under_way = awaited_work.load() > 0;
        const std::uint32_t ends = awaited_work_ends.load();
        if (ends != awaited_work_ends_counted) {
            awaited_work_ends_counted = ends;
            const std::uint32_t ended = awaited_work_ended_ms.load();
            if (static_cast<std::int32_t>(ended - started) > 0) started = ended;
        }
        if (!under_way && os::monotonic_milliseconds() - started >= unload_deadline_ms &&
            (!unload.begun || give_up_waiting()))
            return;
        os::pause_milliseconds(1);
    }
}

} // namespace

unload_waits_for::unload_waits_for() noexcept {
    std::int32_t held = awaited_work.load();
    while (held != gave_up && !awaited_work.compare_exchange_weak(held, held + 1)) {
    }
    granted_ = held != gave_up;
}

unload_waits_for::~unload_waits_for() {
    if (!granted_) return;
    awaited_work_ended_ms.store(os::monotonic_milliseconds());
    awaited_work_ends.fetch_add(1);
    awaited_work.fetch_sub(1);
}

// Every attached resident call of this module, for begin_unload.
struct resident_registry {
    static inline resident_call* first = nullptr;

    static void add(resident_call* call) noexcept {
        call->next_attached_ = first;
        first = call;
    }
    static void lead_all_home() noexcept {
        for (resident_call* call = first; call; call = call->next_attached_)
            call->lead_home();
    }
    static void remove(resident_call* call) noexcept {
        for (resident_call** at = &first; *at; at = &(*at)->next_attached_) {
            if (*at != call) continue;
            *at = call->next_attached_;
            call->next_attached_ = nullptr;
            return;
        }
    }
};

std::optional<resident_view> resident_at(std::uintptr_t address) noexcept {
    resident_kind kind{};
    slot* const s = slot_at(address, &kind);
    if (!s) return std::nullopt;
    return resident_view{kind, share_of(*s), s->home, s->callee, s->original, inside(*s)};
}

const std::uint8_t* resident_original(const std::uint8_t (&site_bytes)[5],
                                      std::uintptr_t site) noexcept {
    // One resident call a copy of the module laid on the site, each over the one before: a few.
    constexpr int deepest = 16;
    const std::uint8_t* original = nullptr;
    std::uint8_t bytes[5];
    std::memcpy(bytes, site_bytes, sizeof bytes);
    for (int depth = 0; depth < deepest; ++depth) {
        const slot* const s = slot_at(relative_call_target(bytes, site));
        if (!s) break;
        original = s->original;
        std::memcpy(bytes, original, sizeof bytes);
    }
    return original;
}

std::uintptr_t resident_call::entry() const noexcept {
    return slot_ ? entry_of(slot_) : 0;
}

int resident_call::threads_inside() const noexcept {
    return slot_ ? inside(*slot_) : 0;
}

patch_status resident_call::attach(std::uintptr_t site, std::uintptr_t share,
                                   std::uintptr_t callee) {
    static_cast<void>(release());
    // Only the game's own kind of call: a JMP or a CALL through a cell another plug-in laid
    // would be run as something it is not.
    if (protected_read_value<std::uint8_t>(site) != call_rel32_opcode)
        return patch_status::not_a_call;
    const patch_status saved = save_bytes(reinterpret_cast<void*>(site), 5, true);
    const std::uintptr_t before = relative_call_target(kept_bytes, site);

    resident_kind found_kind{};
    slot* s = slot_at(before, &found_kind);
    if (s && found_kind == kind_ && !in_use(*s)) {
        // Left by an earlier load and called by nobody else: the site leads there already.
        std::memcpy(kept_bytes, s->original, sizeof s->original);
        previous_ = s->home;
        s->callee = static_cast<std::uint32_t>(callee);
        lead(*s, share);
        slot_ = s;
        resident_registry::add(this);
        return saved;
    }

    // Code an earlier load left for the site as it is now, or a slot never laid, is used again;
    // only where there is neither is memory asked for, given back if the site is not written.
    s = slot_like(site, kept_bytes, kind_);
    resident_block* const made = s ? nullptr : new_block();
    if (made) s = &made->slots[index_of(kind_)];
    if (!s) {
        holds_bytes = false;
        return patch_status::no_code_memory;
    }
    if (s->home == 0) {
        std::memcpy(s->original, kept_bytes, sizeof s->original);
        s->home = static_cast<std::uint32_t>(before);
    }
    s->callee = static_cast<std::uint32_t>(callee);
    lead(*s, share);
    previous_ = before;

    const call_write written = write_call(site, entry_of(s));
    if (was_made(written.status)) {
        slot_ = s;
        resident_registry::add(this);
    } else {
        holds_bytes = false;
        injector::lead_home(*s);
        if (made) os::free_code_memory(made);
    }
    return worse(saved, written.status);
}

void resident_call::lead_home() noexcept {
    if (slot_) injector::lead_home(*slot_);
}

void resident_call::lead_to(std::uintptr_t share) noexcept {
    if (slot_) lead(*slot_, share);
}

patch_status resident_call::release() noexcept {
    slot* const s = slot_;
    if (!s) return patch_status::done;
    resident_registry::remove(this);
    injector::lead_home(*s);
    if (unload.process_exiting) {
        // The process ends: no other thread runs the site again, and nothing is written.
        slot_ = nullptr;
        holds_bytes = false;
        return patch_status::done;
    }
    let_threads_leave(*s);
    slot_ = nullptr;

    // Where the site still calls the resident code it gets its own bytes back. The code itself
    // stays, in every case: a thread of the game may have taken the site's CALL an instant
    // before and be about to run it, and the next load finds it again.
    std::uint8_t now[5];
    std::memcpy(now, address, sizeof now); // code is readable as it stands
    if (relative_call_target(now, address_of(address)) != entry_of(s)) {
        // Changed since by another plug-in, which may still call the code: both stay as they are.
        holds_bytes = false;
        return patch_status::done;
    }
    return scoped_basic::restore_bytes();
}

void begin_unload(bool process_exiting) noexcept {
    unload.begun = true;
    unload.process_exiting = process_exiting;
    unload.started_ms = os::monotonic_milliseconds();
    resident_registry::lead_all_home();
}

void forget_unload() noexcept {
    unload = unload_state{};
    std::int32_t stopped = gave_up;
    awaited_work.compare_exchange_strong(stopped, 0);
    awaited_work_ends_counted = awaited_work_ends.load();
}

bool unloading_at_process_exit() noexcept {
    return unload.begun && unload.process_exiting;
}

} // namespace injector
