// corvane-check: explains a settings file the way the module reads it.
#include "tools/check/settings_check.h"

#include <cstdio>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string out, err;
    const int status = check::run_check_command(args, out, err);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    std::fwrite(err.data(), 1, err.size(), stderr);
    return status;
}
