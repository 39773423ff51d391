// The picture of the aim points: where each weapon's offset puts the aim camera's target around
// the player character, in two planes of the character's own frame, in both aim modes.
//
// Both views share one scale, the same in every direction, so distances read true; x runs
// across, y or z upwards. A view is only as tall as its points need.
#include "tools/check/check_text.h"
#include "tools/check/settings_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace check {

namespace {

constexpr double picture_width = 960;
constexpr double frame_left = 20, frame_right = picture_width - 20;
constexpr double plot_left = 80, plot_right = 770; // the label column lies to the right
constexpr double column_left = 826;
constexpr double tallest_plot = 360;
constexpr double label_height = 14;
constexpr const char* normal_colour = "#1f5fbf";
constexpr const char* default_colour = "#177245";
constexpr const char* x_mode_colour = "#e07000";

std::string number(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", value);
    return buffer;
}

std::string label_number(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", std::fabs(value) < 1e-12 ? 0.0 : value);
    return buffer;
}

// Text for XML: markup characters escaped, bytes outside printable ASCII as '?'.
std::string xml_text(const std::string& text) {
    std::string out;
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else if (c < 0x20 || c >= 0x7F)
            out += '?';
        else
            out += ch;
    }
    return out;
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

// One of the two views: the x axis across, the second axis (y or z) upwards.
class view {
  public:
    view(std::string& out, double top, char second_axis, double x_extent, range upward,
         double scale, double step, float mirror_factor)
        : out_(out), top_(top), second_(second_axis), x_extent_(x_extent), upward_(upward),
          scale_(scale), step_(step), mirror_factor_(mirror_factor) {
        plot_top_ = top + 34;
        origin_x_ = (plot_left + plot_right) / 2;
        origin_y_ = plot_top_ + upward.high * scale;
        plot_bottom_ = plot_top_ + (upward.high - upward.low) * scale;
    }

    double bottom() const { return plot_bottom_ + 30; }
    double screen_x(double x) const { return origin_x_ + x * scale_; }
    double screen_y(double up) const { return origin_y_ - up * scale_; }

    void draw_frame() {
        out_ += "<g id=\"view-x" + std::string(1, second_) + "\">\n";
        out_ += "<rect x=\"" + number(frame_left) + "\" y=\"" + number(top_) + "\" width=\"" +
                number(frame_right - frame_left) + "\" height=\"" + number(bottom() - top_) +
                "\" fill=\"#fbfbf8\" stroke=\"#999\"/>\n";
        out_ += "<text x=\"" + number(frame_left + 10) + "\" y=\"" + number(top_ + 20) +
                "\" class=\"heading\">x-" + second_ + " plane (seen along " +
                (second_ == 'y' ? 'z' : 'y') + ")</text>\n";
        const double left = screen_x(-x_extent_), right = screen_x(x_extent_);
        const int every = step_ * scale_ < 40 ? 2 : 1; // thin the numbers when steps are narrow
        for (double t = -x_extent_; t <= x_extent_ + step_ / 2; t += step_) {
            const std::string sx = number(screen_x(t));
            out_ += "<line x1=\"" + sx + "\" y1=\"" + number(plot_top_) + "\" x2=\"" + sx +
                    "\" y2=\"" + number(plot_bottom_) + "\" class=\"grid\"/>\n";
            if (std::llround(t / step_) % every == 0) // zero always has its number
                out_ += "<text x=\"" + sx + "\" y=\"" + number(plot_bottom_ + 14) +
                        "\" class=\"tick\" text-anchor=\"middle\">" + label_number(t) + "</text>\n";
        }
        for (double t = upward_.low; t <= upward_.high + step_ / 2; t += step_) {
            const std::string sy = number(screen_y(t));
            out_ += "<line x1=\"" + number(left) + "\" y1=\"" + sy + "\" x2=\"" + number(right) +
                    "\" y2=\"" + sy + "\" class=\"grid\"/>\n";
            out_ += "<text x=\"" + number(left - 6) + "\" y=\"" + number(screen_y(t) + 4) +
                    "\" class=\"tick\" text-anchor=\"end\">" + label_number(t) + "</text>\n";
        }
        out_ += "<line x1=\"" + number(left) + "\" y1=\"" + number(origin_y_) + "\" x2=\"" +
                number(right + 14) + "\" y2=\"" + number(origin_y_) +
                "\" class=\"axis\" marker-end=\"url(#arrow)\"/>\n";
        out_ += "<line x1=\"" + number(origin_x_) + "\" y1=\"" + number(plot_bottom_) + "\" x2=\"" +
                number(origin_x_) + "\" y2=\"" + number(plot_top_ - 12) +
                "\" class=\"axis\" marker-end=\"url(#arrow)\"/>\n";
        out_ += "<text x=\"" + number(right + 4) + "\" y=\"" + number(origin_y_ - 7) +
                "\" class=\"axis-name\">x</text>\n";
        out_ += "<text x=\"" + number(origin_x_ + 8) + "\" y=\"" + number(plot_top_ - 4) +
                "\" class=\"axis-name\">" + second_ + "</text>\n";
        out_ += "<circle cx=\"" + number(origin_x_) + "\" cy=\"" + number(origin_y_) +
                "\" r=\"8\" class=\"player\"/>\n";
        out_ += "<text x=\"" + number(origin_x_ - 8) + "\" y=\"" + number(origin_y_ + 20) +
                "\" text-anchor=\"end\" class=\"player-name\">player</text>\n";
        taken_.push_back({origin_x_ - 9, origin_y_ - 9, origin_x_ + 9, origin_y_ + 9});
        taken_.push_back({origin_x_ - 56, origin_y_ + 8, origin_x_ - 8, origin_y_ + 23});
    }

