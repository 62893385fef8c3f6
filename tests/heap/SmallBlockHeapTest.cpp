// tests/heap/SmallBlockHeapTest.cpp
// The small-block heap through its entry points: which requests it serves and with what block
// size, how pages count their blocks in bump and free-list mode, how emptied pages and regions
// go back, what a bad free does, how a refused commit ends, and many threads at once. Every
// test ends with the heap's own consistency check.

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
#include <cstdint>
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

constexpr std::uintptr_t kRegionBytes = 1 << 20;

std::uintptr_t pageOf(const void* p)
{
    return reinterpret_cast<std::uintptr_t>(p) & ~std::uintptr_t{4095};
}

std::uintptr_t regionOf(const void* p)
{
    return reinterpret_cast<std::uintptr_t>(p) & ~(kRegionBytes - 1);
}

struct PageState {
    std::uint32_t freeCount = 0;
    bool freeListMode = false;
};

PageState pageStateOf(const void* p)
{
    PageState state;
    EXPECT_TRUE(oxheap::test::smallBlockPageState(p, &state.freeCount, &state.freeListMode));
    return state;
}

class SmallBlockHeap : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (void* p : mBlocks)
            __oxFreeAligned(p);
        const char* problem = oxheap::test::checkSmallBlockHeap();
        EXPECT_EQ(nullptr, problem) << problem;
    }

    void* allocate(std::size_t size)
    {
        void* p = __oxMallocAligned(size);
        if (p != nullptr)
            mBlocks.push_back(p);
        return p;
    }
    void release(void* p)
    {
        mBlocks.erase(std::find(mBlocks.begin(), mBlocks.end(), p));
        __oxFreeAligned(p);
    }

    // Allocates blocks of `size` until one is the first block taken from a fresh page, which
    // is then in bump mode with every other block free.
    void* firstBlockOfFreshPage(std::size_t size, std::uint32_t perPage)
    {
        for (int i = 0; i < 5000; ++i) {
            void* p = allocate(size);
            if (p != nullptr && pageStateOf(p).freeCount == perPage - 1 && !pageStateOf(p).freeListMode &&
                pageOf(p) == reinterpret_cast<std::uintptr_t>(p))
                return p;
        }
        ADD_FAILURE() << "no fresh page of size " << size;
        return nullptr;
    }

    std::vector<void*> mBlocks;
};

