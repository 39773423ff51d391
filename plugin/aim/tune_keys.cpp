#include "plugin/aim/tune_keys.h"

#include "injector/resident.h"
#include "injector/teardown.h"
#include "platform/os.h"
#include "plugin/aim/aim_hook.h"
#include "plugin/aim/aim_keys.h"
#include "plugin/aim/unsaved_tunes.h"
#include "plugin/aim/weapon_in_hand.h"
#include "plugin/log/tune_log.h"
#include "plugin/settings/settings_edit.h"
#include "plugin/settings/settings_files.h"
#include "plugin/settings/settings_save.h"
#include "plugin/settings/weapon_offsets.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace plugin {

namespace {

struct direction_state {
    bool down = false;
    bool held_before = false; // down since before the tune key: no step until it is let go
    std::uint32_t next_ms = 0;
};

// What the tune keys remember from one frame to the next.
struct tune_memory {
    bool tune_down = false;
    direction_state keys[tune_direction_count];
    // The file as corvane had read it when the first pending tune began; a save writes only over
    // exactly these bytes. None: corvane had read no file then.
    std::optional<std::string> base;
    // Whether the unload's teardown that names the tunes not saved is registered.
    bool unload_note_registered = false;
    // The file must be read again: the save found the player's edit and dropped the tunes.
    bool read_file_again = false;
} memory;

bool same_bits(const float (&a)[3], const float (&b)[3]) noexcept {
    return std::memcmp(a, b, sizeof a) == 0;
}

// At unload (the game quits, or a loader unloads corvane): each tune not saved yet is lost, and
// the log says so, with the line to write.
void log_tunes_not_saved() noexcept {
    std::vector<pending_tune>& pending = pending_tunes();
    for (const pending_tune& tune : pending)
        if (!same_bits(tune.from, tune.now))
            log_tune_not_saved_at_unload(tune.weapon_type, tune.now);
    memory.unload_note_registered = false;
}

// The tune of the weapon in hand, begun now when there is none yet.
pending_tune* begin_tune(std::int32_t weapon_type) {
    std::vector<pending_tune>& pending = pending_tunes();
    if (pending_tune* tune = pending_tune_for(weapon_type)) return tune;
    const weapon_offset_entry* const entry = find_weapon_offset(weapon_type);
    pending_tune tune{weapon_type, {}, {}, {}, entry && entry->weapon_type == weapon_type};
    if (entry) read_weapon_offset(*entry, tune.from);
    std::memcpy(tune.now, tune.from, sizeof tune.now);
    if (pending.empty()) {
        const std::string* const read = settings_file_as_read();
        memory.base = read ? std::optional<std::string>(*read) : std::nullopt;
    }
    if (!memory.unload_note_registered) {
        injector::register_teardown(&log_tunes_not_saved); // may throw: nothing changed yet
        memory.unload_note_registered = true;
    }
    pending.push_back(tune);
    log_tune_begins(weapon_type, tune.from, tune.own_line, entry != nullptr);
    return &pending.back();
}

// One press of direction `d`: the weapon in hand's offset moves by one step, at once.
void step(const tune_direction& d, const named_values& settings) noexcept {
    const std::int32_t weapon_type = weapon_in_hand.type.load(std::memory_order_relaxed);
    if (weapon_type == no_weapon_seen) {
        log_tune_without_weapon();
        return;
    }
    try {
        pending_tune& tune = *begin_tune(weapon_type);
        float amount = d.sign * settings[named_setting::tune_step].number;
        // On the other shoulder the sideways part is multiplied by a negative factor: the key
        // still moves the point the way it says on screen.
        if (d.part == 0 && mode_factor(aim_mode, settings) < 0.0f) amount = -amount;
        const int decimals =
            std::max(decimals_of(static_cast<float>(tune.moved[d.part])), decimals_of(amount));
        const double scale = std::pow(10.0, decimals);
        const double moved = std::round((tune.moved[d.part] + amount) * scale) / scale;
        weapon_offset_entry entry{weapon_type, {}};
        std::memcpy(entry.offset, tune.now, sizeof entry.offset);
        entry.offset[d.part] = moved == 0.0 ? tune.from[d.part]
                                            : stepped(tune.from[d.part], static_cast<float>(moved));
        tune_weapon_offset(entry); // may throw before it changes anything
        std::memcpy(tune.now, entry.offset, sizeof tune.now);
        tune.moved[d.part] = moved;
    } catch (...) {
        // Out of memory: this press moves nothing.
    }
}

// Each direction key, while the tune key is set: a step at the press, then steadily while held,
// as long as the tune key is held too. A key held down before the tune key moves nothing until
// it is let go and pressed again; one pressed in the same frame as the tune key counts.
void read_direction_keys(bool tune_down, const named_values& settings, std::uint32_t now) noexcept {
    const int tune_key = settings[named_setting::tune_key].whole;
    for (int i = 0; i < tune_direction_count; ++i) {
        direction_state& key = memory.keys[i];
        if (tune_directions[i].key == tune_key) continue; // the tune key itself moves nothing
        const bool down = os::key_state(tune_directions[i].key) < 0;
        if (!down || !tune_down) {
            key = direction_state{down, down, 0};
            continue;
        }
        if (key.held_before) continue;
        if (!key.down) {
            key.down = true;
            key.next_ms = now + tune_repeat_delay_ms;
            step(tune_directions[i], settings);
        } else if (static_cast<std::int32_t>(now - key.next_ms) >= 0) {
            key.next_ms += tune_repeat_every_ms;
            if (static_cast<std::int32_t>(now - key.next_ms) >= 0)
                key.next_ms = now + tune_repeat_every_ms; // late: no burst to catch up
            step(tune_directions[i], settings);
        }
    }
}

// Sets each pending tune back to where it began, forgets them all, and has the file read again: a
// weapon that was on the default follows the default again from that load on.
void drop_pending_and_read_again() noexcept {
    std::vector<pending_tune>& pending = pending_tunes();
    for (const pending_tune& tune : pending) {
        log_tune_dropped(tune.weapon_type, tune.now);
        weapon_offset_entry entry{tune.weapon_type, {}};
        std::memcpy(entry.offset, tune.from, sizeof entry.offset);
        try {
            tune_weapon_offset(entry);
            if (!tune.own_line) follow_the_default_again(tune.weapon_type);
        } catch (...) {
        }
    }
    pending.clear();
    memory.base.reset();
    memory.read_file_again = true;
}

// The tune key was let go: every tune that changed something is saved.
void save_pending() noexcept {
    std::vector<pending_tune>& pending = pending_tunes();
    std::erase_if(pending, [](const pending_tune& tune) { return same_bits(tune.from, tune.now); });
    if (pending.empty()) {
        memory.base.reset();
        return;
    }
    // Begun while corvane had not read the file: a load that read it since gives what the save
    // may write over.
    if (!memory.base) {
        if (const std::string* const read = settings_file_as_read()) memory.base = *read;
    }
    if (!memory.base) {
        for (pending_tune& tune : pending) {
            if (!tune.not_read_said) log_tune_file_not_read(tune.weapon_type, tune.now);
            tune.not_read_said = true;
        }
        return;
    }
    // An unload waits for the save whole: it is never cut off half-written, nor left running in
    // a module that is gone. Once an unload has stopped waiting, no save begins.
    const injector::unload_waits_for save;
    if (!save) return;
    try {
        std::string on_disk;
        if (!read_settings_file_now(on_disk)) {
            log_tune_file_unreadable();
            return;
        }
        if (on_disk != *memory.base) {
            log_tune_file_changed();
            drop_pending_and_read_again();
            return;
        }
        std::string bytes = on_disk;
        std::vector<weapon_edit> edits;
        bool any = false;
        for (const pending_tune& tune : pending) {
            std::string edited;
            const weapon_edit edit = edit_weapon_offset(bytes, tune.weapon_type, tune.now, edited);
            if (edit.status == weapon_edit_status::rewritten ||
                edit.status == weapon_edit_status::new_line) {
                bytes.swap(edited);
                any = true;
            }
            edits.push_back(edit);
        }
        if (any && virtual_store_copy(settings_file_path())) {
            // The save would land in a copy only the game reads: the tune stays for the session.
            for (std::size_t i = 0; i < pending.size(); ++i)
                if (edits[i].status == weapon_edit_status::rewritten ||
                    edits[i].status == weapon_edit_status::new_line)
                    log_tune_in_virtual_store(pending[i].weapon_type, pending[i].now, edits[i]);
            return;
        }
        if (any) {
            const bool first_save = settings_backup_state() == settings_backup::not_yet;
            bool at_backup = false;
            const file_replace result = replace_settings_file(on_disk, bytes, at_backup);
            if (first_save && settings_backup_state() != settings_backup::not_yet)
                log_tune_backup(settings_backup_state());
            if (result == file_replace::changed) {
                log_tune_file_changed();
                drop_pending_and_read_again();
                return;
            }
            if (result != file_replace::done) {
                log_tune_write_failed(result, at_backup);
                return;
            }
            note_settings_file_written(bytes);
        }
        std::vector<pending_tune> kept;
        for (std::size_t i = 0; i < pending.size(); ++i) {
            const pending_tune& tune = pending[i];
            switch (edits[i].status) {
            case weapon_edit_status::rewritten:
            case weapon_edit_status::new_line:
                log_tune_saved(tune.weapon_type, tune.from, tune.now, edits[i]);
                note_weapon_line(edits[i].line, tune.weapon_type);
                break;
            case weapon_edit_status::unchanged:
                break; // the file already said so
            case weapon_edit_status::no_empty_slot:
            case weapon_edit_status::not_placeable:
                log_tune_no_place(tune.weapon_type, tune.now, edits[i]);
                kept.push_back(tune);
                break;
            }
        }
        pending.swap(kept);
        if (pending.empty())
            memory.base.reset();
        else
            memory.base = std::move(bytes);
    } catch (...) {
        // Out of memory: nothing was written; the tunes stay for the next try.
    }
}

} // namespace

int decimals_of(float value) noexcept {
    double scale = 1;
    for (int decimals = 0; decimals < max_tune_decimals; ++decimals, scale *= 10)
        if (static_cast<float>(std::round(static_cast<double>(value) * scale) / scale) == value)
            return decimals;
    return max_tune_decimals;
}

float stepped(float value, float step) noexcept {
    const double moved = static_cast<double>(value) + static_cast<double>(step);
    const double scale = std::pow(10.0, std::max(decimals_of(value), decimals_of(step)));
    const double kept = std::round(moved * scale) / scale;
    return kept == 0.0 ? 0.0f : static_cast<float>(kept);
}

bool update_tune_keys() noexcept {
    const named_values& settings = aim_key_settings();
    const int tune_key = settings[named_setting::tune_key].whole;
    const bool tune_down = tune_key != 0 && os::key_state(tune_key) < 0;
    if (tune_key != 0) read_direction_keys(tune_down, settings, os::monotonic_milliseconds());
    if (memory.tune_down && !tune_down) save_pending();
    memory.tune_down = tune_down;
    return std::exchange(memory.read_file_again, false);
}

void forget_tune_keys() noexcept {
    memory = tune_memory{};
    forget_unsaved_tunes();
}

} // namespace plugin
