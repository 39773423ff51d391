// The DLL the end-to-end tests load: the one named by CORVANE_DLL (the release build, say), else
// the test build.
#pragma once

#include <cstdlib>
#include <string>

inline std::string dll_under_test() {
    const char* const chosen = std::getenv("CORVANE_DLL");
    return chosen && *chosen ? chosen : CORVANE_DLL_PATH;
}