    void draw_entry(const offset_entry& entry) {
        const double up = second_ == 'y' ? entry.y : entry.z;
        const double x = screen_x(entry.x), y = screen_y(up);
        const double moved = screen_x(entry.x_mirrored(mirror_factor_));
        const std::string type = std::to_string(entry.weapon_type);
        if (entry.x != 0.0f)
            out_ += "<line x1=\"" + number(x) + "\" y1=\"" + number(y) + "\" x2=\"" +
                    number(moved) + "\" y2=\"" + number(y) + "\" class=\"move\"/>\n";
        out_ += "<circle cx=\"" + number(moved) + "\" cy=\"" + number(y) +
                "\" r=\"4.5\" class=\"x-mode\" data-weapon-type=\"" + type + "\"/>\n";
        taken_.push_back({moved - 5, y - 5, moved + 5, y + 5});
        if (entry.weapon_type == -1)
            out_ += "<rect x=\"" + number(x - 6) + "\" y=\"" + number(y - 6) +
                    "\" width=\"12\" height=\"12\" class=\"mark default\" "
                    "data-weapon-type=\"-1\"/>\n";
        else
            out_ += "<circle cx=\"" + number(x) + "\" cy=\"" + number(y) +
                    "\" r=\"6\" class=\"mark\" data-weapon-type=\"" + type + "\"/>\n";
        taken_.push_back({x - 7, y - 7, x + 7, y + 7});
        labels_.push_back({entry.weapon_type == -1 ? std::string("-1 default") : type, x, y});
    }

    // Labels go last, so that they keep clear of every mark: beside their mark when there is
    // room, else in the column to the right of the plot with a line to the mark.
    void finish() {
        std::sort(labels_.begin(), labels_.end(),
                  [](const pending_label& a, const pending_label& b) { return a.y < b.y; });
        std::vector<const pending_label*> crowded;
        for (const pending_label& label : labels_) {
            // A mark in a cluster gets its label in the column, where it cannot be mistaken
            // for a neighbour's.
            const bool clustered =
                std::any_of(labels_.begin(), labels_.end(), [&label](const pending_label& other) {
                    return &other != &label &&
                           std::hypot(other.x - label.x, other.y - label.y) < 18;
                });
            if (clustered || !place_beside(label)) crowded.push_back(&label);
        }
        double next_free = plot_top_ - 4;
        for (const pending_label* label : crowded) {
            const double y = std::max(label->y + 4, next_free + label_height);
            next_free = y;
            out_ += "<polyline points=\"" + number(label->x) + "," + number(label->y) + " " +
                    number(column_left - 12) + "," + number(y - 4) + " " + number(column_left - 4) +
                    "," + number(y - 4) + "\" class=\"leader\"/>\n";
            out_ += "<text x=\"" + number(column_left) + "\" y=\"" + number(y) +
                    "\" class=\"weapon-name\">" + xml_text(label->text) + "</text>\n";
        }
        out_ += "</g>\n";
    }

  private:
    struct pending_label {
        std::string text;
        double x, y;
    };

