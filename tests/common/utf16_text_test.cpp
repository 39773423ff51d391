// Paths as Windows spells them (UTF-16), written as UTF-8 for the player to read.
#include "platform/utf16_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct utf8_case {
    std::u16string text;
    std::size_t out_size;
    std::string utf8;
};

TEST(Utf8FromUtf16, SpellsEveryCharacterAndCutsOnlyBetweenCharacters) {
    const utf8_case cases[] = {
        {u"C:\\Games\\corvane.dll", 64, "C:\\Games\\corvane.dll"},
        {u"", 8, ""},
        // One, two, three and four bytes: the last bit patterns of each length.
        {u"\u007f\u0080\u07ff\u0800\uffff", 64, "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf"},
        {u"D:\\\u0418\u0433\u0440\u044b \u6e38\u620f\\", 64,
         "D:\\\xd0\x98\xd0\xb3\xd1\x80\xd1\x8b \xe6\xb8\xb8\xe6\x88\x8f\\"},
        {u"\U00010000\U0010FFFF\U0001F600", 64, "\xf0\x90\x80\x80\xf4\x8f\xbf\xbf\xf0\x9f\x98\x80"},
        // Unpaired surrogates, the high one last, alone, or before another high one.
        {std::u16string{u'a', 0xDC00, u'b', 0xD800, 0xD83D, 0xDE00, 0xD800}, 64,
         "a\xef\xbf\xbd"
         "b\xef\xbf\xbd\xf0\x9f\x98\x80\xef\xbf\xbd"},
        // The buffer's last byte is the terminator: what does not fit whole is left out.
        {u"abc", 4, "abc"},
        {u"abc", 3, "ab"},
        {u"a\u00e9", 3, "a"},
        {u"a\u00e9", 4, "a\xc3\xa9"},
        {u"a\u6e38z", 4, "a"},
        {u"a\U0001F600", 5, "a"},
        {u"a\U0001F600z", 6, "a\xf0\x9f\x98\x80"},
        {u"abc", 1, ""},
    };
    for (const utf8_case& c : cases) {
        std::string out(c.out_size + 8, '#');
        const std::size_t length = os::utf8_from_utf16(c.text.c_str(), out.data(), c.out_size);
        EXPECT_EQ(length, c.utf8.size()) << ::testing::PrintToString(c.utf8);
        EXPECT_EQ(out.substr(0, length + 1), c.utf8 + '\0');
        EXPECT_EQ(out.substr(c.out_size), std::string(8, '#')) << "written past the buffer";
    }
}

} // namespace
