// tests/heap/PageAllocatorTest.cpp
// Whole pages from virtual memory, and the bounded out-of-memory retries of a refused commit.

#include <oxfirst/OxHeap.h>

#include "platform/TestControls.h"
#include "support/NewHandlerScope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <tuple>

namespace {

using oxtest::NewHandlerScope;

// Pages come committed, zeroed and writable; realloc moves the contents, keeping old pages on failure.
TEST(PageAllocator, PagesAreCommittedZeroedMovedAndReleased)
{
    const std::size_t reservations = win::test::liveReservationCount();
    EXPECT_EQ(nullptr, __oxAllocPages(0));
    auto* p = static_cast<unsigned char*>(__oxAllocPages(5000));
    ASSERT_NE(nullptr, p);
    EXPECT_TRUE(reinterpret_cast<std::uintptr_t>(p) % 65536 == 0 && std::count(p, p + 8192, 0) == 8192);
    std::memset(p, 0x11, 8192);
    EXPECT_EQ(reservations + 1, win::test::liveReservationCount());
    __oxFreePages(p);
    EXPECT_EQ(reservations, win::test::liveReservationCount());
    __oxFreePages(nullptr);

    auto* q = static_cast<char*>(__oxAllocPages(4096));
    std::memcpy(q, "pages", 6);
    ASSERT_NE(nullptr, q = static_cast<char*>(__oxReallocPages(q, 4096, 3 * 4096)));
    EXPECT_TRUE(std::strcmp("pages", q) == 0 && q[3 * 4096 - 1] == 0);
    EXPECT_EQ(reservations + 1, win::test::liveReservationCount());
    win::test::failNextCommits(10);
    NewHandlerScope handler(0);
    EXPECT_EQ(nullptr, __oxReallocPages(q, 3 * 4096, 8 * 4096));
    EXPECT_STREQ("pages", q);
    __oxFreePages(q);
    EXPECT_EQ(reservations, win::test::liveReservationCount());
    win::test::failNextCommits(0);
}

// A refused commit asks the handler 6 times at most (never when suppressed) until an attempt works.
TEST(PageAllocator, RefusalsAreRetriedAtMostSixTimes)
{
    // refusals, retries the handler grants, suppressed, calls expected
    for (auto [refusals, retries, quiet, calls] :
         {std::tuple{100, 8, false, 6}, {100, 1, false, 2}, {3, 3, false, 3}, {100, 2, true, 0}}) {
        win::test::failNextCommits(refusals);
        NewHandlerScope handler(retries);
        std::optional<OxNoOutOfMemHandlerScope> suppressed;
        if (quiet)
            suppressed.emplace();
        void* p = __oxAllocPages(4096);
        EXPECT_TRUE((refusals < 100) == (p != nullptr) && calls == handler.calls) << calls;
        EXPECT_TRUE(calls == 0 || handler.lastSize == 4096u);
        __oxFreePages(p);
    }
    win::test::failNextCommits(0);
}

} // namespace
