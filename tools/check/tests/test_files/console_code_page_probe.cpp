// Prints the console's output code page, so a test can tell what corvane-check leaves behind.
#include <windows.h>

#include <cstdio>

int main() {
    std::printf("output code page: %u\n", GetConsoleOutputCP());
    return 0;
}
