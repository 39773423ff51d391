// How corvane writes a number, in the settings file and in the log alike: the shortest text that
// reads back as the very same float.
#pragma once

namespace plugin {

// The shortest text that reads back as the same float, without an exponent where up to nine
// digits do: "0.45", "-1.5", "10", "inf", "1e+20".
struct float_text {
    char text[20];
};
float_text text_of(float value) noexcept;

} // namespace plugin
