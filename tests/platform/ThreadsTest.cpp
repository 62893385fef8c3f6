// tests/platform/ThreadsTest.cpp
// Thread-local storage with Windows' answers, the fiber-data word, stack limits, the
// process-exit answer and the memory status.

#include "platform/TestControls.h"
#include "platform/win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// Values are per thread; a new thread starts with null in every slot.
TEST(ThreadLocalStorage, ValuesArePerThread)
{
    const win::DWORD index = win::TlsAlloc();
    ASSERT_NE(win::TLS_OUT_OF_INDEXES, index);
    int mine = 0;
    EXPECT_TRUE(win::TlsSetValue(index, &mine));
    void* seenByOther = &mine;
    std::thread([&] {
        seenByOther = win::TlsGetValue(index);
        int theirs = 0;
        win::TlsSetValue(index, &theirs);
    }).join();
    EXPECT_EQ(nullptr, seenByOther);
    win::SetLastError(99);
    EXPECT_EQ(&mine, win::TlsGetValue(index));
    EXPECT_EQ(win::ERROR_SUCCESS, win::GetLastError());
    EXPECT_TRUE(win::TlsFree(index));
}

// Freeing an index clears it in every thread that stored a value, so whoever gets the index
// next finds null, here and in threads that are still running.
TEST(ThreadLocalStorage, FreeClearsTheSlotInEveryThread)
{
    std::vector<win::DWORD> indices;
    for (int i = 0; i < 100; ++i) // beyond the 64 inline slots
        indices.push_back(win::TlsAlloc());
    int value = 0;
    for (win::DWORD index : indices)
        win::TlsSetValue(index, &value);
    std::atomic<int> phase{0};
    std::vector<void*> seen;
    std::thread other([&] {
        for (win::DWORD index : indices)
            win::TlsSetValue(index, &value);
        phase = 1;
        while (phase.load() != 2)
            std::this_thread::yield();
        for (win::DWORD index : indices)
            seen.push_back(win::TlsGetValue(index));
    });
    while (phase.load() != 1)
        std::this_thread::yield();
    for (win::DWORD index : indices)
        EXPECT_TRUE(win::TlsFree(index));
    std::vector<win::DWORD> again;
    for (int i = 0; i < 100; ++i)
        again.push_back(win::TlsAlloc());
    phase = 2;
    other.join();
    for (win::DWORD index : again) {
        EXPECT_EQ(nullptr, win::TlsGetValue(index));
        win::TlsFree(index);
    }
    for (void* p : seen)
        EXPECT_EQ(nullptr, p);
}

// Indices that are not allocated are refused with Windows' errors, and the supply ends with
// TLS_OUT_OF_INDEXES.
TEST(ThreadLocalStorage, RefusalsAndExhaustion)
{
    EXPECT_EQ(nullptr, win::TlsGetValue(5000));
    EXPECT_EQ(win::ERROR_INVALID_PARAMETER, win::GetLastError());
    EXPECT_FALSE(win::TlsSetValue(5000, nullptr));
    EXPECT_FALSE(win::TlsFree(win::TLS_OUT_OF_INDEXES));

    std::vector<win::DWORD> all;
    for (;;) {
        const win::DWORD index = win::TlsAlloc();
        if (index == win::TLS_OUT_OF_INDEXES)
            break;
        all.push_back(index);
    }
    EXPECT_EQ(win::ERROR_NO_MORE_ITEMS, win::GetLastError());
    EXPECT_LE(all.size(), std::size_t{win::kTlsSlotCount});
    EXPECT_GT(all.size(), std::size_t{win::kTlsSlotCount} - 16);
    const win::DWORD last = all.back();
    EXPECT_TRUE(win::TlsFree(last));
    EXPECT_FALSE(win::TlsFree(last));
    EXPECT_EQ(nullptr, win::TlsGetValue(last));
    EXPECT_EQ(win::ERROR_INVALID_PARAMETER, win::GetLastError());
    all.pop_back();
    for (win::DWORD index : all)
        win::TlsFree(index);
}

// The fiber-data word is per thread and reads what was set.
TEST(Fibers, CurrentFiberIsPerThread)
{
    EXPECT_EQ(nullptr, win::GetCurrentFiber());
    int fiber = 0;
    win::test::setCurrentFiber(&fiber);
    void* other = &fiber;
    std::thread([&] { other = win::GetCurrentFiber(); }).join();
    EXPECT_EQ(&fiber, win::GetCurrentFiber());
    EXPECT_EQ(nullptr, other);
    win::test::setCurrentFiber(nullptr);
}

// The stack limits enclose the caller's locals, on the main thread and on others.
TEST(StackLimits, EncloseTheCallersLocals)
{
    auto check = [] {
        int local = 0;
        win::ULONG_PTR low = 0, high = 0;
        win::GetCurrentThreadStackLimits(&low, &high);
        const auto at = reinterpret_cast<win::ULONG_PTR>(&local);
        return low < at && at < high;
    };
    EXPECT_TRUE(check());
    bool onThread = false;
    std::thread([&] { onThread = check(); }).join();
    EXPECT_TRUE(onThread);
}

TEST(ProcessExit, NotInProgressWhileTheProcessRuns)
{
    EXPECT_FALSE(win::RtlDllShutdownInProgress());
    win::test::setProcessExiting(true);
    EXPECT_TRUE(win::RtlDllShutdownInProgress());
    win::test::setProcessExiting(false);
}

TEST(MemoryStatus, FiguresAreConsistent)
{
    win::GlobalMemoryStatus(nullptr);
    win::MEMORYSTATUS status{};
    win::GlobalMemoryStatus(&status);
    EXPECT_EQ(sizeof status, status.dwLength);
    EXPECT_LE(status.dwMemoryLoad, 100u);
    EXPECT_GT(status.dwTotalPhys, 0u);
    EXPECT_LE(status.dwAvailPhys, status.dwTotalPhys);
    EXPECT_GT(status.dwAvailVirtual, 0u);
    EXPECT_LT(status.dwAvailVirtual, status.dwTotalVirtual);
}

} // namespace