// Every request gets a block that holds it, of the smallest class that does; requests the
// classes do not take go to the C runtime, and the size answers say so. Blocks never overlap:
// each one written to its full size keeps its contents, also across the pages of the smallest
// class.
TEST_F(SmallBlockHeap, RequestsGetTheSmallestClassThatHoldsThemAndNeverOverlap)
{
    std::vector<std::pair<unsigned char*, std::size_t>> served; // block, request
    std::set<std::size_t> classes;
    for (std::size_t request = 0; request <= 4200; ++request) {
        auto* p = static_cast<unsigned char*>(allocate(request));
        ASSERT_NE(nullptr, p) << request;
        const std::size_t size = __oxMsizeAligned(p);
        ASSERT_EQ(size, oxMsizeAligned(p)) << request;
        if (!oxheap::test::isSmallBlock(p)) {
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
        ASSERT_TRUE(
            std::all_of(p, p + __oxMsizeAligned(p), [i](unsigned char c) { return c == (i & 0xFF); }));
    }
}

// Blocks of one class come and go in random order over a few pages, which switch between bump
// and free-list mode as they go: no block is handed out while it is live, each page's free
// count matches the blocks live in it, a page whose blocks are all free leaves its class, and
// the heap stays consistent throughout.
TEST_F(SmallBlockHeap, PagesCountTheirBlocksThroughRandomAllocationAndFree)
{
    constexpr std::size_t kSize = 336;
    constexpr std::uint32_t kPerPage = 4096 / kSize;
    std::mt19937 random(7);
    std::map<std::uintptr_t, std::set<void*>> livePerPage;
    std::set<void*> live;
    bool sawModes[2] = {false, false};
    for (int step = 0; step < 4000; ++step) {
        if (live.size() < 40 && (live.empty() || random() % 2 == 0)) {
            void* p = allocate(kSize);
            ASSERT_TRUE(live.insert(p).second) << "a live block handed out again";
            livePerPage[pageOf(p)].insert(p);
        } else {
            void* p = *std::next(live.begin(), static_cast<std::ptrdiff_t>(random() % live.size()));
            live.erase(p);
            release(p);
            std::set<void*>& onPage = livePerPage[pageOf(p)];
            onPage.erase(p);
            if (onPage.empty()) {
                std::uint32_t freeCount = 0;
                bool freeListMode = false;
                EXPECT_FALSE(oxheap::test::smallBlockPageState(p, &freeCount, &freeListMode));
                livePerPage.erase(pageOf(p));
            }
        }
        for (const auto& [page, blocks] : livePerPage) {
            const PageState state = pageStateOf(*blocks.begin());
            ASSERT_EQ(kPerPage - blocks.size(), state.freeCount) << "step " << step;
            sawModes[state.freeListMode] = true;
        }
        const char* problem = step % 64 == 0 ? oxheap::test::checkSmallBlockHeap() : nullptr;
        ASSERT_EQ(nullptr, problem) << problem << " at step " << step;
    }
    EXPECT_TRUE(sawModes[0] && sawModes[1]);
}

// Realloc copies what fits and always moves, even within one class; blocks of the C runtime
// go to its realloc. The small-block realloc is heap 0's only on older Windows.
TEST_F(SmallBlockHeap, ReallocCopiesAndMoves)
{
    if (oxtest::inFreshProcess({"OX_EMULATE_WINDOWS_VERSION=5.1"}))
        return;
    const char kText[] = "0123456789012345678901234567890123456789";
    void* p = oxHeapAlloc(nullptr, 40);
    ASSERT_TRUE(oxheap::test::isSmallBlock(p));
    std::memcpy(p, kText, 40);
    void* same = oxHeapReAlloc(nullptr, p, 36);
    EXPECT_TRUE(p != same && std::memcmp(same, kText, 36) == 0);
    void* large = oxHeapReAlloc(nullptr, same, 5000);
    EXPECT_TRUE(!oxheap::test::isSmallBlock(large) && std::memcmp(large, kText, 36) == 0);
    void* back = oxHeapReAlloc(nullptr, large, 16);
    EXPECT_EQ(0, std::memcmp(back, kText, 16));
    oxHeapFree(nullptr, back);
}

// Freeing what the heap does not own, or owns no more, changes nothing: null, C runtime
// blocks, addresses inside or between blocks, descriptor pages, and a block freed twice
// where the second free can be told (head of a free list, or the free tail of a bump page).
TEST_F(SmallBlockHeap, BadFreesAreIgnored)
{
    __oxFreeAligned(nullptr);
    __oxFreeAligned(std::malloc(40)); // to the C runtime; a sanitizer would see a wrong free

    void* first = firstBlockOfFreshPage(64, 64);
    ASSERT_NE(nullptr, first);
    auto* base = static_cast<char*>(first);
    void* second = allocate(64);
    __oxFreeAligned(base + 8);
    __oxFreeAligned(reinterpret_cast<void*>(regionOf(first) + 100));
    EXPECT_EQ(62u, pageStateOf(first).freeCount);

    release(second);
    __oxFreeAligned(second); // twice, in the free tail of a bump-mode page
    EXPECT_EQ(63u, pageStateOf(first).freeCount);
    void* third = allocate(64);
    void* fourth = allocate(64);
    EXPECT_EQ(second, third);
    EXPECT_NE(third, fourth);

    release(third); // out of order: free-list mode, third at the head
    __oxFreeAligned(third);
    EXPECT_TRUE(pageStateOf(first).freeListMode);
    EXPECT_EQ(62u, pageStateOf(first).freeCount);
    void* fifth = allocate(64);
    void* sixth = allocate(64);
    EXPECT_EQ(third, fifth);
    EXPECT_NE(fifth, sixth);
}

// Freed pages beyond the 16 committed free pages a region keeps are decommitted at once, so the
// committed size falls back after a burst of frees. A region whose pages all come back is
// released, unless it is the one region kept for reuse (the head of the available list while
// no reserve region is left).
TEST_F(SmallBlockHeap, EmptiedPagesAndRegionsGoBack)
{
    // Take whole regions: a region all of whose 254 pages are ours holds nobody else's blocks.
    OxHeap smallBlocks{OxHeapPool(kOxHeapPoolSmallBlock)};
    std::map<std::uintptr_t, std::vector<void*>> byRegion;
    for (int i = 0; i < 254 * 4; ++i) {
        void* p = allocate(4096);
        ASSERT_NE(nullptr, p);
        byRegion[regionOf(p)].push_back(p);
    }
    const std::size_t full = smallBlocks.heapSize();
    EXPECT_EQ(0u, full % 4096);
    EXPECT_GE(full, 254u * 4 * 4096);
    std::vector<void*> keep;
    for (auto& [region, blocks] : byRegion)
        if (blocks.size() == 254)
            keep.push_back(blocks[0]);
    ASSERT_GE(keep.size(), 2u);
    for (auto& [region, blocks] : byRegion)
        for (void* p : blocks)
            if (p != keep[0] && p != keep[1])
                release(p);
    // Each region keeps up to 16 free pages committed; its last page, freed or not, is outside
    // the committed size.
    EXPECT_LE(smallBlocks.heapSize(), full - (254 * 4 - 2 - 17 * byRegion.size()) * 4096);

    const std::size_t reservations = win::test::liveReservationCount();
    release(keep[0]); // regions freed into later head the available list: the first region goes
    EXPECT_FALSE(oxheap::test::isSmallBlock(keep[0]));
    EXPECT_EQ(reservations - 1, win::test::liveReservationCount());
    // The second goes too unless it is kept for reuse; either way the count and the state agree.
    release(keep[1]);
    EXPECT_EQ(oxheap::test::isSmallBlock(keep[1]), win::test::liveReservationCount() == reservations - 1);
}

// The fixture for the out-of-memory paths: uses up every free page the heap's regions hold,
// so that the next page needs a commit of its own.
class SmallBlockExhaustion : public SmallBlockHeap {
protected:
    void SetUp() override { mHeap = __oxHeapCreate(4096); }
    void TearDown() override
    {
        win::test::failNextCommits(0);
        __oxHeapDestroy(mHeap);
        SmallBlockHeap::TearDown();
    }

    // Takes pages until none is left committed (and, with `uncommittedToo`, none reserved).
    void drain(bool uncommittedToo)
    {
        for (;;) {
            std::uint32_t committed = 0, uncommitted = 0;
            oxheap::test::smallBlockFreePages(&committed, &uncommitted);
            std::uint32_t wanted = committed + (uncommittedToo ? uncommitted : 0);
            if (wanted == 0)
                return;
            while (wanted-- > 0)
                ASSERT_NE(nullptr, __oxHeapMalloc(mHeap));
        }
    }

    OxFixedSizeHeap* mHeap = nullptr;
};

// A refused commit ends in null after 6 retries at most (at once inside a suppression scope),
// and leaves a new region reserved without pages, which the next request commits instead of
// reserving another; a commit that succeeds on a retry serves the request. A request above
// 2 GB fails after one call of the handler.
TEST_F(SmallBlockExhaustion, RefusedCommitsAreRetriedBoundedlyAndLeakNoRegion)
{
    {
        NewHandlerScope handler(2);
        EXPECT_EQ(nullptr, __oxMallocAligned(std::size_t{0x80000001}));
        EXPECT_TRUE(handler.calls() == 1 && handler.lastSize() == std::size_t{0x80000001});
    }
    // A region left without pages by an earlier refusal would be committed first: use it up.
    drain(true);
    ASSERT_NE(nullptr, __oxHeapMalloc(mHeap));
    drain(true);
    OxHeap smallBlocks{OxHeapPool(kOxHeapPoolSmallBlock)};
    const std::size_t committedBefore = smallBlocks.heapSize();
    const std::size_t reservations = win::test::liveReservationCount();
    win::test::failNextCommits(100);
    {
        NewHandlerScope handler(7);
        EXPECT_EQ(nullptr, __oxHeapMalloc(mHeap));
        EXPECT_TRUE(handler.calls() == 6 && handler.lastSize() == 64u * 1024);
        OxNoOutOfMemHandlerScope quiet;
        EXPECT_EQ(nullptr, __oxMallocAligned(4096));
        EXPECT_EQ(6, handler.calls());
    }
    EXPECT_EQ(reservations + 1, win::test::liveReservationCount());
    EXPECT_EQ(committedBefore, smallBlocks.heapSize());
    std::uint32_t committed = 7, uncommitted = 7;
    oxheap::test::smallBlockFreePages(&committed, &uncommitted);
    EXPECT_EQ(0u, committed + uncommitted);
    EXPECT_EQ(nullptr, oxheap::test::checkSmallBlockHeap());

    win::test::failNextCommits(2);
    NewHandlerScope handler(2);
    ASSERT_NE(nullptr, __oxHeapMalloc(mHeap));
    EXPECT_EQ(2, handler.calls());
    EXPECT_EQ(reservations + 1, win::test::liveReservationCount());
    EXPECT_EQ(committedBefore + 64 * 1024, smallBlocks.heapSize());
}

// Blocks travel between threads: each thread fills mixed sizes with its mark, then frees its
// neighbour's blocks while it allocates and frees blocks of its own; meanwhile the
// committed-size query, the consistency check and heap reports run under the locks. A block
// handed out twice while alive shows up as a foreign mark.
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
        OxHeap smallBlocks{OxHeapPool(kOxHeapPoolSmallBlock)};
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(0u, smallBlocks.heapSize() % 4096);
            EXPECT_EQ(nullptr, oxheap::test::checkSmallBlockHeap());
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

// Load-time switches: "disableOrkaHeap" or "CRTLeakReport" set when the process starts send
// every request to the C runtime. Fixed-size heaps stay on: they are the heap's pages, not the
// C runtime's. With no region in the process, the small-block part of a report is only its
// summary row, {-1, 0}.
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
        EXPECT_TRUE(p != nullptr && !oxheap::test::isSmallBlock(p)) << size;
        EXPECT_EQ(malloc_usable_size(p), __oxMsizeAligned(p));
        __oxFreeAligned(p);
    }
    OxFixedSizeHeap* heap = __oxHeapCreate(24);
    EXPECT_TRUE(oxheap::test::isSmallBlock(__oxHeapMalloc(heap)));
    __oxHeapDestroy(heap);
}

