// tests/strings/StringCompareTest.cpp
// compare, compareNoCase, match and matchNoCase: ASCII answers whatever forms the sides hold, the
// mixed narrow/wide walk, the locale's collation, and code page 932 (in a process of its own).

#include "StringTestSupport.h"
#include "support/FreshProcess.h"

#include <array>
#include <clocale>
#include <cstring>
#include <sys/mman.h>
#include <tuple>
#include <unistd.h>

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

// Printable ASCII decides by code (a-z folded to A-Z); a tab goes to the collation (by code in C).
// clang-format off
const std::tuple<std::string, std::string, Answers> kAsciiCases[] = {
    {"abc", "abd", {-1, -1, 2, 2}}, {"", "", {0, 0, 0, 0}}, {"", "a", {-1, -1, 0, 0}}, {"a", "", {1, 1, 0, 0}},
    {"abc", "ABC", {1, 0, 0, 3}}, {"_", "a", {-1, 1, 0, 0}}, {"Zebra", "apple", {-1, 1, 0, 0}},
    {"ab", "abc", {-1, -1, 2, 2}}, {"abcd", "abXd", {1, -1, 2, 2}}, {"abcd", "ABCx", {1, -1, 0, 3}},
    {"a\tb", "a b", {-1, -1, 1, 1}}, {"a long common prefix x", "a long common prefix y", {-1, -1, 21, 21}},
};
// clang-format on

} // namespace

