// The picture of the aim points: where each weapon's offset puts the aim camera's target around
// the player character, in two planes of the character's own frame, in both aim modes.
//
// Both views share one scale, the same in every direction, so distances read true; x runs
// across, y or z upwards. A view is as tall as its points need, and at least as tall as the
// column of labels beside it, so that every weapon's label has room inside its own view however
// close the marks lie.
//
// The picture is made for every input the reports' fuzz target tries: its layout is at most
// quadratic in the number of weapons (16 at most), and it writes straight into one string.
#include "tools/check/check_text.h"
#include "tools/check/settings_check.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace check {

namespace {

constexpr double picture_width = 960;
constexpr double frame_left = 20, frame_right = picture_width - 20;
constexpr double plot_left = 80, plot_right = 770; // the label column lies to the right
constexpr double column_left = 826;
constexpr double tallest_plot = 360;
constexpr double label_font_size = 12; // the weapon types' labels, bold
constexpr double label_height = 14;    // a label's box: 11 above its baseline, 3 below
constexpr double note_font_size = 12;
constexpr const char* normal_colour = "#1f5fbf";
constexpr const char* default_colour = "#177245";
constexpr const char* x_mode_colour = "#e07000";

// The longest label: a weapon type as low as a 32-bit number goes ("-1 default" is shorter).
constexpr int longest_label = 11; // "-2147483648"
static_assert(column_left + longest_label * picture_char_width * label_font_size <= frame_right - 4,
              "the label column holds every weapon type inside the view's frame");

// Pieces appended to the picture one after the other, numbers with one decimal: no text is
// made on the way.
void put(std::string& out, std::string_view text) {
    out.append(text);
}
void put(std::string& out, char c) {
    out += c;
}
void put(std::string& out, double value) {
    // Digits as "%.1f" writes them, a few times faster; a number as large as a double gets has
    // 309 digits before the point.
    char buffer[320];
    const std::to_chars_result written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    out.append(buffer, written.ptr);
}
template <typename... Pieces> void add(std::string& out, const Pieces&... pieces) {
    (put(out, pieces), ...);
}

std::string label_number(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", std::fabs(value) < 1e-12 ? 0.0 : value);
    return buffer;
}

// How many bytes the UTF-8 character at `at` takes; 0 when the bytes there are none (a name
// in an 8-bit code page, a cut or overlong sequence, a surrogate).
std::size_t utf8_length(std::string_view text, std::size_t at) {
    const auto byte = [&text](std::size_t i) {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
    };
    const unsigned c = byte(at);
    std::size_t length = 0;
    unsigned low = 0x80, high = 0xBF; // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    return length;
}

// Text for XML, always valid UTF-8: markup characters escaped, letters of any script as they
// are, a control character as '?', and a byte that is no part of a UTF-8 character as U+FFFD.
void put_xml_text(std::string& out, std::string_view text) {
    static constexpr char replacement[] = "\xEF\xBF\xBD";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '&')
                out += "&amp;";
            else if (c == '<')
                out += "&lt;";
            else if (c == '>')
                out += "&gt;";
            else if (c == '"')
                out += "&quot;";
            else if (c < 0x20 || c == 0x7F)
                out += '?';
            else
                out += static_cast<char>(c);
            ++i;
            continue;
        }
        const std::size_t length = utf8_length(text, i);
        const std::string_view character = text.substr(i, length);
        if (length == 0)
            out += replacement;
        else if (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0)
            out += '?'; // U+0080 to U+009F: control characters too
        else if (character == "\xEF\xBF\xBE" || character == "\xEF\xBF\xBF")
            out += replacement; // U+FFFE and U+FFFF are no characters XML allows
        else
            out.append(character);
        i += length == 0 ? 1 : length;
    }
}

// A round grid step that puts about eight steps between the origin and the farthest point.
double grid_step(double farthest) {
    const double raw = farthest / 8;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (factor * magnitude >= raw * (1 - 1e-9)) return factor * magnitude;
    return 10 * magnitude;
}

struct box {
    double left, top, right, bottom;
    bool overlaps(const box& other) const {
        return left < other.right && other.left < right && top < other.bottom && other.top < bottom;
    }
};

