// On Windows the C runtime's own text mode does the work, as it does for the module.
#include "tools/check/module_file.h"

namespace check {

std::FILE* open_as_the_module_does(const std::string& path) {
    return std::fopen(path.c_str(), "r");
}

} // namespace check
