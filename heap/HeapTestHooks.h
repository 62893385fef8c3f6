// heap/HeapTestHooks.h
// Entry points that let the tests look inside the allocators and drive their load and unload
// work. Only the tests call them, and they link the library's objects: nothing here is exported.
#pragma once

#include <cstddef>
#include <cstdint>

namespace oxheap::test {

/// Checks every invariant of the small-block heap under its lock (region lists, page lists,
/// free counts, free chains, the state table) and returns the first broken one as text, or
/// null when all hold.
const char* checkSmallBlockHeap();

/// Runs the small-block heap's unload work now, as the library's unload would.
void unloadSmallBlockHeap();

/// Whether `p` lies in a live region of the small-block heap.
bool isSmallBlock(const void* p);

/// The page of small block p: its free blocks and whether it hands them out from a free list
/// (else by bumping its cursor). False when p is not in a page of a size class.
bool smallBlockPageState(const void* p, std::uint32_t* freeCount, bool* freeListMode);

/// Free pages of the regions on the available and reserve lists: committed ones and
/// uncommitted ones. A request for a page commits memory only once `committed` is 0, and
/// reserves a new region only once both are.
void smallBlockFreePages(std::uint32_t* committed, std::uint32_t* uncommitted);

/// The stack heap's arena of the calling thread or fiber: its base and bytes in use; false
/// when the thread or fiber has none yet.
bool stackArenaOfCaller(const void** base, std::uint32_t* top);

} // namespace oxheap::test