// A weapon's label: its type, and "default" beside -1.
struct label_text {
    char text[24];
    std::size_t size, number_size;
    explicit label_text(std::int32_t type) {
        const int n = std::snprintf(text, sizeof text, "%d", static_cast<int>(type));
        number_size = size = static_cast<std::size_t>(n);
        if (type == -1)
            size += static_cast<std::size_t>(
                std::snprintf(text + size, sizeof text - size, " default"));
    }
    std::string_view view() const { return {text, size}; }
    std::string_view number() const { return {text, number_size}; } // the type alone
    double width() const {
        return static_cast<double>(size) * picture_char_width * label_font_size;
    }
};

// The range a view's upward axis needs: its points and the origin, a grid step to spare.
struct range {
    double low, high;
};

range upward_range(const std::vector<const offset_entry*>& entries, char axis, double step) {
    double low = 0, high = 0;
    for (const offset_entry* entry : entries) {
        const double v = axis == 'y' ? entry->y : entry->z;
        low = std::min(low, v);
        high = std::max(high, v);
    }
    return {(std::floor(low / step + 1e-9) - 1) * step, (std::ceil(high / step - 1e-9) + 1) * step};
}

// One of the two views: the x axis across, the second axis (y or z) upwards, and on the right
// the column that holds the labels of marks too close to label beside them.
class view {
  public:
    view(std::string& out, double top, char second_axis, double x_extent, range upward,
         double scale, double step, float mirror_factor, std::size_t weapons)
        : out_(out), top_(top), second_(second_axis), x_extent_(x_extent), upward_(upward),
          scale_(scale), step_(step), mirror_factor_(mirror_factor) {
        plot_top_ = top + 34;
        origin_x_ = (plot_left + plot_right) / 2;
        origin_y_ = plot_top_ + upward.high * scale;
        plot_bottom_ = plot_top_ + (upward.high - upward.low) * scale;
        // Every label may end up in the column: it holds them all, one under the other.
        column_top_ = top + 8;
        column_bottom_ =
            std::max(plot_bottom_ + 24, column_top_ + static_cast<double>(weapons) * label_height);
        labels_.reserve(weapons);
        taken_.reserve(3 * weapons + 4);
    }

    double bottom() const { return column_bottom_ + 6; }
    double screen_x(double x) const { return origin_x_ + x * scale_; }
    double screen_y(double up) const { return origin_y_ - up * scale_; }

