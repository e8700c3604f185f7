#include "text/bounded_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

// One append or copy into a buffer of 10 bytes that holds "abc" at first.
struct bounded_case {
    const char* name;
    bool copy;
    const char* source; // null: no source; "@2": the buffer's own text from its third byte
    int result;
    const char* text;   // the buffer's text afterwards
};

static const bounded_case CASES[] = {
    {"append fills the buffer exactly", false, "defghi", 0, "abcdefghi"},
    {"append one character too many empties it", false, "defghij", RANGE_ERROR, ""},
    {"append without source empties it", false, nullptr, INVALID_ARGUMENT, ""},
    {"append of its own text empties it", false, "@2", RANGE_ERROR, ""},
    {"copy replaces the text", true, "123456789", 0, "123456789"},
    {"copy one character too many empties it", true, "1234567890", RANGE_ERROR, ""},
    {"copy without source empties it", true, nullptr, INVALID_ARGUMENT, ""},
    {"copy of its own text empties it", true, "@2", RANGE_ERROR, ""},
};

class BoundedText : public testing::TestWithParam<bounded_case> {};

TEST_P(BoundedText, FitsWholeOrEmptiesTheBuffer)
{
    const bounded_case& c = GetParam();
    char buffer[10] = "abc";
    const char* source = c.source != nullptr && strcmp(c.source, "@2") == 0 ? buffer + 2 : c.source;
    int result = c.copy ? bounded_copy(buffer, sizeof buffer, source) : bounded_append(buffer, sizeof buffer, source);
    EXPECT_EQ(c.result, result) << c.name;
    EXPECT_STREQ(c.text, buffer) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, BoundedText, testing::ValuesIn(CASES));

TEST(BoundedAppend, RefusesWhatItCannotWriteWithoutTouchingIt)
{
    char buffer[4] = "ab";
    EXPECT_EQ(INVALID_ARGUMENT, bounded_append(nullptr, 4, "x"));
    EXPECT_EQ(INVALID_ARGUMENT, bounded_append(buffer, 0, "x"));
    EXPECT_STREQ("ab", buffer);
    char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(INVALID_ARGUMENT, bounded_append(unterminated, sizeof unterminated, "x"));
    EXPECT_EQ('\0', unterminated[0]);
}

TEST(AppendPieces, StopsAtTheFirstPieceThatDoesNotFit)
{
    char buffer[8] = "";
    EXPECT_EQ(RANGE_ERROR, append_pieces(buffer, sizeof buffer, {"abc", "defgh", "x"}));
    EXPECT_STREQ("", buffer);
    EXPECT_EQ(0, append_pieces(buffer, sizeof buffer, {"abc", "defg"}));
    EXPECT_STREQ("abcdefg", buffer);
}
