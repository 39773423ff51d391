// Counts the C++ allocations a thread makes, so a test can tell that a path allocates nothing.
// Linking this file replaces every form of the global operator new and delete in the test program.
#pragma once

#include <cstdint>

namespace test_host {

// The number of `operator new` calls (of any form) made so far on the calling thread.
std::uint64_t allocations_on_this_thread() noexcept;

} // namespace test_host
