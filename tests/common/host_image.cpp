#include "host_image.h"

namespace test_host {

std::vector<std::uint8_t> rel32_instruction(std::uint8_t opcode, std::uint32_t host_address,
                                            const void* target) {
    const std::uint32_t rel =
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(target)) - (host_address + 5);
    return {opcode, static_cast<std::uint8_t>(rel), static_cast<std::uint8_t>(rel >> 8),
            static_cast<std::uint8_t>(rel >> 16), static_cast<std::uint8_t>(rel >> 24)};
}

std::vector<std::uint8_t> read_bytes(std::uint32_t host_address, std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    std::memcpy(bytes.data(), at(host_address), size);
    return bytes;
}

} // namespace test_host

#include "injector/host_address.h"
#include "injector/host_variant.h"
#include "injector/resident.h"
#include "injector/teardown.h"
#include "plugin/aim/aim_keys.h"
#include "plugin/aim/tune_keys.h"
#include "plugin/aim/weapon_in_hand.h"
#include "plugin/frame/per_frame.h"
#include "plugin/load/settings_load.h"
#include "plugin/log/named_settings_log.h"
#include "plugin/log/settings_log.h"
#include "plugin/log/tune_log.h"
#include "plugin/settings/settings_save.h"
#include "runtime/game_version.h"

namespace test_host {

void reset_module() {
    // As the module's own unload: every site leads home first, then the teardowns run.
    injector::begin_unload(false);
    injector::run_teardowns();
    injector::forget_unload();
    injector::forget_host_module_base();
    injector::forget_host_variant();
    runtime::forget_game_version();
    plugin::forget_settings_state();
    plugin::forget_settings_log();
    plugin::forget_aim_keys();
    plugin::forget_named_settings_log();
    plugin::forget_start_up_finished();
    plugin::forget_weapon_in_hand();
    plugin::forget_tune_keys();
    plugin::forget_tune_log();
    plugin::forget_settings_save();
}

} // namespace test_host
