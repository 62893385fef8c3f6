// tests/strings/StringSearchTest.cpp
// find, findRev, findOneOf(Rev), substr and substrRev: empty and null patterns, overlaps, byte
// offsets between narrow strings, extreme arguments, and the kinds of the results.

#include "StringTestSupport.h"

#include <climits>

using namespace oxtest;

namespace {

class StringSearch : public WithHostConverters {};

} // namespace

// An empty pattern found but at the end, anything found in empty text or by an empty set, overlaps
// skipped, answers that depend on the form, two narrow strings not searching their bytes.
TEST_F(StringSearch, FindsFirstAndLastOccurrencesAndNothingInEmptiness)
{
    const OxString empty;
    EXPECT_TRUE(empty.find(u"") == 0 && empty.findRev(static_cast<const OXCHAR*>(nullptr)) == 0);
    EXPECT_TRUE(empty.find(u"a") == -1 && empty.findRev(u"a") == -1 && empty.findOneOf(u"a") == -1);
    OxString narrow("abc", false);
    EXPECT_EQ(3, narrow.find(u""));
    EXPECT_EQ(OxString::kHeapDual, narrow.kind());
    EXPECT_EQ(3, OxString(u"abc").find(OxString()));
    const OxString text(u"axbyc");
    EXPECT_EQ(1, text.findOneOf(u"yx"));
    EXPECT_EQ(3, text.findOneOfRev(u"yx"));
    EXPECT_TRUE(text.findOneOf(u"z") == -1 && text.findOneOf(u"") == -1 && text.findOneOfRev(nullptr) == -1);
    EXPECT_EQ(3, OxString("caf\xE9", false).findOneOf(u"\u00E9"));
    for (const OxString& aaa : {OxString(u"aaa"), OxString("aaa", false), dualString("aaa")}) {
        EXPECT_EQ(0, aaa.find(u"aa"));
        EXPECT_EQ(1, aaa.findRev(u"aa"));
        EXPECT_EQ(1, aaa.findRev(OxString("aa", false)));
        EXPECT_EQ(-1, aaa.find(u"aaaa"));
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

// Negative starts not taken as 0, negative counts not run to the end, overflow at the extremes, a
// cut that changes the form; substrRev measures through the wide form and answers wide.
TEST_F(StringSearch, SubstrCutsNarrowAsNarrowAndWideAsWideAndSubstrRevTakesTheTail)
{
    const OxString narrow("abcdef", false);
    const OxString wide(u"abcdef");
    using enum OxString::Kind;
    // clang-format off
    const std::tuple<int, int, std::u16string> kCuts[] = {{2, -5, u"cdef"}, {10, 2, u""}, {-3, 2, u"ab"},
        {0, INT_MAX, u"abcdef"}, {INT_MAX, INT_MAX, u""}, {INT_MIN, 1, u"a"}, {5, 1, u"f"}, {6, -1, u""},
        {1, 0, u""}, {0, -1, u"abcdef"}};
    // clang-format on
    for (const auto& [start, count, expected] : kCuts) {
        SCOPED_TRACE(testing::Message() << start << ", " << count);
        EXPECT_TRUE(holds(narrow.substr(start, count), expected.empty() ? kEmpty : kInlineNarrow, expected));
        EXPECT_TRUE(holds(wide.substr(start, count), expected.empty() ? kEmpty : kInlineWide, expected));
    }
    EXPECT_EQ(OxString::kInlineNarrow, narrow.kind());
    EXPECT_TRUE(OxString().substr(0, 3).isEmpty());
    EXPECT_EQ(OxString::kHeapWide, OxString(u"0123456789").substr(1).kind());
    const OxString text("abc", false);
    for (int count : {10, INT_MAX})
        EXPECT_TRUE(holds(text.substrRev(count), OxString::kInlineWide, u"abc"));
    EXPECT_TRUE(holds(text.substrRev(2), OxString::kInlineWide, u"bc"));
    for (int count : {0, -1, INT_MIN})
        EXPECT_TRUE(text.substrRev(count).isEmpty());
}
