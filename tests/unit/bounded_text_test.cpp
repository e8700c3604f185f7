#include "text/bounded_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(BoundedAppend, FillsTheBufferExactly)
{
    char buffer[10] = "abc";
    EXPECT_EQ(0, bounded_append(buffer, sizeof buffer, "defghi"));
    EXPECT_STREQ("abcdefghi", buffer);
}

TEST(BoundedAppend, OneCharacterTooManyEmptiesTheBuffer)
{
    char buffer[10] = "abc";
    EXPECT_EQ(RANGE_ERROR, bounded_append(buffer, sizeof buffer, "defghij"));
    EXPECT_STREQ("", buffer);
    // What follows a failure works on the emptied buffer.
    EXPECT_EQ(0, bounded_append(buffer, sizeof buffer, "xyz"));
    EXPECT_STREQ("xyz", buffer);
}

TEST(BoundedAppend, ServiceNameTakesInstanceNamesUpTo194Characters)
{
    char name[SERVICE_NAME_CAPACITY] = "ZR - ";
    EXPECT_EQ(0, bounded_append(name, sizeof name, std::string(194, 'n').c_str()));
    EXPECT_EQ(199u, strlen(name));

    char longer[SERVICE_NAME_CAPACITY] = "ZR - ";
    EXPECT_EQ(RANGE_ERROR, bounded_append(longer, sizeof longer, std::string(195, 'n').c_str()));
    EXPECT_STREQ("", longer);
}

TEST(BoundedAppend, RefusesMissingDestinationAndZeroCapacityWithoutTouching)
{
    char buffer[4] = "ab";
    EXPECT_EQ(INVALID_ARGUMENT, bounded_append(nullptr, 4, "x"));
    EXPECT_EQ(INVALID_ARGUMENT, bounded_append(buffer, 0, "x"));
    EXPECT_STREQ("ab", buffer);
}

TEST(BoundedAppend, MissingSourceEmptiesTheBuffer)
{
    char buffer[4] = "ab";
    EXPECT_EQ(INVALID_ARGUMENT, bounded_append(buffer, sizeof buffer, nullptr));
    EXPECT_STREQ("", buffer);
}

TEST(BoundedAppend, UnterminatedDestinationIsEmptied)
{
    char buffer[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(INVALID_ARGUMENT, bounded_append(buffer, sizeof buffer, "x"));
    EXPECT_EQ('\0', buffer[0]);
}

TEST(BoundedAppend, SourceInsideTheDestinationIsRefused)
{
    char buffer[16] = "abcdef";
    EXPECT_EQ(RANGE_ERROR, bounded_append(buffer, sizeof buffer, buffer + 2));
    EXPECT_STREQ("", buffer);
    // Only the capacity counts: text behind it is a separate source.
    char pair[8] = "ab\0\0\0\0\0";
    char* tail = pair + 4;
    tail[0] = 'z';
    tail[1] = '\0';
    EXPECT_EQ(0, bounded_append(pair, 4, tail));
    EXPECT_STREQ("abz", pair);
}

TEST(BoundedCopy, ReplacesTheTextAndFollowsTheSameRules)
{
    char buffer[6] = "old";
    EXPECT_EQ(0, bounded_copy(buffer, sizeof buffer, "12345"));
    EXPECT_STREQ("12345", buffer);
    EXPECT_EQ(RANGE_ERROR, bounded_copy(buffer, sizeof buffer, "123456"));
    EXPECT_STREQ("", buffer);
    strcpy(buffer, "abc");
    EXPECT_EQ(INVALID_ARGUMENT, bounded_copy(buffer, sizeof buffer, nullptr));
    EXPECT_STREQ("", buffer);
    strcpy(buffer, "abc");
    EXPECT_EQ(RANGE_ERROR, bounded_copy(buffer, sizeof buffer, buffer + 1));
    EXPECT_STREQ("", buffer);
    EXPECT_EQ(INVALID_ARGUMENT, bounded_copy(nullptr, 6, "x"));
}

TEST(TextMatching, IgnoresAsciiCaseOnly)
{
    EXPECT_TRUE(text_equal_nocase("-INSTALL", "-install"));
    EXPECT_TRUE(text_equal_nocase("-Install", "-install"));
    EXPECT_FALSE(text_equal_nocase("-inst", "-install"));
    EXPECT_FALSE(text_equal_nocase("-installx", "-install"));
    EXPECT_TRUE(text_contains_nocase("a.JAR", ".jar"));
    EXPECT_TRUE(text_contains_nocase("my.jarfile", ".jar"));
    EXPECT_TRUE(text_contains_nocase("a.jar.bak", ".jar"));
    EXPECT_FALSE(text_contains_nocase("a.ja", ".jar"));
    EXPECT_FALSE(text_contains_nocase("ajar", ".jar"));
}
