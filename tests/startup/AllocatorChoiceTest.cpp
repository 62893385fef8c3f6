// tests/startup/AllocatorChoiceTest.cpp
// The process allocator is chosen once at load from the Windows version the process reports.
// Each suite runs in its own process with its own environment (see tests/CMakeLists.txt):
//   CurrentWindows*     no switch: Windows 10, the C runtime column
//   OlderWindows*       OX_EMULATE_WINDOWS_VERSION=5.1: the small-block column
//   UnreadableVersion*  a switch that does not parse: the default, as if unset

#include <oxfirst/OxHeap.h>

#include "platform/win.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

int gHandlerCalls = 0;

int countingHandler(std::size_t)
{
    ++gHandlerCalls;
    return 0;
}

void expectCRuntimeColumn()
{
    EXPECT_EQ(OxProcessAllocatorKind::kCRuntime, oxProcessAllocatorKind());
    const OxProcessAllocator& table = oxProcessAllocator();
    EXPECT_EQ(&::malloc, table.malloc);
    EXPECT_EQ(&::free, table.free);
    EXPECT_EQ(&::realloc, table.realloc);
}

TEST(CurrentWindows, ProcessAllocatorIsTheCRuntime)
{
    expectCRuntimeColumn();
}

TEST(UnreadableVersion, ProcessAllocatorIsTheCRuntime)
{
    expectCRuntimeColumn();
}

TEST(OlderWindows, ProcessAllocatorIsTheSmallBlockHeap)
{
    EXPECT_EQ(OxProcessAllocatorKind::kSmallBlock, oxProcessAllocatorKind());
    const OxProcessAllocator& table = oxProcessAllocator();
    EXPECT_EQ(&__oxMallocAligned, table.malloc);
    EXPECT_EQ(&__oxFreeAligned, table.free);

    void* p = oxHeapAlloc(nullptr, 100);
    ASSERT_NE(nullptr, p);
    EXPECT_GE(oxHeapSize(nullptr, p), 100u);
    p = oxHeapReAlloc(nullptr, p, 5000);
    ASSERT_NE(nullptr, p);
    oxHeapFree(nullptr, p);
}

// The try-allocation suppresses the out-of-memory handler for its call, while the plain
// small-block allocation informs it of a request it refuses.
TEST(OlderWindows, TryAllocationNeverCallsTheNewHandler)
{
    win::_PNH previous = win::_set_new_handler(&countingHandler);
    gHandlerCalls = 0;
    EXPECT_EQ(nullptr, oxTryHeapAlloc(nullptr, 0x90000000u));
    EXPECT_EQ(0, gHandlerCalls);
    EXPECT_EQ(nullptr, oxHeapAlloc(nullptr, 0x90000000u));
    EXPECT_EQ(1, gHandlerCalls);
    win::_set_new_handler(previous);
}

} // namespace
