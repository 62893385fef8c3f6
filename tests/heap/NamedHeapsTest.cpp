// tests/heap/NamedHeapsTest.cpp
// Named heap objects: names by pool, the process-wide list, and allocation through them.

#include <oxfirst/OxHeap.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string_view>

namespace {

// Only the pool's low 32 bits choose the name; only the small-block pool reports a size.
TEST(NamedHeaps, LowHalfOfThePoolChoosesTheNameAndTheSize)
{
    OxHeap objects(OxHeapPool(0x1234567800000004ull));
    EXPECT_TRUE(std::u16string_view(objects.name()) == u"CObjects" &&
                objects.pool().value == 0x1234567800000004ull && objects.heapSize() == 0u);
    EXPECT_EQ(std::u16string_view(u"OrkaHeap"), OxHeap(OxHeapPool(0xFFFFFFFF01010004ull)).name());
    EXPECT_EQ(std::u16string_view(u"Default"), OxHeap(OxHeapPool(5)).name());
    OxHeap smallBlocks{OxHeapPool(kOxHeapPoolSmallBlock)};
    void* p = __oxMallocAligned(100);
    EXPECT_TRUE(smallBlocks.heapSize() > 0 && smallBlocks.heapSize() % 4096 == 0);
    __oxFreeAligned(p);
}

// The list is newest first; head or inner objects unlink alone; assignment keeps the target's place.
TEST(NamedHeapList, JoinsAtTheHeadAndLeavesFromAnywhere)
{
    auto a = std::make_unique<OxHeap>(u"a");
    auto b = std::make_unique<OxHeap>(u"b");
    auto c = std::make_unique<OxHeap>(u"c");
    EXPECT_TRUE(OxHeap::first() == c.get() && c->next() == b.get() && b->next() == a.get());
    *b = OxHeap(OxHeapPool(4));
    EXPECT_TRUE(b->next() == a.get() && c->next() == b.get());
    EXPECT_EQ(std::u16string_view(u"CObjects"), b->name());
    OxHeap copy(*b);
    EXPECT_EQ(&copy, OxHeap::first());
    b.reset(); // interior
    EXPECT_EQ(a.get(), c->next());
    c.reset();
    EXPECT_EQ(a.get(), copy.next());
}

// Heap objects allocate through the process allocator; freeing answers whether there was a block.
TEST(NamedHeapMemory, AllocatesThroughTheProcessAllocator)
{
    OxHeap heap(OxHeapPool(5));
    void* p = heap.reallocMem(std::memcpy(heap.allocMem(20), "twenty bytes of text", 20), 2000);
    EXPECT_TRUE(p != nullptr && std::memcmp(p, "twenty bytes of text", 20) == 0 && heap.sizeMem(p) >= 2000u);
    EXPECT_TRUE(heap.freeMem(p) == 1 && heap.freeMem(nullptr) == 0);
}

} // namespace