    void draw_frame() {
        add(out_, "<g id=\"view-x", second_, "\">\n");
        add(out_, "<rect x=\"", frame_left, "\" y=\"", top_, "\" width=\"",
            frame_right - frame_left, "\" height=\"", bottom() - top_,
            "\" fill=\"#fbfbf8\" stroke=\"#999\"/>\n");
        add(out_, "<text x=\"", frame_left + 10, "\" y=\"", top_ + 20, "\" class=\"heading\">x-",
            second_, " plane (seen along ", second_ == 'y' ? 'z' : 'y', ")</text>\n");
        const double left = screen_x(-x_extent_), right = screen_x(x_extent_);
        const int every = step_ * scale_ < 40 ? 2 : 1; // thin the numbers when steps are narrow
        for (double t = -x_extent_; t <= x_extent_ + step_ / 2; t += step_) {
            const double sx = screen_x(t);
            add(out_, "<line x1=\"", sx, "\" y1=\"", plot_top_, "\" x2=\"", sx, "\" y2=\"",
                plot_bottom_, "\" class=\"grid\"/>\n");
            if (std::llround(t / step_) % every == 0) // zero always has its number
                add(out_, "<text x=\"", sx, "\" y=\"", plot_bottom_ + 14,
                    "\" class=\"tick\" text-anchor=\"middle\">", label_number(t), "</text>\n");
        }
        for (double t = upward_.low; t <= upward_.high + step_ / 2; t += step_) {
            const double sy = screen_y(t);
            add(out_, "<line x1=\"", left, "\" y1=\"", sy, "\" x2=\"", right, "\" y2=\"", sy,
                "\" class=\"grid\"/>\n");
            add(out_, "<text x=\"", left - 6, "\" y=\"", sy + 4,
                "\" class=\"tick\" text-anchor=\"end\">", label_number(t), "</text>\n");
        }
        add(out_, "<line x1=\"", left, "\" y1=\"", origin_y_, "\" x2=\"", right + 14, "\" y2=\"",
            origin_y_, "\" class=\"axis\" marker-end=\"url(#arrow)\"/>\n");
        add(out_, "<line x1=\"", origin_x_, "\" y1=\"", plot_bottom_, "\" x2=\"", origin_x_,
            "\" y2=\"", plot_top_ - 12, "\" class=\"axis\" marker-end=\"url(#arrow)\"/>\n");
        add(out_, "<text x=\"", right + 4, "\" y=\"", origin_y_ - 7,
            "\" class=\"axis-name\">x</text>\n");
        add(out_, "<text x=\"", origin_x_ + 8, "\" y=\"", plot_top_ - 4, "\" class=\"axis-name\">",
            second_, "</text>\n");
        add(out_, "<circle cx=\"", origin_x_, "\" cy=\"", origin_y_,
            "\" r=\"8\" class=\"player\"/>\n");
        add(out_, "<text x=\"", origin_x_ - 8, "\" y=\"", origin_y_ + 20,
            "\" text-anchor=\"end\" class=\"player-name\">player</text>\n");
        taken_.push_back({origin_x_ - 9, origin_y_ - 9, origin_x_ + 9, origin_y_ + 9});
        taken_.push_back({origin_x_ - 56, origin_y_ + 8, origin_x_ - 8, origin_y_ + 23});
        // The axes' names.
        taken_.push_back({right + 2, origin_y_ - 20, right + 16, origin_y_ - 4});
        taken_.push_back({origin_x_ + 6, plot_top_ - 17, origin_x_ + 20, plot_top_ - 1});
    }

    void draw_entry(const offset_entry& entry) {
        const double up = second_ == 'y' ? entry.y : entry.z;
        const double x = screen_x(entry.x), y = screen_y(up);
        const double moved = screen_x(entry.x_mirrored(mirror_factor_));
        const int type = static_cast<int>(entry.weapon_type);
        if (entry.x != 0.0f)
            add(out_, "<line x1=\"", x, "\" y1=\"", y, "\" x2=\"", moved, "\" y2=\"", y,
                "\" class=\"move\"/>\n");
        add(out_, "<circle cx=\"", moved, "\" cy=\"", y,
            "\" r=\"4.5\" class=\"x-mode\" data-weapon-type=\"", label_text(type).number(),
            "\"/>\n");
        taken_.push_back({moved - 5, y - 5, moved + 5, y + 5});
        if (type == -1)
            add(out_, "<rect x=\"", x - 6, "\" y=\"", y - 6,
                "\" width=\"12\" height=\"12\" class=\"mark default\" "
                "data-weapon-type=\"-1\"/>\n");
        else
            add(out_, "<circle cx=\"", x, "\" cy=\"", y,
                "\" r=\"6\" class=\"mark\" data-weapon-type=\"", label_text(type).number(),
                "\"/>\n");
        taken_.push_back({x - 7, y - 7, x + 7, y + 7});
        labels_.push_back({entry.weapon_type, x, y});
    }

