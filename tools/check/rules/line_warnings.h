// The warnings and notes about the file's lines, one position at a time, in file order.
//
// What a line sets less than it seems comes from the module's own findings
// (plugin/settings/settings_findings.h), so the checker and the module's log say the same; this
// adds what needs the line's layout: numbers cut short inside a word, weapon types written with a
// leading zero or in hexadecimal, inf and nan, the file's encoding, and a hint for each.
#pragma once

#include "plugin/settings/line_layout.h"
#include "tools/check/settings_check.h"

namespace check {

// Holds what earlier positions showed (weapon types given, where the file ended), so it checks
// one file and is then thrown away.
class line_checker {
  public:
    explicit line_checker(check_result& result) : result_(result) {}

    // Checks one position as the module read it. `report` already holds the line's text and
    // values; `raw` is the line buffer, line end kept. Adds to the result's warnings, notes and
    // weapon offsets.
    void check(position_report& report, plugin::line_read read, const char* raw);

  private:
    void add(check_warning finding, finding_severity severity);
    void warn(warning_code code, std::string message, std::string hint);
    void note(warning_code code, std::string message, std::string hint);

    void check_encoding(const std::string& raw);
    void check_value_spelling();
    void check_weapon_type(const std::string& word, const std::string& read, std::size_t end);

    std::string hint_for(const plugin::settings_finding& finding) const;
    std::string missing_values_hint() const;
    std::string weapon_incomplete_hint() const;
    std::string label_text() const;
    std::string word_from(std::size_t p) const;
    std::string stopper(bool& cut) const;
    int float_index(std::size_t value_index) const;

    check_result& result_;
    position_report* report_ = nullptr;
    int line_ = 0;
    plugin::line_kind kind_{};
    plugin::line_layout layout_;
    plugin::settings_findings findings_;
};

} // namespace check
