// tests/startup/AllocatorChoiceTest.cpp
// The process allocator is chosen once at load from the Windows version the process reports,
// which OX_EMULATE_WINDOWS_VERSION changes: each choice runs in a fresh process of its own.

#include <oxfirst/OxHeap.h>

#include "heap/HeapTestHooks.h"
#include "platform/win.h"
#include "support/FreshProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

namespace {

std::tuple<unsigned, unsigned, unsigned> reportedVersion()
{
    win::OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    EXPECT_TRUE(win::GetVersionExW(&info));
    EXPECT_EQ(win::VER_PLATFORM_WIN32_NT, info.dwPlatformId);
    EXPECT_EQ(0, info.szCSDVersion[0]);
    return {info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber};
}

void expectCRuntimeColumn()
{
    EXPECT_EQ((std::tuple{10u, 0u, 19045u}), reportedVersion());
    EXPECT_EQ(OxProcessAllocatorKind::kCRuntime, oxProcessAllocatorKind());
    const OxProcessAllocator& table = oxProcessAllocator();
    EXPECT_TRUE(table.malloc == &::malloc && table.free == &::free && table.realloc == &::realloc);
}

int gHandlerCalls = 0;

// Guards against the process without a switch reporting anything but Windows 10, or leaving
// the C runtime.
TEST(Startup, CurrentWindowsUsesTheCRuntime)
{
    if (oxtest::inFreshProcess({"OX_EMULATE_WINDOWS_VERSION"}))
        return;
    expectCRuntimeColumn();
}

// Guards against a switch that does not parse making the process believe some other version.
TEST(Startup, UnreadableVersionCountsAsUnset)
{
    if (oxtest::inFreshProcess({"OX_EMULATE_WINDOWS_VERSION=5.1x"}))
        return;
    expectCRuntimeColumn();
}

// Guards against the older-Windows column not being chosen, or being only half installed:
// allocation, reallocation and size go to the small-block heap. Its try-allocation suppresses
// the out-of-memory handler, while the plain allocation informs it of a request it refuses.
TEST(Startup, OlderWindowsUsesTheSmallBlockHeap)
{
    if (oxtest::inFreshProcess({"OX_EMULATE_WINDOWS_VERSION=5.1"}))
        return;
    EXPECT_EQ((std::tuple{5u, 1u, 0u}), reportedVersion());
    EXPECT_EQ(OxProcessAllocatorKind::kSmallBlock, oxProcessAllocatorKind());
    EXPECT_TRUE(oxProcessAllocator().malloc == &__oxMallocAligned &&
                oxProcessAllocator().free == &__oxFreeAligned);
    void* p = oxHeapAlloc(nullptr, 100);
    ASSERT_NE(nullptr, p);
    EXPECT_TRUE(oxheap::test::isSmallBlock(p));
    EXPECT_GE(oxHeapSize(nullptr, p), 100u);
    p = oxHeapReAlloc(nullptr, p, 5000);
    ASSERT_NE(nullptr, p);
    oxHeapFree(nullptr, p);

    win::_PNH previous = win::_set_new_handler([](std::size_t) {
        ++gHandlerCalls;
        return 0;
    });
    EXPECT_EQ(nullptr, oxTryHeapAlloc(nullptr, 0x90000000u));
    EXPECT_EQ(0, gHandlerCalls);
    EXPECT_EQ(nullptr, oxHeapAlloc(nullptr, 0x90000000u));
    EXPECT_EQ(1, gHandlerCalls);
    win::_set_new_handler(previous);
}

} // namespace
