// tests/heap/SmallBlockHeapTest.cpp
// The small-block heap through its entry points: size classes, page counts, returned pages and
// regions, bad frees, refused commits, threads, load switches and unload. Every test ends with
// the heap's own consistency check.

#include <oxfirst/OxHeap.h>
#include <oxfirst/OxHeapInfo.h>

#include "heap/HeapTestHooks.h"
#include "platform/TestControls.h"
#include "platform/win.h"
#include "support/FreshProcess.h"
#include "support/NewHandlerScope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <malloc.h>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace {

using oxtest::NewHandlerScope;
namespace hooks = oxheap::test;

// The page of a small block: its free blocks and mode; `found` is false when p is in no page of a class.
struct PageState {
    explicit PageState(const void* p) : found(hooks::smallBlockPageState(p, &freeCount, &freeListMode)) {}
    std::uint32_t freeCount = 0;
    bool freeListMode = false;
    bool found;
};
const auto startOf = [](const void* p, std::uintptr_t bytes) { return std::uintptr_t(p) & ~(bytes - 1); };

class SmallBlockHeap : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (void* p : mBlocks)
            __oxFreeAligned(p);
        const char* problem = hooks::checkSmallBlockHeap();
        EXPECT_EQ(nullptr, problem) << problem;
    }

    void* allocate(std::size_t size) { return mBlocks.emplace_back(__oxMallocAligned(size)); }
    void release(void* p)
    {
        mBlocks.erase(std::find(mBlocks.begin(), mBlocks.end(), p));
        __oxFreeAligned(p);
    }

    std::vector<void*> mBlocks; // live blocks, freed by TearDown
};

// Each request gets a block of the smallest class that holds it (beyond the classes the C
// runtime's, and the size answers agree); blocks filled to their size never overlap, also
// across the pages of the smallest class.
TEST_F(SmallBlockHeap, RequestsGetTheSmallestClassThatHoldsThemAndNeverOverlap)
{
    std::vector<std::pair<unsigned char*, std::size_t>> served; // block, request
    std::set<std::size_t> classes;
    for (std::size_t request = 0; request <= 4200; ++request) {
        auto* p = static_cast<unsigned char*>(allocate(request));
        ASSERT_NE(nullptr, p) << request;
        const std::size_t size = __oxMsizeAligned(p);
        ASSERT_EQ(size, oxMsizeAligned(p)) << request;
        if (!hooks::isSmallBlock(p)) {
            EXPECT_EQ(malloc_usable_size(p), size) << request;
            continue;
        }
        ASSERT_GE(size, request);
        classes.insert(size);
        served.emplace_back(p, request);
    }
    for (int i = 0; i < 600; ++i) // more than a page of the smallest class
        served.emplace_back(static_cast<unsigned char*>(allocate(1)), 1);
    for (std::size_t i = 0; i < served.size(); ++i) {
        auto [p, request] = served[i];
        EXPECT_EQ(*classes.lower_bound(std::max<std::size_t>(request, 1)), __oxMsizeAligned(p)) << request;
        std::memset(p, i & 0xFF, __oxMsizeAligned(p));
    }
    for (std::size_t i = 0; i < served.size(); ++i) {
        unsigned char* p = served[i].first;
        ASSERT_EQ(p + __oxMsizeAligned(p), std::find_if(p, p + __oxMsizeAligned(p), [i](unsigned char c) {
                      return c != static_cast<unsigned char>(i);
                  }));
    }
}

// Blocks of one class come and go at random over a few pages in both bump and free-list mode:
// no live block is handed out again, each page's free count matches its live blocks, a page
// whose blocks are all free leaves its class, and the heap stays consistent throughout.
TEST_F(SmallBlockHeap, PagesCountTheirBlocksThroughRandomAllocationAndFree)
{
    std::mt19937 random(7);
    std::map<std::uintptr_t, std::set<void*>> livePerPage;
    bool sawModes[2] = {false, false};
    for (int step = 0; step < 4000; ++step) {
        if (mBlocks.size() < 40 && (mBlocks.empty() || random() % 2 == 0)) {
            void* p = allocate(336);
            ASSERT_TRUE(livePerPage[startOf(p, 4096)].insert(p).second) << "a live block handed out again";
        } else {
            void* p = mBlocks[random() % mBlocks.size()];
            release(p);
            std::set<void*>& onPage = livePerPage[startOf(p, 4096)];
            if (onPage.erase(p); onPage.empty()) {
                EXPECT_FALSE(PageState(p).found);
                livePerPage.erase(startOf(p, 4096));
            }
        }
        for (const auto& [page, blocks] : livePerPage) {
            const PageState state = PageState(*blocks.begin());
            ASSERT_EQ(4096 / 336 - blocks.size(), state.freeCount) << "step " << step;
            sawModes[state.freeListMode] = true;
        }
        const char* problem = step % 64 == 0 ? hooks::checkSmallBlockHeap() : nullptr;
        ASSERT_EQ(nullptr, problem) << problem << " at step " << step;
    }
    EXPECT_TRUE(sawModes[0] && sawModes[1]);
}