// Wide texts are walked several units at a time: a difference, a case-folded match or an end at
// some position of a step answered wrongly, or a read running off a text that ends just before an
// inaccessible page.
TEST(WideSteps, EveryPositionAnswersAndNoReadLeavesTheTextsPage)
{
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    auto* pages = static_cast<char*>(
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_TRUE(pages != MAP_FAILED && mprotect(pages + page, page, PROT_NONE) == 0);
    for (std::size_t length = 1; length <= 40; ++length) {
        const std::u16string text(length, u'm');
        auto* edge = reinterpret_cast<char16_t*>(pages + page) - (length + 1); // ends the page
        std::memcpy(edge, text.c_str(), (length + 1) * sizeof(char16_t));
        EXPECT_TRUE(OxString(text.c_str()).compare(edge) == 0 &&
                    OxString((text + u"m").c_str()).compare(edge) == 1)
            << length;
        for (std::size_t at = 0; at < length; ++at) {
            std::u16string higher = text, lower = text, upper = text;
            higher[at] = u'n';
            lower[at] = u'l';
            upper[at] = u'M';
            EXPECT_TRUE(OxString(higher.c_str()).compare(edge) == 1 &&
                        OxString(lower.c_str()).compare(edge) == -1 &&
                        OxString(upper.c_str()).compareNoCase(edge) == 0)
                << length << " " << at;
        }
    }
    munmap(pages, 2 * page);
}

class AsciiOrdering : public WithHostConverters,
                      public ::testing::WithParamInterface<std::tuple<Form, Form>> {};

// A form combination that walks the wrong pair of texts, negates the wrong way, converts or caches
// (changes a kind), reports raw differences instead of -1/0/1, or trips over a null argument.
TEST_P(AsciiOrdering, AnswersDoNotDependOnForms)
{
    const auto [form, argument] = GetParam();
    for (const auto& [a, b, expected] : kAsciiCases) {
        const OxString self = make(form, a), other = make(argument, b);
        const std::u16string wide(b.begin(), b.end());
        const auto kinds = std::make_pair(self.kind(), other.kind());
        EXPECT_EQ(expected, argument == Form::kNarrowPointer ? answers(self, b.c_str())
                            : argument == Form::kWidePointer ? answers(self, wide.c_str())
                                                             : answers(self, other))
            << a << " / " << b;
        EXPECT_EQ(kinds, std::make_pair(self.kind(), other.kind()));
    }
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

// A narrow rest not converted at the first non-ASCII difference, an order that flips with the side,
// match counting other than units (wide) or characters (mixed), escapes taken as ASCII, a crash.
TEST_F(MixedComparison, NarrowRestIsConvertedAtTheFirstNonAsciiDifference)
{
    EXPECT_EQ((Answers{0, 0, 4, 4}), answers(OxString(u"caf\u00E9"), "caf\xE9"));
    EXPECT_EQ((Answers{0, 0, 4, 4}), answers(OxString("caf\xE9", false), u"caf\u00E9"));
    EXPECT_EQ((Answers{-1, -1, 3, 3}), answers(OxString(u"cafe"), "caf\xE9"));
    EXPECT_EQ((Answers{1, 1, 3, 3}), answers(OxString("caf\xE9", false), u"cafe"));
    EXPECT_EQ((Answers{1, 1, 3, 3}), answers(OxString("caf\xE9", false), OxString(u"cafe")));
    EXPECT_EQ((Answers{-1, -1, 2, 2}), answers(OxString(u"\U0001F600a"), u"\U0001F600b"));
    EXPECT_EQ((Answers{-1, -1, 4, 4}), answers(OxString(u"caf\u00E9s"), "caf\xE9x"));
    const OxString cafex("caf\xE9x", false);
    EXPECT_EQ((Answers{1, 1, 4, 4}), answers(cafex, u"caf\u00E9s"));
    EXPECT_EQ((Answers{1, 1, 4, 4}), answers(cafex, OxString(u"caf\u00E9s")));
    EXPECT_EQ((Answers{1, 1, 4, 4}), answers(cafex, "caf\xE9s"));
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

// Case folding beyond ASCII fixed instead of taken from the current C locale: in "C" only ASCII
// folds, in C.UTF-8 accented capitals fold too.
TEST_F(MixedComparison, NonAsciiCaseFollowsTheCurrentLocale)
{
    struct RestoreTheCLocale {
        ~RestoreTheCLocale() { std::setlocale(LC_ALL, "C"); }
    } restore;
    const OxString upper(u"\u00C9t\u00C9"), narrowUpper("\xC9t\xC9", false);
    EXPECT_EQ((Answers{-1, -1, 0, 0}), answers(upper, u"\u00E9T\u00E9"));
    EXPECT_EQ((Answers{-1, -1, 0, 0}), answers(narrowUpper, "\xE9T\xE9"));
    ASSERT_NE(nullptr, std::setlocale(LC_ALL, "C.UTF-8"));
    EXPECT_EQ((Answers{-1, 0, 0, 3}), answers(upper, u"\u00E9T\u00E9"));
    EXPECT_EQ((Answers{-1, 0, 0, 3}), answers(narrowUpper, "\xE9T\xE9"));
    EXPECT_EQ((Answers{-1, 0, 0, 3}), answers(upper, "\xE9T\xE9"));
}

class CodePage932 : public WithHostConverters {};

// Trail bytes folded as ASCII (0x83 0x41, 0x83 0x61 are katakana); matches that split a character;
// narrow positions and cuts counting characters, not bytes; a skip past a lead byte without trail.
TEST_F(CodePage932, DoubleByteCharactersStayWhole)
{
    if (inFreshProcess({"OX_ANSI_CODEPAGE=932"}))
        return;
    ASSERT_EQ(932u, win::GetACP());
    const OxString a("\x83\x41", false), self("\x82\xA0\x82\xA2", false);
    EXPECT_EQ((Answers{-1, -1, 0, 0}), answers(a, "\x83\x61"));
    EXPECT_EQ((Answers{-1, -1, 0, 0}), answers(a, "\x83\x42"));
    EXPECT_EQ(0, a.compare(u"\u30A2"));
    EXPECT_EQ(2, self.match("\x82\xA0\x82\xA4"));
    EXPECT_EQ(4, self.match("\x82\xA0\x82\xA2z"));
    EXPECT_EQ(2, self.match("\x82\xA0\x82"));
    EXPECT_EQ(2, OxString(u"\u3042\u3044").match("\x82\xA0\x82\xA2"));
    EXPECT_EQ(1, OxString(u"\u3042\u3046").match("\x82\xA0\x82\xA2"));

    const OxString text("\x82\xA0x", false);
    EXPECT_EQ(2, text.find(OxString("x", false)));
    EXPECT_STREQ("x", text.substr(2, -1).ansiPtr());
    EXPECT_EQ(1, OxString(u"\u3042x").find(u"x"));
    EXPECT_STREQ("\x82", OxString("a\x82", false).substr(5, -1).ansiPtr());
}
