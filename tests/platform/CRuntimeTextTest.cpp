// tests/platform/CRuntimeTextTest.cpp
// The C runtime's text functions over UTF-16: code-point order through surrogate pairs, case
// folding that follows the current locale, narrow text decoded from the ANSI code page, texts
// too long for the stack buffers, digits, and the small helpers.

#include "platform/win.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cstdlib>
#include <string>

using namespace win;

namespace {

int sign(int value)
{
    return value < 0 ? -1 : value > 0 ? 1 : 0;
}

const unsigned char* bytes(const char* text)
{
    return reinterpret_cast<const unsigned char*>(text);
}

class CRuntimeText : public ::testing::Test { // every test ends in the C locale
protected:
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

} // namespace

// Collation by UTF-16 units (which order U+10000, D800 DC00, below U+FFFF) instead of code
// points; a lone surrogate or null that trips it; texts longer than the stack buffers (255 units)
// cut instead of compared whole; narrow text collated as bytes instead of decoded from the ANSI
// code page (1252 here) first, or _mbscmp that does not stay with unsigned bytes.
TEST_F(CRuntimeText, CollationSeesCodePointsNotUnits)
{
    EXPECT_EQ(-1, sign(wcscoll(u"\uFFFF", u"\U00010000")));
    EXPECT_EQ(0, wcscoll(u"same", u"same"));
    EXPECT_EQ(0, wcscoll(nullptr, u""));
    EXPECT_EQ(-1, sign(wcscoll(nullptr, u"a")));
    const char16_t lone[] = {u'a', 0xD800, 0};
    EXPECT_EQ(1, sign(wcscoll(lone, u"a\u00FF")));
    const std::u16string a(1000, u'x'), b = a.substr(1) + u'y';
    EXPECT_EQ(-1, sign(wcscoll(a.c_str(), b.c_str())));
    EXPECT_EQ(-1, sign(_wcsicoll(a.c_str(), b.c_str())));
    const std::string narrowA(1000, 'x'), narrowB = narrowA.substr(1) + '\xE9';
    EXPECT_EQ(-1, sign(_mbscoll(bytes(narrowA.c_str()), bytes(narrowB.c_str()))));
    // 0x80 is the euro sign (U+20AC) in 1252, 0xE9 is U+00E9: decoded, the euro sorts last.
    EXPECT_EQ(1, sign(_mbscoll(bytes("\x80"), bytes("\xE9"))));
    EXPECT_EQ(-1, sign(_mbscmp(bytes("\x80"), bytes("\xE9"))));
    EXPECT_EQ(1, sign(_mbscmp(bytes("\x80"), bytes("a"))));
    EXPECT_EQ(0, _mbscmp(nullptr, bytes("")));
    EXPECT_EQ(0, _mbscoll(bytes(""), nullptr));
}

// Case folding beyond ASCII fixed instead of the locale's: none in "C", full in C.UTF-8.
TEST_F(CRuntimeText, CaseFoldingFollowsTheLocale)
{
    EXPECT_EQ(0, _wcsicmp(u"Hello", u"hELLO"));
    EXPECT_NE(0, _wcsicmp(u"\u00C9", u"\u00E9"));
    EXPECT_NE(0, _wcsicoll(u"\u00C9", u"\u00E9"));
    EXPECT_NE(0, _mbsicmp(bytes("\xC9"), bytes("\xE9")));
    ASSERT_NE(nullptr, std::setlocale(LC_ALL, "C.UTF-8"));
    EXPECT_EQ(0, _wcsicmp(u"\u00C9t\u00C9", u"\u00E9T\u00E9"));
    EXPECT_EQ(0, _wcsicoll(u"\u00C9t\u00C9", u"\u00E9T\u00E9"));
    EXPECT_EQ(0, _mbsicmp(bytes("\xC9t\xC9"), bytes("\xE9T\xE9")));
    EXPECT_EQ(0, _mbsicoll(bytes("\xC9"), bytes("\xE9")));
    EXPECT_EQ(-1, sign(_wcsicmp(u"a", u"B")));
}

// Digits beyond 0-9 (glibc classifies only those), _wtoi that does not saturate or skip
// blanks, _wcsdup that copies wrongly or trips over null.
TEST_F(CRuntimeText, DigitsAndHelpers)
{
    for (char16_t c = u'0'; c <= u'9'; ++c)
        EXPECT_EQ(1, win::iswdigit(c));
    for (char16_t c : {u'a', char16_t(0xD835), char16_t(0x0661)})
        EXPECT_EQ(0, win::iswdigit(c));
    EXPECT_EQ(42, _wtoi(u"42"));
    EXPECT_EQ(-7, _wtoi(u"  -7x"));
    EXPECT_EQ(0, _wtoi(u"x1"));
    EXPECT_EQ(0, _wtoi(nullptr));
    EXPECT_EQ(INT_MAX, _wtoi(u"99999999999999999999"));
    EXPECT_EQ(INT_MIN, _wtoi(u"-99999999999999999999"));
    WCHAR* copy = _wcsdup(u"dup");
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(std::u16string(u"dup"), copy);
    std::free(copy);
    EXPECT_EQ(nullptr, _wcsdup(nullptr));
}
