// tests/platform/EnvironmentTest.cpp
// The wide-character getenv over the UTF-8 process environment.

#include "platform/PlatformTest.h"

#include <cerrno>

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
    ::setenv("OX_TEST_ENVIRONMENT_VALUE", "gr\303\274\303\237e \360\237\214\215", 1); // UTF-8
    EXPECT_TRUE(win::_wgetenv_s(&required, buffer, 16, kName) == 0 && required == 9 &&
                std::u16string(u"gr\u00fc\u00dfe \U0001F30D") == buffer);
    EXPECT_TRUE(win::_wgetenv_s(&required, buffer, 8, kName) == ERANGE && required == 9 && buffer[0] == 0);
    EXPECT_TRUE(win::_wgetenv_s(&required, buffer, 4, nullptr) == EINVAL &&
                win::_wgetenv_s(nullptr, buffer, 4, kName) == EINVAL &&
                win::_wgetenv_s(&required, nullptr, 4, kName) == EINVAL);
    EXPECT_TRUE(win::_wgetenv_s(&required, buffer, 4, std::u16string(5000, u'N').c_str()) == 0 &&
                required == 0);
    ::unsetenv("OX_TEST_ENVIRONMENT_VALUE");
}
