// The settings reader: files of every encoding a Windows editor saves, read into the module's
// lines. Every case is read from memory and from a file opened in binary mode. Under Wine the
// 8-bit cases are also checked against the C runtime's own text mode, which is how the module
// read its file before, so a pass in both flavours shows that native tests predict the DLL.
#include "settings_bytes.h"

#include "plugin/settings/settings_parser.h"
#include "plugin/settings/settings_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using plugin::line_read;
using plugin::settings_encoding;
using plugin::settings_reader;
using test_text::spelling;

struct line {
    line_read state;
    std::string text; // as the buffer holds it, newline and NUL bytes included

    bool operator==(const line&) const = default;
};

void PrintTo(const line& l, std::ostream* out) {
    *out << (l.state == line_read::overlong ? "overlong " : "") << ::testing::PrintToString(l.text);
}

line whole(const std::string& text) {
    return {line_read::read, text};
}
line cut(const std::string& text) {
    return {line_read::overlong, text};
}

constexpr unsigned char untouched = 0xAA;

// Every line the reader yields, until `absent`. The buffer is filled with a marker byte first,
// so the text's length shows even when it holds NUL bytes: it ends at the last NUL written.
std::vector<line> read_all(settings_reader& reader) {
    std::vector<line> lines;
    char buffer[plugin::line_buffer_size];
    for (;;) {
        std::memset(buffer, untouched, sizeof buffer);
        const line_read state = reader.read_line(buffer);
        if (state == line_read::absent) {
            for (const char c : buffer)
                if (static_cast<unsigned char>(c) != untouched) {
                    ADD_FAILURE() << "the buffer was written at the end of the file";
                    break;
                }
            return lines;
        }
        std::size_t length = sizeof buffer;
        while (length > 0 && buffer[length - 1] != '\0')
            --length;
        if (length == 0) {
            ADD_FAILURE() << "a line without its terminator";
            return lines;
        }
        lines.push_back({state, std::string(buffer, length - 1)});
        if (lines.size() > 100000) {
            ADD_FAILURE() << "the reader does not come to an end";
            return lines;
        }
    }
}

struct read_result {
    std::vector<line> lines;
    settings_encoding encoding;
};

read_result read_from_memory(const std::string& bytes) {
    settings_reader reader(bytes.data(), bytes.size());
    read_result result{read_all(reader), {}};
    result.encoding = reader.encoding();
    EXPECT_FALSE(reader.failed());
    return result;
}

read_result read_from_file(const std::string& bytes) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(test_text::binary_file(bytes),
                                                               &std::fclose);
    if (!file) {
        ADD_FAILURE() << "no temporary file";
        return {};
    }
    settings_reader reader(file.get());
    EXPECT_TRUE(reader.begin());
    read_result result{read_all(reader), reader.encoding()};
    EXPECT_FALSE(reader.failed());
    return result;
}

template <typename text_type> text_type repeated(const text_type& piece, std::size_t times) {
    text_type text;
    for (std::size_t i = 0; i < times; ++i)
        text += piece;
    return text;
}

