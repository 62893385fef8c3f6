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

TEST_F(Environment, UnsetVariableReadsAsNothing)
{
    std::size_t required = 99;
    OXCHAR buffer[8] = {u'x'};
    EXPECT_EQ(0, win::_wgetenv_s(&required, buffer, 8, kName));
    EXPECT_EQ(0u, required);
    EXPECT_EQ(0, buffer[0]);

    OXCHAR* copy = reinterpret_cast<OXCHAR*>(1);
    EXPECT_EQ(0, win::_wdupenv_s(&copy, nullptr, kName));
    EXPECT_EQ(nullptr, copy);

    win::SetLastError(0);
    EXPECT_EQ(0u, win::GetEnvironmentVariableW(kName, buffer, 8));
    EXPECT_EQ(win::ERROR_ENVVAR_NOT_FOUND, win::GetLastError());
}

// Values cross the UTF-8/UTF-16 boundary both ways, characters beyond the BMP included.
TEST_F(Environment, ValuesRoundTripThroughUtf8)
{
    ASSERT_EQ(0, win::_wputenv(u"OX_TEST_ENVIRONMENT_VALUE=gr\u00fc\u00dfe \U0001F30D"));
    EXPECT_STREQ("gr\xc3\xbc\xc3\x9f"
                 "e \xf0\x9f\x8c\x8d",
                 std::getenv("OX_TEST_ENVIRONMENT_VALUE"));

    std::size_t required = 0;
    OXCHAR buffer[16];
    EXPECT_EQ(0, win::_wgetenv_s(&required, buffer, 16, kName));
    EXPECT_EQ(9u, required);
    EXPECT_EQ(std::u16string(u"gr\u00fc\u00dfe \U0001F30D"), buffer);

    OXCHAR* copy = nullptr;
    std::size_t count = 0;
    EXPECT_EQ(0, win::_wdupenv_s(&copy, &count, kName));
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(9u, count);
    EXPECT_EQ(std::u16string(buffer), copy);
    std::free(copy);
}

// A buffer one unit short is refused and left empty; the size needed is reported.
TEST_F(Environment, ShortBufferReportsTheSizeNeeded)
{
    ::setenv("OX_TEST_ENVIRONMENT_VALUE", "abcdef", 1);
    std::size_t required = 0;
    OXCHAR buffer[6] = {u'x'};
    EXPECT_EQ(ERANGE, win::_wgetenv_s(&required, buffer, 6, kName));
    EXPECT_EQ(7u, required);
    EXPECT_EQ(0, buffer[0]);

    EXPECT_EQ(7u, win::GetEnvironmentVariableW(kName, buffer, 6));
    EXPECT_EQ(7u, win::GetEnvironmentVariableW(kName, nullptr, 0));
    OXCHAR fits[7];
    EXPECT_EQ(6u, win::GetEnvironmentVariableW(kName, fits, 7));
    EXPECT_EQ(std::u16string(u"abcdef"), fits);
}

TEST_F(Environment, MalformedCallsAreRefused)
{
    std::size_t required = 0;
    OXCHAR buffer[4];
    EXPECT_EQ(EINVAL, win::_wgetenv_s(&required, buffer, 4, nullptr));
    EXPECT_EQ(EINVAL, win::_wgetenv_s(nullptr, buffer, 4, kName));
    EXPECT_EQ(EINVAL, win::_wgetenv_s(&required, nullptr, 4, kName));
    EXPECT_EQ(EINVAL, win::_wdupenv_s(nullptr, nullptr, kName));
    EXPECT_EQ(-1, win::_wputenv(nullptr));
    EXPECT_EQ(-1, win::_wputenv(u"no assignment"));
    EXPECT_EQ(-1, win::_wputenv(u"=value"));
    std::u16string hugeName(5000, u'N');
    EXPECT_EQ(0, win::_wgetenv_s(&required, buffer, 4, hugeName.c_str()));
    EXPECT_EQ(0u, required);
}

// "NAME=" removes the variable.
TEST_F(Environment, EmptyAssignmentRemoves)
{
    ::setenv("OX_TEST_ENVIRONMENT_VALUE", "set", 1);
    EXPECT_EQ(0, win::_wputenv(u"OX_TEST_ENVIRONMENT_VALUE="));
    EXPECT_EQ(nullptr, std::getenv("OX_TEST_ENVIRONMENT_VALUE"));
}

} // namespace
