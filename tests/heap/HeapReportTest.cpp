// tests/heap/HeapReportTest.cpp
// Heap reports: folding of equal rows, the four orders, the listing, and the picture of the
// private heaps and the small-block heap.

#include <oxfirst/OxHeapInfo.h>

#include "platform/win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Rows = std::vector<std::pair<int, std::uint32_t>>;

OxHeapInfoEntry row(OxHeap* heap, int inUse, std::size_t size, const char* file = nullptr)
{
    OxHeapInfoEntry entry;
    entry.setHeap(heap);
    entry.setInUse(inUse);
    entry.setSize(size);
    if (file != nullptr)
        entry.setFile(strdup(file)); // the entry takes the malloc'ed text
    return entry;
}

// The rows of the heaps that `wanted` accepts in listing order, as (inUse, size) pairs.
Rows rowsOf(OxHeapInfo& info, const std::function<bool(const OxHeapInfoEntry&)>& wanted)
{
    Rows rows;
    for (OxHeapInfoEntry* e = info.first(); e != nullptr; e = info.next())
        if (wanted(*e))
            rows.emplace_back(e->inUse(), e->size());
    return rows;
}

Rows rowsOf(OxHeapInfo& info, const OxHeap* heap)
{
    return rowsOf(info, [heap](const OxHeapInfoEntry& e) { return e.heap() == heap; });
}

// Rows of one size in one heap with one pass count fold into one: the count grows by one per
// added block (not for an entry with inUse 0); another heap or pass count makes a new row. A
// row stored without a file gets ".none" of its own; a row with one keeps a copy.
TEST(HeapReport, EqualBlocksFoldIntoOneRow)
{
    OxHeap mine(u"report test");
    OxHeap other(u"other test heap");
    OxHeapInfo info;
    const int before = info.numEntries();
    OxHeapInfoEntry block = row(&mine, 1, 24);
    EXPECT_STREQ(".none", block.file());
    OxHeapInfoEntry zero = row(&mine, 0, 24);
    OxHeapInfoEntry elsewhere = row(&other, 1, 24);
    OxHeapInfoEntry laterPass = row(&mine, 1, 24);
    laterPass.setPassCount(3);
    OxHeapInfoEntry named = row(&mine, 1, 48, "Geometry.cpp");
    for (OxHeapInfoEntry* e : {&block, &block, &zero, &elsewhere, &laterPass, &named})
        info.addEntry(*e);
    EXPECT_EQ(before + 4, info.numEntries());

    info.sort(OxHeapInfo::kSortByFile);
    std::vector<std::tuple<int, std::uint32_t, std::string>> rows;
    for (OxHeapInfoEntry* e = info.first(); e != nullptr; e = info.next())
        if (e->heap() == &mine)
            rows.emplace_back(e->inUse(), e->size(), e->file());
    EXPECT_EQ((std::vector<std::tuple<int, std::uint32_t, std::string>>{
                  {2, 24, ".none"}, {1, 24, ".none"}, {1, 48, "Geometry.cpp"}}),
              rows);
    EXPECT_EQ((Rows{{1, 24}}), rowsOf(info, &other));
}

// The orders: heaps first (by address), then each order's keys; three blocks of 100 bytes total more than one
// of 200. The listing exists only after sort, and each sort lists every row once, not again beside the
// earlier listing.
TEST(HeapReport, SortListsEveryRowOnceInEachOrder)
{
    OxHeap mine(u"report test");
    OxHeapInfo info;
    EXPECT_EQ(nullptr, info.first());
    EXPECT_EQ(nullptr, info.next());
    for (auto [count, size] : {std::pair{3, 100}, {1, 200}, {2, 8}, {1, 400}}) {
        for (int i = 0; i < count; ++i) {
            OxHeapInfoEntry e = row(&mine, 1, size);
            info.addEntry(e);
        }
    }
    info.sort(OxHeapInfo::kSortBySize);
    EXPECT_EQ((Rows{{2, 8}, {3, 100}, {1, 200}, {1, 400}}), rowsOf(info, &mine));
    info.sort(OxHeapInfo::kSortByCount);
    EXPECT_EQ((Rows{{1, 200}, {1, 400}, {2, 8}, {3, 100}}), rowsOf(info, &mine));
    info.sort(OxHeapInfo::kSortByTotal);
    EXPECT_EQ((Rows{{2, 8}, {1, 200}, {3, 100}, {1, 400}}), rowsOf(info, &mine));
    info.sort(static_cast<OxHeapInfo::OxHeapSort>(7)); // any other value sorts by file
    EXPECT_EQ((Rows{{2, 8}, {3, 100}, {1, 200}, {1, 400}}), rowsOf(info, &mine));

    int listed = 0;
    for (OxHeapInfoEntry *e = info.first(), *previous = nullptr; e != nullptr;
         previous = e, e = info.next(), ++listed)
        EXPECT_FALSE(previous != nullptr && std::less<OxHeap*>()(e->heap(), previous->heap()))
            << "heaps in order";
    EXPECT_EQ(info.numEntries(), listed);
    EXPECT_TRUE(oxHeapSnapshot(nullptr));
}

