#include "plugin/aim/aim_keys.h"

#include "platform/os.h"
#include "plugin/aim/aim_hook.h"
#include "plugin/log/named_settings_log.h"

namespace plugin {

namespace {

constexpr std::uint32_t empty_slots_asked_every_ms = 1000;

// What the per-frame work remembers from one frame to the next.
struct key_memory {
    named_values settings;
    int toggle_key = 0;           // the key_toggle polled last frame (0: none)
    bool toggle_key_down = false; // whether it was down then
    std::uint32_t pad_button = 0; // the pad_toggle polled last frame (0: none)
    bool pad_button_down = false;
    bool pad_library = false;  // loaded at start-up
    int pad_slot = -1;         // the connected controller's slot, -1: none found
    int pad_next_slot = 0;     // the slot to ask next while none is found
    bool pad_searched = false; // the slots were asked at least once
    std::uint32_t pad_searched_ms = 0;
    aim_swing swing;
    float factor = 1.0f;
} memory;

bool key_down(int code) noexcept {
    return code != 0 && os::key_state(code) < 0;
}

// Whether a press starts this frame: down now and up the frame before. A key or button newly
// chosen starts as up, so one held at that moment swaps once, as a press then would.
bool pressed(bool down, bool& was_down, bool newly_chosen) noexcept {
    const bool press = down && (newly_chosen || !was_down);
    was_down = down;
    return press;
}

std::uint32_t pad_bits(const os::gamepad_state& state) noexcept {
    std::uint32_t bits = state.buttons;
    if (state.left_trigger > pad_trigger_threshold) bits |= pad_left_trigger;
    if (state.right_trigger > pad_trigger_threshold) bits |= pad_right_trigger;
    return bits;
}

// The buttons of the controller found (0 while none is). With none found, one slot is asked a
// second, each in turn: asking an empty slot can take a long while, so a frame asks one at most.
std::uint32_t read_pad(std::uint32_t now) noexcept {
    if (!memory.pad_library) {
        log_gamepad_library_missing(); // once
        return 0;
    }
    os::gamepad_state state;
    if (memory.pad_slot >= 0) {
        if (os::read_gamepad(memory.pad_slot, &state)) return pad_bits(state);
        memory.pad_next_slot = memory.pad_slot; // unplugged: that slot is asked first,
        memory.pad_slot = -1;                   // a second from now
        memory.pad_searched = true;
        memory.pad_searched_ms = now;
        return 0;
    }
    if (memory.pad_searched && now - memory.pad_searched_ms < empty_slots_asked_every_ms) return 0;
    memory.pad_searched = true;
    memory.pad_searched_ms = now;
    const int slot = memory.pad_next_slot;
    memory.pad_next_slot = slot + 1 == os::gamepad_slots ? 0 : slot + 1;
    if (!os::read_gamepad(slot, &state)) return 0;
    memory.pad_slot = slot;
    return pad_bits(state);
}

} // namespace

float swing_factor(const aim_swing& swing, std::uint32_t elapsed_ms, int swing_ms) noexcept {
    if (swing_ms <= 0 || elapsed_ms >= static_cast<std::uint32_t>(swing_ms)) return swing.to;
    const float t = static_cast<float>(elapsed_ms) / static_cast<float>(swing_ms);
    const float eased = t * t * (3.0f - 2.0f * t);
    const float factor = swing.from + (swing.to - swing.from) * eased;
    // Rounding may step a hair past an end; the factor never does.
    const float low = swing.from < swing.to ? swing.from : swing.to;
    const float high = swing.from < swing.to ? swing.to : swing.from;
    return factor < low ? low : factor > high ? high : factor;
}

float mode_factor(std::uint8_t mode, const named_values& settings) noexcept {
    return mode != 0 ? settings[named_setting::mirror_factor].number : 1.0f;
}

void set_aim_key_settings(const named_values& values) noexcept {
    memory.settings = values;
}

const named_values& aim_key_settings() noexcept {
    return memory.settings;
}

void update_aim_keys() noexcept {
    const named_values& settings = memory.settings;
    const std::uint32_t now = os::monotonic_milliseconds();

    const int toggle_key = settings[named_setting::key_toggle].whole;
    const bool toggle_key_new = toggle_key != memory.toggle_key;
    memory.toggle_key = toggle_key;
    bool swap = pressed(key_down(toggle_key), memory.toggle_key_down, toggle_key_new);

    const auto pad_button = static_cast<std::uint32_t>(settings[named_setting::pad_toggle].whole);
    const bool pad_button_new = pad_button != memory.pad_button;
    memory.pad_button = pad_button;
    if (pad_button != 0) {
        const bool down = (read_pad(now) & pad_button) != 0;
        swap = pressed(down, memory.pad_button_down, pad_button_new) || swap;
    }

    if (swap) aim_mode = aim_mode != 0 ? 0 : 1;
    if (key_down(settings[named_setting::key_normal].whole))
        aim_mode = 0;
    else if (key_down(settings[named_setting::key_mirrored].whole))
        aim_mode = 1;

    const float target = mode_factor(aim_mode, settings);
    if (target != memory.swing.to) memory.swing = aim_swing{memory.factor, target, now};
    memory.factor = swing_factor(memory.swing, now - memory.swing.started_ms,
                                 settings[named_setting::swing_ms].whole);
    // A finished swing holds its end, so that the clock running round after 49 days never
    // takes it back to the middle.
    if (memory.factor == memory.swing.to) memory.swing.from = memory.swing.to;
    publish_aim_factor(memory.factor);
}

void prepare_gamepad() noexcept {
    memory.pad_library = os::load_gamepad_library();
}

void forget_aim_keys() noexcept {
    memory = key_memory{};
    aim_mode = 0;
    publish_aim_factor(1.0f);
}

} // namespace plugin
