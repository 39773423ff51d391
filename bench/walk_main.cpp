// corvane_walk: the walk a load of corvane makes through the process's memory to find the
// resident code an earlier load left (os::next_code_memory, one VirtualQuery a block, and a
// look at each block of code memory it finds), in a process that holds as many blocks of memory
// as a game's does, so that bench/walk_count.sh can count its instructions under Wine and
// qemu-i386.
//
//   corvane_walk [RESERVATIONS]     lays out RESERVATIONS blocks (default 200), walks twice
//
// Each walk is framed by two calls that show in qemu's log of executed instructions
// (count_window_open, count_window_close); standard output says what the address space holds.
#include "platform/os.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {
volatile unsigned windows_opened = 0, windows_closed = 0;
}

extern "C" __attribute__((noipa)) void count_window_open() {
    windows_opened = windows_opened + 1;
}
extern "C" __attribute__((noipa)) void count_window_close() {
    windows_closed = windows_closed + 1;
}

namespace {

// A game's memory besides its modules: heaps, stacks, mapped data, each a reservation with a
// committed part, of every protection; one in 40 a page of code memory of the kind resident
// jumps are made of (another plug-in's, say), which the walk must look into.
bool lay_out(int reservations) {
    constexpr SIZE_T reserved = 64 * 1024, page = 4096;
    const DWORD protections[] = {PAGE_READWRITE, PAGE_READONLY, PAGE_EXECUTE_READ};
    for (int i = 0; i < reservations; ++i) {
        if (i % 40 == 39) {
            if (!VirtualAlloc(nullptr, page, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE))
                return false;
            continue;
        }
        void* const block = VirtualAlloc(nullptr, reserved, MEM_RESERVE, PAGE_NOACCESS);
        if (!block || !VirtualAlloc(block, page * (1 + i % 3), MEM_COMMIT, protections[i % 3]))
            return false;
    }
    return true;
}

// Every region of the address space, as VirtualQuery tells them apart.
unsigned regions() {
    unsigned count = 0;
    MEMORY_BASIC_INFORMATION info;
    const char* at = nullptr;
    while (VirtualQuery(at, &info, sizeof info) != 0) {
        ++count;
        const char* const next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return count;
}

// The walk of slot_like (injector/resident.cpp): every block of code memory, and a look at each
// as at the two pages of resident code (the code compared only where the mark fits, which none
// of these blocks carries).
unsigned walk() {
    unsigned found = 0;
    for (void* memory = os::next_code_memory(nullptr); memory;
         memory = os::next_code_memory(memory))
        if (os::is_readable(memory, 0x2000)) ++found;
    return found;
}

} // namespace

int main(int argc, char** argv) {
    const int reservations = argc > 1 ? std::atoi(argv[1]) : 200;
    if (!lay_out(reservations)) {
        std::printf("corvane_walk: Windows gave no more memory\n");
        return 1;
    }
    unsigned found = 0;
    for (int walks = 0; walks < 2; ++walks) {
        count_window_open();
        found = walk();
        count_window_close();
    }
    std::printf("regions %u\ncode_blocks %u\n", regions(), found);
    return 0;
}
