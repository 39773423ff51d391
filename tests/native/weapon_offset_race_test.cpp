// The settings loader and the aim hook on two threads with nothing locked, as a host may run
// them: loads that append new weapon types (so the lookup table is rebuilt), retune known ones
// and set the default, while the other thread aims through the hooked site without pause.
// AddressSanitizer catches a read of a table or entry that is gone; the checks below catch an
// offset taken from another type's entry or a number torn between two writes.
#include "aim_host.h"

#include "injector/branch.h"
#include "platform/os_stand_in.h"
#include "plugin/aim/aim_hook.h"
#include "plugin/load/settings_load.h"
#include "plugin/settings/weapon_offsets.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::uint32_t aim_call_site = 0x527A95;
constexpr auto race_time = std::chrono::seconds(3);

constexpr int type_count = 40;    // types 0 to 39 appear over a round's loads, -1 from load 2
constexpr int load_count = 12;    // per round; the last loads only retune
constexpr int new_per_load = 6;   // types a load adds
constexpr float stride = 4096.0f; // an offset number is (type + 2) * 4096 + the load's number

float encoded(std::int32_t type, int load) {
    return (static_cast<float>(type) + 2.0f) * stride + static_cast<float>(load);
}

// The type an offset number was written for, or -100 when no load wrote that number.
std::int32_t decoded_type(float value) {
    if (!(value >= stride) || value != std::floor(value)) return -100;
    const auto type = static_cast<std::int32_t>(value / stride) - 2;
    const float load = value - (static_cast<float>(type) + 2.0f) * stride;
    return load < load_count ? type : -100;
}

// The settings file of load `k`: sixteen weapon lines, known types retuned and new ones added.
std::string settings_of_load(int k) {
    std::string text = "Reload 1\n--\n";
    for (int n = 3; n <= 9; ++n)
        text += "Value 1.5\n";
    text += "--\n";
    for (int r = 0; r < 4; ++r)
        text += "Row 1 2 3 4 5 6 7\n";
    text += "--\n";
    const int newest = std::min(type_count, (k + 1) * new_per_load);
    std::vector<std::int32_t> types;
    if (k >= 2) types.push_back(-1);
    for (int t = newest - 1; t >= 0 && types.size() < 16; --t)
        types.push_back(t);
    for (std::int32_t t : types) {
        const std::string v = std::to_string(static_cast<long>(encoded(t, k)));
        text += std::to_string(t) + " " + v + " " + v + " " + v + "\n";
    }
    return text;
}

// What the aiming thread saw.
struct aim_record {
    std::uint64_t calls = 0;
    std::uint64_t own_entry = 0; // the offset of the weapon's own entry
    std::uint64_t default_entry = 0;
    std::uint64_t passed_through = 0;
    std::string first_fault;
};

// Hands the aiming thread its pauses: the loader resets the module only while the other thread
// is out of the hook (as a module is never unloaded in the middle of a host call).
struct pause_handshake {
    std::atomic<bool> requested = false;
    std::atomic<bool> paused = false;
    std::atomic<bool> finished = false;

    // Loader side.
    void pause() {
        requested.store(true, std::memory_order_release);
        while (!paused.load(std::memory_order_acquire))
            std::this_thread::yield();
    }
    void resume() {
        requested.store(false, std::memory_order_release);
        while (paused.load(std::memory_order_acquire))
            std::this_thread::yield();
    }
    // Aiming side: returns false once finished.
    bool keep_going() {
        if (!requested.load(std::memory_order_acquire)) return true;
        paused.store(true, std::memory_order_release);
        while (requested.load(std::memory_order_acquire))
            if (finished.load(std::memory_order_acquire))
                return false;
            else
                std::this_thread::yield();
        paused.store(false, std::memory_order_release);
        return true;
    }
};

// Aims with every weapon in turn until finished, checking each offset the hook used.
void aim_until_finished(test_host::aim_host& host, pause_handshake& handshake, aim_record& record) {
    int object = 0;
    float target[3] = {1, 2, 3};
    std::int32_t weapon = -1;
    while (handshake.keep_going()) {
        weapon = weapon >= type_count + 1 ? -1 : weapon + 1; // -1 to 41: two types never set
        host.player.set_weapon(1, weapon);
        host.calls.find_player_args.clear();
        host.calls.camera.clear();
        host.calls.transforms.clear();
        const std::uint32_t result = host.call_aim_site(&object, target, 0, 0, 0);
        ++record.calls;
        std::string fault;
        if (result != test_host::camera_result || host.calls.camera.size() != 1) {
            fault = "the host's camera was not called once";
        } else if (host.calls.transforms.empty()) {
            ++record.passed_through;
        } else {
            const auto& o = host.calls.transforms[0].offset;
            const std::int32_t type = decoded_type(o[0]);
            if (decoded_type(o[1]) != type || decoded_type(o[2]) != type)
                fault = "the three numbers came from different entries or were torn";
            else if (type == weapon)
                ++record.own_entry;
            else if (type == -1)
                ++record.default_entry;
            else
                fault = "weapon " + std::to_string(weapon) + " aimed with the offset of type " +
                        std::to_string(type);
        }
        if (!fault.empty() && record.first_fault.empty()) record.first_fault = fault;
    }
}

TEST(WeaponOffsetRace, LoaderAndAimHookOnTwoThreads) {
    ASSERT_TRUE(test_host::map_host_image());
    test_host::reset_platform();
    test_host::reset_module();
    test_host::aim_host host;
    ASSERT_EQ(host.hook_aim_site(), injector::patch_status::done);
    host.calls.camera.reserve(4);
    host.calls.transforms.reserve(4);
    host.calls.find_player_args.reserve(4);

    std::vector<std::string> files;
    for (int k = 0; k < load_count; ++k)
        files.push_back(settings_of_load(k));

    aim_record record;
    pause_handshake handshake;
    handshake.requested = true;
    std::thread aiming(aim_until_finished, std::ref(host), std::ref(handshake), std::ref(record));
    handshake.pause();

    std::uint64_t rounds = 0;
    const auto end = std::chrono::steady_clock::now() + race_time;
    while (std::chrono::steady_clock::now() < end) {
        // Each round starts from an empty list, as a freshly loaded module does, so the table
        // is rebuilt again and again while the other thread reads it.
        test_host::reset_module(); // which leads the aim call home, as an unload does
        plugin::create_weapon_offset_list();
        ASSERT_EQ(host.hook_aim_site(), injector::patch_status::done);
        handshake.resume();
        for (const std::string& text : files) {
            plugin::settings_reader reader(text.data(), text.size());
            plugin::load_aiming_settings_from(reader);
            os::stand_in::current().protect_calls.clear();
            host.calls.vector_sets.clear();
        }
        handshake.pause();
        ++rounds;
    }
    handshake.finished = true;
    aiming.join();

    EXPECT_EQ(record.first_fault, "");
    // The race really ran: both kinds of answer were seen while loads went on.
    EXPECT_GT(record.own_entry, 0u);
    EXPECT_GT(record.default_entry, 0u);
    std::printf("%llu rounds of %d loads; %llu aim calls: %llu own offset, %llu default, %llu "
                "passed through\n",
                static_cast<unsigned long long>(rounds), load_count,
                static_cast<unsigned long long>(record.calls),
                static_cast<unsigned long long>(record.own_entry),
                static_cast<unsigned long long>(record.default_entry),
                static_cast<unsigned long long>(record.passed_through));
    test_host::reset_module();
}

} // namespace
