// tests/heap/FixedSizeHeapTest.cpp
// Fixed-size heaps: private size classes on the small-block heap's pages, given back at once.

#include <oxfirst/OxHeap.h>

#include "heap/HeapTestHooks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace {

// Only sizes with a class make a heap; its blocks hold the request and __oxFreeAligned leaves them
// in use (never handed out again); destroying the heap returns every page, full or partial.
TEST(FixedSizeHeap, BlocksStayUntilTheHeapIsDestroyed)
{
    for (std::size_t size : {0, 700, 4097})
        EXPECT_EQ(nullptr, __oxHeapCreate(size)) << size;
    EXPECT_TRUE(__oxHeapSize(nullptr) == 0 && __oxHeapMalloc(nullptr) == nullptr && __oxHeapDestroy(nullptr));
    for (std::size_t request : {1, 20, 100, 4096}) {
        OxFixedSizeHeap* heap = __oxHeapCreate(request);
        ASSERT_NE(nullptr, heap) << request;
        EXPECT_GE(__oxHeapSize(heap), request);
        EXPECT_EQ(__oxHeapSize(heap), __oxMsizeAligned(__oxHeapMalloc(heap)));
        __oxHeapDestroy(heap);
    }

    OxHeap smallBlocks{OxHeapPool(kOxHeapPoolSmallBlock)};
    OxFixedSizeHeap* heap = __oxHeapCreate(256);
    std::set<void*> handedOut;
    void* victim = __oxHeapMalloc(heap);
    __oxFreeAligned(victim);
    __oxFreeAligned(victim);
    for (int i = 0; i < 16 * 300 + 5; ++i) {
        void* p = __oxHeapMalloc(heap);
        ASSERT_TRUE(p != nullptr && handedOut.insert(p).second);
        std::memset(p, 0xCD, 256);
    }
    EXPECT_EQ(0u, handedOut.count(victim));
    std::memset(victim, 0xAB, 256); // still the caller's
    EXPECT_EQ(nullptr, oxheap::test::checkSmallBlockHeap());
    const std::size_t filled = smallBlocks.heapSize();
    __oxHeapDestroy(heap);
    EXPECT_LE(smallBlocks.heapSize() + (300 - 5 * 16) * 4096u, filled);
    EXPECT_EQ(nullptr, oxheap::test::checkSmallBlockHeap());
}

// Heaps are filled from several threads at once: every block is distinct.
TEST(FixedSizeHeap, ThreadsGetDistinctBlocks)
{
    OxFixedSizeHeap* shared = __oxHeapCreate(40);
    constexpr int kThreads = 4;
    std::vector<void*> got(kThreads * 5000);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            OxFixedSizeHeap* own = __oxHeapCreate(100);
            for (int i = 0; i < 5000; ++i) {
                got[t * 5000 + i] = __oxHeapMalloc(shared);
                __oxHeapMalloc(own);
                __oxFreeAligned(__oxMallocAligned(40));
            }
            __oxHeapDestroy(own);
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(got.size(), std::set<void*>(got.begin(), got.end()).size());
    __oxHeapDestroy(shared);
    EXPECT_EQ(nullptr, oxheap::test::checkSmallBlockHeap());
}

} // namespace