// `times` copies of the line "xxxxxxxxx\n" as the reader yields them, then `more`.
std::vector<line> filler_lines(std::size_t times, std::vector<line> more) {
    std::vector<line> lines(times, whole("xxxxxxxxx\n"));
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

// Lines of ten bytes up to six bytes before the edge of the first chunk.
constexpr std::size_t chunk = plugin::settings_chunk_size;
constexpr std::size_t filler_count = (chunk - 6) / 10;
const std::string filler = repeated(std::string("xxxxxxxxx\n"), filler_count);
const std::string x511(511, 'x');

// --- files without a UTF-16 mark: the bytes as Windows text mode gives them ----------------

struct byte_case {
    const char* name;
    std::string bytes;
    std::vector<line> lines;
};

void PrintTo(const byte_case& c, std::ostream* out) {
    *out << c.name;
}

const byte_case byte_cases[] = {
    {"LF ends a line; the last line needs none",
     "Reload 1\nb 2\nc",
     {whole("Reload 1\n"), whole("b 2\n"), whole("c")}},
    {"CR LF reads as LF", "a\r\nb\r\n", {whole("a\n"), whole("b\n")}},
    {"a lone CR stays, inside a line and at the end", "a\rb\nc\r", {whole("a\rb\n"), whole("c\r")}},
    {"CR CR LF keeps one CR; LF CR starts a line with CR",
     "a\r\r\nb\n\rc",
     {whole("a\r\n"), whole("b\n"), whole("\rc")}},
    {"0x1A ends the file inside a line", "a 1\nb\x1A 2\nc 3\n", {whole("a 1\n"), whole("b")}},
    {"0x1A ends the file at the start of a line", "a\n\x1A\nb\n", {whole("a\n")}},
    {"a CR before 0x1A stays", "a\r\x1A\nb", {whole("a\r")}},
    {"a UTF-8 mark stays part of line 1",
     "\xEF\xBB\xBFReload 1\n2\n",
     {whole("\xEF\xBB\xBFReload 1\n"), whole("2\n")}},
    {"bytes that are not ASCII stay as they are",
     "H\xF6he 1\n\xFF\xFE",
     {whole("H\xF6he 1\n"), whole("\xFF\xFE")}},
    {"a single FF is no mark", "\xFF", {whole("\xFF")}},
    {"NUL bytes stay in the line",
     std::string("a\0b\n\0\n", 6),
     {whole(std::string("a\0b\n", 4)), whole(std::string("\0\n", 2))}},
    {"an empty file has no line", "", {}},
    {"a lone newline is a line", "\n", {whole("\n")}},
    {"510 characters and LF",
     std::string(510, 'x') + "\nn",
     {whole(std::string(510, 'x') + "\n"), whole("n")}},
    {"510 characters and CR LF",
     std::string(510, 'x') + "\r\nn",
     {whole(std::string(510, 'x') + "\n"), whole("n")}},
    {"511 characters: the LF is consumed, not kept", x511 + "\nn\n", {whole(x511), whole("n\n")}},
    {"511 characters and CR LF", x511 + "\r\nn", {whole(x511), whole("n")}},
    {"511 characters at the end of the file", x511, {whole(x511)}},
    {"512 characters: over-long, consumed through its LF",
     x511 + "y\nn\n",
     {cut(x511), whole("n\n")}},
    {"an over-long line with CR LF",
     x511 + std::string(300, 'y') + "\r\nn\r\n",
     {cut(x511), whole("n\n")}},
    {"an over-long line at the end of the file", x511 + "yy", {cut(x511)}},
    {"511 characters and a lone CR: over-long", x511 + "\ry\nn", {cut(x511), whole("n")}},
    {"0x1A inside the dropped part of an over-long line ends the file",
     x511 + "yy\x1Ay\nn\n",
     {cut(x511)}},
    {"an over-long line longer than a chunk",
     std::string(chunk + 100, 'y') + "\nn",
     {cut(std::string(511, 'y')), whole("n")}},
    // Edges of the reader's chunks.
    {"CR LF across a chunk's edge", filler + "abcde\r\nz\n",
     filler_lines(filler_count, {whole("abcde\n"), whole("z\n")})},
    {"a lone CR at a chunk's edge", filler + "abcde\rz\n",
     filler_lines(filler_count, {whole("abcde\rz\n")})},
    {"a CR that ends a file of one whole chunk", filler + "abcde\r",
     filler_lines(filler_count, {whole("abcde\r")})},
    {"0x1A first in the second chunk", filler + "abcdef\x1Az\n",
     filler_lines(filler_count, {whole("abcdef")})},
};

class ReaderBytes : public ::testing::TestWithParam<byte_case> {};

TEST_P(ReaderBytes, ReadsAsWindowsTextMode) {
    const byte_case& c = GetParam();
    for (const read_result& got : {read_from_memory(c.bytes), read_from_file(c.bytes)}) {
        EXPECT_EQ(got.lines, c.lines);
        EXPECT_EQ(got.encoding, settings_encoding::eight_bit);
    }
    // Where the runtime has a text mode, what it reads is exactly the lines' text. Lines of 511
    // characters or more leave characters out, so they are not compared.
    std::string text;
    bool whole = true;
    for (const line& l : c.lines) {
        text += l.text;
        whole = whole && l.state == line_read::read && l.text.size() < 511;
    }
    const std::optional<std::string> text_mode = test_text::c_runtime_text_mode(c.bytes);
    if (text_mode && whole) {
        EXPECT_EQ(::testing::PrintToString(*text_mode), ::testing::PrintToString(text));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ReaderBytes, ::testing::ValuesIn(byte_cases));

// --- files with a UTF-16 mark --------------------------------------------------------------

struct utf16_case {
    const char* name;
    std::u16string units; // after the mark
    std::string odd_tail; // raw bytes after the units
    std::vector<line> lines;
};

void PrintTo(const utf16_case& c, std::ostream* out) {
    *out << c.name;
}

// Lines of ten units up to six units before the edge of the first chunk, the mark included.
constexpr std::size_t filler16_count = (chunk / 2 - 1 - 6) / 10;
const std::u16string filler16 = repeated(std::u16string(u"xxxxxxxxx\n"), filler16_count);

const utf16_case utf16_cases[] = {
    {"ASCII lines; CR LF reads as LF, a lone CR stays",
     u"Reload 1\r\nb\rc\nd",
     "",
     {whole("Reload 1\n"), whole("b\rc\n"), whole("d")}},
    {"a character outside ASCII reads as '?'",
     u"H\u00f6he 1.5\n\u0418\u0433\u0440\u044b \u6e38\u620f 2\n",
     "",
     {whole("H?he 1.5\n"), whole("???? ?? 2\n")}},
    {"units whose bytes look like CR, LF or 0x1A are other characters",
     u"a\u0d0a\u0a0d\u1a0a\u0a1a\u0d00b\n",
     "",
     {whole("a?????b\n")}},
    {"a surrogate pair is one character", u"a\U0001F600b\n", "", {whole("a?b\n")}},
    {"unpaired surrogates are one character each; a high one before a pair stands alone",
     {0xD800, u'a', 0xDC00, u'b', 0xDBFF, 0xD800, 0xDFFF, u'\n', 0xD800},
     "",
     {whole("?a?b??\n"), whole("?")}},
    {"U+001A ends the file", u"a\nb\x001a c\n", "", {whole("a\n"), whole("b")}},
    {"U+0000 stays in the line",
     std::u16string(u"a\0b\n", 4),
     "",
     {whole(std::string("a\0b\n", 4))}},
    {"the mark alone is an empty file", u"", "", {}},
    {"a second mark is a character", u"\ufeffa\n", "", {whole("?a\n")}},
    {"an odd last byte is dropped", u"a\nb", "\x0A", {whole("a\n"), whole("b")}},
    {"an odd last byte after a CR makes no LF", u"a\r", "\x0A", {whole("a\r")}},
    {"an odd byte alone after the mark", u"", "\x0A", {}},
    {"511 characters outside ASCII, then CR LF",
     std::u16string(511, u'\u00e9') + u"\r\nn",
     "",
     {whole(std::string(511, '?')), whole("n")}},
    {"an over-long line counts characters, not bytes",
     std::u16string(300, u'\u00e9') + repeated(std::u16string(u"\U0001F600"), 300) + u"\nn",
     "",
     {cut(std::string(511, '?')), whole("n")}},
    // Edges of the reader's chunks (the mark takes the first two bytes).
    {"CR LF across a chunk's edge", filler16 + u"abcdef\r\nz\n", "",
     filler_lines(filler16_count, {whole("abcdef\n"), whole("z\n")})},
    {"a lone CR at a chunk's edge", filler16 + u"abcdef\rz\n", "",
     filler_lines(filler16_count, {whole("abcdef\rz\n")})},
    {"a surrogate pair across a chunk's edge", filler16 + u"abcdef\U0001F600z\n", "",
     filler_lines(filler16_count, {whole("abcdef?z\n")})},
    {"a high surrogate alone at a chunk's edge",
     filler16 + u"abcdef" + std::u16string{0xD800} + u"z\n", "",
     filler_lines(filler16_count, {whole("abcdef?z\n")})},
    {"a CR that ends a file of one whole chunk", filler16 + u"abcdef\r", "",
     filler_lines(filler16_count, {whole("abcdef\r")})},
    {"a CR and an odd byte that end the file past a chunk's edge", filler16 + u"abcdef\r", "\x0A",
     filler_lines(filler16_count, {whole("abcdef\r")})},
};

class ReaderUtf16 : public ::testing::TestWithParam<utf16_case> {};

TEST_P(ReaderUtf16, ReadsTheTextInBothByteOrders) {
    const utf16_case& c = GetParam();
    for (const bool little : {true, false}) {
        SCOPED_TRACE(little ? "little-endian" : "big-endian");
        const std::string bytes = test_text::utf16_file(c.units, little) + c.odd_tail;
        for (const read_result& got : {read_from_memory(bytes), read_from_file(bytes)}) {
            EXPECT_EQ(got.lines, c.lines);
            EXPECT_EQ(got.encoding,
                      little ? settings_encoding::utf16_le : settings_encoding::utf16_be);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ReaderUtf16, ::testing::ValuesIn(utf16_cases));

// --- the same settings in every spelling give the same values ------------------------------

// Labels and comments hold letters outside ASCII; values never do.
const std::string settings_text = "Reload 1\n"
                                  "--- Zielwerte / прицел ---\n"
                                  "H\u00f6he 1.6\n"
                                  "Value4 0.55\n"
                                  "\u041a\u043e\u0434 0.3\n"
                                  "Value6 -0.35\n"
                                  "Value7 0.8\n"
                                  "Value8 6.0\n"
                                  "Value9 8.0\n"
                                  "--- rows ---\n"
                                  "Row0 1.0 0.9 0.8 0.0 0.0 1.2 0.25\n"
                                  "Row1 1.0 0.85 0.7 0.05 0.0 1.1 0.25\n"
                                  "Row2 1.0 0.8 0.6 0.1 0.0 1.0 0.2\n"
                                  "Row3 1.0 0.75 0.5 0.15 0.0 0.9 0.2\n"
                                  "--- \u6b66\u5668 ---\n"
                                  "22 0.45 0.0 0.12 ; \u6b65\u67aa \U0001F3AF\n"
                                  "0x1a 0.6 0.0 0.2\n"
                                  "-1 0.4 0.0 0.1 ; d\u00e9faut\n"
                                  "010 1 2 3\n"
                                  "4 4 4 4\n"
                                  "5 5 5 5\n"
                                  "6 6 6 6\n"
                                  "7 7 7 7\n"
                                  "8 8 8 8\n"
                                  "9 9 9 9\n"
                                  "10 10 10 10\n"
                                  "11 11 11 11\n"
                                  "12 12 12 12\n"
                                  "13 13 13 13\n"
                                  "14 14 14 14\n"
                                  "15 15 15 15\n";

enum class shape { whole, with_overlong_lines, ending_after_line_20 };

// The settings text in that shape. Over-long lines: a heading (line 2), an aim value (line 9)
// and a weapon line (line 16) made longer than 511 characters by a comment after their values.
// The early end cuts line 21 off together with the newline of line 20.
std::string shaped(shape s) {
    std::string text = settings_text;
    if (s == shape::with_overlong_lines) {
        const std::string long_comment = " ; " + repeated(std::string("\u00e9\u6b66 "), 200);
        for (const char* next_line : {"\nH\u00f6he", "\n--- rows", "\n0x1a"})
            text.insert(text.find(next_line), long_comment);
    } else if (s == shape::ending_after_line_20) {
        text.erase(text.find("\n5 5 5 5"));
    }
    return text;
}

struct parsed_line {
    line_read state;
    plugin::line_values values;
};

// Each of the 31 positions read and parsed as the module does; `absent` past the file's end.
std::vector<parsed_line> parse_file(const std::string& bytes) {
    settings_reader reader(bytes.data(), bytes.size());
    std::vector<parsed_line> lines;
    char buffer[plugin::line_buffer_size];
    for (const plugin::settings_position& position : plugin::settings_positions) {
        const line_read state = reader.read_line(buffer);
        lines.push_back({state, state == line_read::absent
                                    ? plugin::line_values{}
                                    : plugin::parse_settings_line(position.kind, buffer)});
    }
    return lines;
}

bool same_values(const plugin::line_values& a, const plugin::line_values& b) {
    return a.count == b.count && a.integer == b.integer &&
           std::memcmp(a.floats, b.floats, sizeof a.floats) == 0;
}

struct spelling_case {
    const char* name;
    spelling how;
    const char* eol;
};

const spelling_case spellings[] = {
    {"8-bit, LF", spelling::eight_bit, "\n"},
    {"8-bit, CR LF", spelling::eight_bit, "\r\n"},
    {"UTF-8 with mark, LF", spelling::utf8_with_mark, "\n"},
    {"UTF-8 with mark, CR LF", spelling::utf8_with_mark, "\r\n"},
    {"UTF-16LE, LF", spelling::utf16_le, "\n"},
    {"UTF-16LE, CR LF", spelling::utf16_le, "\r\n"},
    {"UTF-16BE, LF", spelling::utf16_be, "\n"},
    {"UTF-16BE, CR LF", spelling::utf16_be, "\r\n"},
};

TEST(ReaderSpellings, TheSameSettingsGiveTheSameValuesInEverySpelling) {
    const std::vector<parsed_line> reference = parse_file(settings_text);
    // The reference itself: every line complete, and values where they belong.
    for (const plugin::settings_position& position : plugin::settings_positions) {
        const parsed_line& got = reference[position.line - 1];
        EXPECT_EQ(got.state, line_read::read) << "line " << position.line;
        EXPECT_EQ(got.values.count, plugin::values_wanted(position.kind))
            << "line " << position.line;
    }
    EXPECT_EQ(reference[0].values.integer, 1);
    EXPECT_EQ(reference[4].values.floats[0], 0.3f);
    EXPECT_EQ(reference[5].values.floats[0], -0.35f);
    EXPECT_EQ(reference[13].values.floats[3], 0.15f);
    EXPECT_EQ(reference[15].values.integer, 22);
    EXPECT_EQ(reference[15].values.floats[2], 0.12f);
    EXPECT_EQ(reference[16].values.integer, 26);
    EXPECT_EQ(reference[17].values.integer, -1);
    EXPECT_EQ(reference[18].values.integer, 8);
    EXPECT_EQ(reference[30].values.integer, 15);

    for (const shape s : {shape::whole, shape::with_overlong_lines, shape::ending_after_line_20}) {
        for (const spelling_case& sp : spellings) {
            SCOPED_TRACE(std::string(sp.name) + (s == shape::whole ? ""
                                                 : s == shape::with_overlong_lines
                                                     ? ", over-long lines"
                                                     : ", ending early"));
            const std::vector<parsed_line> got =
                parse_file(test_text::spelled(shaped(s), sp.how, sp.eol));
            for (int i = 0; i < plugin::settings_line_count; ++i) {
                const int number = i + 1;
                const bool past_end = s == shape::ending_after_line_20 && number > 20;
                const bool cut =
                    s == shape::with_overlong_lines && (number == 2 || number == 9 || number == 16);
                const line_read state = past_end ? line_read::absent
                                        : cut    ? line_read::overlong
                                                 : line_read::read;
                EXPECT_EQ(got[i].state, state) << "line " << number;
                if (!past_end) {
                    EXPECT_TRUE(same_values(got[i].values, reference[i].values))
                        << "line " << number;
                }
            }
        }
    }
}

// --- the start of a file --------------------------------------------------------------------

TEST(ReaderStart, BeginTellsTheEncodingBeforeAnyLine) {
    const struct {
        std::string bytes;
        settings_encoding encoding;
    } cases[] = {
        {std::string("\xFF\xFE"
                     "a\0",
                     4),
         settings_encoding::utf16_le},
        {std::string("\xFE\xFF\0a", 4), settings_encoding::utf16_be},
        {"\xFF\xFE", settings_encoding::utf16_le},
        {"\xEF\xBB\xBF"
         "a",
         settings_encoding::eight_bit},
        {"\xFE", settings_encoding::eight_bit},
        {"", settings_encoding::eight_bit},
    };
    for (const auto& c : cases) {
        settings_reader reader(c.bytes.data(), c.bytes.size());
        EXPECT_TRUE(reader.begin());
        EXPECT_EQ(reader.encoding(), c.encoding) << ::testing::PrintToString(c.bytes);
    }
}

} // namespace