// Realloc copies what fits and always moves, even within one class; blocks of the C runtime go
// to its realloc. The small-block realloc is heap 0's only on older Windows.
TEST_F(SmallBlockHeap, ReallocCopiesAndMoves)
{
    if (oxtest::inFreshProcess({"OX_EMULATE_WINDOWS_VERSION=5.1"}))
        return;
    const char kText[] = "0123456789012345678901234567890123456789";
    void* p = oxHeapAlloc(nullptr, 40);
    ASSERT_TRUE(hooks::isSmallBlock(p));
    std::memcpy(p, kText, 40);
    void* same = oxHeapReAlloc(nullptr, p, 36);
    EXPECT_TRUE(p != same && std::memcmp(same, kText, 36) == 0);
    void* large = oxHeapReAlloc(nullptr, same, 5000);
    EXPECT_TRUE(!hooks::isSmallBlock(large) && std::memcmp(large, kText, 36) == 0);
    void* back = oxHeapReAlloc(nullptr, large, 16);
    EXPECT_EQ(0, std::memcmp(back, kText, 16));
    oxHeapFree(nullptr, back);
}

// Freeing what the heap does not own, or owns no more, changes nothing: null, C runtime blocks,
// addresses inside or between blocks, descriptor pages, and a second free where it can be told
// (head of a free list, or the free tail of a bump page).
TEST_F(SmallBlockHeap, BadFreesAreIgnored)
{
    __oxFreeAligned(nullptr);
    __oxFreeAligned(std::malloc(40)); // to the C runtime; a sanitizer would see a wrong free
    void* first = nullptr;            // the first block of a fresh page: bump mode, the other 63 free
    for (int i = 0; i < 5000 && first == nullptr; ++i) {
        void* p = allocate(64);
        if (PageState(p).freeCount == 63 && !PageState(p).freeListMode &&
            startOf(p, 4096) == std::uintptr_t(p))
            first = p;
    }
    ASSERT_NE(nullptr, first);
    void* second = allocate(64);
    __oxFreeAligned(static_cast<char*>(first) + 8);
    __oxFreeAligned(reinterpret_cast<void*>(startOf(first, 1 << 20) + 100));
    EXPECT_EQ(62u, PageState(first).freeCount);

    release(second);
    __oxFreeAligned(second); // twice, in the free tail of a bump-mode page
    EXPECT_EQ(63u, PageState(first).freeCount);
    void* third = allocate(64);
    EXPECT_TRUE(third == second && allocate(64) != third);
    release(third); // out of order: free-list mode, third at the head
    __oxFreeAligned(third);
    EXPECT_TRUE(PageState(first).freeListMode && PageState(first).freeCount == 62u);
    void* fifth = allocate(64);
    EXPECT_TRUE(fifth == third && allocate(64) != fifth);
}

// Freed pages beyond the 16 committed free pages a region keeps are decommitted at once. A
// region whose pages all come back is released, unless it is the one region kept for reuse
// (the head of the available list while no reserve region is left).
TEST_F(SmallBlockHeap, EmptiedPagesAndRegionsGoBack)
{
    // Take whole regions: a region all of whose 254 pages are ours holds nobody else's blocks.
    OxHeap smallBlocks{OxHeapPool(kOxHeapPoolSmallBlock)};
    std::map<std::uintptr_t, std::vector<void*>> byRegion;
    for (int i = 0; i < 254 * 4; ++i) {
        void* p = allocate(4096);
        ASSERT_NE(nullptr, p);
        byRegion[startOf(p, 1 << 20)].push_back(p);
    }
    const std::size_t full = smallBlocks.heapSize();
    EXPECT_TRUE(full % 4096 == 0 && full >= 254u * 4 * 4096);
    std::vector<void*> keep;
    for (auto& [region, blocks] : byRegion)
        if (blocks.size() == 254)
            keep.push_back(blocks[0]);
    ASSERT_GE(keep.size(), 2u);
    for (auto& [region, blocks] : byRegion)
        for (void* p : blocks)
            if (p != keep[0] && p != keep[1])
                release(p);
    // Up to 16 free pages per region stay committed, and its last page is not in the committed size.
    EXPECT_LE(smallBlocks.heapSize(), full - (254 * 4 - 2 - 17 * byRegion.size()) * 4096);

    const std::size_t reservations = win::test::liveReservationCount();
    release(keep[0]); // regions freed into later head the available list: the first region goes
    EXPECT_FALSE(hooks::isSmallBlock(keep[0]));
    EXPECT_EQ(reservations - 1, win::test::liveReservationCount());
    // The second goes too unless it is kept for reuse; either way the count and the state agree.
    release(keep[1]);
    EXPECT_EQ(hooks::isSmallBlock(keep[1]), win::test::liveReservationCount() == reservations - 1);
}

