// tests/hostdefaults/AnsiConvertersTest.cpp
// liboxhost's ANSI converters as the string class calls them: code page 0, flags 0, source
// length -1, results that count the terminator, and the buffer sizes the string class gives.

#include <oxfirst/OxHostDefaults.h>

#include "platform/win.h"
#include "support/FreshProcess.h"

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

// The string class sizes the narrow buffer at seven bytes per unit plus one: whatever the text
// (unencodable characters, unpaired surrogates, backslashes, random units), that never fails, and
// the narrow text reads back as the very same units.
TEST(HostAnsiConverters, SevenBytesPerUnitSufficeAndEveryTextRoundTrips)
{
    std::mt19937 random(99);
    for (int round = 0; round < 2000; ++round) {
        std::u16string wide;
        int count = 1 + static_cast<int>(random() % 40);
        for (int i = 0; i < count; ++i) {
            const unsigned pick = random() % 8;
            if (pick == 0)
                wide += u"\\U+";
            else if (pick == 1)
                wide.push_back(static_cast<char16_t>(u'0' + random() % 10));
            else
                wide.push_back(static_cast<char16_t>(1 + random() % 0xFFFF));
        }
        std::string narrow = toNarrow(wide);
        ASSERT_LE(narrow.size(), wide.size() * 7);
        ASSERT_EQ(wide, toWide(narrow));
    }
}

// What the page holds converts to its own bytes; every other unit becomes a seven-byte escape,
// a surrogate pair two of them, and reads back unchanged. A backslash reads as an escape only
// when "U+" and four hex digits follow; anything else is the backslash itself. A wide text that
// looks like an escape is written so it reads back as itself.
TEST(HostAnsiConverters, UnencodableUnitsBecomeEscapesAndOnlyWholeEscapesAreRead)
{
    EXPECT_EQ("caf\xE9 \x80\x81", toNarrow(u"caf\u00E9 \u20AC\u0081"));
    EXPECT_EQ(u"caf\u00E9 \u20AC\u0081", toWide("caf\xE9 \x80\x81"));
    const std::u16string wide = u"a\u4E00b\U0001F600";
    EXPECT_EQ("a\\U+4E00b\\U+D83D\\U+DE00", toNarrow(wide));
    EXPECT_EQ(wide, toWide("a\\U+4E00b\\U+D83D\\U+DE00"));
    EXPECT_EQ(u"\u00e9\u00E9", toWide("\\U+00e9\\U+00E9"));
    EXPECT_EQ(u"", toWide(""));
    EXPECT_EQ("", toNarrow(u""));
    EXPECT_EQ(u"C:\\Users\\u+0041\\U+12\\U+12G4\\", toWide("C:\\Users\\u+0041\\U+12\\U+12G4\\"));
    EXPECT_EQ("C:\\Users\\U+12", toNarrow(u"C:\\Users\\U+12"));
    EXPECT_EQ("\\U+005CU+0041", toNarrow(u"\\U+0041"));
    EXPECT_EQ(u"\\U+0041", toWide("\\U+005CU+0041"));
}

// The size query of the escaping path agrees with what is written; a buffer one unit short, a
// null source and unknown extra flags fail as a whole, answering 0.
TEST(HostAnsiConverters, SizeQueryMatchesEscapedOutputAndFailuresAnswerZero)
{
    const char16_t* wide = u"x\u4E00y";
    const int needed = oxHostWideCharToMultiByte(0, 0, wide, -1, nullptr, 0, 0);
    EXPECT_EQ(10, needed);
    std::string narrow(needed, '#');
    EXPECT_TRUE(oxHostWideCharToMultiByte(0, 0, wide, -1, narrow.data(), needed - 1, 0) == 0 &&
                win::GetLastError() == win::ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(needed, oxHostWideCharToMultiByte(0, 0, wide, -1, narrow.data(), needed, 0));
    EXPECT_TRUE(oxHostWideCharToMultiByte(0, 0, u"abc", -1, narrow.data(), 3, 0) == 0 &&
                oxHostWideCharToMultiByte(0, 0, nullptr, -1, narrow.data(), needed, 0) == 0 &&
                oxHostWideCharToMultiByte(0, 0, u"a", -1, narrow.data(), needed, 1) == 0);

    OXCHAR units[3];
    EXPECT_TRUE(oxHostMultiByteToWideChar(0, 0, "\\U+4E00z", 8, nullptr, 0) == 2 &&
                oxHostMultiByteToWideChar(0, 0, "\\U+4E00z", -1, nullptr, 0) == 3);
    EXPECT_TRUE(oxHostMultiByteToWideChar(0, 0, "\\U+4E00z", -1, units, 2) == 0 &&
                oxHostMultiByteToWideChar(0, 0, "abc", -1, units, 3) == 0 &&
                oxHostMultiByteToWideChar(0, 0, nullptr, -1, units, 3) == 0);
    EXPECT_TRUE(oxHostMultiByteToWideChar(0, 0, "\\U+4E00z", -1, units, 3) == 3 &&
                std::u16string(u"\u4E00z") == units);
}

// In a double-byte page the second byte of a character may be 0x5C; it must never start an
// escape. (0x95 0x5C is one character of code page 932.)
TEST(HostAnsiConverters932, TrailByteIsNeverABackslash)
{
    if (oxtest::inFreshProcess({"OX_ANSI_CODEPAGE=932"}))
        return;
    ASSERT_EQ(932u, win::GetACP());
    const std::u16string wide = toWide("\x95\x5CU+0041");
    ASSERT_EQ(7u, wide.size());
    EXPECT_EQ(u"U+0041", wide.substr(1));
    EXPECT_EQ("\x95\x5CU+0041", toNarrow(wide));
    EXPECT_EQ(u"\u00E9\u4E00", toWide(toNarrow(u"\u00E9\u4E00")));
}
