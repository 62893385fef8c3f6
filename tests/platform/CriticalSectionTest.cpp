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

// Whether another thread can take the section now (it leaves again at once).
bool otherThreadGets(win::CRITICAL_SECTION& section)
{
    bool got = false;
    std::thread([&] {
        if ((got = win::TryEnterCriticalSection(&section)))
            win::LeaveCriticalSection(&section);
    }).join();
    return got;
}

// Recursion counted wrongly (released at the first leave, or never); a zero-filled section that
// needs initialising; a leave by a thread that does not hold the section releasing the owner's hold.
TEST(CriticalSection, OwnerMayEnterAgainAndMustLeaveAsOften)
{
    win::CRITICAL_SECTION section;
    win::InitializeCriticalSection(&section);
    win::EnterCriticalSection(&section);
    win::EnterCriticalSection(&section);
    EXPECT_TRUE(win::TryEnterCriticalSection(&section));
    win::LeaveCriticalSection(&section);
    win::LeaveCriticalSection(&section);
    EXPECT_FALSE(otherThreadGets(section)) << "still held once";
    win::LeaveCriticalSection(&section);
    EXPECT_TRUE(otherThreadGets(section));
    win::DeleteCriticalSection(&section);

    win::EnterCriticalSection(&gStaticSection);
    std::thread([] { win::LeaveCriticalSection(&gStaticSection); }).join();
    EXPECT_FALSE(otherThreadGets(gStaticSection));
    win::LeaveCriticalSection(&gStaticSection);
}

// Unsynchronised increments under the section from several threads add up exactly; the
// contended path (sleeping on the futex) is exercised by the overlap.
TEST(CriticalSection, ExcludesOtherThreads)
{
    win::CRITICAL_SECTION section;
    win::InitializeCriticalSectionAndSpinCount(&section, 4000);
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50000; ++i) {
                win::CriticalSectionGuard guard(section);
                win::CriticalSectionGuard nested(section);
                const long value = counter;
                if (i % 1000 == 0)
                    std::this_thread::yield();
                counter = value + 1;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(4 * 50000, counter);
    win::DeleteCriticalSection(&section);
}

} // namespace