// A refused commit ends in null after 6 retries at most (at once inside a suppression scope)
// and leaves a new region reserved without pages, which the next request commits instead of
// reserving another; a commit that succeeds on a retry serves the request. A request above
// 2 GB fails after one call of the handler.
TEST_F(SmallBlockHeap, RefusedCommitsAreRetriedBoundedlyAndLeakNoRegion)
{
    OxFixedSizeHeap* heap = __oxHeapCreate(4096);
    auto drain = [heap] { // takes every free page the regions hold, reserved ones too
        for (std::uint32_t committed = 1, uncommitted = 0; committed + uncommitted > 0;) {
            hooks::smallBlockFreePages(&committed, &uncommitted);
            for (std::uint32_t i = 0; i < committed + uncommitted; ++i)
                ASSERT_NE(nullptr, __oxHeapMalloc(heap));
        }
    };
    {
        NewHandlerScope handler(2);
        EXPECT_EQ(nullptr, __oxMallocAligned(std::size_t{0x80000001}));
        EXPECT_TRUE(handler.calls() == 1 && handler.lastSize() == std::size_t{0x80000001});
    }
    drain(); // a region left without pages by an earlier refusal is committed first: use it up
    ASSERT_NE(nullptr, __oxHeapMalloc(heap));
    drain();
    OxHeap smallBlocks{OxHeapPool(kOxHeapPoolSmallBlock)};
    const std::size_t committedBefore = smallBlocks.heapSize();
    const std::size_t reservations = win::test::liveReservationCount();
    win::test::failNextCommits(100);
    {
        NewHandlerScope handler(7);
        EXPECT_EQ(nullptr, __oxHeapMalloc(heap));
        EXPECT_TRUE(handler.calls() == 6 && handler.lastSize() == 64u * 1024);
        OxNoOutOfMemHandlerScope quiet;
        EXPECT_EQ(nullptr, __oxMallocAligned(4096));
        EXPECT_EQ(6, handler.calls());
    }
    EXPECT_TRUE(reservations + 1 == win::test::liveReservationCount() &&
                committedBefore == smallBlocks.heapSize());
    std::uint32_t committed = 7, uncommitted = 7;
    hooks::smallBlockFreePages(&committed, &uncommitted);
    EXPECT_EQ(0u, committed + uncommitted);
    EXPECT_EQ(nullptr, hooks::checkSmallBlockHeap());

    win::test::failNextCommits(2);
    NewHandlerScope handler(2);
    ASSERT_NE(nullptr, __oxHeapMalloc(heap));
    EXPECT_EQ(2, handler.calls());
    EXPECT_TRUE(reservations + 1 == win::test::liveReservationCount() &&
                committedBefore + 64 * 1024 == smallBlocks.heapSize());
    win::test::failNextCommits(0);
    __oxHeapDestroy(heap);
}

