// tests/heap/NamedHeapsTest.cpp
// Named heap objects: their names by pool, the process-wide list they join and leave, and
// allocation through them.

#include <oxfirst/OxHeap.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace {

// The heap objects of the list in order, newest first.
std::vector<const OxHeap*> listedHeaps()
{
    std::vector<const OxHeap*> heaps;
    for (const OxHeap* heap = OxHeap::first(); heap != nullptr; heap = heap->next())
        heaps.push_back(heap);
    return heaps;
}

bool isListed(const OxHeap* heap)
{
    const std::vector<const OxHeap*> heaps = listedHeaps();
    return std::find(heaps.begin(), heaps.end(), heap) != heaps.end();
}

// Only the low 32 bits of the pool choose the name; the high half is carried but ignored. Only
// the small-block pool reports a size, the committed size of that heap.
TEST(NamedHeaps, PoolChoosesTheNameAndTheSize)
{
    OxHeap objects(OxHeapPool(4));
    OxHeap highBits(OxHeapPool(0x1234567800000004ull));
    OxHeap named(u"named");
    EXPECT_EQ(std::u16string_view(u"CObjects"), objects.name());
    EXPECT_EQ(std::u16string_view(u"OrkaHeap"), OxHeap(OxHeapPool(0x01010004)).name());
    EXPECT_EQ(std::u16string_view(u"Default"), OxHeap(OxHeapPool(5)).name());
    EXPECT_EQ(std::u16string_view(u"CObjects"), highBits.name());
    EXPECT_EQ(0x1234567800000004ull, highBits.pool().value);
    EXPECT_TRUE(highBits.pool() == objects.pool());
    EXPECT_EQ(0u, named.pool().value);
    EXPECT_TRUE(objects.heapSize() == 0 && named.heapSize() == 0);
    EXPECT_EQ(0u, OxHeap(OxHeapPool(kOxHeapPoolSmallBlock)).heapSize() % 4096);
}

// Newest first; destroying the head or an interior object unlinks just that object.
TEST(NamedHeapList, JoinsAtTheHeadAndLeavesFromAnywhere)
{
    auto a = std::make_unique<OxHeap>(u"a");
    auto b = std::make_unique<OxHeap>(u"b");
    auto c = std::make_unique<OxHeap>(u"c");
    const std::vector<const OxHeap*> heaps = listedHeaps();
    ASSERT_GE(heaps.size(), 3u);
    EXPECT_TRUE(heaps[0] == c.get() && heaps[1] == b.get() && heaps[2] == a.get());
    b.reset(); // interior
    EXPECT_EQ(a.get(), c->next());
    c.reset(); // head
    EXPECT_EQ(a.get(), OxHeap::first());
}

// Assigning one heap object to another copies pool and name but keeps the target's place, so
// the objects behind it stay reachable; a copy joins at the head.
TEST(NamedHeapList, AssignmentKeepsTheTargetsPlace)
{
    OxHeap oldest(u"oldest");
    OxHeap target(u"target");
    OxHeap newest(OxHeapPool(4));
    target = newest;
    EXPECT_EQ(std::u16string_view(u"CObjects"), target.name());
    EXPECT_EQ(4u, target.pool().low);
    EXPECT_EQ(&oldest, target.next());
    EXPECT_TRUE(isListed(&oldest) && isListed(&target) && isListed(&newest));
    OxHeap copy(target);
    EXPECT_EQ(&copy, OxHeap::first());
    EXPECT_EQ(std::u16string_view(u"CObjects"), copy.name());
}

// A heap object allocates through the process allocator: realloc keeps the contents, and
// freeing answers whether there was a block.
TEST(NamedHeapMemory, AllocatesThroughTheProcessAllocator)
{
    OxHeap heap(OxHeapPool(5));
    auto* p = static_cast<char*>(heap.allocMem(20));
    ASSERT_NE(nullptr, p);
    std::memcpy(p, "twenty bytes of text", 20);
    EXPECT_GE(heap.sizeMem(p), 20u);
    ASSERT_NE(nullptr, p = static_cast<char*>(heap.reallocMem(p, 2000)));
    EXPECT_EQ(0, std::memcmp(p, "twenty bytes of text", 20));
    EXPECT_EQ(1, heap.freeMem(p));
    EXPECT_EQ(0, heap.freeMem(nullptr));
}

} // namespace
