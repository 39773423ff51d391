// Writes everything corvane-check shows for each settings file named on standard input (one path
// a line), checked as the reports' fuzz target checks it (from memory, named "fuzz.dat"): the
// text report, the named lines' part of it, the JSON report and the picture, into one file per
// input in OUT_DIR, named after the input's path. fuzz/same_reports.sh builds it from two commits
// and compares what they write, file by file: a change made for speed must not change a word.
#include "plugin/settings/settings_reader.h"
#include "tools/check/check_text.h"
#include "tools/check/settings_check.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

bool read_file(const std::string& path, std::vector<unsigned char>& bytes) {
    std::FILE* const file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    bytes.clear();
    unsigned char chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

bool write_file(const std::string& path, const std::string& text) {
    std::FILE* const file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && ok;
}

// "fuzz/corpus/a.dat" as "fuzz_corpus_a.dat": every input's output in one folder.
std::string flat_name(std::string path) {
    for (char& c : path)
        if (c == '/') c = '_';
    return path;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: reports_dump OUT_DIR < list of files\n");
        return 2;
    }
    const std::string out_dir = argv[1];
    std::vector<unsigned char> bytes;
    std::string path;
    int failed = 0;
    while (std::getline(std::cin, path)) {
        if (path.empty()) continue;
        if (!read_file(path, bytes)) {
            std::fprintf(stderr, "reports_dump: cannot read %s\n", path.c_str());
            failed = 1;
            continue;
        }
        plugin::settings_reader reader(bytes.data(), bytes.size());
        const check::check_result result = check::check_settings_stream(reader, "fuzz.dat");
        const std::string all = "== text report\n" + check::text_report(result) +
                                "== named lines\n" + check::named_lines_text(result) +
                                "== json report\n" + check::json_report(result) + "== picture\n" +
                                check::aim_points_svg(result);
        if (!write_file(out_dir + "/" + flat_name(path), all)) {
            std::fprintf(stderr, "reports_dump: cannot write the output for %s\n", path.c_str());
            failed = 1;
        }
    }
    return failed;
}
