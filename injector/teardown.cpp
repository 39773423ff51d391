#include "injector/teardown.h"

#include <vector>

namespace injector {

namespace {
// A pointer, not a static vector: the list must outlive every static object that registers.
std::vector<teardown_function>* teardowns = nullptr;
} // namespace

void register_teardown(teardown_function teardown) {
    if (!teardowns) teardowns = new std::vector<teardown_function>();
    teardowns->push_back(teardown);
}

void run_teardowns() noexcept {
    while (teardowns && !teardowns->empty()) {
        const teardown_function last = teardowns->back();
        teardowns->pop_back();
        last();
    }
    delete teardowns;
    teardowns = nullptr;
}

} // namespace injector
