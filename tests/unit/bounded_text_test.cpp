#include "text/bounded_text.h"

#include <cstring>

#include <gtest/gtest.h>

// One append or copy into a buffer of 10 bytes that holds "abc" at first.
struct bounded_case {
    const char* name;
    bool copy;
    const char* source; // null: no source
    int result;
    const char* text;   // the buffer's text afterwards
};

static const bounded_case CASES[] = {
    {"append fills the buffer exactly", false, "defghi", 0, "abcdefghi"},
    {"append one character too many empties it", false, "defghij", RANGE_ERROR, ""},
    {"append without source empties it", false, nullptr, INVALID_ARGUMENT, ""},
    {"copy replaces the text", true, "123456789", 0, "123456789"},
    {"copy one character too many empties it", true, "1234567890", RANGE_ERROR, ""},
};

static void PrintTo(const bounded_case& c, std::ostream* out)
{
    *out << c.name;
}

class BoundedText : public testing::TestWithParam<bounded_case> {};

TEST_P(BoundedText, FitsWholeOrEmptiesTheBuffer)
{
    const bounded_case& c = GetParam();
    char buffer[10] = "abc";
    int result = c.copy ? bounded_copy(buffer, sizeof buffer, c.source) : bounded_append(buffer, sizeof buffer, c.source);
    EXPECT_EQ(c.result, result) << c.name;
    EXPECT_STREQ(c.text, buffer) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, BoundedText, testing::ValuesIn(CASES));

TEST(AppendPieces, StopsAtTheFirstPieceThatDoesNotFit)
{
    char buffer[8] = "";
    EXPECT_EQ(RANGE_ERROR, append_pieces(buffer, sizeof buffer, {"abc", "defgh", "x"}));
    EXPECT_STREQ("", buffer);
    EXPECT_EQ(0, append_pieces(buffer, sizeof buffer, {"abc", "defg"}));
    EXPECT_STREQ("abcdefg", buffer);
}

// Well-formed UTF-8, and each way a text is not.
TEST(Utf8, TellsWellFormedTextFromEveryMalformedSequence)
{
    for (const char* good : {"", "-Dcity=Z\xC3\xBCrich", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF"})
        EXPECT_TRUE(is_utf8(good, strlen(good))) << good;
    for (const char* bad : {"Z\xFCrich",        // a code page's byte
                            "\xC0\xAF",         // overlong
                            "\xE0\x80\xAF",     // overlong
                            "\xED\xA0\x80",     // a surrogate
                            "\xF4\x90\x80\x80", // beyond U+10FFFF
                            "\xE2\x82",         // cut short
                            "\xC3\x28"})        // no continuation byte
        EXPECT_FALSE(is_utf8(bad, strlen(bad))) << bad;
}
