// tests/strings/StringCompareTest.cpp
// compare, compareNoCase, match and matchNoCase: ASCII answers that must not depend on which
// forms the two sides hold, the mixed narrow/wide walk with its conversion and escape test, the
// hand-over to the locale's collation, and double-byte characters of code page 932 (in a
// process of their own).

#include "StringTestSupport.h"
#include "support/FreshProcess.h"

#include <array>
#include <clocale>
#include <tuple>

using namespace oxtest;

namespace {

enum class Form { kNarrow, kWide, kDual, kWidePointer, kNarrowPointer };
using Answers = std::array<int, 4>; // compare, compareNoCase, match, matchNoCase

OxString make(Form form, const std::string& ascii)
{
    return form == Form::kDual ? dualString(ascii.c_str()) : OxString(ascii.c_str(), form == Form::kWide);
}

template <typename Other>
Answers answers(const OxString& self, const Other& other)
{
    return {self.compare(other), self.compareNoCase(other), self.match(other), self.matchNoCase(other)};
}

// The four answers with the ASCII text `b` as an argument of the given form; neither side may
// change its kind (nothing produced or cached).
Answers answersWith(const OxString& self, Form form, const std::string& b)
{
    const auto selfKind = self.kind();
    const std::u16string wide(b.begin(), b.end());
    const OxString other = make(form, b);
    const auto otherKind = other.kind();
    const Answers result = form == Form::kNarrowPointer ? answers(self, b.c_str())
                           : form == Form::kWidePointer ? answers(self, wide.c_str())
                                                        : answers(self, other);
    EXPECT_EQ(otherKind, other.kind());
    EXPECT_EQ(selfKind, self.kind());
    return result;
}

// Printable ASCII decides by code (a-z folded to A-Z without case); a tab goes to the collation,
// which in the C locale orders by code as well.
const std::tuple<const char*, const char*, Answers> kAsciiCases[] = {
    {"abc", "abd", {-1, -1, 2, 2}},    {"", "", {0, 0, 0, 0}},
    {"", "a", {-1, -1, 0, 0}},         {"a", "", {1, 1, 0, 0}},
    {"abc", "ABC", {1, 0, 0, 3}},      {"_", "a", {-1, 1, 0, 0}},
    {"Zebra", "apple", {-1, 1, 0, 0}}, {"ab", "abc", {-1, -1, 2, 2}},
    {"abcd", "abXd", {1, -1, 2, 2}},   {"abcd", "ABCx", {1, -1, 0, 3}},
    {"a\tb", "a b", {-1, -1, 1, 1}},   {"a long common prefix x", "a long common prefix y", {-1, -1, 21, 21}},
};

} // namespace

class AsciiOrdering : public WithHostConverters,
                      public ::testing::WithParamInterface<std::tuple<Form, Form>> {};

// A form combination that walks the wrong pair of texts, negates the wrong way, converts or
// caches, reports raw differences instead of -1/0/1, or trips over a null argument.
TEST_P(AsciiOrdering, AnswersDoNotDependOnForms)
{
    const auto [form, argument] = GetParam();
    for (const auto& [a, b, expected] : kAsciiCases)
        EXPECT_EQ(expected, answersWith(make(form, a), argument, b)) << a << " / " << b;
    const OxString self = make(form, "x");
    EXPECT_EQ((Answers{1, 1, 0, 0}), answers(self, static_cast<const OXCHAR*>(nullptr)));
    EXPECT_EQ((Answers{1, 1, 0, 0}), answers(self, static_cast<const char*>(nullptr)));
    EXPECT_EQ(0, OxString().compare(static_cast<const char*>(nullptr)));
}

INSTANTIATE_TEST_SUITE_P(Forms, AsciiOrdering,
                         ::testing::Combine(::testing::Values(Form::kNarrow, Form::kWide, Form::kDual),
                                            ::testing::Values(Form::kNarrow, Form::kWide, Form::kDual,
                                                              Form::kWidePointer, Form::kNarrowPointer)));

class MixedComparison : public WithHostConverters {};

// A narrow rest that is not converted at the first non-ASCII difference (ANSI and wide spellings
// of one text must be equal), or an order that flips with the side; match must count units
// between wide texts and characters between wide and narrow.
TEST_F(MixedComparison, NarrowRestIsConvertedAtTheFirstNonAsciiDifference)
{
    EXPECT_EQ(0, OxString(u"caf\u00E9").compare("caf\xE9"));
    EXPECT_EQ(0, OxString("caf\xE9", false).compare(u"caf\u00E9"));
    EXPECT_EQ(-1, OxString(u"cafe").compare("caf\xE9"));
    EXPECT_EQ(1, OxString("caf\xE9", false).compare(u"cafe"));
    EXPECT_EQ(1, OxString("caf\xE9", false).compare(OxString(u"cafe")));
    EXPECT_EQ(2, OxString(u"\U0001F600a").match(u"\U0001F600b"));
    EXPECT_EQ(4, OxString(u"caf\u00E9s").match("caf\xE9x"));
    EXPECT_EQ(4, OxString("caf\xE9x", false).match(u"caf\u00E9s"));
    EXPECT_EQ(4, OxString("caf\xE9x", false).match(OxString(u"caf\u00E9s")));
    EXPECT_EQ(4, OxString("caf\xE9x", false).match("caf\xE9s"));
}

