// tests/platform/EnvironmentTest.cpp
// The wide-character getenv over the UTF-8 process environment.

#include "platform/win.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

constexpr const OXCHAR* kName = u"OX_TEST_ENVIRONMENT_VALUE";

// An unset variable read as an empty value; a value mis-transcoded across the UTF-8/UTF-16
// boundary (beyond the BMP too) or sized in bytes instead of units; a buffer one unit short
// written to; null arguments dereferenced; a name too long for the conversion buffer overflowing it.
TEST(Environment, WideGetenvReadsUtf8ValuesAndRefusesWhatDoesNotFit)
{
    std::size_t required = 99;
    OXCHAR buffer[16] = {u'x'};
    ::unsetenv("OX_TEST_ENVIRONMENT_VALUE");
    EXPECT_TRUE(win::_wgetenv_s(&required, buffer, 16, kName) == 0 && required == 0 && buffer[0] == 0);
    ::setenv("OX_TEST_ENVIRONMENT_VALUE",
             "gr\xc3\xbc\xc3\x9f"
             "e \xf0\x9f\x8c\x8d",
             1);
    EXPECT_TRUE(win::_wgetenv_s(&required, buffer, 16, kName) == 0 && required == 9);
    EXPECT_EQ(std::u16string(u"gr\u00fc\u00dfe \U0001F30D"), buffer);
    buffer[0] = u'x';
    EXPECT_TRUE(win::_wgetenv_s(&required, buffer, 8, kName) == ERANGE && required == 9 && buffer[0] == 0);
    EXPECT_EQ(EINVAL, win::_wgetenv_s(&required, buffer, 4, nullptr));
    EXPECT_EQ(EINVAL, win::_wgetenv_s(nullptr, buffer, 4, kName));
    EXPECT_EQ(EINVAL, win::_wgetenv_s(&required, nullptr, 4, kName));
    const std::u16string hugeName(5000, u'N');
    EXPECT_TRUE(win::_wgetenv_s(&required, buffer, 4, hugeName.c_str()) == 0 && required == 0);
    ::unsetenv("OX_TEST_ENVIRONMENT_VALUE");
}

} // namespace
