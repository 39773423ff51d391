// corvane-check: explains a settings file the way the module reads it.
#include "tools/check/files/surroundings.h"
#include "tools/check/settings_check.h"

#include <cstdio>

int main(int argc, char** argv) {
    return check::run_check_program(check::program_arguments(argc, argv), stdout, stderr);
}
