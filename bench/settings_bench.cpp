// One full load of the sample aimingSets.dat into a test host, against reading the lines of the
// same file that a load reads (up to line 95: the 31 positional lines and the named lines
// below them) with plain stdio calls (open, fgets to the end, close) and no parsing. Two more
// benchmarks split the load: the module's own line reads of the file (its settings reader), and
// the parsing of its 31 positional lines.
#include "aim_host.h"
#include "bench_table.h"

#include "platform/os_stand_in.h"
#include "plugin/load/settings_load.h"
#include "plugin/settings/named_settings.h"
#include "plugin/settings/settings_files.h"
#include "plugin/settings/settings_parser.h"
#include "plugin/settings/settings_reader.h"
#include "plugin/settings/weapon_offsets.h"

#include <cstdio>
#include <memory>
#include <string>

namespace {

const std::string settings_dir = CORVANE_BENCH_SETTINGS_DIR;
const std::string settings_file = settings_dir + "/aimingSets.dat";
constexpr int line_count = plugin::settings_line_count;

bool sample_opens() {
    std::FILE* probe = std::fopen(settings_file.c_str(), "r");
    if (probe) std::fclose(probe);
    return probe != nullptr;
}

void settings_load(benchmark::State& state) {
    if (!test_host::map_host_image())
        return bench::fail(state, "the host image could not be mapped at 0x400000");
    test_host::reset_platform();
    test_host::reset_module();
    auto& os = os::stand_in::current();
    os.module_paths[os.plugin_module] = os::stand_in::utf16(settings_dir + "/corvane.dll");
    auto host = std::make_unique<test_host::aim_host>(); // the vector-set double at 0x411B50
    plugin::create_weapon_offset_list();

    // The first load fills the list; every later one is the steady state of reloading each
    // frame: the same file, the entries already known.
    plugin::load_aiming_settings();
    const auto* path = plugin::settings_file_path();
    if (!path || settings_file != os::stand_in::utf8(path) ||
        plugin::weapon_offset_list()->empty()) {
        test_host::reset_module();
        return bench::fail(state, "the sample settings file was not loaded");
    }
    os.protect_calls.reserve(1024);
    os.flushes.reserve(1024);
    host->calls.vector_sets.reserve(256 * line_count);
    unsigned n = 0;
    const auto allocations = bench::allocation_count();
    for (auto _ : state) {
        plugin::load_aiming_settings();
        if (++n % 256 == 0) {
            os.protect_calls.clear();
            os.flushes.clear();
            host->calls.vector_sets.clear();
        }
    }
    bench::report_allocations(state, allocations);
    state.counters["entries"] = static_cast<double>(plugin::weapon_offset_list()->size());
    test_host::reset_module();
}

void settings_read_lines_only(benchmark::State& state) {
    if (!sample_opens()) return bench::fail(state, "the sample settings file cannot be opened");
    char line[plugin::line_buffer_size];
    for (auto _ : state) {
        std::FILE* file = std::fopen(settings_file.c_str(), "r");
        for (int i = 0; i < plugin::named_last_line && std::fgets(line, sizeof line, file); ++i)
            benchmark::ClobberMemory();
        std::fclose(file);
        benchmark::ClobberMemory();
    }
}

void settings_module_line_reads(benchmark::State& state) {
    if (!sample_opens()) return bench::fail(state, "the sample settings file cannot be opened");
    char line[plugin::line_buffer_size];
    for (auto _ : state) {
        std::FILE* file = std::fopen(settings_file.c_str(), "rb");
        plugin::settings_reader reader(file);
        for (int i = 0;
             i < plugin::named_last_line && reader.read_line(line) != plugin::line_read::absent;
             ++i)
            benchmark::ClobberMemory();
        std::fclose(file);
        benchmark::ClobberMemory();
    }
}

void settings_parse_only(benchmark::State& state) {
    std::FILE* file = std::fopen(settings_file.c_str(), "rb");
    if (!file) return bench::fail(state, "the sample settings file cannot be opened");
    static char lines[line_count][plugin::line_buffer_size];
    plugin::settings_reader reader(file);
    for (auto& line : lines)
        reader.read_line(line);
    std::fclose(file);
    for (auto _ : state) {
        for (int i = 0; i < line_count; ++i) {
            const auto values =
                plugin::parse_settings_line(plugin::settings_positions[i].kind, lines[i]);
            benchmark::DoNotOptimize(values);
        }
    }
}

} // namespace

BENCHMARK(settings_read_lines_only)->Apply(bench::repeat);
BENCHMARK(settings_load)->Apply(bench::repeat);
BENCHMARK(settings_module_line_reads)->Apply(bench::repeat);
BENCHMARK(settings_parse_only)->Apply(bench::repeat);
