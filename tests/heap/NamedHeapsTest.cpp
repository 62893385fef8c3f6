// tests/heap/NamedHeapsTest.cpp
// Named heap objects: their names by pool, the process-wide list they join and leave, and
// allocation through them.

#include <oxfirst/OxHeap.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
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
    for (const OxHeap* listed : listedHeaps())
        if (listed == heap)
            return true;
    return false;
}

bool sameText(const OXCHAR* a, const OXCHAR* b)
{
    return std::u16string_view(a) == std::u16string_view(b);
}

// Only the low 32 bits of the pool choose the name; the high half is carried but ignored.
TEST(NamedHeaps, PoolChoosesTheName)
{
    OxHeap objects(OxHeapPool(4));
    OxHeap small(OxHeapPool(0x01010004));
    OxHeap other(OxHeapPool(5));
    OxHeap highBits(OxHeapPool(0x1234567800000004ull));
    EXPECT_TRUE(sameText(u"CObjects", objects.name()));
    EXPECT_TRUE(sameText(u"OrkaHeap", small.name()));
    EXPECT_TRUE(sameText(u"Default", other.name()));
    EXPECT_TRUE(sameText(u"CObjects", highBits.name()));
    EXPECT_EQ(0x1234567800000004ull, highBits.pool().value);
    EXPECT_TRUE(highBits.pool() == objects.pool());
}

// The name is stored as given, not copied, and the pool of a named heap stays 0.
TEST(NamedHeaps, NameIsTheCallersPointer)
{
    static const OXCHAR kName[] = u"Geometry cache";
    OxHeap heap(kName);
    EXPECT_EQ(kName, heap.name());
    EXPECT_EQ(0u, heap.pool().value);
}

// Newest first; destroying the head or an interior object unlinks just that object.
TEST(NamedHeapList, JoinsAtTheHeadAndLeavesFromAnywhere)
{
    auto a = std::make_unique<OxHeap>(u"a");
    auto b = std::make_unique<OxHeap>(u"b");
    auto c = std::make_unique<OxHeap>(u"c");
    std::vector<const OxHeap*> heaps = listedHeaps();
    ASSERT_GE(heaps.size(), 3u);
    EXPECT_EQ(c.get(), heaps[0]);
    EXPECT_EQ(b.get(), heaps[1]);
    EXPECT_EQ(a.get(), heaps[2]);

    b.reset(); // interior
    EXPECT_EQ(a.get(), c->next());
    c.reset(); // head
    EXPECT_EQ(a.get(), OxHeap::first());
    EXPECT_TRUE(isListed(a.get()));
}

// Assigning one heap object to another copies pool and name but keeps the target's place, so
// the objects behind it stay reachable.
TEST(NamedHeapList, AssignmentKeepsTheTargetsPlace)
{
    OxHeap oldest(u"oldest");
    OxHeap target(u"target");
    OxHeap newest(OxHeapPool(4));
    target = newest;
    EXPECT_TRUE(sameText(u"CObjects", target.name()));
    EXPECT_EQ(4u, target.pool().low);
    EXPECT_EQ(&oldest, target.next());
    EXPECT_TRUE(isListed(&oldest));
    EXPECT_TRUE(isListed(&target));
    EXPECT_TRUE(isListed(&newest));

    OxHeap copy(target);
    EXPECT_EQ(&copy, OxHeap::first());
    EXPECT_TRUE(sameText(u"CObjects", copy.name()));
}

TEST(NamedHeapMemory, AllocatesThroughTheProcessAllocator)
{
    OxHeap heap(OxHeapPool(5));
    auto* p = static_cast<char*>(heap.allocMem(20));
    ASSERT_NE(nullptr, p);
    std::memcpy(p, "twenty bytes of text", 20);
    EXPECT_GE(heap.sizeMem(p), 20u);
    p = static_cast<char*>(heap.reallocMem(p, 2000));
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(0, std::memcmp(p, "twenty bytes of text", 20));
    EXPECT_EQ(1, heap.freeMem(p));
    EXPECT_EQ(0, heap.freeMem(nullptr));
    heap.allocHeap();
    heap.freeHeap();
}

// Only the small-block pool reports a size, the committed size of that heap.
TEST(NamedHeapMemory, HeapSizeIsZeroExceptForTheSmallBlockPool)
{
    OxHeap objects(OxHeapPool(4));
    OxHeap named(u"named");
    EXPECT_EQ(0u, objects.heapSize());
    EXPECT_EQ(0u, named.heapSize());
    OxHeap small{OxHeapPool(kOxHeapPoolSmallBlock)};
    EXPECT_EQ(0u, small.heapSize() % 4096);
}

} // namespace