    // Labels go last, so that they keep clear of every mark: beside their mark when there is
    // room, else in the column to the right of the plot with a line to the mark.
    void finish() {
        std::sort(labels_.begin(), labels_.end(),
                  [](const pending_label& a, const pending_label& b) {
                      return a.y != b.y ? a.y < b.y : a.x != b.x ? a.x < b.x : a.type < b.type;
                  });
        for (pending_label& label : labels_) {
            // A mark in a cluster gets its label in the column, where it cannot be mistaken
            // for a neighbour's.
            const bool clustered =
                std::any_of(labels_.begin(), labels_.end(), [&label](const pending_label& other) {
                    return &other != &label &&
                           std::hypot(other.x - label.x, other.y - label.y) < 18;
                });
            label.in_column = clustered || !place_beside(label);
        }
        // The column's baselines: each as near its mark's height as the labels above it allow,
        // then, from the last one up, moved back above the column's end. The column holds
        // every label, so the first stays inside it.
        const double first = column_top_ + label_height - 3, last = column_bottom_ - 3;
        double next = first;
        for (pending_label& label : labels_) {
            if (!label.in_column) continue;
            label.column_y = std::max(label.y + 4, next);
            next = label.column_y + label_height;
        }
        double limit = last;
        for (auto it = labels_.rbegin(); it != labels_.rend(); ++it) {
            if (!it->in_column) continue;
            it->column_y = std::min(it->column_y, limit);
            limit = it->column_y - label_height;
        }
        for (const pending_label& label : labels_) {
            if (!label.in_column) continue;
            const double y = label.column_y;
            const label_text text(label.type);
            add(out_, "<polyline points=\"", label.x, ',', label.y, ' ', column_left - 12, ',',
                y - 4, ' ', column_left - 4, ',', y - 4, "\" class=\"leader\"/>\n");
            add(out_, "<text x=\"", column_left, "\" y=\"", y,
                "\" class=\"weapon-name\" data-weapon-type=\"", text.number(), "\">", text.view(),
                "</text>\n");
        }
        out_ += "</g>\n";
    }

  private:
    struct pending_label {
        std::int32_t type;
        double x, y;
        bool in_column = false;
        double column_y = 0;
    };

    bool place_beside(const pending_label& label) {
        const label_text text(label.type);
        const double width = text.width();
        struct spot {
            double dx, dy;
            bool to_the_left;
        };
        static const spot spots[] = {
            {9, -6, false}, {9, 15, false}, {-9, -6, true}, {-9, 15, true}};
        // Inside the plot's grid, clear of its numbers and of the leader lines' way in.
        const double left = screen_x(-x_extent_);
        for (const spot& s : spots) {
            const double start = s.to_the_left ? label.x + s.dx - width : label.x + s.dx;
            const double baseline = label.y + s.dy;
            const box b{start, baseline - label_height + 3, start + width, baseline + 3};
            const bool inside = b.left > left && b.right < column_left - 16 &&
                                b.top > plot_top_ - 8 && b.bottom < plot_bottom_ + 4;
            if (!inside || std::any_of(taken_.begin(), taken_.end(),
                                       [&b](const box& t) { return b.overlaps(t); }))
                continue;
            taken_.push_back(b);
            add(out_, "<text x=\"", label.x + s.dx, "\" y=\"", baseline, "\" text-anchor=\"",
                s.to_the_left ? "end" : "start", "\" class=\"weapon-name\" data-weapon-type=\"",
                text.number(), "\">", text.view(), "</text>\n");
            return true;
        }
        return false;
    }

    std::string& out_;
    double top_;
    char second_;
    double x_extent_;
    range upward_;
    double scale_, step_;
    float mirror_factor_;
    double plot_top_, plot_bottom_, origin_x_, origin_y_;
    double column_top_, column_bottom_;
    std::vector<box> taken_;
    std::vector<pending_label> labels_;
};

std::string type_list(const std::vector<const offset_entry*>& entries) {
    std::string out = entries.size() == 1 ? "weapon type " : "weapon types ";
    for (const offset_entry* entry : entries) {
        if (entry != entries.front()) out += ", ";
        out += std::to_string(entry->weapon_type);
    }
    return out;
}

// How wide a character of the heading is taken to be, in the picture's character widths: a
// letter from U+0800 on (kana, CJK, Hangul) is drawn a full font size wide.
double heading_columns(std::string_view text, std::size_t at, std::size_t length) {
    return length >= 3 && utf8_length(text, at) == length ? 1 / picture_char_width : 1.0;
}

