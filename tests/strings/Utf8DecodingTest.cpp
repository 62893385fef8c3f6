// tests/strings/Utf8DecodingTest.cpp
// OxString(const char*, true) against an independent table-driven oracle: the printable-ASCII
// prefix, the hand-over to the codec at any offset, malformed UTF-8, and the way back via utf8Ptr.

#include "StringTestSupport.h"
#include "support/Utf8Oracle.h"

#include <random>

using namespace oxtest;

// Input not decoded as the oracle says (one U+FFFD per maximal subpart), invalid UTF-16, a wrong kind
// or length, a utf8Ptr that does not decode back: all-printable lengths to 15, then random bytes
// (mostly UTF-8 lead and continuation bytes) behind a printable prefix of any length, to a NUL.
TEST(Utf8Decoding, RandomInputMatchesTheOracleAndRoundTrips)
{
    std::mt19937 random(20240611);
    const unsigned char pieces[] = {'a',  ' ',  '\t', 0x80, 0xBF, 0xC2, 0xC3, 0xE0,
                                    0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xA0, 0x9F};
    for (int round = 0; round < 3000; ++round) {
        std::string bytes(round < 16 ? 0 : random() % 24, '\0');
        for (char& b : bytes)
            b = static_cast<char>(random() % 3 == 0 ? random() % 256 : pieces[random() % sizeof pieces]);
        bytes = std::string(round < 16 ? round : random() % 3 == 0 ? random() % 60 : 0, 'p') + bytes;
        const OxString s(bytes.c_str(), true);
        const std::u16string expected = decodeUtf8Oracle(bytes.substr(0, bytes.find('\0')));
        ASSERT_EQ(expected, wideText(s)) << ::testing::PrintToString(bytes);
        ASSERT_TRUE(isValidUtf16(s.kwszPtr()));
        ASSERT_EQ(expected.empty()       ? OxString::kEmpty
                  : expected.size() <= 6 ? OxString::kInlineWide
                                         : OxString::kHeapWide,
                  s.kind());
        ASSERT_EQ(static_cast<int>(expected.size()), s.length());
        ASSERT_EQ(expected, wideText(OxString(s.utf8Ptr(), true)));
    }
}
