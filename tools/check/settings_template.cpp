// The starter file that `corvane-check --template` writes: the shipped aimingSets.dat itself,
// built in from the sources (see starter_file.h.in).
#include "tools/check/settings_check.h"

#include "tools/check/starter_file.h"

namespace check {

const char* settings_template() {
    return starter_file_text;
}

} // namespace check
