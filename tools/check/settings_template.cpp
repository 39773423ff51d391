// The starter file that `corvane-check --template` prints.
#include "tools/check/settings_check.h"

namespace check {

const char* settings_template() {
    return "reload_every_frame 0      (1: read this file again on every frame while you tune it)\n"
           "== host aim-camera values, lines 3 to 9: a one-word label, then the value ==\n"
           "aim_value_8CC4B4 1.6\n"
           "aim_value_8CC4B8 0.55\n"
           "aim_code_constant_521632 0.3\n"
           "aim_value_8CC4B0 0.35\n"
           "aim_value_8CC4AC 0.8\n"
           "aim_value_8CC4A8 6.0\n"
           "aim_value_8CC4A0 8.0\n"
           "== aim rows, lines 11 to 14: a one-word label, then seven values ==\n"
           "aim_row_0 1.0 0.9 0.8 0.0 0.0 1.2 0.25\n"
           "aim_row_1 1.0 0.85 0.7 0.05 0.0 1.1 0.25\n"
           "aim_row_2 1.0 0.8 0.6 0.1 0.0 1.0 0.2\n"
           "aim_row_3 1.0 0.75 0.5 0.15 0.0 0.9 0.2\n"
           "== weapons, lines 16 to 31: type x y z (-1: every other weapon; blank: unused) ==\n"
           "-1 0.4 0.0 0.1     every weapon without a line of its own\n"
           "22 0.5 0.2 0.1\n"
           "25 0.6 -0.3 0.2\n"
           "31 0 0 0           zero: the aim of weapon 31 is left alone\n"
           "\n\n\n\n\n\n\n\n\n\n\n\n";
}

} // namespace check
