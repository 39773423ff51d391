#include "injector/hooking.h"

#include <cstdio>

namespace injector {

namespace {
void print_assertion(const char* expression, const char* file, int line) {
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expression, file, line);
}
assertion_handler current_handler = &print_assertion;
} // namespace

assertion_handler set_assertion_handler(assertion_handler handler) noexcept {
    const assertion_handler previous = current_handler;
    current_handler = handler ? handler : &print_assertion;
    return previous;
}

void report_assertion(const char* expression, const char* file, int line) noexcept {
    current_handler(expression, file, line);
}

} // namespace injector
