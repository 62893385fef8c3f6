// heap/SmallBlockInternal.h
// The records of the small-block heap, shared by SmallBlockHeap.cpp (the shared classes behind
// __oxMallocAligned, regions and pages) and FixedSizeHeap.cpp (private classes).
//
// Layout: a region is 1 MB of address space on a 1 MB boundary. Its first two pages hold the
// 32-byte descriptors of its 256 pages, descriptor i at region + 32 * i, so the descriptor of any
// block is found from the block's address alone; descriptors 0 and 1 would describe the
// descriptor pages themselves and hold the region header instead. Pages 2 to 255 carry blocks.
#pragma once

#include "heap/SizeClasses.h"

#include "platform/SlimLock.h"

#include <cstddef>
#include <cstdint>

namespace oxheap {

inline constexpr std::uintptr_t kRegionBytes = std::uintptr_t{1} << 20;
inline constexpr std::uint32_t kPagesPerRegion = 256;
inline constexpr std::uint32_t kFirstBlockPage = 2;
inline constexpr std::uint32_t kBlockPagesPerRegion = kPagesPerRegion - kFirstBlockPage; // 254

struct OxSbPageDesc {
    std::byte* cursor;  // next block to hand out; null while the page is full or free
    OxSbPageDesc* next; // links in a class's partial or full list, or a region's free list
    OxSbPageDesc* prev;
    std::uint32_t freeCount;  // free blocks of the page
    std::uint16_t classIndex; // 0 while the page is free
    std::uint16_t flags;      // kFreeListMode, kFixedHeapPage
    // Bump mode: the free blocks are cursor and every whole block after it in the page.
    // Free-list mode: the free blocks are chained through their first word from cursor, the
    // last one holding 0. Either way freeCount counts them, and a page with a class is on its
    // class's partial list exactly when freeCount > 0.
};
static_assert(sizeof(OxSbPageDesc) == 32);

inline constexpr std::uint16_t kFreeListMode = 1;
/// The page belongs to a fixed-size heap: its blocks go back only with the whole heap.
inline constexpr std::uint16_t kFixedHeapPage = 2;

struct OxSbRegion {
    OxSbPageDesc* uncommittedFree; // reserved free pages, the run to commit next at the head
    OxSbPageDesc* committedFree;   // committed pages without a class, ready to hand out
    OxSbRegion* next;              // links in the available or reserve list
    OxSbRegion* prev;
    std::uint32_t uncommittedCount; // == length(uncommittedFree)
    std::uint32_t committedCount;   // == length(committedFree) <= 16 once the region is set up
    std::byte unused[64 - 40];
    // The region is on the available list when committedCount > 0, on the reserve list when
    // committedCount == 0 and uncommittedCount > 0, and on neither when every page has a class.
};
static_assert(sizeof(OxSbRegion) == 2 * sizeof(OxSbPageDesc));

/// A size class with its pages: the shared classes of __oxMallocAligned, or a fixed-size heap.
struct OxSbClass {
    std::uint32_t blockSize;
    std::uint32_t classIndex;
    std::uint32_t blocksPerPage; // 4096 / blockSize
    std::uint32_t pageFlags;     // flags every page of the class carries: kFixedHeapPage or 0
    OxSbPageDesc* partial;       // pages with free blocks, the one to allocate from first
    OxSbPageDesc* full;          // pages without
};
static_assert(sizeof(OxSbClass) == 32);

inline OxSbRegion* regionOf(const void* p)
{
    return reinterpret_cast<OxSbRegion*>(reinterpret_cast<std::uintptr_t>(p) & ~(kRegionBytes - 1));
}
inline std::uint32_t pageIndexOf(const void* p)
{
    return static_cast<std::uint32_t>((reinterpret_cast<std::uintptr_t>(p) >> 12) & 0xFF);
}
inline OxSbPageDesc* descriptorOf(const void* p)
{
    return reinterpret_cast<OxSbPageDesc*>(regionOf(p)) + pageIndexOf(p);
}
inline std::byte* pageOf(const OxSbPageDesc* d)
{
    const auto index = (reinterpret_cast<std::uintptr_t>(d) >> 5) & 0xFF;
    return reinterpret_cast<std::byte*>(regionOf(d)) + index * kPageBytes;
}

/// The one lock of the heap: every region, page list, class and the class table.
extern win::SlimLock gSmallBlockLock;

/// Hands out one block of `c`, taking a new page when the class has no partial page. Called
/// with `guard` held on gSmallBlockLock; lets go of it while the out-of-memory handler runs,
/// so `c` must stay alive meanwhile. Null when no page can be had.
void* allocSlow(OxSbClass* c, win::SlimLockGuard& guard);

/// The common case of allocSlow, inline: a block from a page with more than one free block, in
/// bump mode or in free-list mode with a next entry inside the page (one outside it means the
/// chain was overwritten, which allocSlow deals with). Null when allocSlow has to decide.
inline void* popBlock(OxSbClass* c)
{
    OxSbPageDesc* d = c->partial;
    if (d == nullptr || d->freeCount <= 1) [[unlikely]]
        return nullptr;
    std::byte* block = d->cursor;
    std::byte* next = block + c->blockSize;
    if (d->flags & kFreeListMode) {
        next = *reinterpret_cast<std::byte**>(block);
        const std::byte* page = pageOf(d);
        if (next < page || next + c->blockSize > page + kPageBytes) [[unlikely]]
            return nullptr;
    }
    d->cursor = next;
    --d->freeCount;
    return block;
}

/// One block of `c`, under `guard` as allocSlow.
inline void* allocFromClass(OxSbClass* c, win::SlimLockGuard& guard)
{
    if (void* block = popBlock(c)) [[likely]]
        return block;
    return allocSlow(c, guard);
}

/// Gives every page of `c` back to its region (the lock held).
void releaseAllPages(OxSbClass* c);

} // namespace oxheap
