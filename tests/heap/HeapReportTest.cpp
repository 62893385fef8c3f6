// tests/heap/HeapReportTest.cpp
// Heap reports: folding of equal rows, the orders, and the picture of the private and small-block heaps.

#include <oxfirst/OxHeapInfo.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Row = std::tuple<int, std::uint32_t, std::string>; // inUse, size, file
using Rows = std::vector<Row>;

OxHeapInfoEntry row(OxHeap* heap, int inUse, std::size_t size, const char* file = nullptr)
{
    OxHeapInfoEntry entry;
    entry.setHeap(heap);
    entry.setInUse(inUse);
    entry.setSize(size);
    entry.setFile(file != nullptr ? strdup(file) : nullptr); // the entry takes the malloc'ed text
    return entry;
}

// The listed rows of `heap`, or those that `wanted` accepts, in listing order.
Rows rowsOf(OxHeapInfo& info, const OxHeap* heap,
            const std::function<bool(const OxHeapInfoEntry&)>& wanted = {})
{
    Rows rows;
    for (OxHeapInfoEntry* e = info.first(); e != nullptr; e = info.next())
        if (wanted ? wanted(*e) : e->heap() == heap)
            rows.emplace_back(e->inUse(), e->size(), e->file());
    return rows;
}

// Rows of one size, heap and pass count fold, counting blocks (not inUse 0); files are kept or ".none".
TEST(HeapReport, EqualBlocksFoldIntoOneRow)
{
    OxHeap mine(u"report test");
    OxHeap other(u"other test heap");
    OxHeapInfo info;
    const int before = info.numEntries();
    OxHeapInfoEntry block = row(&mine, 1, 24);
    OxHeapInfoEntry zero = row(&mine, 0, 24);
    OxHeapInfoEntry elsewhere = row(&other, 1, 24);
    OxHeapInfoEntry laterPass = row(&mine, 1, 24);
    laterPass.setPassCount(3);
    OxHeapInfoEntry named = row(&mine, 1, 48, "Geometry.cpp");
    for (OxHeapInfoEntry* e : {&block, &block, &zero, &elsewhere, &laterPass, &named})
        info.addEntry(*e);
    EXPECT_EQ(before + 4, info.numEntries());
    info.sort(OxHeapInfo::kSortByFile);
    EXPECT_EQ((Rows{{2, 24, ".none"}, {1, 24, ".none"}, {1, 48, "Geometry.cpp"}}), rowsOf(info, &mine));
    EXPECT_EQ((Rows{{1, 24, ".none"}}), rowsOf(info, &other));
}

// Heaps come first (by address), then each order's keys (3 blocks of 100 total more than one of 200;
// any other order is by file); the listing exists only after sort, and lists every row once.
TEST(HeapReport, SortListsEveryRowOnceInEachOrder)
{
    OxHeap mine(u"report test");
    OxHeapInfo info;
    EXPECT_TRUE(info.first() == nullptr && info.next() == nullptr);
    for (auto [count, size] : {std::pair{3, 100}, {1, 200}, {2, 8}, {1, 400}})
        for (int i = 0; i < count; ++i) {
            OxHeapInfoEntry e = row(&mine, 1, size);
            info.addEntry(e);
        }
    const OxHeapInfo::OxHeapSort orders[] = {OxHeapInfo::kSortBySize, OxHeapInfo::kSortByCount,
                                             OxHeapInfo::kSortByTotal,
                                             static_cast<OxHeapInfo::OxHeapSort>(7)};
    const std::string listings[] = {"8 100 200 400 ", "200 400 8 100 ", "8 200 100 400 ", "8 100 200 400 "};
    for (int i = 0; i < 4; ++i) {
        info.sort(orders[i]);
        std::string sizes;
        for (const Row& r : rowsOf(info, &mine))
            sizes += std::to_string(std::get<1>(r)) + " ";
        EXPECT_EQ(listings[i], sizes) << orders[i];
    }
    int listed = 0;
    for (OxHeapInfoEntry *e = info.first(), *previous = nullptr; e != nullptr;
         previous = e, e = info.next(), ++listed)
        EXPECT_FALSE(previous != nullptr && std::less<OxHeap*>()(e->heap(), previous->heap()))
            << "heap order";
    EXPECT_EQ(info.numEntries(), listed);
    EXPECT_TRUE(oxHeapSnapshot(nullptr));
}

// A private heap shows under its own name with folded busy blocks and committed region rows, no
// file, line or stack; the small-block heap shows blocks by class and one committed-size summary.
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

    Rows rows = rowsOf(info, nullptr, [&](const OxHeapInfoEntry& e) {
        const bool ours = e.heap() != nullptr && e.heap()->name() == expected;
        EXPECT_TRUE(!ours || (e.line() == 0 && e.stackBot() == nullptr));
        return ours;
    });
    auto isSummary = [](const Row& r) { return std::get<0>(r) == -1; };
    const auto regions = std::stable_partition(rows.begin(), rows.end(), std::not_fn(isSummary));
    EXPECT_EQ((Rows{{2, 24, ".none"}, {1, 1000, ".none"}}), Rows(rows.begin(), regions));
    EXPECT_TRUE(std::all_of(regions, rows.end(),
                            [](const Row& r) { return std::get<2>(r) == "Region.dwCommittedSize"; }));
    EXPECT_TRUE(std::any_of(regions, rows.end(), [](const Row& r) { return std::get<1>(r) > 0; }));

    const Rows small = rowsOf(info, nullptr, [](const OxHeapInfoEntry& e) {
        return e.heap() != nullptr && e.heap()->pool().low == kOxHeapPoolSmallBlock;
    });
    ASSERT_EQ(1, std::count_if(small.begin(), small.end(), isSummary));
    const std::uint32_t committed = std::get<1>(*std::find_if(small.begin(), small.end(), isSummary));
    EXPECT_TRUE(committed % 4096 == 0 && committed >= 4096);
    EXPECT_LE(committed, OxHeap(OxHeapPool(kOxHeapPoolSmallBlock)).heapSize());
    EXPECT_TRUE(std::any_of(small.begin(), small.end(),
                            [](auto r) { return std::get<1>(r) == 104 && std::get<0>(r) >= 5; }));
    for (void* p : blocks)
        oxHeapFree(heap, p);
    oxHeapDestroy(heap);
    for (void* p : smallBlocks)
        __oxFreeAligned(p);
}

// Copies of an entry own their file text (a shared one would be freed twice); sizes keep 32 bits.
TEST(HeapReportEntry, CopiesOwnTheirFile)
{
    OxHeapInfoEntry original = row(nullptr, 1, 0x1'0000'0010, "Arc.cpp");
    OxHeapInfoEntry copy(original);
    OxHeapInfoEntry assigned = row(nullptr, 1, 8, "Old.cpp");
    assigned = original;
    const OxHeapInfoEntry& itself = assigned;
    assigned = itself;
    EXPECT_TRUE(original.size() == 0x10u && original.file() != copy.file() &&
                original.file() != assigned.file());
    EXPECT_TRUE(std::string(copy.file()) == "Arc.cpp" && std::string(assigned.file()) == "Arc.cpp");
}

} // namespace
