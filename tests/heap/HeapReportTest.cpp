// tests/heap/HeapReportTest.cpp
// Heap reports: folding of equal rows, the four orders, the listing, and the picture of the
// private heaps and the small-block heap.

#include <oxfirst/OxHeapInfo.h>

#include "platform/win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

OxHeapInfoEntry row(OxHeap* heap, int inUse, std::size_t size)
{
    OxHeapInfoEntry entry;
    entry.setHeap(heap);
    entry.setInUse(inUse);
    entry.setSize(size);
    return entry;
}

char* fileName(const char* text)
{
    char* copy = static_cast<char*>(std::malloc(std::strlen(text) + 1));
    std::strcpy(copy, text);
    return copy;
}

// The rows of one heap in listing order, as (inUse, size) pairs.
std::vector<std::pair<int, std::uint32_t>> rowsOf(OxHeapInfo& info, const OxHeap* heap)
{
    std::vector<std::pair<int, std::uint32_t>> rows;
    for (OxHeapInfoEntry* e = info.first(); e != nullptr; e = info.next())
        if (e->heap() == heap)
            rows.emplace_back(e->inUse(), e->size());
    return rows;
}

std::string narrow(const OXCHAR* text)
{
    std::string out;
    for (; text != nullptr && *text != 0; ++text)
        out += static_cast<char>(*text);
    return out;
}

// Rows of one size in one heap with one pass count fold into one: the count grows by one per
// added block (not for an entry with inUse 0); another heap or pass count makes a new row.
TEST(HeapReport, EqualBlocksFoldIntoOneRow)
{
    OxHeap mine(u"report test");
    OxHeap other(u"other test heap");
    OxHeapInfo info;
    const int before = info.numEntries();
    OxHeapInfoEntry block = row(&mine, 1, 24);
    info.addEntry(block);
    info.addEntry(block);
    OxHeapInfoEntry zero = row(&mine, 0, 24);
    info.addEntry(zero);
    OxHeapInfoEntry elsewhere = row(&other, 1, 24);
    info.addEntry(elsewhere);
    OxHeapInfoEntry laterPass = row(&mine, 1, 24);
    laterPass.setPassCount(3);
    info.addEntry(laterPass);
    EXPECT_EQ(before + 3, info.numEntries());

    info.sort(OxHeapInfo::kSortBySize);
    EXPECT_EQ((std::vector<std::pair<int, std::uint32_t>>{{1, 24}, {2, 24}}), rowsOf(info, &mine));
    EXPECT_EQ((std::vector<std::pair<int, std::uint32_t>>{{1, 24}}), rowsOf(info, &other));
}

// A row stored without a file gets ".none" of its own; a row with one keeps a copy; reading
// the file of an entry without one answers ".none" too.
TEST(HeapReport, RowsWithoutAFileReadNone)
{
    OxHeap mine(u"report test");
    OxHeapInfo info;
    OxHeapInfoEntry plain = row(&mine, 1, 40);
    EXPECT_STREQ(".none", plain.file());
    info.addEntry(plain);
    OxHeapInfoEntry named = row(&mine, 1, 48);
    named.setFile(fileName("Geometry.cpp"));
    named.setLine(12);
    info.addEntry(named);
    info.sort(OxHeapInfo::kSortByFile);
    std::vector<std::string> files;
    for (OxHeapInfoEntry* e = info.first(); e != nullptr; e = info.next())
        if (e->heap() == &mine)
            files.push_back(e->file());
    EXPECT_EQ((std::vector<std::string>{".none", "Geometry.cpp"}), files);
}

