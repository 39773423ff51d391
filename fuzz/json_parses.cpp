// Whether a text is one valid JSON document. Apart from the fuzz target so that the JSON
// library's parser is built without coverage instrumentation (see fuzz/Makefile).
#include <nlohmann/json.hpp>

#include <string>

bool json_parses(const std::string& text) {
    return nlohmann::json::accept(text);
}
