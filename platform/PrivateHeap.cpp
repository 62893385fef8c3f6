// platform/PrivateHeap.cpp
// Allocation and release in a private heap. Blocks lie end to end in segments behind 16-byte
// boundary tags; free blocks sit in segregated bins (one per size up to 1 KB, then four per
// power of two) found through a bitmap of the non-empty ones, and merge with both neighbours
// when freed. Requests above 512 KB get a mapping of their own. Segments and
// pointer lookup are in HeapSegments.cpp, walking and validation in PrivateHeapWalk.cpp,
// handles and the C runtime heap in Heaps.cpp.

#include "platform/PrivateHeap.h"

#include <algorithm>
#include <cstring>
#include <sys/mman.h>

namespace win::heaps {
namespace {

/// Largest request whose block has an exact bin: the fast path serves these.
constexpr SIZE_T kSmallRequestLimit = (kExactUnitsLimit - 1) * kGranule - kHeaderBytes;

/// Requests above this get a mapping of their own. Splitting them out of
/// segments would keep whole segments alive for one block; one mapping each costs a system
/// call, which is small next to touching that much memory.
constexpr SIZE_T kLargeRequest = 512 * 1024;

/// Beyond any mapping the system gives; keeps page rounding of a large request from
/// overflowing.
constexpr SIZE_T kMaximumLargeRequest = SIZE_T{1} << 46;

/// The block size for a request; `size` is at most kMaximumSegmentBytes.
std::uint32_t unitsFor(SIZE_T size)
{
    return std::max(kMinimumUnits,
                    static_cast<std::uint32_t>((size + kHeaderBytes + kGranule - 1) / kGranule));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Bins

void PrivateHeap::pushFree(FreeBlock* block)
{
    const unsigned bin = binOf(block->units);
    block->prev = nullptr;
    block->next = mBins[bin];
    if (block->next != nullptr)
        block->next->prev = block;
    else
        mBinMap[bin / 64] |= std::uint64_t{1} << (bin % 64);
    mBins[bin] = block;
}

void PrivateHeap::unlinkFree(FreeBlock* block)
{
    if (block->prev != nullptr) {
        block->prev->next = block->next;
    } else {
        const unsigned bin = binOf(block->units);
        mBins[bin] = block->next;
        if (block->next == nullptr)
            mBinMap[bin / 64] &= ~(std::uint64_t{1} << (bin % 64));
    }
    if (block->next != nullptr)
        block->next->prev = block->prev;
}

FreeBlock* PrivateHeap::findFree(std::uint32_t units)
{
    const unsigned bin = binOf(units);
    unsigned from = bin;
    if (units >= kExactUnitsLimit) {
        // A logarithmic bin spans a range of sizes: its head may be too small, while every
        // block of a higher bin fits.
        FreeBlock* head = mBins[bin];
        if (head != nullptr && head->units >= units) {
            unlinkFree(head);
            return head;
        }
        from = bin + 1;
    }
    for (unsigned word = from / 64; word < kBinMapWords; ++word) {
        std::uint64_t bits = mBinMap[word];
        if (word == from / 64)
            bits &= ~std::uint64_t{0} << (from % 64);
        if (bits != 0) {
            FreeBlock* block = mBins[word * 64 + static_cast<unsigned>(__builtin_ctzll(bits))];
            unlinkFree(block);
            return block;
        }
    }
    // Before the heap grows, search the own bin through: a block there that fits is cheaper
    // than a new segment.
    if (units >= kExactUnitsLimit) {
        for (FreeBlock* block = mBins[bin]; block != nullptr; block = block->next) {
            if (block->units >= units) {
                unlinkFree(block);
                return block;
            }
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Blocks

void PrivateHeap::shrinkInPlace(Segment* segment, BlockHeader* block, std::uint32_t units, SIZE_T size)
{
    // A surplus too small to be a block stays with this one as padding; so padding is at most
    // 32 bytes (a 0-byte request in a 3-unit block).
    if (block->units - units >= kMinimumUnits) {
        auto* rest =
            reinterpret_cast<FreeBlock*>(reinterpret_cast<char*>(block) + std::size_t{units} * kGranule);
        rest->units = block->units - units;
        rest->prevUnits = units;
        rest->segmentUnits = block->segmentUnits + units;
        rest->padding = 0;
        rest->flags = 0;
        rest->reserved = 0;
        block->units = units;
        setStart(segment, rest);
        BlockHeader* next = nextOf(rest);
        if (!(next->flags & kBusy)) {
            unlinkFree(static_cast<FreeBlock*>(next));
            clearStart(segment, next);
            rest->units += next->units;
        }
        nextOf(rest)->prevUnits = rest->units;
        pushFree(rest);
    }
    block->padding = static_cast<std::uint8_t>(std::size_t{block->units} * kGranule - kHeaderBytes - size);
}

void* PrivateHeap::carve(FreeBlock* block, std::uint32_t units, SIZE_T size)
{
    block->flags = kBusy;
    shrinkInPlace(segmentOfBlock(block), block, units, size);
    return dataOf(block);
}

void PrivateHeap::release(Segment* segment, BlockHeader* block)
{
    std::uint32_t units = block->units;
    BlockHeader* next = nextOf(block);
    if (!(next->flags & kBusy)) {
        unlinkFree(static_cast<FreeBlock*>(next));
        clearStart(segment, next);
        units += next->units;
    }
    if (block->prevUnits != 0) {
        BlockHeader* prev = prevOf(block);
        if (!(prev->flags & kBusy)) {
            unlinkFree(static_cast<FreeBlock*>(prev));
            clearStart(segment, block);
            units += prev->units;
            block = prev;
        }
    }
    block->units = units;
    block->flags = 0;
    block->padding = 0;
    nextOf(block)->prevUnits = units;

    // An empty segment goes back to the system, except the first (it holds the committed
    // initial size) and the newest (a heap working at a segment boundary would otherwise map
    // and unmap it over and over).
    if (reinterpret_cast<char*>(block) == segment->blocks &&
        reinterpret_cast<char*>(nextOf(block)) == segment->end && segment != mFirstSegment &&
        segment != mNewestSegment) {
        removeSegment(segment);
        return;
    }
    pushFree(static_cast<FreeBlock*>(block));
}

void* PrivateHeap::allocLocked(SIZE_T size)
{
    if (size <= kSmallRequestLimit) [[likely]] {
        const std::uint32_t units = unitsFor(size);
        const unsigned bin = units - kMinimumUnits;
        if (FreeBlock* block = mBins[bin]) [[likely]] {
            // An exact bin: the block has the size wanted, nothing to split.
            mBins[bin] = block->next;
            if (block->next != nullptr)
                block->next->prev = nullptr;
            else
                mBinMap[bin / 64] &= ~(std::uint64_t{1} << (bin % 64));
            block->flags = kBusy;
            block->padding = static_cast<std::uint8_t>(units * kGranule - kHeaderBytes - size);
            return dataOf(block);
        }
    }
    return allocSlow(size);
}

void* PrivateHeap::allocSlow(SIZE_T size)
{
    if (size > kLargeRequest)
        return allocLarge(size);
    const std::uint32_t units = unitsFor(size);
    FreeBlock* block = findFree(units);
    if (block == nullptr) {
        if (!growFor(units))
            return nullptr;
        block = findFree(units); // the new segment's one free block holds it
    }
    return carve(block, units, size);
}

void* PrivateHeap::allocLarge(SIZE_T size)
{
    if (size > kMaximumLargeRequest)
        return nullptr;
    const std::size_t bytes = roundToPages(size);
    char* base = static_cast<char*>(mapMemory(bytes));
    if (base == nullptr)
        return nullptr;
    const std::size_t index = largePositionOf(base);
    if (!mLarge.insertAt(index, LargeBlock{base, bytes, size})) {
        munmap(base, bytes);
        return nullptr;
    }
    return base;
}

void* PrivateHeap::reAllocLocked(void* p, SIZE_T size, DWORD& error)
{
    Segment* segment = segmentOf(p);
    if (segment == nullptr) {
        const std::size_t index = largeIndexOf(p);
        if (index == kNotFound) {
            error = ERROR_INVALID_PARAMETER;
            return nullptr;
        }
        return reAllocLarge(index, size);
    }
    BlockHeader* block = busyBlockAt(segment, p);
    if (block == nullptr) {
        error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    const SIZE_T oldSize = requestedSize(block);
    if (size <= kMaximumSegmentBytes) {
        const std::uint32_t units = unitsFor(size);
        BlockHeader* next = nextOf(block);
        if (units > block->units && !(next->flags & kBusy) &&
            std::size_t{block->units} + next->units >= units) {
            // Take the free neighbour whole; shrinkInPlace hands back what is not needed.
            unlinkFree(static_cast<FreeBlock*>(next));
            clearStart(segment, next);
            block->units += next->units;
            nextOf(block)->prevUnits = block->units;
        }
        if (units <= block->units) {
            shrinkInPlace(segment, block, units, size);
            return p;
        }
    }
    void* moved = allocLocked(size);
    if (moved == nullptr)
        return nullptr;
    std::memcpy(moved, p, std::min(oldSize, size));
    release(segment, block);
    return moved;
}

void* PrivateHeap::reAllocLarge(std::size_t index, SIZE_T size)
{
    LargeBlock& block = mLarge.items[index];
    if (size <= block.mappingBytes) {
        const std::size_t keep = roundToPages(std::max<SIZE_T>(size, 1));
        if (keep < block.mappingBytes) {
            munmap(block.base + keep, block.mappingBytes - keep);
            block.mappingBytes = keep;
        }
        block.requested = size;
        return block.base;
    }
    if (size > kMaximumLargeRequest)
        return nullptr;
    const std::size_t bytes = roundToPages(size);
    void* moved = mremap(block.base, block.mappingBytes, bytes, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED)
        return nullptr;
    const LargeBlock updated{static_cast<char*>(moved), bytes, size};
    if (moved == block.base) {
        block = updated;
        return moved;
    }
    mLarge.eraseAt(index);
    mLarge.insertAt(largePositionOf(moved), updated); // cannot fail: the erase left room
    return moved;
}

BOOL PrivateHeap::freeLocked(void* p)
{
    if (Segment* segment = segmentOf(p)) [[likely]] {
        BlockHeader* block = busyBlockAt(segment, p);
        if (block == nullptr)
            return FALSE;
        release(segment, block);
        return TRUE;
    }
    const std::size_t index = largeIndexOf(p);
    if (index == kNotFound)
        return FALSE;
    munmap(mLarge.items[index].base, mLarge.items[index].mappingBytes);
    mLarge.eraseAt(index);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
// The operations behind the entry points

void* PrivateHeap::alloc(SIZE_T size)
{
    void* p;
    {
        CriticalSectionGuard guard(mLock);
        p = allocLocked(size);
    }
    if (p == nullptr) [[unlikely]]
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return p;
}

void* PrivateHeap::reAlloc(void* p, SIZE_T size)
{
    DWORD error = ERROR_NOT_ENOUGH_MEMORY;
    void* result = nullptr;
    if (p == nullptr) {
        error = ERROR_INVALID_PARAMETER;
    } else {
        CriticalSectionGuard guard(mLock);
        result = reAllocLocked(p, size, error);
    }
    if (result == nullptr) [[unlikely]]
        SetLastError(error);
    return result;
}

BOOL PrivateHeap::free(void* p)
{
    if (p == nullptr)
        return TRUE;
    BOOL freed;
    {
        CriticalSectionGuard guard(mLock);
        freed = freeLocked(p);
    }
    if (!freed)
        SetLastError(ERROR_INVALID_PARAMETER);
    return freed;
}

SIZE_T PrivateHeap::size(const void* p)
{
    {
        CriticalSectionGuard guard(mLock);
        if (const Segment* segment = segmentOf(p)) {
            if (const BlockHeader* block = busyBlockAt(segment, p))
                return requestedSize(block);
        } else if (const std::size_t index = largeIndexOf(p); index != kNotFound) {
            return mLarge.items[index].requested;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return ~SIZE_T{0};
}

BOOL PrivateHeap::validate(const void* p)
{
    bool valid;
    {
        CriticalSectionGuard guard(mLock);
        if (p == nullptr) {
            valid = validateHeap();
        } else if (const Segment* segment = segmentOf(p)) {
            valid = busyBlockAt(segment, p) != nullptr;
        } else {
            valid = largeIndexOf(p) != kNotFound;
        }
    }
    if (!valid)
        SetLastError(ERROR_INVALID_PARAMETER);
    return valid ? TRUE : FALSE;
}

BOOL PrivateHeap::lock()
{
    EnterCriticalSection(&mLock);
    return TRUE;
}

BOOL PrivateHeap::unlock()
{
    LeaveCriticalSection(&mLock);
    return TRUE;
}

} // namespace win::heaps