// A printable backslash that starts the converter's escape decided the order as ASCII; a rest
// that cannot be converted must count as empty text, not crash.
TEST_F(MixedComparison, EscapesAreComparedAsTheUnitsTheyStandFor)
{
    EXPECT_EQ(0, OxString(u"A").compare("\\U+0041"));
    EXPECT_EQ(0, OxString(u"a\u4E00b").compare("a\\U+4E00b"));
    EXPECT_EQ(0, OxString("a\\U+4E00b", false).compareNoCase(OxString(u"A\u4E00B")));
    EXPECT_EQ(1, OxString(u"a").compare("\\x")); // a plain backslash is ASCII
    OxRxTypeSysCallbacks::setCallback_MultiByteCIFToWideChar(countingToWide);
    gConversions = 0;
    OxString(u"A").compare("\\M+0041");
    EXPECT_EQ(1, gConversions);

    OxRxTypeSysCallbacks::setCallback_MultiByteCIFToWideChar(nullptr);
    EXPECT_EQ(1, OxString(u"ab\u00E9").compare("ab\xE9"));
    EXPECT_EQ(-1, OxString("ab\xE9", false).compare(u"ab\u00E9"));
}

// Sets a locale for one test and restores the C locale after it.
class InLocale : public WithHostConverters {
protected:
    void TearDown() override
    {
        std::setlocale(LC_ALL, "C");
        WithHostConverters::TearDown();
    }
};

// Case folding beyond ASCII fixed instead of taken from the current C locale: in "C" only ASCII
// folds, in C.UTF-8 accented capitals fold too.
TEST_F(InLocale, NonAsciiCaseFollowsTheCurrentLocale)
{
    const OxString upper(u"\u00C9t\u00C9"), narrowUpper("\xC9t\xC9", false);
    EXPECT_EQ(-1, upper.compareNoCase(u"\u00E9T\u00E9"));
    EXPECT_EQ(0, upper.matchNoCase(u"\u00E9T\u00E9"));
    EXPECT_EQ(0, narrowUpper.matchNoCase("\xE9T\xE9"));
    ASSERT_NE(nullptr, std::setlocale(LC_ALL, "C.UTF-8"));
    EXPECT_EQ(0, upper.compareNoCase(u"\u00E9T\u00E9"));
    EXPECT_EQ(3, upper.matchNoCase(u"\u00E9T\u00E9"));
    EXPECT_EQ(3, narrowUpper.matchNoCase("\xE9T\xE9"));
    EXPECT_EQ(3, upper.matchNoCase("\xE9T\xE9"));
    EXPECT_EQ(0, narrowUpper.compareNoCase("\xE9T\xE9"));
    EXPECT_EQ(-1, upper.compare(u"\u00E9T\u00E9"));
}

class CodePage932 : public WithHostConverters {};

// Trail bytes folded as ASCII (0x83 0x41 and 0x83 0x61 are two katakana, not A and a); narrow
// matches that count a lead byte without its trail byte or split a character; narrow search
// positions and cuts that count characters instead of bytes, or a skip past a lead byte whose
// trail byte is missing.
TEST_F(CodePage932, DoubleByteCharactersStayWhole)
{
    if (inFreshProcess({"OX_ANSI_CODEPAGE=932"}))
        return;
    ASSERT_EQ(932u, win::GetACP());
    const OxString a("\x83\x41", false), self("\x82\xA0\x82\xA2", false);
    EXPECT_EQ(-1, a.compareNoCase("\x83\x61"));
    EXPECT_EQ(0, a.matchNoCase("\x83\x61"));
    EXPECT_EQ(-1, a.compare("\x83\x42"));
    EXPECT_EQ(0, a.compare(u"\u30A2"));
    EXPECT_EQ(2, self.match("\x82\xA0\x82\xA4"));
    EXPECT_EQ(4, self.match("\x82\xA0\x82\xA2z"));
    EXPECT_EQ(2, self.match("\x82\xA0\x82"));
    EXPECT_EQ(2, OxString(u"\u3042\u3044").match("\x82\xA0\x82\xA2"));
    EXPECT_EQ(1, OxString(u"\u3042\u3046").match("\x82\xA0\x82\xA2"));

    const OxString text("\x82\xA0x", false);
    EXPECT_EQ(2, text.find(OxString("x", false)));
    EXPECT_EQ("x", narrowText(text.substr(2, -1)));
    EXPECT_EQ(1, OxString(u"\u3042x").find(u"x"));
    EXPECT_EQ("\x82", narrowText(OxString("a\x82", false).substr(5, -1)));
}