// Blocks travel between threads: each fills mixed sizes with its mark, then frees its
// neighbour's blocks while it allocates and frees its own; meanwhile the committed size, the
// consistency check and heap reports run under the locks. A block handed out twice shows a
// foreign mark.
TEST_F(SmallBlockHeap, ThreadsFreeEachOthersBlocksWhileQueriesRun)
{
    constexpr int kThreads = 3;
    using Block = std::pair<unsigned char*, std::size_t>;
    std::vector<std::vector<Block>> blocks(kThreads);
    std::atomic<int> overlaps{0};
    auto marked = [](int mark, std::size_t size) {
        auto* p = static_cast<unsigned char*>(__oxMallocAligned(size));
        std::memset(p, mark, size);
        return Block{p, size};
    };
    auto check = [&overlaps](Block block, int mark) {
        overlaps += block.first[0] != mark || block.first[block.second - 1] != mark;
        __oxFreeAligned(block.first);
    };
    auto runThreads = [](auto body) {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back(body, t);
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(0u, OxHeap(OxHeapPool(kOxHeapPoolSmallBlock)).heapSize() % 4096);
            EXPECT_EQ(nullptr, hooks::checkSmallBlockHeap());
            OxHeapInfo().sort(OxHeapInfo::kSortByTotal);
        }
        for (std::thread& thread : threads)
            thread.join();
    };
    runThreads([&](int t) {
        std::mt19937 random(t);
        for (int i = 0; i < 10000; ++i)
            blocks[t].push_back(marked(t + 1, 1 + random() % 600));
    });
    runThreads([&](int t) {
        std::mt19937 random(t);
        std::deque<Block> mine;
        for (Block theirs : blocks[(t + 1) % kThreads]) {
            check(theirs, (t + 1) % kThreads + 1);
            mine.push_back(marked(kThreads + 1 + t, 1 + random() % 600));
            if (mine.size() > 64) {
                check(mine.front(), kThreads + 1 + t);
                mine.pop_front();
            }
        }
        for (Block block : mine)
            check(block, kThreads + 1 + t);
    });
    EXPECT_EQ(0, overlaps.load());
}

// "disableOrkaHeap" or "CRTLeakReport" set at load send every request to the C runtime, while
// fixed-size heaps stay on the heap's pages; a report's small-block part is its summary {-1, 0}.
class SmallBlockHeapSwitchedOff : public ::testing::TestWithParam<const char*> {};

TEST_P(SmallBlockHeapSwitchedOff, EveryRequestGoesToTheCRuntime)
{
    if (oxtest::inFreshProcess({GetParam()}))
        return;
    OxHeapInfo info;
    info.sort(OxHeapInfo::kSortBySize);
    std::vector<std::pair<int, std::uint32_t>> rows;
    for (OxHeapInfoEntry* e = info.first(); e != nullptr; e = info.next())
        if (e->heap() != nullptr && e->heap()->pool().low == kOxHeapPoolSmallBlock)
            rows.emplace_back(e->inUse(), e->size());
    EXPECT_EQ((std::vector<std::pair<int, std::uint32_t>>{{-1, 0}}), rows);
    for (std::size_t size : {1, 8, 100, 512, 1024, 4096}) {
        void* p = __oxMallocAligned(size);
        EXPECT_TRUE(p != nullptr && !hooks::isSmallBlock(p) && malloc_usable_size(p) == __oxMsizeAligned(p));
        __oxFreeAligned(p);
    }
    OxFixedSizeHeap* heap = __oxHeapCreate(24);
    EXPECT_TRUE(hooks::isSmallBlock(__oxHeapMalloc(heap)));
    __oxHeapDestroy(heap);
}

INSTANTIATE_TEST_SUITE_P(ByEitherSwitch, SmallBlockHeapSwitchedOff,
                         ::testing::Values("disableOrkaHeap=1", "CRTLeakReport=1"));

// Unload tears the heap down for the rest of the process, so it runs in a process of its own.
// While the process goes on it returns every page and the heap starts afresh; at process exit
// the heap freezes: frees do nothing, so threads still running cannot touch memory being
// unmapped, and no block is handed out twice.
TEST(SmallBlockUnload, ReturnsEveryPageOrFreezesAtProcessExit)
{
    if (oxtest::inFreshProcess())
        return;
    OxHeap smallBlocks{OxHeapPool(kOxHeapPoolSmallBlock)};
    for (int i = 0; i < 2000; ++i)
        __oxMallocAligned(1 + i % 512);
    const std::size_t before = smallBlocks.heapSize();
    hooks::unloadSmallBlockHeap();
    EXPECT_LT(smallBlocks.heapSize(), before);
    std::uint32_t committed = 0, uncommitted = 0;
    hooks::smallBlockFreePages(&committed, &uncommitted);
    EXPECT_GT(committed + uncommitted, 0u);
    EXPECT_EQ(nullptr, hooks::checkSmallBlockHeap());

    void* p = __oxMallocAligned(48);
    ASSERT_TRUE(hooks::isSmallBlock(p));
    std::memset(p, 0x5A, 48);
    win::test::setProcessExiting(true);
    hooks::unloadSmallBlockHeap();
    __oxFreeAligned(p);
    EXPECT_TRUE(__oxMsizeAligned(p) == 48u && static_cast<unsigned char*>(p)[47] == 0x5A);
    EXPECT_NE(p, __oxMallocAligned(48));
    win::test::setProcessExiting(false);
}

} // namespace
