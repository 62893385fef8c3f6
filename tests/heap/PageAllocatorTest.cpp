// tests/heap/PageAllocatorTest.cpp
// Whole pages from virtual memory, and the bounded out-of-memory retries of a refused commit.

#include <oxfirst/OxHeap.h>

#include "platform/TestControls.h"
#include "support/NewHandlerScope.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

using oxtest::NewHandlerScope;

class PageAllocator : public ::testing::Test {
protected:
    void TearDown() override { win::test::failNextCommits(0); }
};

// Pages come committed, zero-filled and writable to their end, and go back whole.
TEST_F(PageAllocator, PagesAreCommittedZeroedAndReleased)
{
    EXPECT_EQ(nullptr, __oxAllocPages(0));
    const std::size_t reservations = win::test::liveReservationCount();
    auto* p = static_cast<unsigned char*>(__oxAllocPages(5000));
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(p) % 65536);
    for (std::size_t i = 0; i < 8192; ++i)
        ASSERT_EQ(0, p[i]);
    std::memset(p, 0x11, 8192);
    EXPECT_EQ(reservations + 1, win::test::liveReservationCount());
    __oxFreePages(p);
    EXPECT_EQ(reservations, win::test::liveReservationCount());
    __oxFreePages(nullptr);
}

// Realloc moves to new pages with the old contents (bounded by the smaller size) and
// releases the old pages; when the new pages cannot be had, the old ones stay.
TEST_F(PageAllocator, ReallocMovesContentsAndReleasesTheOldPages)
{
    const std::size_t reservations = win::test::liveReservationCount();
    auto* p = static_cast<char*>(__oxAllocPages(4096));
    std::memcpy(p, "pages", 6);
    auto* q = static_cast<char*>(__oxReallocPages(p, 4096, 3 * 4096));
    ASSERT_NE(nullptr, q);
    EXPECT_STREQ("pages", q);
    EXPECT_EQ(0, q[3 * 4096 - 1]);
    EXPECT_EQ(reservations + 1, win::test::liveReservationCount());

    win::test::failNextCommits(10);
    NewHandlerScope handler({0});
    EXPECT_EQ(nullptr, __oxReallocPages(q, 3 * 4096, 8 * 4096));
    EXPECT_STREQ("pages", q);
    __oxFreePages(q);
    EXPECT_EQ(reservations, win::test::liveReservationCount());
}

// A refused commit asks the out-of-memory handler, 6 times at most; the request succeeds as
// soon as an attempt does and fails once the handler declines or the retries are used up.
TEST_F(PageAllocator, RefusalsAreRetriedAtMostSixTimes)
{
    {
        win::test::failNextCommits(100);
        NewHandlerScope handler({1, 1, 1, 1, 1, 1, 1, 1});
        EXPECT_EQ(nullptr, __oxAllocPages(4096));
        EXPECT_EQ(6, handler.calls());
        EXPECT_EQ(4096u, handler.lastSize());
    }
    {
        win::test::failNextCommits(100);
        NewHandlerScope handler({1, 0});
        EXPECT_EQ(nullptr, __oxAllocPages(4096));
        EXPECT_EQ(2, handler.calls());
    }
    {
        win::test::failNextCommits(3);
        NewHandlerScope handler({1, 1, 1});
        void* p = __oxAllocPages(4096);
        EXPECT_NE(nullptr, p);
        EXPECT_EQ(3, handler.calls());
        __oxFreePages(p);
    }
    {
        win::test::failNextCommits(100);
        OxNoOutOfMemHandlerScope quiet;
        NewHandlerScope handler({1, 1});
        EXPECT_EQ(nullptr, __oxAllocPages(4096));
        EXPECT_EQ(0, handler.calls());
    }
}

} // namespace
