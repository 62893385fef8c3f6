// heap/HeapInternal.h
// What the heap files share behind the public front end: the process allocator table, the
// per-thread switch of the out-of-memory handler, and the small-block pieces the older-Windows
// column of the table calls.
#pragma once

#include <oxfirst/OxHeap.h>

#include <cstddef>

namespace oxheap {

/// The table behind heap handle 0. Constant-initialised with the C runtime column, so a call
/// that arrives before the load-time choice (there should be none) still finds working
/// operations; chooseProcessAllocator() may switch it to the small-block column once, before
/// any other initializer of the library runs.
extern OxProcessAllocator gProcessAllocator;

/// Fills the table from GetVersionExW's major version: 6 or more keeps the C runtime column,
/// less takes the small-block column.
void chooseProcessAllocator();

/// Set while oxCallOutOfMemHandler must answer false on this thread.
extern thread_local bool tNoOutOfMemHandler;

/// The small-block heap's realloc (the realloc slot of the older-Windows column).
void* smallBlockRealloc(void* p, std::size_t size);
/// Bytes of small-block memory currently committed.
std::size_t smallBlockCommittedSize();

/// The named heap whose pool has the low 32 bits of `pool`, found from the head of the list;
/// created with `new OxHeap(pool)` (and so linked) when there is none. Created objects are never
/// deleted. Null only when the allocation of a new object fails.
OxHeap* heapForPool(OxHeapPool pool);

} // namespace oxheap
