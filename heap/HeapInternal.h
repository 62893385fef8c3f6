// heap/HeapInternal.h
// What the heap files share behind the public front end: the process allocator table, the
// per-thread switch of the out-of-memory handler, and the small-block pieces the older-Windows
// column of the table calls.
#pragma once

#include <oxfirst/OxHeap.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

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
void* smallBlockRealloc(void* p, std::size_t size) noexcept;
/// Bytes of small-block memory currently committed.
std::size_t smallBlockCommittedSize();

/// Receives one committed page of the small-block heap that belongs to a size class: the
/// class's block size and how many of the page's blocks are in use.
using SmallBlockPageVisitor = void (*)(void* context, std::uint32_t blockSize, std::uint32_t usedBlocks);
/// Walks the small-block heap under its lock, calling `visit` for every committed page that
/// belongs to a size class (fixed-size heaps included), and returns the committed bytes of
/// those pages. `visit` runs with the lock held: it must not call the small-block heap (the
/// C runtime heap is fine).
std::size_t walkSmallBlockHeap(SmallBlockPageVisitor visit, void* context);

/// Sets up the small-block heap at load: its lock, the region table, the switches read from
/// the environment. Until it has run, every request goes to the C runtime.
void setUpSmallBlockHeap();
/// The small-block heap's unload work: at process exit it freezes the heap (frees become
/// no-ops, everything stays mapped for threads still running); on an unload while the process
/// goes on it returns every page of every class.
void tearDownSmallBlockHeap();

/// Sets up the stack heap's slot operations at load.
void setUpStackHeap();
/// Creates the TLS destructor registry at load.
void setUpTlsDestructorRegistry();
/// Runs the registered TLS destructors for the calling thread: callback(TlsGetValue(index))
/// for each registered slot with a non-null value. Process detach calls it for the detaching
/// thread; threads that end run it for themselves.
void runTlsDestructors();
/// Fills `slot` once, under the registry's lock: while it still holds TLS_OUT_OF_INDEXES
/// (0xFFFFFFFF), stores allocate(context) in it. Returns the slot's value, so racing first uses
/// agree on one index.
std::uint32_t fillSlotOnce(std::atomic<std::uint32_t>& slot, std::uint32_t (*allocate)(void* context),
                           void* context);
/// A new TLS index whose non-null values the registry hands to `destructor` when their thread
/// ends (see runTlsDestructors); TLS_OUT_OF_INDEXES when none is left.
std::uint32_t allocTlsSlotWithDestructor(void (*destructor)(void* value));
/// Makes runTlsDestructors run for the calling thread when it ends. Call it after storing the
/// thread's first value in a slot with a destructor.
void watchThreadEnd();

/// The named heap whose pool has the low 32 bits of `pool`, found from the head of the list;
/// created with `new OxHeap(pool)` (and so linked) when there is none. Created objects are never
/// deleted. Null only when the allocation of a new object fails.
OxHeap* heapForPool(OxHeapPool pool);

} // namespace oxheap
