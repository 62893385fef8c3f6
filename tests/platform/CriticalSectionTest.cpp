// tests/platform/CriticalSectionTest.cpp
// Critical sections are re-entrant, exclude other threads, and work zero-filled.

#include "platform/PlatformTest.h"

// Recursion counted wrongly (released at the first leave, or never); a leave by a thread that does
// not hold the section releasing the owner's hold; increments under the section lost between threads
// (their overlap drives the contended path, sleeping on the futex).
TEST(CriticalSection, OwnerMayEnterAgainAndOthersAreExcluded)
{
    win::CRITICAL_SECTION section{};
    for (int i = 0; i < 3; ++i)
        win::EnterCriticalSection(&section);
    std::atomic<bool> got{false};
    std::thread waiter([&] {
        win::CriticalSectionGuard guard(section);
        got = true;
    });
    win::LeaveCriticalSection(&section);
    win::LeaveCriticalSection(&section);
    std::thread([&] { win::LeaveCriticalSection(&section); }).join();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(got) << "still held once";
    win::LeaveCriticalSection(&section);
    waiter.join();
    EXPECT_TRUE(got);
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
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
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(4 * 50000, counter);
}
