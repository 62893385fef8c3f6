// tests/platform/CriticalSectionTest.cpp
// Critical sections are re-entrant, owned by one thread, and work zero-filled.

#include "platform/PlatformTest.h"

// Recursion counted wrongly (released at the first leave, or never); a leave by a thread that does
// not hold the section releasing the owner's hold. (PrivateHeapThreads drives the contended path.)
TEST(CriticalSection, OwnerMayEnterAgainAndMustLeaveAsOften)
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
}
