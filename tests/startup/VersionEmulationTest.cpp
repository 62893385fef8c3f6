// tests/startup/VersionEmulationTest.cpp
// GetVersionExW answers the version the process was started to emulate (see
// AllocatorChoiceTest.cpp for the suites and their environments).

#include "platform/win.h"

#include <gtest/gtest.h>

namespace {

win::OSVERSIONINFOW queryVersion()
{
    win::OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    EXPECT_TRUE(win::GetVersionExW(&info));
    return info;
}

TEST(CurrentWindows, VersionIsTen)
{
    win::OSVERSIONINFOW info = queryVersion();
    EXPECT_EQ(10u, info.dwMajorVersion);
    EXPECT_EQ(0u, info.dwMinorVersion);
    EXPECT_EQ(19045u, info.dwBuildNumber);
    EXPECT_EQ(win::VER_PLATFORM_WIN32_NT, info.dwPlatformId);
    EXPECT_EQ(0, info.szCSDVersion[0]);
}

TEST(UnreadableVersion, VersionIsTen)
{
    EXPECT_EQ(10u, queryVersion().dwMajorVersion);
}

TEST(OlderWindows, VersionIsFiveOne)
{
    win::OSVERSIONINFOW info = queryVersion();
    EXPECT_EQ(5u, info.dwMajorVersion);
    EXPECT_EQ(1u, info.dwMinorVersion);
}

// Only the record size of the one version record is filled; anything else is refused untouched.
TEST(CurrentWindows, RecordOfAnotherSizeIsRefused)
{
    win::OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = 284;
    win::SetLastError(0);
    EXPECT_FALSE(win::GetVersionExW(&info));
    EXPECT_EQ(win::ERROR_INSUFFICIENT_BUFFER, win::GetLastError());
    EXPECT_EQ(0u, info.dwMajorVersion);
    EXPECT_FALSE(win::GetVersionExW(nullptr));
}

} // namespace