INSTANTIATE_TEST_SUITE_P(ByEitherSwitch, SmallBlockHeapSwitchedOff,
                         ::testing::Values("disableOrkaHeap=1", "CRTLeakReport=1"));

// Unload tears the heap down for the rest of the process, so each case has a process of its own.
// At process exit the heap freezes: frees do nothing, so threads still running at exit cannot
// touch memory that is being unmapped, and no block is handed out twice.
TEST(SmallBlockUnload, AtProcessExitFreesDoNothing)
{
    if (oxtest::inFreshProcess())
        return;
    void* p = __oxMallocAligned(48);
    std::memset(p, 0x5A, 48);
    win::test::setProcessExiting(true);
    oxheap::test::unloadSmallBlockHeap();
    __oxFreeAligned(p);
    EXPECT_EQ(48u, __oxMsizeAligned(p));
    EXPECT_EQ(0x5A, static_cast<unsigned char*>(p)[47]);
    void* q = __oxMallocAligned(48);
    EXPECT_NE(p, q);
    win::test::setProcessExiting(false);
}

// An unload while the process goes on returns every page; the heap starts afresh afterwards.
TEST(SmallBlockUnload, WhileTheProcessGoesOnEveryPageIsReturned)
{
    if (oxtest::inFreshProcess())
        return;
    OxHeap smallBlocks{OxHeapPool(kOxHeapPoolSmallBlock)};
    std::vector<void*> blocks;
    for (int i = 0; i < 2000; ++i)
        blocks.push_back(__oxMallocAligned(1 + i % 512));
    const std::size_t before = smallBlocks.heapSize();
    oxheap::test::unloadSmallBlockHeap();
    EXPECT_LT(smallBlocks.heapSize(), before);
    std::uint32_t committed = 0, uncommitted = 0;
    oxheap::test::smallBlockFreePages(&committed, &uncommitted);
    EXPECT_GT(committed + uncommitted, 0u);
    EXPECT_EQ(nullptr, oxheap::test::checkSmallBlockHeap());
    void* p = __oxMallocAligned(100);
    EXPECT_TRUE(oxheap::test::isSmallBlock(p));
    __oxFreeAligned(p);
    EXPECT_EQ(nullptr, oxheap::test::checkSmallBlockHeap());
}

} // namespace
