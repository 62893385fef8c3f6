// tests/strings/Utf8DecodingTest.cpp
// OxString(const char*, true): the printable-ASCII prefix, the hand-over to the codec at any
// offset, malformed UTF-8 against an independent table-driven oracle, and the way back through
// utf8Ptr.

#include "StringTestSupport.h"
#include "support/Utf8Oracle.h"

#include <random>

using namespace oxtest;

namespace {

OxString fromUtf8(const char* bytes)
{
    return OxString(bytes, true);
}

} // namespace

// The first non-printable byte hands the whole rest to the codec; a control character there is
// still decoded, not dropped.
TEST(Utf8Decoding, PrintablePrefixAndRestGiveOneText)
{
    const OxString cafe = fromUtf8("caf\xC3\xA9");
    EXPECT_EQ(OxString::kInlineWide, cafe.kind());
    EXPECT_EQ(u"caf\u00E9", wideText(cafe));
    EXPECT_EQ(u"a\tb", wideText(fromUtf8("a\tb")));
    EXPECT_EQ(u"\U0001F600 smile", wideText(fromUtf8("\xF0\x9F\x98\x80 smile")));
    EXPECT_EQ(OxString::kHeapWide, fromUtf8("seven u").kind());
    EXPECT_EQ(OxString::kEmpty, fromUtf8("").kind());
}

// Malformed input not decoded as the oracle says (one U+FFFD per maximal subpart), invalid
// UTF-16 out, or the wrong kind or length for the decoded text. Random bytes, biased towards
// UTF-8 lead and continuation bytes, behind a printable prefix of any length (the hand-over
// point) and up to an embedded NUL; then the UTF-8 form read back decodes to the same text.
TEST(Utf8Decoding, RandomInputMatchesTheOracleAndRoundTrips)
{
    std::mt19937 random(20240611);
    const unsigned char pieces[] = {'a',  ' ',  '\t', 0x80, 0xBF, 0xC2, 0xC3, 0xE0,
                                    0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xA0, 0x9F};
    for (int round = 0; round < 3000; ++round) {
        std::string bytes(random() % 24, '\0');
        for (char& b : bytes)
            b = static_cast<char>(random() % 3 == 0 ? random() % 256 : pieces[random() % sizeof pieces]);
        bytes = std::string(random() % 3 == 0 ? random() % 60 : 0, 'p') + bytes;
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
