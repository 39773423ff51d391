#include "plugin/log/tune_log.h"

#include "platform/os.h"
#include "platform/utf16_text.h"
#include "plugin/log/module_log.h"
#include "plugin/log/virtual_store_words.h"
#include "plugin/settings/named_settings.h"
#include "plugin/settings/number_text.h"
#include "plugin/settings/settings_files.h"

namespace plugin {

namespace {

bool without_weapon_said = false;

// "0.5 0.2 0.1"
struct offset_text {
    char text[64];
};
offset_text text_of_offset(const float (&offset)[3]) noexcept {
    offset_text out{};
    std::snprintf(out.text, sizeof out.text, "%s %s %s", text_of(offset[0]).text,
                  text_of(offset[1]).text, text_of(offset[2]).text);
    return out;
}

const char* replace_failure_words(file_replace step) noexcept {
    switch (step) {
    case file_replace::done:
        return "";
    case file_replace::no_path:
        return "the folder's path is too long for files beside aimingSets.dat";
    case file_replace::read_only:
        return "aimingSets.dat is marked read-only (in its Properties), and corvane does not "
               "write a file that is";
    case file_replace::cannot_create:
        return "corvane could not create aimingSets.dat.new beside it (is the folder read-only?)";
    case file_replace::cannot_write:
        return "not all of the new file could be written (is the disk full?)";
    case file_replace::cannot_flush:
        return "Windows could not put the new file on the disk";
    case file_replace::changed:
        return "aimingSets.dat changed while corvane was saving";
    case file_replace::cannot_replace:
        return "Windows did not let the new file take the old one's place (is it read-only, or "
               "open in a program that holds on to it?)";
    }
    return "";
}

} // namespace

void log_tune_begins(std::int32_t weapon_type, const float (&from)[3], bool own_line,
                     bool served) noexcept {
    const char* const source = own_line ? "its own line"
                               : served ? "the default, -1: it has no line of its own"
                                        : "no offset: the game's own aim";
    log_line("tuning weapon type %ld, from %s (%s); each change counts from the next aim and is "
             "saved when you let go of the tune key in the game (let go in another window, as "
             "after Alt+Tab, the game does not see it: the tune is kept until you press the tune "
             "key and let go of it in the game)",
             static_cast<long>(weapon_type), text_of_offset(from).text, source);
}

void log_tune_without_weapon() noexcept {
    if (without_weapon_said) return;
    without_weapon_said = true;
    log_line("tune keys: aim with a weapon first, so that corvane knows which weapon to tune; "
             "nothing moved");
}

void log_tune_keys_unavailable(int tune_key) noexcept {
    log_line("tune_key %s: the tune keys need the game's per-frame call or its aim call, and "
             "corvane could change neither, so on this game they do nothing",
             key_display_name(tune_key).text);
}

void log_tune_saved(std::int32_t weapon_type, const float (&from)[3], const float (&to)[3],
                    const weapon_edit& edit) noexcept {
    if (edit.status == weapon_edit_status::new_line)
        log_line("saved weapon type %ld as a new line %d of %s (it used the default before): %s "
                 "-> %s",
                 static_cast<long>(weapon_type), edit.line, settings_file_name,
                 text_of_offset(from).text, text_of_offset(to).text);
    else
        log_line("saved weapon type %ld on line %d of %s: %s -> %s", static_cast<long>(weapon_type),
                 edit.line, settings_file_name, text_of_offset(from).text, text_of_offset(to).text);
}

void log_tune_backup(settings_backup backup) noexcept {
    if (backup == settings_backup::kept_now)
        log_line("%s as it was before corvane's first save is kept as %s; corvane never writes "
                 "over that copy",
                 settings_file_name, settings_backup_name);
    else
        log_line("%s is there already, from an earlier save or made by you: corvane never writes "
                 "over it, so it still holds %s as it was then (delete it, and the next save "
                 "keeps a fresh copy)",
                 settings_backup_name, settings_file_name);
}

void log_tune_no_place(std::int32_t weapon_type, const float (&to)[3],
                       const weapon_edit& edit) noexcept {
    const char* const why =
        edit.status == weapon_edit_status::no_empty_slot
            ? "it has no line of its own, and lines 16 to 31 have no empty line to take one"
            : "corvane could not find its place in the file safely";
    log_line("weapon type %ld not saved: %s; its tuned aim lasts until the game quits. To keep "
             "it, write the line yourself: %ld %s",
             static_cast<long>(weapon_type), why, static_cast<long>(weapon_type),
             text_of_offset(to).text);
}

void log_tune_file_not_read(std::int32_t weapon_type, const float (&to)[3]) noexcept {
    log_line("weapon type %ld not saved yet: corvane had not read %s when the tune began, and it "
             "never writes a file it has not read. Its tuned aim %s stays in force, and is saved "
             "when you let go of the tune key once corvane has read the file (live reload reads "
             "it as soon as it can be read); otherwise it lasts until the game quits",
             static_cast<long>(weapon_type), settings_file_name, text_of_offset(to).text);
}

void log_tune_file_unreadable() noexcept {
    log_line("not saved: %s cannot be read now (is it open in a program that holds on to it?); "
             "it is as it was, and corvane tries again when you next let go of the tune key",
             settings_file_name);
}

void log_tune_write_failed(file_replace step, bool at_backup) noexcept {
    if (at_backup)
        log_line("not saved: corvane keeps a copy of %s as %s before its first save, and could "
                 "not: %s; it saves nothing without that copy. %s is as it was, and corvane "
                 "tries again when you next let go of the tune key",
                 settings_file_name, settings_backup_name, replace_failure_words(step),
                 settings_file_name);
    else
        log_line("not saved: %s; %s is as it was, and corvane tries again when you next let go "
                 "of the tune key",
                 replace_failure_words(step), settings_file_name);
}

void log_tune_file_changed() noexcept {
    log_line("%s was changed since corvane read it, so corvane does not save over your edit: it "
             "reads the file again",
             settings_file_name);
}

void log_tune_dropped(std::int32_t weapon_type, const float (&to)[3]) noexcept {
    log_line("the tune of weapon type %ld (%s) is dropped, not saved; the file decides its aim",
             static_cast<long>(weapon_type), text_of_offset(to).text);
}

void log_files_in_virtual_store() noexcept {
    const char16_t* const log_copy = virtual_store_copy(log_file_path());
    if (!log_copy) return;
    log_line("%s is kept by Windows in %s, not beside %s: %s", log_file_name,
             os::utf8_path(log_copy).c_str(), module_file_name, virtual_store_why);
    const char16_t* const settings_copy = virtual_store_copy(settings_file_path());
    if (settings_copy && os::file_exists(settings_copy))
        log_line("%s: the game reads Windows' copy in %s, not the file beside %s, so your edits of "
                 "that file seem to do nothing. To end the split, %s",
                 settings_file_name, os::utf8_path(settings_copy).c_str(), module_file_name,
                 virtual_store_cure);
}

void log_tune_in_virtual_store(std::int32_t weapon_type, const float (&to)[3],
                               const weapon_edit& edit) noexcept {
    log_line("weapon type %ld not saved: %s. A save would make a second %s that only the game "
             "reads, and your later edits of the file in the game's folder would seem to do "
             "nothing. Its tuned aim lasts until the game quits; to keep it, write it into %s "
             "yourself, on line %d: %ld %s",
             static_cast<long>(weapon_type), virtual_store_why, settings_file_name,
             settings_file_name, edit.line, static_cast<long>(weapon_type),
             text_of_offset(to).text);
}

void log_tune_not_saved_at_unload(std::int32_t weapon_type, const float (&to)[3]) noexcept {
    log_line("the game quits (or corvane is unloaded) with the tune of weapon type %ld not saved: "
             "%s is not kept, and %s holds what it held. To keep it, write it into the file "
             "yourself: %ld %s",
             static_cast<long>(weapon_type), text_of_offset(to).text, settings_file_name,
             static_cast<long>(weapon_type), text_of_offset(to).text);
}

void forget_tune_log() noexcept {
    without_weapon_said = false;
}

} // namespace plugin
