// tests/platform/CRuntimeTextTest.cpp
// The C runtime's text functions over UTF-16 and over narrow text in the ANSI code page (1252 here).

#include "platform/PlatformTest.h"

#include <climits>
#include <clocale>

using namespace win;

static const unsigned char* bytes(const char* text)
{
    return reinterpret_cast<const unsigned char*>(text);
}

// Collation by UTF-16 units (which order U+10000, D800 DC00, below U+FFFF) instead of code points; a
// lone surrogate or null that trips it; long texts cut; narrow text collated as bytes, not decoded
// from the ANSI code page (0x80 is the euro sign: decoded, it sorts after U+00E9); _mbscmp on signed
// bytes. Case folding beyond ASCII fixed instead of the locale's (none in "C", full in C.UTF-8).
// Digits beyond 0-9; _wtoi not saturating or skipping blanks; _wcsdup copying wrongly or tripping
// over null.
TEST(CRuntimeText, CollationSeesCodePointsAndCaseFollowsTheLocale)
{
    const std::u16string a(1000, u'x'), b = a.substr(1) + u'y';
    const std::string narrowA(1000, 'x'), narrowB = narrowA.substr(1) + '\xE9';
    EXPECT_TRUE(wcscoll(u"\uFFFF", u"\U00010000") < 0 && wcscoll(u"same", u"same") == 0 &&
                wcscoll(nullptr, u"") == 0 && wcscoll(nullptr, u"a") < 0);
    EXPECT_TRUE(wcscoll(a.c_str(), b.c_str()) < 0 && _wcsicoll(a.c_str(), b.c_str()) < 0 &&
                _mbscoll(bytes(narrowA.c_str()), bytes(narrowB.c_str())) < 0);
    EXPECT_TRUE(_mbscoll(bytes("\x80"), bytes("\xE9")) > 0 && _mbscmp(bytes("\x80"), bytes("\xE9")) < 0 &&
                _mbscmp(bytes("\x80"), bytes("a")) > 0 && _mbscmp(nullptr, bytes("")) == 0 &&
                _mbscoll(bytes(""), nullptr) == 0 && wcscoll(u"a\xD800", u"a\u00FF") > 0);
    EXPECT_TRUE(_wcsicmp(u"Hello", u"hELLO") == 0 && _wcsicmp(u"a", u"B") < 0);
    EXPECT_TRUE(_wcsicmp(u"\u00C9", u"\u00E9") != 0 && _wcsicoll(u"\u00C9", u"\u00E9") != 0 &&
                _mbsicmp(bytes("\xC9"), bytes("\xE9")) != 0);
    ASSERT_NE(nullptr, std::setlocale(LC_ALL, "C.UTF-8"));
    EXPECT_TRUE(_wcsicmp(u"\u00C9t\u00C9", u"\u00E9T\u00E9") == 0 &&
                _wcsicoll(u"\u00C9t\u00C9", u"\u00E9T\u00E9") == 0 &&
                _mbsicmp(bytes("\xC9t\xC9"), bytes("\xE9T\xE9")) == 0 &&
                _mbsicoll(bytes("\xC9"), bytes("\xE9")) == 0);
    std::setlocale(LC_ALL, "C");
    EXPECT_TRUE(win::iswdigit(u'0') && win::iswdigit(u'9') && !win::iswdigit(u'a') &&
                !win::iswdigit(0xD835) && !win::iswdigit(0x0661));
    EXPECT_TRUE(_wtoi(u"42") == 42 && _wtoi(u"  -7x") == -7 && _wtoi(u"x1") == 0 && _wtoi(nullptr) == 0);
    EXPECT_TRUE(_wtoi(u"99999999999999999999") == INT_MAX && _wtoi(u"-99999999999999999999") == INT_MIN);
    WCHAR* copy = _wcsdup(u"dup");
    EXPECT_TRUE(copy != nullptr && std::u16string(u"dup") == copy && _wcsdup(nullptr) == nullptr);
    std::free(copy);
}