// The heading in lines that fit the canvas: a long path broken after a folder's separator (or a
// blank), a name longer than a whole line at a character. Each line's end, in order.
std::vector<std::size_t> heading_breaks(std::string_view text, double columns) {
    std::vector<std::size_t> ends;
    std::size_t start = 0, last_break = 0;
    double used = 0, used_at_break = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = std::max<std::size_t>(utf8_length(text, i), 1);
        const double width = heading_columns(text, i, length);
        if (used + width > columns && i > start) {
            const bool at_break = last_break > start;
            const std::size_t end = at_break ? last_break : i;
            ends.push_back(end);
            used -= at_break ? used_at_break : used;
            start = end;
            last_break = start;
        }
        used += width;
        i += length;
        if (text[i - 1] == '/' || text[i - 1] == '\\' || text[i - 1] == ' ') {
            last_break = i;
            used_at_break = used;
        }
    }
    ends.push_back(text.size());
    return ends;
}

} // namespace

std::string aim_points_svg(const check_result& result) {
    const float factor = result.mirror_factor();
    // Either mode's point may lie farther out: the factor ranges from -10 to 10.
    const auto farther_x = [factor](const offset_entry& entry) {
        return std::max(std::fabs(double(entry.x)), std::fabs(double(entry.x_mirrored(factor))));
    };
    std::vector<const offset_entry*> drawn, alone, broken, too_far;
    drawn.reserve(result.offsets.size());
    double farthest = 0;
    for (const offset_entry& entry : result.offsets) {
        if (!entry.finite()) {
            broken.push_back(&entry);
        } else if (entry.leaves_aim_alone()) {
            alone.push_back(&entry);
        } else if (entry.mirrored_beyond_any_number(factor)) {
            too_far.push_back(&entry);
        } else {
            drawn.push_back(&entry);
            for (double v : {farther_x(entry), double(entry.y), double(entry.z)})
                farthest = std::max(farthest, std::fabs(v));
        }
    }
    if (farthest == 0) farthest = 1;
    const double step = grid_step(farthest);
    double x_extent = 0;
    for (const offset_entry* entry : drawn)
        x_extent = std::max(x_extent, farther_x(*entry));
    x_extent = (std::ceil(x_extent / step - 1e-9) + 1) * step;
    const range upward_y = upward_range(drawn, 'y', step),
                upward_z = upward_range(drawn, 'z', step);
    const double tallest = std::max(upward_y.high - upward_y.low, upward_z.high - upward_z.low);
    const double scale =
        std::min((plot_right - plot_left) / (2 * x_extent), tallest_plot / tallest);

    std::vector<std::string> notes;
    if (drawn.empty()) notes.push_back("No weapon offset in this file moves the aim.");
    if (!alone.empty())
        notes.push_back("Zero offset, aim left alone (not drawn): " + type_list(alone) + ".");
    if (!broken.empty())
        notes.push_back(
            "Offset with inf or nan, no usable aim point (not drawn): " + type_list(broken) + ".");
    if (!too_far.empty())
        notes.push_back("Offset so large that x times " + format_float(factor) +
                        " is beyond any number the game holds, no usable aim point on the other "
                        "shoulder (not drawn): " +
                        type_list(too_far) + ".");

    // The views and the legend first: the canvas is as tall as they turn out.
    std::string body;
    body.reserve(8192 + 1536 * drawn.size());
    // The heading: the file's name, over as many lines as a long path needs.
    constexpr double heading_size = 18, heading_left = 20;
    const std::string heading = "Aim points of " + result.file;
    const std::vector<std::size_t> heading_ends = heading_breaks(
        heading, (picture_width - 2 * heading_left) / (picture_char_width * heading_size));
    const double subtitle_y = 30 + 22 * static_cast<double>(heading_ends.size());
    double top = subtitle_y + 20;
    for (char axis : {'y', 'z'}) {
        view v(body, top, axis, x_extent, axis == 'y' ? upward_y : upward_z, scale, step, factor,
               drawn.size());
        v.draw_frame();
        for (const offset_entry* entry : drawn)
            v.draw_entry(*entry);
        v.finish();
        top = v.bottom() + 16;
    }

    double y = top + 14;
    body += "<g id=\"legend\">\n";
    add(body, "<circle cx=\"40\" cy=\"", y - 4, "\" r=\"6\" fill=\"", normal_colour,
        "\"/><text x=\"54\" y=\"", y, "\">weapon type: its aim point in the normal mode (");
    put_xml_text(body, result.mode_keys(false));
    add(body, ")</text>\n", "<circle cx=\"520\" cy=\"", y - 4, "\" r=\"4.5\" fill=\"",
        x_mode_colour, "\"/><text x=\"532\" y=\"", y, "\">where the other shoulder moves it (");
    put_xml_text(body, result.mode_keys(true));
    add(body, ": x times ", format_float(factor), ")</text>\n");
    y += 24;
    add(body, "<rect x=\"34\" y=\"", y - 10, "\" width=\"12\" height=\"12\" fill=\"",
        default_colour, "\"/><text x=\"54\" y=\"", y,
        "\">-1: the default, for every weapon type without its own line</text>\n");
    add(body, "<circle cx=\"520\" cy=\"", y - 4,
        "\" r=\"7\" fill=\"#bbb\" stroke=\"#555\"/><text x=\"532\" y=\"", y,
        "\">the player character, origin of its own frame</text>\n");
    // A note as long as sixteen weapon types goes on over as many lines as it needs.
    constexpr double note_left = 34;
    const auto note_columns = static_cast<std::size_t>((picture_width - note_left - frame_left) /
                                                       (picture_char_width * note_font_size));
    for (const std::string& note : notes) {
        y += 6;
        for (const std::string& piece : wrap_words(note, note_columns)) {
            y += 16;
            add(body, "<text x=\"", note_left, "\" y=\"", y, "\" class=\"note\">");
            put_xml_text(body, piece);
            body += "</text>\n";
        }
    }
    body += "</g>\n";
    const double height = y + 20;

    std::string out;
    out.reserve(2048 + 2 * result.file.size() + body.size());
    add(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n",
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"", picture_width, "\" height=\"", height,
        "\" viewBox=\"0 0 ", picture_width, ' ', height,
        "\" font-family=\"sans-serif\" font-size=\"12\">\n");
    out += "<title>Aim points of ";
    put_xml_text(out, result.file);
    out += "</title>\n";
    out += "<defs><marker id=\"arrow\" viewBox=\"0 0 10 10\" refX=\"9\" refY=\"5\" "
           "markerWidth=\"7\" markerHeight=\"7\" orient=\"auto\"><path d=\"M0,0 L10,5 L0,10 z\" "
           "fill=\"#333\"/></marker></defs>\n";
    add(out, "<style>", ".grid{stroke:#e4e4de;stroke-width:1}",
        ".axis{stroke:#333;stroke-width:1.3}", ".axis-name{font-size:15px;font-weight:bold}",
        ".tick{fill:#777;font-size:10px}", ".heading{font-size:14px;font-weight:bold}",
        ".player{fill:#bbb;stroke:#555}", ".player-name{fill:#555;font-style:italic}",
        ".mark{fill:", normal_colour, ";stroke:#fff}", ".mark.default{fill:", default_colour, "}",
        ".x-mode{fill:", x_mode_colour, ";stroke:#fff}", ".move{stroke:", x_mode_colour,
        ";stroke-width:1.2;stroke-dasharray:4 3}",
        ".leader{fill:none;stroke:#999;stroke-width:0.8}",
        ".weapon-name{font-size:", label_number(label_font_size), "px;font-weight:bold;fill:#222}",
        ".note{font-size:", label_number(note_font_size), "px}", "</style>\n");
    out += "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n";
    for (std::size_t line = 0, start = 0; line < heading_ends.size();
         start = heading_ends[line++]) {
        add(out, "<text x=\"", heading_left, "\" y=\"", 30 + 22 * static_cast<double>(line),
            "\" font-size=\"", heading_size, "\" font-weight=\"bold\" class=\"title\">");
        put_xml_text(out, std::string_view(heading).substr(start, heading_ends[line] - start));
        out += "</text>\n";
    }
    add(out, "<text x=\"20\" y=\"", subtitle_y,
        "\" fill=\"#444\" class=\"subtitle\">Offsets in the player character's own frame, "
        "the same scale in both views, one grid step = ",
        label_number(step), ". On the other shoulder the x value is multiplied by ",
        format_float(factor), ".</text>\n");
    out += body;
    out += "</svg>\n";
    return out;
}

} // namespace check