// The orders: heaps first (by address), then each order's keys. Three blocks of 100 bytes
// total more than one of 200.
TEST(HeapReport, SortOrders)
{
    OxHeap mine(u"report test");
    OxHeapInfo info;
    for (auto [count, size] : {std::pair{3, 100}, {1, 200}, {2, 8}, {1, 400}}) {
        for (int i = 0; i < count; ++i) {
            OxHeapInfoEntry e = row(&mine, 1, size);
            info.addEntry(e);
        }
    }
    using Rows = std::vector<std::pair<int, std::uint32_t>>;
    info.sort(OxHeapInfo::kSortBySize);
    EXPECT_EQ((Rows{{2, 8}, {3, 100}, {1, 200}, {1, 400}}), rowsOf(info, &mine));
    info.sort(OxHeapInfo::kSortByCount);
    EXPECT_EQ((Rows{{1, 200}, {1, 400}, {2, 8}, {3, 100}}), rowsOf(info, &mine));
    info.sort(OxHeapInfo::kSortByTotal);
    EXPECT_EQ((Rows{{2, 8}, {1, 200}, {3, 100}, {1, 400}}), rowsOf(info, &mine));
    info.sort(static_cast<OxHeapInfo::OxHeapSort>(7)); // any other value sorts by file
    EXPECT_EQ((Rows{{2, 8}, {3, 100}, {1, 200}, {1, 400}}), rowsOf(info, &mine));

    OxHeapInfoEntry* previous = nullptr;
    for (OxHeapInfoEntry* e = info.first(); e != nullptr; previous = e, e = info.next()) {
        if (previous != nullptr) {
            EXPECT_FALSE(std::less<OxHeap*>()(e->heap(), previous->heap()));
        }
    }
}

// The listing exists only after sort; sorting again lists every row once, not twice.
TEST(HeapReport, ListingIsRebuiltBySort)
{
    OxHeapInfo info(5);
    EXPECT_EQ(5, info.showPassCounts());
    EXPECT_EQ(nullptr, info.first());
    EXPECT_EQ(nullptr, info.next());
    info.sort(OxHeapInfo::kSortBySize);
    info.sort(OxHeapInfo::kSortByCount);
    int listed = 0;
    for (OxHeapInfoEntry* e = info.first(); e != nullptr; e = info.next())
        ++listed;
    EXPECT_EQ(info.numEntries(), listed);
    EXPECT_EQ(nullptr, info.next());
    EXPECT_EQ(0, OxHeapInfo().showPassCounts());
    EXPECT_TRUE(oxHeapSnapshot(u"ignored"));
    EXPECT_TRUE(oxHeapSnapshot(nullptr));
}

// A private heap appears under a heap object of its own name with its busy blocks folded and
// a region row with the committed size.
TEST(HeapReport, PictureHoldsThePrivateHeaps)
{
    void* heap = oxHeapCreate(0);
    void* a = oxHeapAlloc(heap, 24);
    void* b = oxHeapAlloc(heap, 24);
    void* c = oxHeapAlloc(heap, 1000);
    char expected[32];
    std::snprintf(expected, sizeof expected, "Win32Heap %x\n",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(heap)));
    OxHeapInfo info;
    info.sort(OxHeapInfo::kSortBySize);
    const OxHeap* named = nullptr;
    for (OxHeapInfoEntry* e = info.first(); e != nullptr; e = info.next())
        if (e->heap() != nullptr && narrow(e->heap()->name()) == expected)
            named = e->heap();
    ASSERT_NE(nullptr, named);
    int regions = 0;
    for (OxHeapInfoEntry* e = info.first(); e != nullptr; e = info.next()) {
        if (e->heap() != named)
            continue;
        if (e->inUse() == -1) {
            ++regions;
            EXPECT_STREQ("Region.dwCommittedSize", e->file());
            EXPECT_GT(e->size(), 0u);
        } else {
            EXPECT_TRUE((e->inUse() == 2 && e->size() == 24) || (e->inUse() == 1 && e->size() == 1000))
                << e->inUse() << " x " << e->size();
            EXPECT_STREQ(".none", e->file());
        }
        EXPECT_EQ(0, e->line());
        EXPECT_EQ(nullptr, e->stackBot());
    }
    EXPECT_GE(regions, 1);
    oxHeapFree(heap, a);
    oxHeapFree(heap, b);
    oxHeapFree(heap, c);
    oxHeapDestroy(heap);
}

