// tests/strings/StringCompareTest.cpp
// compare, compareNoCase, match and matchNoCase: ASCII answers that must not depend on which
// forms the two sides hold, the mixed narrow/wide walk with its conversion and escape test, the
// hand-over to the locale's collation, and double-byte characters of code page 932 (in a
// process of their own).

#include "StringTestSupport.h"

#include "platform/win.h"

#include <clocale>
#include <tuple>

using namespace oxtest;

namespace {

enum class Form { kNarrow, kWide, kDual };
enum class Argument { kNarrowString, kWideString, kDualString, kWidePointer, kNarrowPointer };

OxString make(Form form, const std::string& ascii)
{
    switch (form) {
    case Form::kNarrow:
        return OxString(ascii.c_str(), false);
    case Form::kWide:
        return OxString(ascii.c_str(), true);
    default:
        return dualString(ascii.c_str());
    }
}

// Calls `operation` (compare, match, ...) with the ASCII text in the given argument form and
// checks that neither side changed its kind (nothing produced or cached).
template <typename Operation>
int callWith(const OxString& self, Argument argument, const std::string& ascii, Operation operation)
{
    const auto selfKind = self.kind();
    int result = 0;
    if (argument == Argument::kNarrowPointer) {
        result = operation(self, ascii.c_str());
    } else if (argument == Argument::kWidePointer) {
        const std::u16string wide(ascii.begin(), ascii.end());
        result = operation(self, wide.c_str());
    } else {
        const Form form = argument == Argument::kNarrowString ? Form::kNarrow
                          : argument == Argument::kWideString ? Form::kWide
                                                              : Form::kDual;
        const OxString other = make(form, ascii);
        const auto otherKind = other.kind();
        result = operation(self, other);
        EXPECT_EQ(otherKind, other.kind());
    }
    EXPECT_EQ(selfKind, self.kind());
    return result;
}

struct Ordered {
    const char* a;
    const char* b;
    int compare;
    int compareNoCase;
    int match;
    int matchNoCase;
};

// Printable ASCII decides by code (a-z folded to A-Z without case); a tab goes to the collation,
// which in the C locale orders by code as well.
constexpr Ordered kAsciiCases[] = {
    {"abc", "abd", -1, -1, 2, 2},    {"", "", 0, 0, 0, 0},
    {"", "a", -1, -1, 0, 0},         {"a", "", 1, 1, 0, 0},
    {"abc", "ABC", 1, 0, 0, 3},      {"_", "a", -1, 1, 0, 0},
    {"Zebra", "apple", -1, 1, 0, 0}, {"ab", "abc", -1, -1, 2, 2},
    {"abcd", "abXd", 1, -1, 2, 2},   {"abcd", "ABCx", 1, -1, 0, 3},
    {"a\tb", "a b", -1, -1, 1, 1},   {"a long common prefix x", "a long common prefix y", -1, -1, 21, 21},
};

int gConverterCalls = 0;
int countingToWide(unsigned int codePage, int flags, const char* source, int length, OXCHAR* out,
                   int capacity)
{
    ++gConverterCalls;
    return oxHostMultiByteToWideChar(codePage, flags, source, length, out, capacity);
}

} // namespace

class AsciiOrdering : public WithHostConverters,
                      public ::testing::WithParamInterface<std::tuple<Form, Argument>> {};

// Guards against a form combination that walks the wrong pair of texts, negates the wrong way,
// converts or caches, or reports raw differences instead of -1/0/1.
TEST_P(AsciiOrdering, AnswersDoNotDependOnForms)
{
    const auto [form, argument] = GetParam();
    for (const Ordered& c : kAsciiCases) {
        const OxString self = make(form, c.a);
        const auto compare = [](const OxString& s, const auto& x) { return s.compare(x); };
        const auto compareNoCase = [](const OxString& s, const auto& x) { return s.compareNoCase(x); };
        const auto match = [](const OxString& s, const auto& x) { return s.match(x); };
        const auto matchNoCase = [](const OxString& s, const auto& x) { return s.matchNoCase(x); };
        EXPECT_EQ(c.compare, callWith(self, argument, c.b, compare)) << c.a << " / " << c.b;
        EXPECT_EQ(c.compareNoCase, callWith(self, argument, c.b, compareNoCase)) << c.a << " / " << c.b;
        EXPECT_EQ(c.match, callWith(self, argument, c.b, match)) << c.a << " / " << c.b;
        EXPECT_EQ(c.matchNoCase, callWith(self, argument, c.b, matchNoCase)) << c.a << " / " << c.b;
    }
    const OxString self = make(form, "x");
    EXPECT_EQ(1, self.compare(static_cast<const OXCHAR*>(nullptr)));
    EXPECT_EQ(1, self.compareNoCase(static_cast<const char*>(nullptr)));
    EXPECT_EQ(0, self.match(static_cast<const char*>(nullptr)));
    EXPECT_EQ(0, OxString().compare(static_cast<const char*>(nullptr)));
}

INSTANTIATE_TEST_SUITE_P(Forms, AsciiOrdering,
                         ::testing::Combine(::testing::Values(Form::kNarrow, Form::kWide, Form::kDual),
                                            ::testing::Values(Argument::kNarrowString, Argument::kWideString,
                                                              Argument::kDualString, Argument::kWidePointer,
                                                              Argument::kNarrowPointer)));

class MixedComparison : public WithHostConverters {};

