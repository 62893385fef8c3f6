// tests/strings/Utf8DecodingTest.cpp
// OxString(const char*, true): the printable-ASCII prefix, the hand-over to the codec, every
// kind of malformed UTF-8 against an independent table-driven oracle, random input, and the way
// back through utf8Ptr.

#include "StringTestSupport.h"
#include "support/Utf8Oracle.h"

#include <random>

using namespace oxtest;

namespace {

OxString fromUtf8(const std::string& bytes)
{
    return OxString(bytes.c_str(), true);
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
// UTF-16 out, or the wrong kind for the decoded length: overlongs, encoded surrogates,
// truncations, stray continuations, bytes F5-FF, values above U+10FFFF, an embedded NUL.
TEST(Utf8Decoding, MalformedInputDecodesLikeTheOracle)
{
    // clang-format off
    const std::string kCases[] = {"a\xC0\xAF\x62", "\xE0\x80\xAFxyz", "\xF0\x80\x80\xAFxyz", "x\xED\xA0\x80y",
                                  "\xED\xA0\xBD\xED\xB8\x80", "abc\xE2\x82", "\xF0\x9F\x98z", "\x80\xBF\x61\x62\x63",
                                  "\xF5\xF8\xFC\xFE\xFF", "\xF4\x90\x80\x80", std::string("ab\xC3\xA9\0cd", 6),
                                  std::string(50, 'x') + "\xE2\x82\xAC\xC3" + std::string(10, 'y')};
    // clang-format on
    for (const std::string& bytes : kCases) {
        const OxString s = fromUtf8(bytes);
        const std::u16string expected = decodeUtf8Oracle(bytes.substr(0, bytes.find('\0')));
        EXPECT_EQ(expected, wideText(s)) << ::testing::PrintToString(bytes);
        EXPECT_TRUE(isValidUtf16(s.kwszPtr()));
        EXPECT_EQ(expected.size() <= 6 ? OxString::kInlineWide : OxString::kHeapWide, s.kind());
    }
}

// Random bytes, biased towards UTF-8 lead and continuation bytes, against the oracle; then the
// UTF-8 form read back decodes to the same text.
TEST(Utf8Decoding, RandomInputMatchesTheOracleAndRoundTrips)
{
    std::mt19937 random(20240611);
    const unsigned char pieces[] = {'a',  ' ',  '\t', 0x80, 0xBF, 0xC2, 0xC3, 0xE0,
                                    0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xA0, 0x9F};
    for (int round = 0; round < 3000; ++round) {
        std::string bytes(random() % 24, '\0');
        for (char& b : bytes)
            b = static_cast<char>(random() % 3 == 0 ? 1 + random() % 255 : pieces[random() % sizeof pieces]);
        OxString s = fromUtf8(bytes);
        const std::u16string expected = decodeUtf8Oracle(bytes);
        ASSERT_EQ(expected, wideText(s)) << ::testing::PrintToString(bytes);
        ASSERT_EQ(static_cast<int>(expected.size()), s.length());
        ASSERT_EQ(expected, wideText(OxString(s.utf8Ptr(), true)));
    }
}

// Unpaired surrogates have no UTF-8 form: the produced UTF-8 holds U+FFFD in their place.
TEST(Utf8Decoding, UnpairedSurrogateEncodesAsReplacement)
{
    const char16_t text[] = {u'a', 0xD800, u'b', 0xDC00, 0};
    OxString s(text);
    EXPECT_STREQ("a\xEF\xBF\xBD"
                 "b\xEF\xBF\xBD",
                 s.utf8Ptr());
}
