// tests/platform/CriticalSectionTest.cpp
// Critical sections are re-entrant, exclude other threads, and work zero-filled.

#include "platform/win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// A section in static storage is usable without InitializeCriticalSection.
win::CRITICAL_SECTION gStaticSection;

TEST(CriticalSection, OwnerMayEnterAgainAndMustLeaveAsOften)
{
    win::CRITICAL_SECTION section;
    win::InitializeCriticalSection(&section);
    win::EnterCriticalSection(&section);
    win::EnterCriticalSection(&section);
    EXPECT_TRUE(win::TryEnterCriticalSection(&section));
    win::LeaveCriticalSection(&section);
    win::LeaveCriticalSection(&section);

    bool otherGotIt = true;
    std::thread([&] { otherGotIt = win::TryEnterCriticalSection(&section); }).join();
    EXPECT_FALSE(otherGotIt) << "still held once";

    win::LeaveCriticalSection(&section);
    std::thread([&] {
        otherGotIt = win::TryEnterCriticalSection(&section);
        if (otherGotIt)
            win::LeaveCriticalSection(&section);
    }).join();
    EXPECT_TRUE(otherGotIt);
    win::DeleteCriticalSection(&section);
}

// A leave by a thread that does not hold the section must not release the owner's hold.
TEST(CriticalSection, LeaveByAnotherThreadIsIgnored)
{
    win::EnterCriticalSection(&gStaticSection);
    std::thread([] { win::LeaveCriticalSection(&gStaticSection); }).join();
    bool otherGotIt = true;
    std::thread([&] { otherGotIt = win::TryEnterCriticalSection(&gStaticSection); }).join();
    EXPECT_FALSE(otherGotIt);
    win::LeaveCriticalSection(&gStaticSection);
}

// Unsynchronised increments under the section from several threads add up exactly; the
// contended path (sleeping on the futex) is exercised by the overlap.
TEST(CriticalSection, ExcludesOtherThreads)
{
    win::CRITICAL_SECTION section;
    win::InitializeCriticalSectionAndSpinCount(&section, 4000);
    long counter = 0;
    constexpr int kThreads = 4;
    constexpr int kIterations = 50000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kIterations; ++i) {
                win::CriticalSectionGuard guard(section);
                win::CriticalSectionGuard nested(section);
                long value = counter;
                if (i % 1000 == 0)
                    std::this_thread::yield();
                counter = value + 1;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(kThreads * kIterations, counter);
    win::DeleteCriticalSection(&section);
}

} // namespace
