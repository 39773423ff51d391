#include "tools/check/files/surroundings.h"

#include <cstdint>

namespace check {

namespace {
const surroundings* test_answers = nullptr;
}

const surroundings& current_surroundings() {
    return test_answers ? *test_answers : system_surroundings();
}

std::size_t unlimited_room() {
    return SIZE_MAX;
}

void set_surroundings_for_tests(const surroundings* answers) {
    test_answers = answers;
}

} // namespace check
