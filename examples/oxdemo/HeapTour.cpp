// examples/oxdemo/HeapTour.cpp
// Fills a private heap, the small-block heap and a fixed-size heap, then prints a heap report:
// one table per heap, rows sorted by total bytes, the small-block heap's committed size last.

#include "Tours.h"

#include <oxfirst/oxfirst.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string nameOf(const OxHeap* heap)
{
    std::string out;
    for (const OXCHAR* text = heap != nullptr ? heap->name() : nullptr; text != nullptr && *text != 0; ++text)
        if (*text != u'\n')
            out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out.empty() ? "(unnamed)" : out;
}

// Prints the rows of one heap, the largest totals last, at most `shown` of them.
void printHeap(const std::vector<OxHeapInfoEntry*>& rows, std::size_t shown)
{
    std::printf("  %s\n", nameOf(rows.front()->heap()).c_str());
    const std::size_t skipped = rows.size() > shown ? rows.size() - shown : 0;
    if (skipped != 0)
        std::printf("    %8s  (%zu smaller rows)\n", "...", skipped);
    for (std::size_t i = skipped; i < rows.size(); ++i) {
        const OxHeapInfoEntry* row = rows[i];
        if (row->inUse() == -1)
            std::printf("    %8s  %6s  %10u  committed\n", "", "", row->size());
        else
            std::printf("    %8u  %6d  %10u\n", row->size(), row->inUse(),
                        static_cast<unsigned>(row->inUse()) * row->size());
    }
}

} // namespace

void heapTour()
{
    void* privateHeap = oxHeapCreate(0);
    std::vector<void*> privateBlocks;
    for (int i = 0; i < 30; ++i)
        privateBlocks.push_back(oxHeapAlloc(privateHeap, i % 3 == 0 ? 4000 : 48));
    std::vector<void*> smallBlocks;
    for (int i = 0; i < 3000; ++i)
        smallBlocks.push_back(__oxMallocAligned(i % 2 == 0 ? 24 : 100));
    OxFixedSizeHeap* points = __oxHeapCreate(16);
    for (int i = 0; i < 1000; ++i)
        __oxHeapMalloc(points);

    OxHeapInfo report;
    report.sort(OxHeapInfo::kSortByTotal);
    std::printf("Heap report (%d rows), per heap, by total bytes:\n", report.numEntries());
    std::printf("    %8s  %6s  %10s\n", "size", "blocks", "total");
    std::vector<OxHeapInfoEntry*> group;
    auto flush = [&] {
        if (!group.empty())
            printHeap(group, 5);
        group.clear();
    };
    for (OxHeapInfoEntry* row = report.first(); row != nullptr; row = report.next()) {
        if (!group.empty() && group.front()->heap() != row->heap())
            flush();
        group.push_back(row);
    }
    flush();

    __oxHeapDestroy(points);
    for (void* p : smallBlocks)
        __oxFreeAligned(p);
    oxHeapDestroy(privateHeap);
}
