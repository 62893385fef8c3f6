// tests/heap/NamedHeapsTest.cpp
// Named heap objects: their names by pool, the process-wide list they join and leave, and
// allocation through them.

#include <oxfirst/OxHeap.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string_view>

namespace {

// Guards against the high half of a pool choosing the name: only the low 32 bits do, and only
// the small-block pool reports a size, the committed size of that heap.
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

// Guards against list corruption: newest first; destroying the head or an interior object
// unlinks just that object; assigning one heap object to another keeps the target's place, so
// the objects behind it stay reachable; a copy joins at the head.
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

// A heap object allocates through the process allocator: realloc keeps the contents, and
// freeing answers whether there was a block.
TEST(NamedHeapMemory, AllocatesThroughTheProcessAllocator)
{
    OxHeap heap(OxHeapPool(5));
    auto* p = static_cast<char*>(heap.allocMem(20));
    ASSERT_NE(nullptr, p);
    std::memcpy(p, "twenty bytes of text", 20);
    ASSERT_NE(nullptr, p = static_cast<char*>(heap.reallocMem(p, 2000)));
    EXPECT_TRUE(std::memcmp(p, "twenty bytes of text", 20) == 0 && heap.sizeMem(p) >= 2000u);
    EXPECT_TRUE(heap.freeMem(p) == 1 && heap.freeMem(nullptr) == 0);
}

} // namespace
