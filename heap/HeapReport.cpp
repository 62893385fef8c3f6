// heap/HeapReport.cpp
// Heap reports: rows kept in a multimap by size, folded by (size, heap, pass count), listed
// through a vector of pointers that sort() rebuilds from scratch each time. Everything the
// report stores comes from the C runtime heap, so walking a heap (under that heap's lock, or
// the small-block lock) never allocates from the heap being walked.

#include <oxfirst/OxHeapInfo.h>

#include "heap/HeapInternal.h"

#include "platform/win.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <new>
#include <vector>

namespace {

char* duplicate(const char* text)
{
    if (text == nullptr)
        return nullptr;
    const std::size_t length = std::strlen(text);
    auto* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy != nullptr)
        std::memcpy(copy, text, length + 1);
    return copy;
}

bool heapBefore(const OxHeapInfoEntry* a, const OxHeapInfoEntry* b)
{
    return std::less<OxHeap*>()(a->heap(), b->heap());
}

std::uint32_t totalOf(const OxHeapInfoEntry* e)
{
    return static_cast<std::uint32_t>(e->inUse()) * e->size();
}

// The comparison of an order: heap first, then the order's own keys.
bool comesBefore(OxHeapInfo::OxHeapSort order, const OxHeapInfoEntry* a, const OxHeapInfoEntry* b)
{
    if (a->heap() != b->heap())
        return heapBefore(a, b);
    switch (order) {
    case OxHeapInfo::kSortBySize:
        if (a->size() != b->size())
            return a->size() < b->size();
        return a->inUse() < b->inUse();
    case OxHeapInfo::kSortByCount:
        if (a->inUse() != b->inUse())
            return a->inUse() < b->inUse();
        return a->size() < b->size();
    case OxHeapInfo::kSortByTotal:
        if (totalOf(a) != totalOf(b))
            return totalOf(a) < totalOf(b);
        return a->size() < b->size();
    default:
        if (const int files = std::strcmp(a->file(), b->file()); files != 0)
            return files < 0;
        if (a->line() != b->line())
            return a->line() < b->line();
        if (a->size() != b->size())
            return a->size() < b->size();
        if (a->passCount() != b->passCount())
            return a->passCount() < b->passCount();
        return a->inUse() < b->inUse();
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// OxHeapInfoEntry

OxHeapInfoEntry::OxHeapInfoEntry() noexcept
    : mInUse(0), mSize(0), mFile(nullptr), mLine(0), mPassCount(0), mAllocCount(0), mStack(nullptr),
      mHeap(nullptr)
{
}

OxHeapInfoEntry::OxHeapInfoEntry(const OxHeapInfoEntry& other) noexcept
    : mInUse(other.mInUse), mSize(other.mSize), mFile(duplicate(other.mFile)), mLine(other.mLine),
      mPassCount(other.mPassCount), mAllocCount(other.mAllocCount), mStack(other.mStack), mHeap(other.mHeap)
{
}

OxHeapInfoEntry& OxHeapInfoEntry::operator=(const OxHeapInfoEntry& other) noexcept
{
    if (this == &other)
        return *this;
    char* file = duplicate(other.mFile);
    std::free(mFile);
    mFile = file;
    mInUse = other.mInUse;
    mSize = other.mSize;
    mLine = other.mLine;
    mPassCount = other.mPassCount;
    mAllocCount = other.mAllocCount;
    mStack = other.mStack;
    mHeap = other.mHeap;
    return *this;
}

OxHeapInfoEntry::~OxHeapInfoEntry()
{
    std::free(mFile);
    mFile = nullptr;
}

// ---------------------------------------------------------------------------------------------
// OxHeapInfo

struct OxHeapInfo::Report {
    std::multimap<std::uint32_t, OxHeapInfoEntry> rows; // by size, ascending
    int rowCount = 0;
    std::vector<OxHeapInfoEntry*> listing; // filled by sort()
    std::size_t cursor = 0;
    bool sorted = false;
    int showPassCounts = 0;
};

void OxHeapInfo::addRows(OxHeapInfoEntry& entry, std::uint32_t count)
{
    if (count == 0)
        return;
    auto [from, to] = mpReport->rows.equal_range(entry.mSize);
    for (auto row = from; row != to; ++row) {
        OxHeapInfoEntry& stored = row->second;
        if (stored.mHeap == entry.mHeap && stored.mPassCount == entry.mPassCount) {
            if (entry.mInUse != 0)
                stored.mInUse += static_cast<int>(count);
            return;
        }
    }
    OxHeapInfoEntry& stored = mpReport->rows.emplace(entry.mSize, entry)->second;
    if (stored.mFile == nullptr)
        stored.mFile = duplicate(".none");
    ++mpReport->rowCount;
    if (entry.mInUse != 0)
        stored.mInUse += static_cast<int>(count - 1);
}

OxHeapInfo::OxHeapInfo() noexcept : OxHeapInfo(0) {}

OxHeapInfo::OxHeapInfo(int showPassCounts) noexcept : mpReport(new (std::nothrow) Report)
{
    if (mpReport == nullptr)
        return;
    mpReport->showPassCounts = showPassCounts;
    takePicture();
}

OxHeapInfo::~OxHeapInfo()
{
    delete mpReport;
}

void OxHeapInfo::takePicture() noexcept
{
    try {
        const win::DWORD count = win::GetProcessHeaps(0, nullptr);
        std::vector<win::HANDLE> heaps(count);
        if (count != 0 && win::GetProcessHeaps(count, heaps.data()) == count) {
            for (win::HANDLE handle : heaps) {
                // "Win32Heap %x\n" with the low 32 bits of the handle, in a 32-unit buffer.
                char narrow[32];
                std::snprintf(narrow, sizeof narrow, "Win32Heap %x\n",
                              static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(handle)));
                const std::size_t length = std::strlen(narrow);
                auto* name = static_cast<OXCHAR*>(std::malloc((length + 1) * sizeof(OXCHAR)));
                if (name != nullptr)
                    std::copy(narrow, narrow + length + 1, name);
                OxHeap* named = new (std::nothrow) OxHeap(static_cast<const OXCHAR*>(name));
                if (!win::HeapLock(handle))
                    continue;
                win::PROCESS_HEAP_ENTRY walk{};
                while (win::HeapWalk(handle, &walk)) {
                    OxHeapInfoEntry row;
                    row.setHeap(named);
                    if (walk.wFlags & win::PROCESS_HEAP_ENTRY_BUSY) {
                        row.setInUse(1);
                        row.setSize(walk.cbData);
                        addRows(row, 1);
                    } else if (walk.wFlags & win::PROCESS_HEAP_REGION) {
                        row.setInUse(-1);
                        row.setSize(walk.Region.dwCommittedSize);
                        row.setFile(const_cast<char*>("Region.dwCommittedSize"));
                        addRows(row, 1);
                        row.setFile(nullptr); // the literal is not the row's to free
                    }
                }
                win::HeapUnlock(handle);
            }
        }

        OxHeap* smallBlocks = oxheap::heapForPool(OxHeapPool(kOxHeapPoolSmallBlock));
        struct Visit {
            OxHeapInfo* info;
            OxHeap* heap;
        } visit{this, smallBlocks};
        const std::size_t committed = oxheap::walkSmallBlockHeap(
            [](void* context, std::uint32_t blockSize, std::uint32_t usedBlocks) {
                auto* v = static_cast<Visit*>(context);
                OxHeapInfoEntry row;
                row.setInUse(1);
                row.setSize(blockSize);
                row.setHeap(v->heap);
                try {
                    v->info->addRows(row, usedBlocks);
                } catch (const std::bad_alloc&) {
                }
            },
            &visit);
        OxHeapInfoEntry summary;
        summary.setInUse(-1);
        summary.setSize(committed);
        summary.setHeap(smallBlocks);
        addRows(summary, 1);
    } catch (const std::bad_alloc&) {
        // The rows stored so far stay; the rest of the picture is missing.
    }
}

void OxHeapInfo::addEntry(OxHeapInfoEntry& entry) noexcept
{
    if (mpReport == nullptr)
        return;
    try {
        addRows(entry, 1);
    } catch (const std::bad_alloc&) {
    }
}

void OxHeapInfo::sort(OxHeapSort order) noexcept
{
    if (mpReport == nullptr)
        return;
    Report& report = *mpReport;
    report.listing.clear();
    report.cursor = 0;
    try {
        report.listing.reserve(report.rows.size());
    } catch (const std::bad_alloc&) {
        report.sorted = false;
        return;
    }
    for (auto& [size, row] : report.rows)
        report.listing.push_back(&row);
    std::sort(
        report.listing.begin(), report.listing.end(),
        [order](const OxHeapInfoEntry* a, const OxHeapInfoEntry* b) { return comesBefore(order, a, b); });
    report.sorted = true;
}

OxHeapInfoEntry* OxHeapInfo::first() noexcept
{
    if (mpReport == nullptr || !mpReport->sorted)
        return nullptr;
    mpReport->cursor = 0;
    return mpReport->listing.empty() ? nullptr : mpReport->listing[0];
}

OxHeapInfoEntry* OxHeapInfo::next() noexcept
{
    if (mpReport == nullptr || !mpReport->sorted || mpReport->cursor + 1 >= mpReport->listing.size()) {
        if (mpReport != nullptr)
            mpReport->cursor = mpReport->listing.size();
        return nullptr;
    }
    return mpReport->listing[++mpReport->cursor];
}

int OxHeapInfo::numEntries() const noexcept
{
    return mpReport != nullptr ? mpReport->rowCount : 0;
}

int OxHeapInfo::showPassCounts() const noexcept
{
    return mpReport != nullptr ? mpReport->showPassCounts : 0;
}

bool oxHeapSnapshot(const OXCHAR*) noexcept
{
    return true;
}
