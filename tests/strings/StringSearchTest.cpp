// tests/strings/StringSearchTest.cpp
// find, findRev, findOneOf, findOneOfRev, substr and substrRev: empty and null patterns,
// overlapping occurrences, byte offsets between narrow strings, extreme arguments, and the kinds
// of the results.

#include "StringTestSupport.h"

#include <climits>

using namespace oxtest;

namespace {

class StringSearch : public WithHostConverters {};

} // namespace

// An empty pattern found anywhere but the end (measuring it produces the wide form), anything
// found in the empty string, or a set search that matches an empty or null set.
TEST_F(StringSearch, EmptyPatternsSetsAndStrings)
{
    EXPECT_EQ(0, OxString().find(u""));
    EXPECT_EQ(0, OxString().findRev(static_cast<const OXCHAR*>(nullptr)));
    EXPECT_EQ(-1, OxString().find(u"a"));
    EXPECT_EQ(-1, OxString().findRev(u"a"));
    OxString narrow("abc", false);
    EXPECT_EQ(3, narrow.find(u""));
    EXPECT_EQ(OxString::kHeapDual, narrow.kind());
    EXPECT_EQ(3, OxString(u"abc").find(OxString()));
    const OxString text(u"axbyc");
    EXPECT_EQ(1, text.findOneOf(u"yx"));
    EXPECT_EQ(3, text.findOneOfRev(u"yx"));
    EXPECT_EQ(-1, text.findOneOf(u"z"));
    EXPECT_EQ(-1, text.findOneOf(u""));
    EXPECT_EQ(-1, text.findOneOfRev(nullptr));
    EXPECT_EQ(-1, OxString().findOneOf(u"a"));
    EXPECT_EQ(3, OxString("caf\xE9", false).findOneOf(u"\u00E9"));
}

// Overlapping occurrences skipped, answers that depend on the form, or two narrow-only strings
// that produce a wide form instead of searching their bytes.
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
    const OxString bytes("caf\xE9 au lait", false); // two narrow strings search their bytes
    EXPECT_EQ(5, bytes.find(OxString("au", false)));
    EXPECT_EQ(3, bytes.findRev(OxString("\xE9", false)));
    EXPECT_EQ(OxString::kInlineNarrow, bytes.kind());
}

// Negative starts not taken as 0, negative counts not run to the end, overflow at the extremes,
// or a cut that changes the form.
TEST_F(StringSearch, SubstrCutsNarrowAsNarrowAndWideAsWide)
{
    const OxString narrow("abcdef", false);
    const OxString wide(u"abcdef");
    struct Cut {
        int start, count;
        const char* expected;
    };
    // clang-format off
    constexpr Cut kCuts[] = {{2, -5, "cdef"}, {10, 2, ""}, {-3, 2, "ab"}, {0, INT_MAX, "abcdef"}, {INT_MAX, INT_MAX, ""},
                             {INT_MIN, 1, "a"}, {5, 1, "f"}, {6, -1, ""}, {1, 0, ""}, {0, -1, "abcdef"}};
    // clang-format on
    for (const Cut& cut : kCuts) {
        const std::string expected = cut.expected;
        EXPECT_TRUE(holds(narrow.substr(cut.start, cut.count),
                          expected.empty() ? OxString::kEmpty : OxString::kInlineNarrow, expected))
            << cut.start << ", " << cut.count;
        EXPECT_TRUE(holds(wide.substr(cut.start, cut.count),
                          expected.empty() ? OxString::kEmpty : OxString::kInlineWide,
                          std::u16string(expected.begin(), expected.end())))
            << cut.start << ", " << cut.count;
    }
    EXPECT_EQ(OxString::kInlineNarrow, narrow.kind());
    EXPECT_TRUE(OxString().substr(0, 3).isEmpty());
    EXPECT_EQ(OxString::kHeapWide, OxString(u"0123456789").substr(1).kind());
}

// A tail cut from the narrow form (substrRev measures through the wide form, its result is wide),
// or overflow at extreme counts.
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