// The small-block heap appears under the "OrkaHeap" heap object: its live blocks by class,
// and a last row with the committed size of the pages that carry blocks.
TEST(HeapReport, PictureHoldsTheSmallBlockHeap)
{
    std::vector<void*> blocks;
    for (int i = 0; i < 5; ++i)
        blocks.push_back(__oxMallocAligned(100));
    OxHeapInfo info;
    info.sort(OxHeapInfo::kSortBySize);
    int blocksOf104 = 0;
    int summaries = 0;
    for (OxHeapInfoEntry* e = info.first(); e != nullptr; e = info.next()) {
        if (e->heap() == nullptr || e->heap()->pool().low != kOxHeapPoolSmallBlock)
            continue;
        EXPECT_EQ(std::u16string_view(u"OrkaHeap"), e->heap()->name());
        if (e->inUse() == -1) {
            ++summaries;
            EXPECT_EQ(0u, e->size() % 4096);
            EXPECT_GE(e->size(), 4096u);
            EXPECT_LE(e->size(), e->heap()->heapSize());
        } else if (e->size() == 104) {
            blocksOf104 = e->inUse();
        }
    }
    EXPECT_EQ(1, summaries);
    EXPECT_GE(blocksOf104, 5);
    for (void* p : blocks)
        __oxFreeAligned(p);
}

// A report is taken while other threads allocate from both kinds of heap.
TEST(HeapReport, PictureIsTakenBesideAllocatingThreads)
{
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        void* heap = oxHeapCreate(0);
        while (!stop.load()) {
            void* a = __oxMallocAligned(64);
            void* b = oxHeapAlloc(heap, 64);
            __oxFreeAligned(a);
            oxHeapFree(heap, b);
        }
        oxHeapDestroy(heap);
    });
    for (int i = 0; i < 5; ++i) {
        OxHeapInfo info;
        info.sort(OxHeapInfo::kSortByTotal);
        EXPECT_GT(info.numEntries(), 0);
    }
    stop = true;
    worker.join();
}

// Copies of an entry own their file text.
TEST(HeapReportEntry, CopiesOwnTheirFile)
{
    OxHeapInfoEntry original;
    original.setFile(fileName("Arc.cpp"));
    original.setSize(0x1'0000'0010);
    EXPECT_EQ(0x10u, original.size());
    OxHeapInfoEntry copy(original);
    EXPECT_NE(original.file(), copy.file());
    EXPECT_STREQ("Arc.cpp", copy.file());
    OxHeapInfoEntry assigned;
    assigned.setFile(fileName("Old.cpp"));
    assigned = original;
    EXPECT_STREQ("Arc.cpp", assigned.file());
    assigned = assigned;
    EXPECT_STREQ("Arc.cpp", assigned.file());
}

// With no small-block region in the process the small-block part of a report is only its
// summary row, {-1, 0}. Runs with the heap switched off (see tests/CMakeLists.txt).
TEST(SmallBlockHeapSwitchedOff, ReportHasOnlyTheEmptySummary)
{
    if (std::getenv("disableOrkaHeap") == nullptr && std::getenv("CRTLeakReport") == nullptr)
        GTEST_SKIP() << "needs disableOrkaHeap or CRTLeakReport at load";
    OxHeapInfo info;
    info.sort(OxHeapInfo::kSortBySize);
    std::vector<std::pair<int, std::uint32_t>> rows;
    for (OxHeapInfoEntry* e = info.first(); e != nullptr; e = info.next())
        if (e->heap() != nullptr && e->heap()->pool().low == kOxHeapPoolSmallBlock)
            rows.emplace_back(e->inUse(), e->size());
    EXPECT_EQ((std::vector<std::pair<int, std::uint32_t>>{{-1, 0}}), rows);
}

} // namespace
