#include "text/Text.h"
#include "platform/SystemError.h"
#include "text/Unicode.h"

#include <gtest/gtest.h>

#include <cerrno>

TEST(TextConversion, RoundTripsEveryPlane)
{
    const std::string narrow = "ABBA \xC3\x89vora \xE2\x82\xAC \xF0\x9F\x8E\xB5"; // É, €, U+1F3B5
    std::u16string wide;
    ASSERT_TRUE(NarrowToWide(wide, narrow));
    EXPECT_EQ(wide, u"ABBA \u00C9vora \u20AC \U0001F3B5");
    std::string back;
    ASSERT_TRUE(WideToNarrow(back, wide));
    EXPECT_EQ(back, narrow);
}

TEST(TextConversion, EmptyInputSucceeds)
{
    std::u16string wide = u"old";
    std::string narrow = "old";
    EXPECT_TRUE(NarrowToWide(wide, ""));
    EXPECT_TRUE(WideToNarrow(narrow, u""));
    EXPECT_TRUE(wide.empty());
    EXPECT_TRUE(narrow.empty());
}

TEST(TextConversion, MalformedUtf8FailsWithEmptyOutput)
{
    const char* const malformed[] = {
        "stray \x80 continuation", "truncated \xC3",         "truncated \xE2\x82",           "overlong \xC0\xAF",
        "overlong \xE0\x80\xAF",   "surrogate \xED\xA0\x80", "above range \xF4\x90\x80\x80", "bad lead \xFF",
    };
    for (const char* text : malformed) {
        std::u16string wide = u"old";
        EXPECT_FALSE(NarrowToWide(wide, text)) << text;
        EXPECT_TRUE(wide.empty()) << text;
    }
}

// A byte of a file name that is not UTF-8 is held as a lone surrogate, and
// shown as an escape with the rest of the name; any other lone surrogate has
// no narrow form at all.
TEST(TextConversion, UnpairedSurrogateFailsAndLogsAsConversionError)
{
    const std::u16string lone[] = {std::u16string(u"a") + char16_t(0xD800), std::u16string(1, char16_t(0xDC80)) + u"b",
                                   std::u16string(1, char16_t(0xD800)) + char16_t(0xD800)};
    const char* const logged[] = {"<Unicode to Ascii conversion error>", "\\x80b",
                                  "<Unicode to Ascii conversion error>"};
    for (std::size_t i = 0; i < std::size(lone); ++i) {
        std::string narrow = "old";
        EXPECT_FALSE(WideToNarrow(narrow, lone[i]));
        EXPECT_TRUE(narrow.empty());
        EXPECT_EQ(ToLogText(lone[i]), logged[i]);
    }
    EXPECT_EQ(ToLogText(u"Art/Files/bad" + std::u16string(1, char16_t(0xDCFF)) + u".mp3"), "Art/Files/bad\\xFF.mp3");
    EXPECT_EQ(ToLogText(u"JUKEBIT/Artist"), "JUKEBIT/Artist");
    // A name cannot start a line of its own, such as a forged cancel, nor turn
    // the rest of its line around on screen: what would is shown as an escape.
    const std::pair<std::u16string, std::string> forged[] = {
        {u"Live\nCANCEL : Canceled by user\r\x7F", "Live?CANCEL : Canceled by user??"},
        {u"Keep\u2028ERROR  : Deleting \"JUKEBIT/Keep\"", "Keep\\u2028ERROR  : Deleting \"JUKEBIT/Keep\""},
        {u"a\u2029b\u0085c\u0080\u009F", "a\\u2029b\\u0085c\\u0080\\u009F"},
        {u"\u202Eevil\u202A\u202B\u202C\u202D", "\\u202Eevil\\u202A\\u202B\\u202C\\u202D"},
        {u"\u200E\u200F\u2066\u2067\u2068\u2069\u061C", "\\u200E\\u200F\\u2066\\u2067\\u2068\\u2069\\u061C"},
        // Their neighbours are shown as they are.
        {u"\u00A0\u007E\u200D\u202F\u2065\u206A", "\xC2\xA0~\xE2\x80\x8D\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA"},
    };
    for (const auto& [name, shown] : forged) {
        EXPECT_EQ(ToLogText(name), shown);
    }
}

// What the name tables of the merge and the exFAT card do not meet: a lone
// surrogate, which holds a byte of a name that is not UTF-8, stays as it is.
TEST(UnicodeNames, ComposedAndFoldedAsFatDoes)
{
    const std::u16string lone(1, char16_t(0xDCE9));
    EXPECT_EQ(ToNfc(u"Bjo\u0308rk e\u0301" + lone), u"Bj\u00F6rk \u00E9" + lone);
    EXPECT_EQ(FoldCaseAsFat(u"\u03C3\u03C2 caf\u00E9 e\u0301" + lone), u"\u03A3\u03A3 CAF\u00C9 E\u0301" + lone);
}

TEST(SystemErrorTextTest, NumberAndSystemText)
{
    EXPECT_EQ(SystemErrorText(ENOENT), "2 (No such file or directory)");
    EXPECT_EQ(SystemErrorText(ENOSPC), "28 (No space left on device)");
    EXPECT_EQ(SystemErrorText(ELOOP), "40 (Too many levels of symbolic links)");
    EXPECT_EQ(SystemErrorText(0), "0 (Success)");
    EXPECT_EQ(SystemErrorText(9999), "9999 (Unknonwn error)");
}

TEST(FormatTextTest, Conversions)
{
    const std::string error = "2 (No such file or directory)";
    EXPECT_EQ(FormatString("Getting Jukebit free space :\nError : %S\nFree space won't be available.", error),
              "Getting Jukebit free space :\nError : 2 (No such file or directory)\nFree space won't be available.");
    EXPECT_EQ(FormatString("Writing \"%s\" : Error %s", "JUKEBIT/A/01.mp3", error.c_str()),
              "Writing \"JUKEBIT/A/01.mp3\" : Error 2 (No such file or directory)");
    // Any other conversion is copied and passes over one argument.
    EXPECT_EQ(FormatString("%d then %s", "skipped", "used"), "%d then used");
    EXPECT_EQ(FormatString("100%% of %s", "x", "y"), "100%% of y");
    EXPECT_EQ(FormatString(""), "");
    EXPECT_EQ(FormatString("%s|%s", "", static_cast<const char*>(nullptr)), "|");
    // Missing arguments and a lone '%' at the end read nothing beyond.
    EXPECT_EQ(FormatString("%s and %S"), " and ");
    EXPECT_EQ(FormatString("50%"), "50%");
}
