// tests/strings/StringSearchTest.cpp
// find, findRev, findOneOf, findOneOfRev, substr and substrRev: empty and null patterns,
// overlapping occurrences, byte offsets between narrow strings, extreme arguments, and the kinds
// of the results.

#include "StringTestSupport.h"

#include "platform/win.h"

#include <climits>

using namespace oxtest;

namespace {

class StringSearch : public WithHostConverters {};

} // namespace

// An empty pattern is found at the end (and produces the wide form to measure it); nothing is
// found in the empty string.
TEST_F(StringSearch, EmptyPatternsAndEmptyStrings)
{
    EXPECT_EQ(0, OxString().find(u""));
    EXPECT_EQ(0, OxString().findRev(static_cast<const OXCHAR*>(nullptr)));
    EXPECT_EQ(-1, OxString().find(u"a"));
    EXPECT_EQ(-1, OxString().findRev(u"a"));
    OxString narrow("abc", false);
    EXPECT_EQ(3, narrow.find(u""));
    EXPECT_EQ(OxString::kHeapDual, narrow.kind());
    EXPECT_EQ(3, OxString(u"abc").find(OxString()));
}

// Positions of first and last occurrences, overlapping ones included, in every form.
TEST_F(StringSearch, FindsFirstAndLastOccurrences)
{
    for (OxString text : {OxString(u"aaa"), OxString("aaa", false), dualString("aaa")}) {
        EXPECT_EQ(0, text.find(u"aa"));
        EXPECT_EQ(1, text.findRev(u"aa"));
        EXPECT_EQ(1, text.findRev(OxString("aa", false)));
        EXPECT_EQ(-1, text.find(u"aaaa"));
    }
    const OxString sentence(u"the cat and the hat");
    EXPECT_EQ(4, sentence.find(u"cat"));
    EXPECT_EQ(12, sentence.findRev(u"the"));
    EXPECT_EQ(16, sentence.find(OxString("hat", false)));
    EXPECT_EQ(-1, sentence.find(u"The"));
}

// Two narrow-only strings search their bytes without producing a wide form.
TEST_F(StringSearch, NarrowStringsSearchBytes)
{
    const OxString text("caf\xE9 au lait", false);
    EXPECT_EQ(5, text.find(OxString("au", false)));
    EXPECT_EQ(3, text.findRev(OxString("\xE9", false)));
    EXPECT_EQ(OxString::kInlineNarrow, text.kind());
}

TEST_F(StringSearch, FindOneOfLooksForAnyUnitOfTheSet)
{
    const OxString text(u"axbyc");
    EXPECT_EQ(1, text.findOneOf(u"yx"));
    EXPECT_EQ(3, text.findOneOfRev(u"yx"));
    EXPECT_EQ(-1, text.findOneOf(u"z"));
    EXPECT_EQ(-1, text.findOneOf(u""));
    EXPECT_EQ(-1, text.findOneOfRev(nullptr));
    EXPECT_EQ(-1, OxString().findOneOf(u"a"));
    EXPECT_EQ(3, OxString("caf\xE9", false).findOneOf(u"\u00E9"));
}

struct Cut {
    int start;
    int count;
    const char* expected;
};

// Negative starts count as 0, negative counts run to the end, nothing overflows at the extremes.
constexpr Cut kCuts[] = {
    {2, -5, "cdef"},
    {10, 2, ""},
    {-3, 2, "ab"},
    {0, INT_MAX, "abcdef"},
    {INT_MAX, INT_MAX, ""},
    {INT_MIN, 1, "a"},
    {5, 1, "f"},
    {6, -1, ""},
    {1, 0, ""},
    {0, -1, "abcdef"},
};

TEST_F(StringSearch, SubstrCutsNarrowAsNarrowAndWideAsWide)
{
    const OxString narrow("abcdef", false);
    const OxString wide(u"abcdef");
    for (const Cut& cut : kCuts) {
        const std::string expected = cut.expected;
        const OxString narrowPart = narrow.substr(cut.start, cut.count);
        const OxString widePart = wide.substr(cut.start, cut.count);
        EXPECT_EQ(expected, narrowText(narrowPart)) << cut.start << ", " << cut.count;
        EXPECT_EQ(std::u16string(expected.begin(), expected.end()), wideText(widePart));
        EXPECT_EQ(expected.empty() ? OxString::kEmpty : OxString::kInlineNarrow, narrowPart.kind());
        EXPECT_EQ(expected.empty() ? OxString::kEmpty : OxString::kInlineWide, widePart.kind());
    }
    EXPECT_EQ(OxString::kInlineNarrow, narrow.kind());
    EXPECT_TRUE(OxString().substr(0, 3).isEmpty());
    EXPECT_EQ(OxString::kHeapWide, OxString(u"0123456789").substr(1).kind());
}

// substrRev measures through the wide form, so its result is wide.
TEST_F(StringSearch, SubstrRevTakesTheTail)
{
    const OxString text("abc", false);
    EXPECT_EQ(u"abc", wideText(text.substrRev(10)));
    EXPECT_EQ(u"bc", wideText(text.substrRev(2)));
    EXPECT_EQ(OxString::kInlineWide, text.substrRev(2).kind());
    EXPECT_TRUE(text.substrRev(0).isEmpty());
    EXPECT_TRUE(text.substrRev(-1).isEmpty());
    EXPECT_TRUE(text.substrRev(INT_MIN).isEmpty());
    EXPECT_EQ(u"abc", wideText(text.substrRev(INT_MAX)));
}

class CodePage932Search : public WithHostConverters {
protected:
    void SetUp() override
    {
        if (win::GetACP() != 932)
            GTEST_SKIP() << "needs OX_ANSI_CODEPAGE=932";
        WithHostConverters::SetUp();
    }
};

// Narrow positions count bytes: the second character of a double-byte text is at byte 2.
TEST_F(CodePage932Search, NarrowPositionsAndCutsCountBytes)
{
    const OxString text("\x82\xA0x", false);
    EXPECT_EQ(2, text.find(OxString("x", false)));
    EXPECT_EQ("x", narrowText(text.substr(2, -1)));
    EXPECT_EQ(1, OxString(u"\u3042x").find(u"x"));
    // Skipping stops at a lead byte whose trail byte is missing: the skip never passes the end.
    EXPECT_EQ("\x82", narrowText(OxString("a\x82", false).substr(5, -1)));
}
