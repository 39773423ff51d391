// The runtime's error classes on the string members the DLL instantiates itself
// (platform/error_message_string_win32.cpp and error_category_string_win32.cpp, linked in here as
// in the DLL): each error carries its message through a throw, a copy that outlives the thrown
// one, an assignment and a move, and every message is freed again. Prints each mismatch; the
// exit code is the number of them.
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace {

int mismatches = 0;

void expect_message(const char* step, const std::exception& error, const char* expected) {
    if (std::strcmp(error.what(), expected) == 0) return;
    std::printf("%s: \"%s\", expected \"%s\"\n", step, error.what(), expected);
    ++mismatches;
}

template <class error> void check_carries(const char* message) {
    error copy("a message that the copy's first one is replaced with");
    try {
        throw error(message);
    } catch (const error& thrown) {
        expect_message("thrown", thrown, message);
        copy = thrown; // shares the thrown one's message, which the end of the handler lets go
    }
    expect_message("copied, after the thrown one is gone", copy, message);

    error assigned("a message to be replaced");
    assigned = copy;
    expect_message("assigned", assigned, message);

    error moved(std::move(assigned));
    expect_message("moved", moved, message);
    assigned = std::move(moved);
    expect_message("moved back", assigned, message);
}

} // namespace

int main() {
    check_carries<std::length_error>("list<T> too long");
    check_carries<std::runtime_error>("an error nothing caught");
    check_carries<std::logic_error>(""); // with moves of its own, where the others copy
    check_carries<std::invalid_argument>(
        "a message longer than any short-string buffer would hold");
    return mismatches;
}
