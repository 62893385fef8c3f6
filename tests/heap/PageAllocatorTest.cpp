// tests/heap/PageAllocatorTest.cpp
// Whole pages from virtual memory, and the bounded out-of-memory retries of a refused commit.

#include <oxfirst/OxHeap.h>

#include "platform/TestControls.h"
#include "support/NewHandlerScope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

using oxtest::NewHandlerScope;

class PageAllocator : public ::testing::Test {
protected:
    void TearDown() override { win::test::failNextCommits(0); }
    const std::size_t mReservations = win::test::liveReservationCount();
};

// Pages come committed, zero-filled and writable to their end, and go back whole. Realloc moves
// to new pages with the old contents (bounded by the smaller size) and releases the old pages;
// when the new pages cannot be had, the old ones stay.
TEST_F(PageAllocator, PagesAreCommittedZeroedMovedAndReleased)
{
    EXPECT_EQ(nullptr, __oxAllocPages(0));
    auto* p = static_cast<unsigned char*>(__oxAllocPages(5000));
    ASSERT_NE(nullptr, p);
    EXPECT_TRUE(reinterpret_cast<std::uintptr_t>(p) % 65536 == 0 && std::count(p, p + 8192, 0) == 8192);
    std::memset(p, 0x11, 8192);
    EXPECT_EQ(mReservations + 1, win::test::liveReservationCount());
    __oxFreePages(p);
    EXPECT_EQ(mReservations, win::test::liveReservationCount());
    __oxFreePages(nullptr);

    auto* q = static_cast<char*>(__oxAllocPages(4096));
    std::memcpy(q, "pages", 6);
    ASSERT_NE(nullptr, q = static_cast<char*>(__oxReallocPages(q, 4096, 3 * 4096)));
    EXPECT_TRUE(std::strcmp("pages", q) == 0 && q[3 * 4096 - 1] == 0);
    EXPECT_EQ(mReservations + 1, win::test::liveReservationCount());
    win::test::failNextCommits(10);
    NewHandlerScope handler(0);
    EXPECT_EQ(nullptr, __oxReallocPages(q, 3 * 4096, 8 * 4096));
    EXPECT_STREQ("pages", q);
    __oxFreePages(q);
    EXPECT_EQ(mReservations, win::test::liveReservationCount());
}

// A refused commit asks the out-of-memory handler, 6 times at most and never inside a
// suppression scope; the request succeeds as soon as an attempt does and fails once the
// handler declines or the retries are used up.
TEST_F(PageAllocator, RefusalsAreRetriedAtMostSixTimes)
{
    const struct {
        int refusals, retries;
        bool quiet;
        int calls;
    } cases[] = {{100, 8, false, 6}, {100, 1, false, 2}, {3, 3, false, 3}, {100, 2, true, 0}};
    for (const auto& c : cases) {
        win::test::failNextCommits(c.refusals);
        NewHandlerScope handler(c.retries);
        std::optional<OxNoOutOfMemHandlerScope> quiet;
        if (c.quiet)
            quiet.emplace();
        void* p = __oxAllocPages(4096);
        EXPECT_TRUE((c.refusals < 100) == (p != nullptr) && c.calls == handler.calls()) << c.calls;
        EXPECT_TRUE(c.calls == 0 || handler.lastSize() == 4096u);
        __oxFreePages(p);
    }
}

} // namespace
