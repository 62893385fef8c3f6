// tests/hostdefaults/AnsiConvertersTest.cpp
// liboxhost's ANSI converters as the string class calls them: code page 0, flags 0, length -1, and
// buffers of narrow length + 1 units one way, 7 bytes per unit + 1 the other.

#include <oxfirst/OxHostDefaults.h>

#include "platform/win.h"
#include "support/FreshProcess.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

std::u16string toWide(const std::string& narrow)
{
    std::u16string out(narrow.size() + 1, u'#');
    const int count = oxHostMultiByteToWideChar(0, 0, narrow.c_str(), -1, out.data(), int(out.size()));
    EXPECT_TRUE(count > 0 && out[count - 1] == 0) << count;
    return out.substr(0, std::max(count, 1) - 1);
}

std::string toNarrow(const std::u16string& wide)
{
    std::string out(wide.size() * 7 + 1, '#');
    const int count = oxHostWideCharToMultiByte(0, 0, wide.c_str(), -1, out.data(), int(out.size()), 0);
    EXPECT_TRUE(count > 0 && out[count - 1] == 0) << count;
    return out.substr(0, std::max(count, 1) - 1);
}

} // namespace

// Seven bytes per unit falling short for some text (unencodable characters, unpaired surrogates,
// backslashes, random units), or narrow text not reading back as the very same units.
TEST(HostAnsiConverters, SevenBytesPerUnitSufficeAndEveryTextRoundTrips)
{
    std::mt19937 random(99);
    for (int round = 0; round < 2000; ++round) {
        std::u16string wide;
        for (int i = 1 + static_cast<int>(random() % 40); i > 0; --i) {
            const unsigned pick = random() % 8;
            wide +=
                pick == 0
                    ? u"\\U+"
                    : std::u16string(1, char16_t(pick == 1 ? u'0' + random() % 10 : 1 + random() % 0xFFFF));
        }
        ASSERT_EQ(wide, toWide(toNarrow(wide)));
    }
}

// What the page holds becoming anything but its own bytes; an unencodable unit not a seven-byte
// escape (a surrogate pair two of them); a backslash read as an escape without "U+" and four hex
// digits after it; a wide text that looks like an escape not written so it reads back as itself.
TEST(HostAnsiConverters, UnencodableUnitsBecomeEscapesAndOnlyWholeEscapesAreRead)
{
    const std::pair<std::u16string, std::string> bothWays[] = {
        {u"", ""},
        {u"caf\u00E9 \u20AC\u0081", "caf\xE9 \x80\x81"},
        {u"a\u4E00b\U0001F600", "a\\U+4E00b\\U+D83D\\U+DE00"},
        {u"C:\\Users\\u+0041\\U+12\\U+12G4\\", "C:\\Users\\u+0041\\U+12\\U+12G4\\"},
        {u"\\U+0041", "\\U+005CU+0041"}};
    for (const auto& [wide, narrow] : bothWays)
        EXPECT_TRUE(toNarrow(wide) == narrow && toWide(narrow) == wide) << narrow;
    EXPECT_EQ(u"\u00e9\u00E9", toWide("\\U+00e9\\U+00E9"));
}

// The escaping path's size query disagreeing with what it writes; a buffer one unit short, a null
// source or unknown extra flags not failing as a whole with 0; explicit lengths counting a terminator.
TEST(HostAnsiConverters, SizeQueryMatchesEscapedOutputAndFailuresAnswerZero)
{
    const int needed = oxHostWideCharToMultiByte(0, 0, u"x\u4E00y", -1, nullptr, 0, 0);
    std::string narrow(needed, '#');
    EXPECT_TRUE(needed == 10 && oxHostWideCharToMultiByte(0, 0, u"x\u4E00y", -1, narrow.data(), 9, 0) == 0 &&
                win::GetLastError() == win::ERROR_INSUFFICIENT_BUFFER &&
                oxHostWideCharToMultiByte(0, 0, u"x\u4E00y", -1, narrow.data(), needed, 0) == needed);
    EXPECT_TRUE(oxHostWideCharToMultiByte(0, 0, u"abc", -1, narrow.data(), 3, 0) == 0 &&
                oxHostWideCharToMultiByte(0, 0, nullptr, -1, narrow.data(), needed, 0) == 0 &&
                oxHostWideCharToMultiByte(0, 0, u"a", -1, narrow.data(), needed, 1) == 0);
    OXCHAR units[3];
    EXPECT_TRUE(oxHostMultiByteToWideChar(0, 0, "\\U+4E00z", 8, nullptr, 0) == 2 &&
                oxHostMultiByteToWideChar(0, 0, "\\U+4E00z", -1, nullptr, 0) == 3 &&
                oxHostMultiByteToWideChar(0, 0, "\\U+4E00z", -1, units, 2) == 0 &&
                oxHostMultiByteToWideChar(0, 0, "abc", -1, units, 3) == 0 &&
                oxHostMultiByteToWideChar(0, 0, nullptr, -1, units, 3) == 0 &&
                oxHostMultiByteToWideChar(0, 0, "\\U+4E00z", -1, units, 3) == 3 && units[0] == u'\u4E00');
}

// In a double-byte page the second byte of a character may be 0x5C (0x95 0x5C is one character of
// code page 932): it starting an escape.
TEST(HostAnsiConverters932, TrailByteIsNeverABackslash)
{
    if (oxtest::inFreshProcess({"OX_ANSI_CODEPAGE=932"}))
        return;
    const std::u16string wide = toWide("\x95\x5CU+0041");
    EXPECT_TRUE(wide.size() == 7 && wide.substr(1) == u"U+0041" && toNarrow(wide) == "\x95\x5CU+0041");
    EXPECT_EQ(u"\u00E9\u4E00", toWide(toNarrow(u"\u00E9\u4E00")));
}
