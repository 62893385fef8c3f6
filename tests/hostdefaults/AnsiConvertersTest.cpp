// tests/hostdefaults/AnsiConvertersTest.cpp
// liboxhost's ANSI converters as the string class calls them: code page 0, flags 0, source
// length -1, results that count the terminator, and the buffer sizes the string class gives.

#include "hostdefaults/AnsiConverters.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

// The string class's buffers: narrow length + 1 units one way, 7 bytes per unit + 1 the other.
std::u16string toWide(const std::string& narrow)
{
    std::u16string out(narrow.size() + 1, u'#');
    int count = oxHostMultiByteToWideChar(0, 0, narrow.c_str(), -1, out.data(), static_cast<int>(out.size()));
    EXPECT_GT(count, 0);
    EXPECT_EQ(u'\0', out[count - 1]);
    out.resize(count - 1);
    return out;
}

std::string toNarrow(const std::u16string& wide)
{
    std::string out(wide.size() * 7 + 1, '#');
    int count =
        oxHostWideCharToMultiByte(0, 0, wide.c_str(), -1, out.data(), static_cast<int>(out.size()), 0);
    EXPECT_GT(count, 0);
    EXPECT_EQ('\0', out[count - 1]);
    out.resize(count - 1);
    return out;
}

} // namespace

// Guards the result the string class relies on: the terminator is written and counted.
TEST(HostAnsiConverters, ResultsCountTheTerminator)
{
    OXCHAR wide[4];
    EXPECT_EQ(3, oxHostMultiByteToWideChar(0, 0, "ab", -1, wide, 4));
    EXPECT_EQ(std::u16string(u"ab"), std::u16string(wide));
    char narrow[4];
    EXPECT_EQ(3, oxHostWideCharToMultiByte(0, 0, u"ab", -1, narrow, 4, 0));
    EXPECT_STREQ("ab", narrow);
    EXPECT_EQ(1, oxHostMultiByteToWideChar(0, 0, "", -1, wide, 4));
    EXPECT_EQ(u'\0', wide[0]);
}

// The string class sizes the narrow buffer at seven bytes per unit plus one: whatever the text
// (unencodable characters, surrogates, NUL-free random units), that never fails.
TEST(HostAnsiConverters, SevenBytesPerUnitAlwaysSuffice)
{
    std::mt19937 random(99);
    for (int round = 0; round < 2000; ++round) {
        std::u16string wide;
        int count = 1 + static_cast<int>(random() % 40);
        for (int i = 0; i < count; ++i)
            wide.push_back(static_cast<char16_t>(1 + random() % 0xFFFF));
        std::string narrow = toNarrow(wide);
        ASSERT_LE(narrow.size(), wide.size() * 2);
    }
}

// Guards the failure answer: 0, for a buffer too small, a null source and unknown extra flags.
TEST(HostAnsiConverters, FailuresAnswerZero)
{
    OXCHAR wide[2];
    EXPECT_EQ(0, oxHostMultiByteToWideChar(0, 0, "abc", -1, wide, 2));
    EXPECT_EQ(0, oxHostMultiByteToWideChar(0, 0, nullptr, -1, wide, 2));
    char narrow[2];
    EXPECT_EQ(0, oxHostWideCharToMultiByte(0, 0, u"abc", -1, narrow, 2, 0));
    EXPECT_EQ(0, oxHostWideCharToMultiByte(0, 0, nullptr, -1, narrow, 2, 0));
    EXPECT_EQ(0, oxHostWideCharToMultiByte(0, 0, u"a", -1, narrow, 2, 1));
}

// What the page holds round-trips in the string class's buffer sizes; every other character
// becomes one '?'.
TEST(HostAnsiConverters, PageTextRoundTripsAndTheRestBecomesQuestionMarks)
{
    EXPECT_EQ(u"caf\x00E9 \x20AC\x0081", toWide(toNarrow(u"caf\x00E9 \x20AC\x0081")));
    EXPECT_EQ("a?b?", toNarrow(u"a\x4E00"
                               u"b\xD83D\xDE00"));
}