// From the first non-ASCII difference the narrow rest is converted, so ANSI and wide spellings
// of one text are equal, and the order is the same whichever side is this string.
TEST_F(MixedComparison, NarrowRestIsConvertedAtTheFirstNonAsciiDifference)
{
    EXPECT_EQ(0, OxString(u"caf\u00E9").compare("caf\xE9"));
    EXPECT_EQ(0, OxString("caf\xE9", false).compare(u"caf\u00E9"));
    EXPECT_EQ(-1, OxString(u"cafe").compare("caf\xE9"));
    EXPECT_EQ(1, OxString("caf\xE9", false).compare(u"cafe"));
    EXPECT_EQ(1, OxString("caf\xE9", false).compare(OxString(u"cafe")));
    EXPECT_EQ(-1, OxString(u"abc").compare("abd"));
}

// The ANSI converter writes units its page lacks as escapes; a printable backslash that starts
// one must not decide the order as ASCII.
TEST_F(MixedComparison, EscapesAreComparedAsTheUnitsTheyStandFor)
{
    EXPECT_EQ(0, OxString(u"A").compare("\\U+0041"));
    EXPECT_EQ(0, OxString(u"a\u4E00b").compare("a\\U+4E00b"));
    EXPECT_EQ(0, OxString("a\\U+4E00b", false).compareNoCase(OxString(u"A\u4E00B")));
    EXPECT_EQ(1, OxString(u"a").compare("\\x")); // a plain backslash is ASCII

    OxRxTypeSysCallbacks::setCallback_MultiByteCIFToWideChar(countingToWide);
    gConverterCalls = 0;
    OxString(u"A").compare("\\M+0041");
    EXPECT_EQ(1, gConverterCalls);
}

// A narrow rest that cannot be converted counts as empty text.
TEST_F(MixedComparison, UnconvertibleRestCountsAsEmpty)
{
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

// Case folding beyond ASCII and collation come from the current C locale: in "C" only ASCII
// folds, in C.UTF-8 accented capitals fold too.
TEST_F(InLocale, NonAsciiCaseFollowsTheCurrentLocale)
{
    const OxString upper(u"\u00C9t\u00C9");
    EXPECT_EQ(-1, upper.compareNoCase(u"\u00E9T\u00E9"));
    EXPECT_EQ(0, upper.matchNoCase(u"\u00E9T\u00E9"));
    EXPECT_EQ(0, OxString("\xC9t\xC9", false).matchNoCase("\xE9T\xE9"));
    ASSERT_NE(nullptr, std::setlocale(LC_ALL, "C.UTF-8"));
    EXPECT_EQ(0, upper.compareNoCase(u"\u00E9T\u00E9"));
    EXPECT_EQ(3, upper.matchNoCase(u"\u00E9T\u00E9"));
    EXPECT_EQ(3, OxString("\xC9t\xC9", false).matchNoCase("\xE9T\xE9"));
    EXPECT_EQ(3, OxString(u"\u00C9t\u00C9").matchNoCase("\xE9T\xE9"));
    EXPECT_EQ(0, OxString("\xC9t\xC9", false).compareNoCase("\xE9T\xE9"));
    EXPECT_EQ(-1, upper.compare(u"\u00E9T\u00E9"));
}

// Match counts UTF-16 units between wide texts, characters between wide and narrow text.
TEST_F(MixedComparison, MatchCountsUnitsOrCharacters)
{
    EXPECT_EQ(2, OxString(u"\U0001F600a").match(u"\U0001F600b"));
    EXPECT_EQ(4, OxString(u"caf\u00E9s").match("caf\xE9x"));
    EXPECT_EQ(4, OxString("caf\xE9x", false).match(u"caf\u00E9s"));
    EXPECT_EQ(4, OxString("caf\xE9x", false).match(OxString(u"caf\u00E9s")));
    EXPECT_EQ(4, OxString("caf\xE9x", false).match("caf\xE9s"));
}

// ---------------------------------------------------------------------------------------------
// Code page 932 (OX_ANSI_CODEPAGE=932, run as its own ctest entry)

class CodePage932 : public WithHostConverters {
protected:
    void SetUp() override
    {
        if (win::GetACP() != 932)
            GTEST_SKIP() << "needs OX_ANSI_CODEPAGE=932";
        WithHostConverters::SetUp();
    }
};

// 0x83 0x41 and 0x83 0x61 are two katakana whose trail bytes look like A and a: folding the
// trail byte as ASCII would call them equal without case.
TEST_F(CodePage932, TrailBytesAreNeverTakenForAsciiLetters)
{
    const OxString a("\x83\x41", false);
    EXPECT_EQ(-1, a.compareNoCase("\x83\x61"));
    EXPECT_EQ(0, a.matchNoCase("\x83\x61"));
    EXPECT_EQ(-1, a.compare("\x83\x42"));
    EXPECT_EQ(0, a.compare(u"\u30A2"));
}

// Narrow matches count bytes of whole characters; a lead byte without its trail byte stops.
TEST_F(CodePage932, MatchCountsWholeDoubleByteCharacters)
{
    const OxString self("\x82\xA0\x82\xA2", false);
    EXPECT_EQ(2, self.match("\x82\xA0\x82\xA4"));
    EXPECT_EQ(4, self.match("\x82\xA0\x82\xA2z"));
    EXPECT_EQ(2, self.match("\x82\xA0\x82"));
    EXPECT_EQ(2, OxString(u"\u3042\u3044").match("\x82\xA0\x82\xA2"));
    EXPECT_EQ(1, OxString(u"\u3042\u3046").match("\x82\xA0\x82\xA2"));
}
