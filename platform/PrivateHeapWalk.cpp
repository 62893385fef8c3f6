// platform/PrivateHeapWalk.cpp
// Walking and validating a private heap. A walk keeps no state between calls: each call finds
// the entry it was given from its address alone (the segment table and the block-start bitmap),
// so a stale or forged entry is refused instead of followed. Entries come segment by segment in
// address order (a region entry, then its blocks), then the blocks of their own mapping.

#include "platform/PrivateHeap.h"

#include <algorithm>
#include <bit>

namespace win::heaps {
namespace {

DWORD cappedDword(std::size_t value)
{
    return static_cast<DWORD>(std::min<std::size_t>(value, 0xFFFFFFFFu));
}

BYTE cappedByte(std::size_t value)
{
    return static_cast<BYTE>(std::min<std::size_t>(value, 0xFF));
}

BOOL endOfWalk()
{
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
}

BOOL notAnEntry()
{
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

} // namespace

BOOL PrivateHeap::walk(PROCESS_HEAP_ENTRY* entry)
{
    CriticalSectionGuard guard(mLock);
    const void* at = entry->lpData;
    if (at == nullptr)
        return fillAfterSegment(0, entry);
    if (entry->wFlags & PROCESS_HEAP_REGION) {
        const std::size_t index = segmentIndexOf(at);
        if (index == kNotFound || mSegments.items[index] != at)
            return notAnEntry();
        return fillBlock(index, reinterpret_cast<const BlockHeader*>(mSegments.items[index]->blocks), entry);
    }
    if (const std::size_t index = segmentIndexOf(at); index != kNotFound) {
        const BlockHeader* block = blockAt(mSegments.items[index], at);
        if (block == nullptr)
            return notAnEntry();
        const BlockHeader* next = nextOf(block);
        return (next->flags & kSentinel) ? fillAfterSegment(index + 1, entry) : fillBlock(index, next, entry);
    }
    const std::size_t index = largeIndexOf(at);
    if (index == kNotFound)
        return notAnEntry();
    return index + 1 < mLarge.count ? fillLarge(index + 1, entry) : endOfWalk();
}

BOOL PrivateHeap::fillAfterSegment(std::size_t index, PROCESS_HEAP_ENTRY* entry) const
{
    if (index < mSegments.count)
        return fillRegion(index, entry);
    return mLarge.count != 0 ? fillLarge(0, entry) : endOfWalk();
}

// A region entry stands for a segment: lpData is the segment's mapping, cbData the bytes in
// front of its first block (record and bitmap), the committed size the whole mapping (every
// page of a segment is accessible; none is left uncommitted), lpFirstBlock the first block's
// header and lpLastBlock the address just past the last block.
BOOL PrivateHeap::fillRegion(std::size_t index, PROCESS_HEAP_ENTRY* entry) const
{
    const Segment* segment = mSegments.items[index];
    *entry = PROCESS_HEAP_ENTRY{};
    entry->lpData = const_cast<Segment*>(segment);
    entry->cbData =
        cappedDword(static_cast<std::size_t>(segment->blocks - reinterpret_cast<const char*>(segment)));
    entry->iRegionIndex = cappedByte(index);
    entry->wFlags = PROCESS_HEAP_REGION;
    entry->Region.dwCommittedSize = cappedDword(segment->mappingBytes);
    entry->Region.dwUnCommittedSize = 0;
    entry->Region.lpFirstBlock = segment->blocks;
    entry->Region.lpLastBlock = segment->end;
    return TRUE;
}

// A busy block answers its requested size and, as overhead, its header and padding; a free
// block its whole size after the header.
BOOL PrivateHeap::fillBlock(std::size_t index, const BlockHeader* block, PROCESS_HEAP_ENTRY* entry) const
{
    *entry = PROCESS_HEAP_ENTRY{};
    entry->lpData = dataOf(block);
    entry->iRegionIndex = cappedByte(index);
    if (block->flags & kBusy) {
        entry->cbData = cappedDword(requestedSize(block));
        entry->cbOverhead = cappedByte(kHeaderBytes + block->padding);
        entry->wFlags = PROCESS_HEAP_ENTRY_BUSY;
    } else {
        entry->cbData = cappedDword(std::size_t{block->units} * kGranule - kHeaderBytes);
        entry->cbOverhead = static_cast<BYTE>(kHeaderBytes);
    }
    return TRUE;
}

BOOL PrivateHeap::fillLarge(std::size_t index, PROCESS_HEAP_ENTRY* entry) const
{
    const LargeBlock& block = mLarge.items[index];
    *entry = PROCESS_HEAP_ENTRY{};
    entry->lpData = block.base;
    entry->cbData = cappedDword(block.requested);
    entry->cbOverhead = cappedByte(block.mappingBytes - block.requested);
    entry->wFlags = PROCESS_HEAP_ENTRY_BUSY;
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Validation: every invariant stated beside Segment, checked in one pass over the segments and
// one over the bins. Any pointer is checked for lying in a segment before it is followed, so a
// corrupted link makes the answer FALSE rather than a crash.

bool PrivateHeap::validateHeap() const
{
    std::size_t freeBlocks = 0;
    std::size_t segmentBytes = 0;
    std::uintptr_t previousEnd = 0;
    for (std::size_t i = 0; i < mSegments.count; ++i) {
        const Segment* segment = mSegments.items[i];
        const auto base = reinterpret_cast<std::uintptr_t>(segment);
        if (base < previousEnd || !validateSegment(segment, freeBlocks))
            return false;
        previousEnd = base + segment->mappingBytes;
        segmentBytes += segment->mappingBytes;
    }
    if (segmentBytes != mSegmentBytes || !validateBins(freeBlocks))
        return false;
    previousEnd = 0;
    for (std::size_t i = 0; i < mLarge.count; ++i) {
        const LargeBlock& block = mLarge.items[i];
        const auto base = reinterpret_cast<std::uintptr_t>(block.base);
        if (base < previousEnd || block.requested > block.mappingBytes ||
            block.mappingBytes % kPageSize != 0 || segmentIndexOf(block.base) != kNotFound)
            return false;
        previousEnd = base + block.mappingBytes;
    }
    return true;
}

bool PrivateHeap::validateSegment(const Segment* segment, std::size_t& freeBlocks) const
{
    const char* base = reinterpret_cast<const char*>(segment);
    const std::size_t bytes = segment->mappingBytes;
    if (bytes % kPageSize != 0 || bytes < kPageSize ||
        segment->starts != reinterpret_cast<const std::uint64_t*>(base + sizeof(Segment)) ||
        segment->blocks != base + sizeof(Segment) + bytes / 128 ||
        segment->end != base + bytes - kHeaderBytes)
        return false;

    std::size_t blocks = 0;
    std::uint32_t previousUnits = 0;
    bool previousFree = false;
    const char* at = segment->blocks;
    while (at < segment->end) {
        const auto* block = reinterpret_cast<const BlockHeader*>(at);
        const std::size_t room = static_cast<std::size_t>(segment->end - at) / kGranule;
        if (block->units < kMinimumUnits || block->units > room || block->prevUnits != previousUnits ||
            block->segmentUnits != static_cast<std::size_t>(at - base) / kGranule || !isStart(segment, block))
            return false;
        if (block->flags == kBusy) {
            if (block->padding > 2 * kGranule)
                return false;
            previousFree = false;
        } else {
            if (block->flags != 0 || block->padding != 0 || previousFree)
                return false;
            previousFree = true;
            ++freeBlocks;
        }
        ++blocks;
        previousUnits = block->units;
        at += std::size_t{block->units} * kGranule;
    }
    const auto* sentinel = reinterpret_cast<const BlockHeader*>(segment->end);
    if (at != segment->end || sentinel->flags != (kBusy | kSentinel) || sentinel->prevUnits != previousUnits)
        return false;

    std::size_t marked = 0;
    for (std::size_t word = 0; word < bytes / 1024; ++word)
        marked += static_cast<std::size_t>(std::popcount(segment->starts[word]));
    return marked == blocks;
}

bool PrivateHeap::validateBins(std::size_t freeBlocks) const
{
    std::size_t listed = 0;
    for (unsigned bin = 0; bin < kBinCount; ++bin) {
        const bool marked = (mBinMap[bin / 64] >> (bin % 64)) & 1;
        if (marked != (mBins[bin] != nullptr))
            return false;
        const FreeBlock* previous = nullptr;
        for (const FreeBlock* block = mBins[bin]; block != nullptr; block = block->next) {
            if (++listed > freeBlocks)
                return false; // more members than free blocks: a cycle or a stray link
            const Segment* segment = segmentOf(block);
            if (segment == nullptr || blockAt(segment, dataOf(block)) != block)
                return false;
            if (block->flags != 0 || binOf(block->units) != bin || block->prev != previous)
                return false;
            previous = block;
        }
    }
    return listed == freeBlocks;
}

} // namespace win::heaps
