// tests/platform/EnvironmentTest.cpp
// The wide-character environment functions over the UTF-8 process environment.

#include "platform/win.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

// Each test works on its own variable and removes it again.
class Environment : public ::testing::Test {
protected:
    void TearDown() override { ::unsetenv("OX_TEST_ENVIRONMENT_VALUE"); }
    static constexpr const OXCHAR* kName = u"OX_TEST_ENVIRONMENT_VALUE";
};

// An unset (or removed by "NAME=") variable read as an empty value, or without its not-found
// error; stale buffer contents or out-parameters left behind.
TEST_F(Environment, UnsetOrRemovedVariableReadsAsNothing)
{
    ::setenv("OX_TEST_ENVIRONMENT_VALUE", "set", 1);
    EXPECT_EQ(0, win::_wputenv(u"OX_TEST_ENVIRONMENT_VALUE="));
    EXPECT_EQ(nullptr, std::getenv("OX_TEST_ENVIRONMENT_VALUE"));
    std::size_t required = 99;
    OXCHAR buffer[8] = {u'x'};
    EXPECT_TRUE(win::_wgetenv_s(&required, buffer, 8, kName) == 0 && required == 0 && buffer[0] == 0);
    OXCHAR* copy = reinterpret_cast<OXCHAR*>(1);
    EXPECT_TRUE(win::_wdupenv_s(&copy, nullptr, kName) == 0 && copy == nullptr);
    win::SetLastError(0);
    EXPECT_EQ(0u, win::GetEnvironmentVariableW(kName, buffer, 8));
    EXPECT_EQ(win::ERROR_ENVVAR_NOT_FOUND, win::GetLastError());
}

// Values mis-transcoded across the UTF-8/UTF-16 boundary (characters beyond the BMP included),
// or sizes counted in bytes instead of units.
TEST_F(Environment, ValuesRoundTripThroughUtf8)
{
    ASSERT_EQ(0, win::_wputenv(u"OX_TEST_ENVIRONMENT_VALUE=gr\u00fc\u00dfe \U0001F30D"));
    EXPECT_STREQ("gr\xc3\xbc\xc3\x9f"
                 "e \xf0\x9f\x8c\x8d",
                 std::getenv("OX_TEST_ENVIRONMENT_VALUE"));
    std::size_t required = 0;
    OXCHAR buffer[16];
    EXPECT_TRUE(win::_wgetenv_s(&required, buffer, 16, kName) == 0 && required == 9);
    EXPECT_EQ(std::u16string(u"gr\u00fc\u00dfe \U0001F30D"), buffer);
    OXCHAR* copy = nullptr;
    std::size_t count = 0;
    EXPECT_EQ(0, win::_wdupenv_s(&copy, &count, kName));
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(9u, count);
    EXPECT_EQ(std::u16string(buffer), copy);
    std::free(copy);
}

// A buffer one unit short written to, or the size needed reported without the terminator.
TEST_F(Environment, ShortBufferReportsTheSizeNeeded)
{
    ::setenv("OX_TEST_ENVIRONMENT_VALUE", "abcdef", 1);
    std::size_t required = 0;
    OXCHAR buffer[7] = {u'x'};
    EXPECT_TRUE(win::_wgetenv_s(&required, buffer, 6, kName) == ERANGE && required == 7 && buffer[0] == 0);
    EXPECT_EQ(7u, win::GetEnvironmentVariableW(kName, buffer, 6));
    EXPECT_EQ(7u, win::GetEnvironmentVariableW(kName, nullptr, 0));
    EXPECT_EQ(6u, win::GetEnvironmentVariableW(kName, buffer, 7));
    EXPECT_EQ(std::u16string(u"abcdef"), buffer);
}

// Null arguments dereferenced, assignments without a name or '=' accepted, a name too long
// for the conversion buffer overflowing it.
TEST_F(Environment, MalformedCallsAreRefused)
{
    std::size_t required = 0;
    OXCHAR buffer[4];
    EXPECT_EQ(EINVAL, win::_wgetenv_s(&required, buffer, 4, nullptr));
    EXPECT_EQ(EINVAL, win::_wgetenv_s(nullptr, buffer, 4, kName));
    EXPECT_EQ(EINVAL, win::_wgetenv_s(&required, nullptr, 4, kName));
    EXPECT_EQ(EINVAL, win::_wdupenv_s(nullptr, nullptr, kName));
    for (const OXCHAR* assignment : {static_cast<const OXCHAR*>(nullptr), u"no assignment", u"=value"})
        EXPECT_EQ(-1, win::_wputenv(assignment));
    const std::u16string hugeName(5000, u'N');
    EXPECT_TRUE(win::_wgetenv_s(&required, buffer, 4, hugeName.c_str()) == 0 && required == 0);
}

} // namespace
