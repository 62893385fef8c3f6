// tests/heap/SmallBlockHeapTest.cpp
// The small-block heap through its entry points; every fixture test ends with the heap's own check.

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
#include <malloc.h>
#include <map>
#include <random>
#include <set>
#include <string_view>
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
const auto freePages = [] { // of the regions on the available and reserve lists
    std::uint32_t committed = 0, uncommitted = 0;
    hooks::smallBlockFreePages(&committed, &uncommitted);
    return committed + uncommitted;
};

class SmallBlockHeap : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (void* p : mBlocks)
            __oxFreeAligned(p);
        EXPECT_STREQ(nullptr, hooks::checkSmallBlockHeap());
    }

    void* allocate(std::size_t size) { return mBlocks.emplace_back(__oxMallocAligned(size)); }
    void release(void* p) { std::erase(mBlocks, p), __oxFreeAligned(p); }

    std::vector<void*> mBlocks; // live blocks, freed by TearDown
};

// Requests get the smallest class that holds them (else the C runtime); blocks never overlap.
TEST_F(SmallBlockHeap, RequestsGetTheSmallestClassThatHoldsThemAndNeverOverlap)
{
    for (std::size_t request = 0, previous = 0; request <= 4200; ++request) { // previous: the last class
        auto* p = static_cast<unsigned char*>(allocate(request));
        ASSERT_NE(nullptr, p) << request;
        const std::size_t size = __oxMsizeAligned(p);
        ASSERT_EQ(size, oxMsizeAligned(p)) << request;
        if (!hooks::isSmallBlock(p))
            EXPECT_EQ(malloc_usable_size(p), size) << request;
        else // the class of the request before is kept while it holds the request
            ASSERT_TRUE(size >= request && (request == 0 || previous < request || size == previous))
                << request;
        previous = hooks::isSmallBlock(p) ? size : 0;
    }
    for (int i = 0; i < 600; ++i) // more than a page of the smallest class
        allocate(1);
    for (std::size_t i = 0; i < mBlocks.size(); ++i)
        std::memset(mBlocks[i], static_cast<int>(i & 0xFF), __oxMsizeAligned(mBlocks[i]));
    for (std::size_t i = 0; i < mBlocks.size(); ++i) {
        const std::string_view block(static_cast<char*>(mBlocks[i]), __oxMsizeAligned(mBlocks[i]));
        ASSERT_EQ(std::string_view::npos, block.find_first_not_of(static_cast<char>(i))) << i;
    }
}

// Blocks come and go at random over pages in bump and free-list mode: no live block is handed out
// again, free counts match the live blocks, emptied pages leave their class, the heap stays valid.
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
        ASSERT_STREQ(nullptr, step % 64 == 0 ? hooks::checkSmallBlockHeap() : nullptr) << "step " << step;
    }
    EXPECT_TRUE(sawModes[0] && sawModes[1]);
}

// Realloc copies what fits and always moves; heap 0 is the small-block heap on older Windows only.
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

// Frees of null, foreign or inner addresses, and second frees (list head, bump tail) change nothing.
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