// A private heap appears under a heap object of its own name with its busy blocks folded and
// region rows with the committed size; its rows carry no file, line or stack. The small-block
// heap appears under the "OrkaHeap" heap object: its live blocks by class, and one summary row
// with the committed size of the pages that carry blocks.
TEST(HeapReport, PictureHoldsThePrivateHeapsAndTheSmallBlockHeap)
{
    void* heap = oxHeapCreate(0);
    void* blocks[] = {oxHeapAlloc(heap, 24), oxHeapAlloc(heap, 24), oxHeapAlloc(heap, 1000)};
    std::vector<void*> smallBlocks;
    for (int i = 0; i < 5; ++i)
        smallBlocks.push_back(__oxMallocAligned(100));
    char name[32];
    std::snprintf(name, sizeof name, "Win32Heap %x\n",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(heap)));
    const std::u16string expected(name, name + std::strlen(name));
    OxHeapInfo info;
    info.sort(OxHeapInfo::kSortBySize);

    int regions = 0;
    const Rows rows = rowsOf(info, [&](const OxHeapInfoEntry& e) {
        if (e.heap() == nullptr || e.heap()->name() != expected)
            return false;
        EXPECT_STREQ(e.inUse() == -1 ? "Region.dwCommittedSize" : ".none", e.file());
        EXPECT_TRUE(e.line() == 0 && e.stackBot() == nullptr);
        regions += e.inUse() == -1 && e.size() > 0;
        return e.inUse() != -1;
    });
    EXPECT_EQ((Rows{{2, 24}, {1, 1000}}), rows);
    EXPECT_GE(regions, 1);

    const Rows small = rowsOf(info, [](const OxHeapInfoEntry& e) {
        if (e.heap() == nullptr || e.heap()->pool().low != kOxHeapPoolSmallBlock)
            return false;
        EXPECT_EQ(std::u16string_view(u"OrkaHeap"), e.heap()->name());
        return true;
    });
    auto isSummary = [](std::pair<int, std::uint32_t> r) { return r.first == -1; };
    ASSERT_EQ(1, std::count_if(small.begin(), small.end(), isSummary));
    const std::uint32_t committed = std::find_if(small.begin(), small.end(), isSummary)->second;
    EXPECT_TRUE(committed % 4096 == 0 && committed >= 4096);
    EXPECT_LE(committed, OxHeap(OxHeapPool(kOxHeapPoolSmallBlock)).heapSize());
    EXPECT_TRUE(
        std::any_of(small.begin(), small.end(), [](auto r) { return r.second == 104 && r.first >= 5; }));
    for (void* p : blocks)
        oxHeapFree(heap, p);
    oxHeapDestroy(heap);
    for (void* p : smallBlocks)
        __oxFreeAligned(p);
}

// Copies of an entry own their file text (a shared one would be freed twice); the size is
// kept in 32 bits.
TEST(HeapReportEntry, CopiesOwnTheirFile)
{
    OxHeapInfoEntry original = row(nullptr, 1, 0x1'0000'0010, "Arc.cpp");
    EXPECT_EQ(0x10u, original.size());
    OxHeapInfoEntry copy(original);
    OxHeapInfoEntry assigned = row(nullptr, 1, 8, "Old.cpp");
    assigned = original;
    const OxHeapInfoEntry& itself = assigned;
    assigned = itself;
    EXPECT_TRUE(original.file() != copy.file() && original.file() != assigned.file());
    EXPECT_TRUE(std::string(copy.file()) == "Arc.cpp" && std::string(assigned.file()) == "Arc.cpp");
}

} // namespace