    bool place_beside(const pending_label& label) {
        const double width = 7.8 * static_cast<double>(label.text.size());
        struct spot {
            double dx, dy;
            bool to_the_left;
        };
        static const spot spots[] = {
            {9, -6, false}, {9, 15, false}, {-9, -6, true}, {-9, 15, true}};
        for (const spot& s : spots) {
            const double start = s.to_the_left ? label.x + s.dx - width : label.x + s.dx;
            const box b{start, label.y + s.dy - label_height + 3, start + width,
                        label.y + s.dy + 3};
            const bool inside = b.left > plot_left - 30 && b.right < column_left - 16 &&
                                b.top > plot_top_ - 8 && b.bottom < plot_bottom_ + 4;
            if (!inside || std::any_of(taken_.begin(), taken_.end(),
                                       [&b](const box& t) { return b.overlaps(t); }))
                continue;
            taken_.push_back(b);
            out_ += "<text x=\"" + number(label.x + s.dx) + "\" y=\"" + number(label.y + s.dy) +
                    "\" text-anchor=\"" + (s.to_the_left ? "end" : "start") +
                    "\" class=\"weapon-name\">" + xml_text(label.text) + "</text>\n";
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
    std::vector<box> taken_;
    std::vector<pending_label> labels_;
};

std::string type_list(const std::vector<const offset_entry*>& entries) {
    std::string out = entries.size() == 1 ? "weapon type " : "weapon types ";
    for (const offset_entry* entry : entries)
        out += (entry == entries.front() ? "" : ", ") + std::to_string(entry->weapon_type);
    return out;
}

} // namespace

std::string aim_points_svg(const check_result& result) {
    const float factor = result.mirror_factor();
    // Either mode's point may lie farther out: the factor ranges from -10 to 10.
    const auto farther_x = [factor](const offset_entry& entry) {
        return std::max(std::fabs(double(entry.x)), std::fabs(double(entry.x_mirrored(factor))));
    };
    std::vector<const offset_entry*> drawn, alone, broken;
    double farthest = 0;
    for (const offset_entry& entry : result.offsets) {
        if (!entry.finite()) {
            broken.push_back(&entry);
        } else if (entry.leaves_aim_alone()) {
            alone.push_back(&entry);
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

    std::string body;
    double top = 72;
    for (char axis : {'y', 'z'}) {
        view v(body, top, axis, x_extent, axis == 'y' ? upward_y : upward_z, scale, step, factor);
        v.draw_frame();
        for (const offset_entry* entry : drawn)
            v.draw_entry(*entry);
        v.finish();
        top = v.bottom() + 16;
    }

    double y = top + 14;
    body += "<g id=\"legend\">\n";
    body += "<circle cx=\"40\" cy=\"" + number(y - 4) + "\" r=\"6\" fill=\"" + normal_colour +
            "\"/><text x=\"54\" y=\"" + number(y) +
            "\">weapon type: its aim point in the normal mode (" +
            xml_text(result.mode_keys(false)) + ")</text>\n";
    body += "<circle cx=\"520\" cy=\"" + number(y - 4) + "\" r=\"4.5\" fill=\"" + x_mode_colour +
            "\"/><text x=\"532\" y=\"" + number(y) + "\">where the other shoulder moves it (" +
            xml_text(result.mode_keys(true)) + ": x times " + xml_text(format_float(factor)) +
            ")</text>\n";
    y += 24;
    body += "<rect x=\"34\" y=\"" + number(y - 10) + "\" width=\"12\" height=\"12\" fill=\"" +
            default_colour + "\"/><text x=\"54\" y=\"" + number(y) +
            "\">-1: the default, for every weapon type without its own line</text>\n";
    body += "<circle cx=\"520\" cy=\"" + number(y - 4) +
            "\" r=\"7\" fill=\"#bbb\" stroke=\"#555\"/><text x=\"532\" y=\"" + number(y) +
            "\">the player character, origin of its own frame</text>\n";
    for (const std::string& note : notes) {
        y += 22;
        body +=
            "<text x=\"34\" y=\"" + number(y) + "\" class=\"note\">" + xml_text(note) + "</text>\n";
    }
    body += "</g>\n";
    const double height = y + 20;

    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(picture_width) +
           "\" height=\"" + number(height) + "\" viewBox=\"0 0 " + number(picture_width) + " " +
           number(height) + "\" font-family=\"sans-serif\" font-size=\"12\">\n";
    out += "<title>Aim points of " + xml_text(result.file) + "</title>\n";
    out += "<defs><marker id=\"arrow\" viewBox=\"0 0 10 10\" refX=\"9\" refY=\"5\" "
           "markerWidth=\"7\" markerHeight=\"7\" orient=\"auto\"><path d=\"M0,0 L10,5 L0,10 z\" "
           "fill=\"#333\"/></marker></defs>\n";
    out += std::string("<style>") + ".grid{stroke:#e4e4de;stroke-width:1}" +
           ".axis{stroke:#333;stroke-width:1.3}" + ".axis-name{font-size:15px;font-weight:bold}" +
           ".tick{fill:#777;font-size:10px}" + ".heading{font-size:14px;font-weight:bold}" +
           ".player{fill:#bbb;stroke:#555}" + ".player-name{fill:#555;font-style:italic}" +
           ".mark{fill:" + normal_colour + ";stroke:#fff}" +
           ".mark.default{fill:" + default_colour + "}" + ".x-mode{fill:" + x_mode_colour +
           ";stroke:#fff}" + ".move{stroke:" + x_mode_colour +
           ";stroke-width:1.2;stroke-dasharray:4 3}" +
           ".leader{fill:none;stroke:#999;stroke-width:0.8}" +
           ".weapon-name{font-weight:bold;fill:#222}" + "</style>\n";
    out += "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n";
    out += "<text x=\"20\" y=\"30\" font-size=\"18\" font-weight=\"bold\">Aim points of " +
           xml_text(result.file) + "</text>\n";
    out += "<text x=\"20\" y=\"52\" fill=\"#444\">Offsets in the player character's own frame, "
           "the same scale in both views, one grid step = " +
           label_number(step) + ". On the other shoulder the x value is multiplied by " +
           xml_text(format_float(factor)) + ".</text>\n";
    return out + body + "</svg>\n";
}

} // namespace check