// Free pages beyond 16 per region are decommitted at once; a region whose pages all come back is
// released unless it is the one kept for reuse (the available list's head with no reserve left).
TEST_F(SmallBlockHeap, EmptiedPagesAndRegionsGoBack)
{
    // Take whole regions: a region all of whose 254 pages are ours holds nobody else's blocks.
    OxHeap smallBlocks{OxHeapPool(kOxHeapPoolSmallBlock)};
    std::map<std::uintptr_t, std::vector<void*>> byRegion;
    for (int i = 0; i < 254 * 4; ++i) {
        void* p = allocate(4096);
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
    EXPECT_TRUE(!hooks::isSmallBlock(keep[0]) && win::test::liveReservationCount() == reservations - 1);
    // The second goes too unless it is kept for reuse; either way the count and the state agree.
    release(keep[1]);
    EXPECT_EQ(hooks::isSmallBlock(keep[1]), win::test::liveReservationCount() == reservations - 1);
}

// A refused commit fails after 6 retries at most (none in a suppression scope), leaving one region
// without pages that the next request commits rather than reserving another; a retry that gets
// its commit serves the request. A request above 2 GB fails after one call of the handler.
TEST_F(SmallBlockHeap, RefusedCommitsAreRetriedBoundedlyAndLeakNoRegion)
{
    OxFixedSizeHeap* heap = __oxHeapCreate(4096);
    auto drain = [heap] { // takes every free page the regions hold, reserved ones too
        for (std::uint32_t n = freePages(); n > 0; n = freePages())
            while (n-- > 0)
                ASSERT_NE(nullptr, __oxHeapMalloc(heap));
    };
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
        EXPECT_TRUE(handler.calls == 6 && handler.lastSize == 64u * 1024);
        EXPECT_EQ(nullptr, __oxMallocAligned(std::size_t{0x80000001})); // the handler asks for a retry
        EXPECT_TRUE(handler.calls == 7 && handler.lastSize == std::size_t{0x80000001});
        OxNoOutOfMemHandlerScope quiet;
        EXPECT_TRUE(__oxMallocAligned(4096) == nullptr && handler.calls == 7);
    }
    EXPECT_TRUE(reservations + 1 == win::test::liveReservationCount() &&
                committedBefore == smallBlocks.heapSize() && freePages() == 0 &&
                hooks::checkSmallBlockHeap() == nullptr);

    win::test::failNextCommits(2);
    NewHandlerScope handler(2);
    EXPECT_TRUE(__oxHeapMalloc(heap) != nullptr && handler.calls == 2);
    EXPECT_TRUE(reservations + 1 == win::test::liveReservationCount() &&
                committedBefore + 64 * 1024 == smallBlocks.heapSize());
    win::test::failNextCommits(0);
    __oxHeapDestroy(heap);
}

// Threads fill mixed sizes with their mark, then free their neighbour's blocks while allocating their
// own, as queries and reports run under the locks: a block handed out twice shows a foreign mark.
TEST_F(SmallBlockHeap, ThreadsFreeEachOthersBlocksWhileQueriesRun)
{
    constexpr int kThreads = 3;
    std::vector<std::vector<unsigned char*>> blocks(kThreads);
    std::atomic<int> overlaps{0};
    auto check = [&overlaps](unsigned char* p, int mark) {
        overlaps += p[0] != mark || p[__oxMsizeAligned(p) - 1] != mark;
        __oxFreeAligned(p);
    };
    for (int phase = 0; phase < 2; ++phase) {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                std::mt19937 random(t);
                std::vector<unsigned char*> mine;
                for (int i = 0; i < 10000; ++i) {
                    if (phase == 1)
                        check(blocks[(t + 1) % kThreads][i], (t + 1) % kThreads + 1);
                    auto* p =
                        mine.emplace_back(static_cast<unsigned char*>(__oxMallocAligned(1 + random() % 600)));
                    std::memset(p, phase * kThreads + t + 1, __oxMsizeAligned(p));
                }
                if (phase == 0)
                    blocks[t].swap(mine); // leaves mine empty
                for (unsigned char* p : mine)
                    check(p, kThreads + t + 1);
            });
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(0u, OxHeap(OxHeapPool(kOxHeapPoolSmallBlock)).heapSize() % 4096);
            EXPECT_EQ(nullptr, hooks::checkSmallBlockHeap());
            OxHeapInfo().sort(OxHeapInfo::kSortByTotal);
        }
        for (std::thread& thread : threads)
            thread.join();
    }
    EXPECT_EQ(0, overlaps.load());
}

// Either load switch sends all requests to the C runtime, fixed-size heaps aside; reports show {-1, 0}.
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

// Unload (in a process of its own) returns every page and the heap starts afresh; at process exit
// it freezes instead: frees do nothing, so late threads touch no unmapped memory and get no block twice.
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
    EXPECT_TRUE(freePages() > 0 && hooks::checkSmallBlockHeap() == nullptr);

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
