// oxfirst/OxHeap.h
// The heap front end: every module allocates through these entry points. Heap handle 0 (null)
// is the process allocator chosen once while the library loads; any other handle is a private
// heap, normally one made by oxHeapCreate. Failure is reported by result only; nothing here
// throws.
#pragma once

#include <oxfirst/OxTypes.h>

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------------------------
// The process allocator

/// The six operations behind heap handle 0. Filled once while the library loads and never
/// changed afterwards. On Windows 6 or later (and on Linux unless OX_EMULATE_WINDOWS_VERSION
/// names an older version) they are the C runtime's; on older versions the small-block heap's.
/// The operations are noexcept, as the entry points that call them are: so a call through the
/// table needs no frame of its own and leaves the entry point as a plain jump.
struct OxProcessAllocator {
    void* (*malloc)(std::size_t size) noexcept;
    void (*free)(void* p) noexcept;
    void* (*realloc)(void* p, std::size_t size) noexcept;
    std::size_t (*msize)(const void* p) noexcept;
    /// One attempt that never calls the new handler on its own account.
    void* (*tryAlloc)(std::size_t size) noexcept;
    /// Always true: the process allocator does not validate blocks.
    bool (*validate)(const void* p) noexcept;
};

/// Which column of the allocator table the process uses.
enum class OxProcessAllocatorKind : std::int32_t {
    kCRuntime = 0,   ///< Windows 6 or later: the C runtime heap
    kSmallBlock = 1, ///< older Windows: the small-block heap
};

/// The table in force.
OXFIRST_API const OxProcessAllocator& oxProcessAllocator();
/// The column the table was filled from.
OXFIRST_API OxProcessAllocatorKind oxProcessAllocatorKind();

// ---------------------------------------------------------------------------------------------
// Heap handle entry points

/// The table in force, read by the inline heap-0 paths below; callers never write through it.
extern OXFIRST_API const OxProcessAllocator* const __oxProcessAllocatorTable;
/// The private-heap halves of oxHeapAlloc and oxHeapFree (heap not null), out of line.
[[gnu::malloc]] OXFIRST_API void* __oxPrivateHeapAlloc(void* heap, std::size_t size) noexcept;
OXFIRST_API void __oxPrivateHeapFree(void* heap, void* p) noexcept;

/// Heap 0: the process allocator's malloc. Otherwise HeapAlloc(heap, 0, size), retried for as
/// long as the new handler succeeds. Null on failure.
/// Inline, as is oxHeapFree: heap 0 then costs its caller one call through the table, no more
/// than a call of malloc through its PLT entry. The library exports both as well.
[[gnu::malloc]] OXFIRST_API inline void* oxHeapAlloc(void* heap, std::size_t size) noexcept
{
    if (heap == nullptr) [[likely]]
        return __oxProcessAllocatorTable->malloc(size);
    return __oxPrivateHeapAlloc(heap, size);
}
/// Heap 0: the process allocator's tryAlloc. Otherwise one HeapAlloc(heap, 0, size), no retry.
[[gnu::malloc]] OXFIRST_API void* oxTryHeapAlloc(void* heap, std::size_t size) noexcept;
/// Heap 0: the process allocator's free. Otherwise HeapFree(heap, 0, p); a block that is not
/// the heap's own is left alone.
OXFIRST_API inline void oxHeapFree(void* heap, void* p) noexcept
{
    if (heap == nullptr) [[likely]]
        __oxProcessAllocatorTable->free(p);
    else
        __oxPrivateHeapFree(heap, p);
}
/// Heap 0: the process allocator's realloc. Otherwise HeapReAlloc (HeapAlloc when p is null),
/// retried like oxHeapAlloc. Null on failure, and p is then still valid.
OXFIRST_API void* oxHeapReAlloc(void* heap, void* p, std::size_t size) noexcept;
/// Heap 0: the process allocator's msize. Otherwise HeapSize(heap, 0, p), which is SIZE_MAX
/// for a pointer that is not a live block of that heap.
OXFIRST_API std::size_t oxHeapSize(void* heap, const void* p) noexcept;
/// Heap 0: true for any p. Otherwise whether p is a live block of that heap (p null: whether
/// the whole heap is consistent).
OXFIRST_API bool oxHeapValidate(void* heap, const void* p) noexcept;
/// Counts the busy blocks of `heap`, their bytes and their overhead bytes. All three are set to
/// 0 first; false for heap 0 and for a handle that is not a live heap.
OXFIRST_API bool oxHeapWalk(void* heap, std::uint32_t& count, std::uint32_t& bytes,
                            std::uint32_t& overhead) noexcept;
/// A new growable private heap switched to the low-fragmentation setting; the argument is
/// ignored. Null when the system refuses even after the new handler has had its chances.
OXFIRST_API void* oxHeapCreate(std::uint32_t ignored) noexcept;
/// Destroys a heap made by oxHeapCreate with every block in it. Null is ignored.
OXFIRST_API void oxHeapDestroy(void* heap) noexcept;

// ---------------------------------------------------------------------------------------------
// Process-allocator entry points

/// The process allocator's malloc; no retry of its own.
[[gnu::malloc]] OXFIRST_API void* __oxMalloc(std::size_t size) noexcept;
/// The process allocator's free.
OXFIRST_API void __oxFree(void* p) noexcept;
/// oxHeapReAlloc(0, p, size).
OXFIRST_API void* __oxRealloc(void* p, std::size_t size) noexcept;
/// oxHeapSize(0, p) truncated to 32 bits.
OXFIRST_API unsigned int __oxMsize(const void* p) noexcept;
/// oxHeapSize(0, p) truncated to 32 bits.
OXFIRST_API unsigned int oxMsize(const void* p) noexcept;
/// A copy of `s` with its terminator, from the process allocator; null for null and when the
/// allocation fails. Release it with __oxFree.
[[gnu::malloc]] OXFIRST_API OXCHAR* __oxStrdup(const OXCHAR* s) noexcept;

// ---------------------------------------------------------------------------------------------
// The small-block heap

/// A block from the small-block heap for requests of 1 to 4096 bytes that have a size class,
/// from the C runtime otherwise (and always while the heap is switched off). Requests above
/// 2 GB inform the out-of-memory handler and fail with null.
[[gnu::malloc]] OXFIRST_API void* __oxMallocAligned(std::size_t size) noexcept;
/// Frees a block of __oxMallocAligned; a block that is not in the small-block heap goes to the
/// C runtime's free. Null is ignored.
OXFIRST_API void __oxFreeAligned(void* p) noexcept;
/// The block size of p's class when p is in the small-block heap, else the C runtime's size of p
/// truncated to 32 bits.
OXFIRST_API unsigned int __oxMsizeAligned(const void* p) noexcept;
/// The same as __oxMsizeAligned.
OXFIRST_API unsigned int oxMsizeAligned(const void* p) noexcept;

// ---------------------------------------------------------------------------------------------
// Fixed-size heaps: a private size class of the small-block heap, filled block by block and
// emptied all at once

/// Opaque; made by __oxHeapCreate.
struct OxFixedSizeHeap;

/// A new heap of blocks of `size` bytes rounded up to its size class (the classes of
/// __oxMallocAligned: 1 to 512 bytes in steps of 8 at most, 1000-1024, 2000-2048, 4000-4096).
/// Null for a size without a class (0, 513-999, ...) and when memory runs out.
OXFIRST_API OxFixedSizeHeap* __oxHeapCreate(unsigned int size) noexcept;
/// One block of the heap's size; null for a null heap and when memory runs out. There is no
/// per-block free: __oxFreeAligned ignores blocks of a fixed-size heap, and they stay in use
/// until __oxHeapDestroy.
[[gnu::malloc]] OXFIRST_API void* __oxHeapMalloc(OxFixedSizeHeap* heap) noexcept;
/// The heap's block size; 0 for a null heap.
OXFIRST_API unsigned int __oxHeapSize(const OxFixedSizeHeap* heap) noexcept;
/// Returns every block of the heap at once and deletes it. Null is ignored. Returns true.
OXFIRST_API bool __oxHeapDestroy(OxFixedSizeHeap* heap) noexcept;

// ---------------------------------------------------------------------------------------------
// Pages: whole committed pages straight from virtual memory

/// `size` bytes rounded up to pages, committed and zero-filled, on a 64 KB boundary. Null for
/// 0; when the system refuses, the out-of-memory handler is asked up to 6 times for another
/// attempt, and null comes back when it declines or the attempts are used up.
[[gnu::malloc]] OXFIRST_API void* __oxAllocPages(std::size_t size) noexcept;
/// Releases pages from __oxAllocPages. Null and addresses that are not the start of such
/// pages are ignored.
OXFIRST_API void __oxFreePages(void* p) noexcept;
/// New pages of `newSize` bytes holding the first min(oldSize, newSize) bytes of `p`, which is
/// released. Null when the new pages cannot be had; `p` is then still valid.
OXFIRST_API void* __oxReallocPages(void* p, std::size_t oldSize, std::size_t newSize) noexcept;

// ---------------------------------------------------------------------------------------------
// The stack heap: a last-in-first-out arena of 16 KB per thread (or per fiber) for objects
// whose owner lives on the caller's stack

/// From the arena of the calling thread or fiber when `owner` lies on the caller's stack and
/// the arena has room; from the C runtime's malloc otherwise. Null only when malloc fails.
[[gnu::malloc]] OXFIRST_API void* oxStackHeapAlloc(std::size_t size, const void* owner) noexcept;
/// Frees a block of oxStackHeapAlloc on the thread or fiber that made it. The arena shrinks
/// when its topmost block is freed, past every freed block below it. Blocks outside the
/// arena go to the C runtime's free. Null is ignored.
OXFIRST_API void oxStackHeapFree(void* p) noexcept;
/// Resizes a block of oxStackHeapAlloc. Blocks outside the arena go to the C runtime's
/// realloc (contents kept). Arena blocks are not copied: the topmost block and an inner block
/// too small for `size` are freed and a fresh block comes back, with undefined contents; an
/// inner block large enough comes back unchanged.
OXFIRST_API void* oxStackHeapRealloc(void* p, std::size_t size) noexcept;

/// Slot storage of a fiber library. When the calling thread runs a fiber whose parameter (the
/// first word of its fiber data) is not null, the stack heap takes the parameter for a pointer
/// to an object of this class and keeps the fiber's arena in one of its slots.
class OxFiberLocalStore {
public:
    /// Receives the slot's value of a fiber that ends.
    using Destructor = void (*)(void* value);
    /// A new slot whose values are handed to `destructor` when their fiber ends.
    virtual std::uint32_t allocSlot(Destructor destructor) = 0;
    /// The current fiber's value in `slot`, null until set.
    virtual void* getValue(std::uint32_t slot) = 0;
    /// Stores `value` in the current fiber's `slot`; `reserved` is 0.
    virtual int setValue(std::uint32_t slot, void* value, int reserved) = 0;
    /// Frees `slot`.
    virtual void freeSlot(std::uint32_t slot) = 0;

protected:
    ~OxFiberLocalStore() = default;
};

/// Base of objects that live in the stack heap: create them with `new (owner) Derived(...)`,
/// where `owner` is the address of the object that holds them, and end them with a
/// delete-expression, which runs the virtual destructor and then oxStackHeapFree(this).
/// Abstract: only derived objects live there.
class OXFIRST_API OxStackAllocator {
public:
    virtual ~OxStackAllocator() = 0;

    /// oxStackHeapAlloc(size, owner).
    static void* operator new(std::size_t size, const void* owner) noexcept;
    /// oxStackHeapFree(p).
    static void operator delete(void* p) noexcept;
    /// Called only when a constructor run by `new (owner)` throws: oxStackHeapFree(p).
    static void operator delete(void* p, const void* owner) noexcept;
};

/// Gives the C runtime's new handler a chance to free memory for a request of `size` bytes.
/// False when the calling thread has suppressed the handler (see OxNoOutOfMemHandlerScope),
/// when there is no handler, or when the handler gives up; true when it asks for a retry.
OXFIRST_API bool oxCallOutOfMemHandler(std::size_t size) noexcept;

/// While an object of this class lives, oxCallOutOfMemHandler answers false on the creating
/// thread without calling anything, so an allocation made meanwhile fails instead of invoking
/// the new handler. Scopes nest.
class OXFIRST_API OxNoOutOfMemHandlerScope {
public:
    OxNoOutOfMemHandlerScope();
    ~OxNoOutOfMemHandlerScope();
    OxNoOutOfMemHandlerScope(const OxNoOutOfMemHandlerScope&) = delete;
    OxNoOutOfMemHandlerScope& operator=(const OxNoOutOfMemHandlerScope&) = delete;

private:
    bool mPrevious;
};

// Entry points kept for modules that call them; they do nothing.
OXFIRST_API void establishHeapErrorHandler(void (*handler)(const OXCHAR*)) noexcept;
OXFIRST_API void OxHeapDump(int, int, const OXCHAR*) noexcept;
/// Returns 0.
OXFIRST_API int oxDbgOverhead() noexcept;
/// Returns 0, as oxDbgOverhead.
OXFIRST_API int oxfirst_entry() noexcept;
/// Returns 0, as oxDbgOverhead.
OXFIRST_API int oxMgcEp000000() noexcept;

// ---------------------------------------------------------------------------------------------
// Raw memory for the library's classes

class OXFIRST_API OxHeapOperators {
public:
    /// The process allocator's malloc (the same operation as __oxMalloc).
    static void* allocRawMem(std::size_t size) noexcept;
    /// The process allocator's free (the same operation as __oxFree).
    static void freeRawMem(void* p) noexcept;
    /// oxHeapAlloc(0, size): retried through the new handler. File and line are ignored.
    static void* allocRawMem(std::size_t size, const char* file, int line) noexcept;
    /// oxHeapFree(0, p). File and line are ignored.
    static void freeRawMem(void* p, const char* file, int line) noexcept;
};

/// Base of classes whose instances come from the library heap. Its allocation functions are
/// non-throwing: a new-expression whose allocation fails yields null and constructs nothing.
class OxBaseClassWithNew {
public:
    static void* operator new(std::size_t size) noexcept { return OxHeapOperators::allocRawMem(size); }
    static void* operator new[](std::size_t size) noexcept { return OxHeapOperators::allocRawMem(size); }
    static void* operator new(std::size_t size, const char* file, int line) noexcept
    {
        return OxHeapOperators::allocRawMem(size, file, line);
    }
    static void* operator new(std::size_t, void* where) noexcept { return where; }
    static void operator delete(void* p) noexcept { OxHeapOperators::freeRawMem(p); }
    static void operator delete[](void* p) noexcept { OxHeapOperators::freeRawMem(p); }
    static void operator delete(void* p, const char* file, int line) noexcept
    {
        OxHeapOperators::freeRawMem(p, file, line);
    }
    static void operator delete(void*, void*) noexcept {}
};

// ---------------------------------------------------------------------------------------------
// Named heap objects

/// Identifies the allocator a named heap stands for. Only the low 32 bits are ever compared.
union OxHeapPool {
    std::uint64_t value;
    std::uint32_t low;

    constexpr OxHeapPool(std::uint64_t v = 0) : value(v) {}
    constexpr bool operator==(const OxHeapPool& other) const { return low == other.low; }
};
static_assert(sizeof(OxHeapPool) == 8);

/// Pool of objects of the class system: named "CObjects".
inline constexpr std::uint32_t kOxHeapPoolCObjects = 4;
/// Pool of the small-block heap: named "OrkaHeap"; its heapSize() is the committed size.
inline constexpr std::uint32_t kOxHeapPoolSmallBlock = 0x01010004;

/// A named heap. Every constructed OxHeap is at the head of one process-wide list (newest
/// first) until it is destroyed; heap reports walk that list. The list takes no lock: create
/// and destroy heap objects on one thread at a time (in practice during start-up and shutdown).
/// Allocation through an OxHeap uses the process allocator; the object itself plays no part.
class OXFIRST_API OxHeap {
public:
    /// Stores the pointer itself (the text is not copied: it must outlive the object) and
    /// links the object. The pool stays 0.
    explicit OxHeap(const OXCHAR* name);
    /// Stores the pool, links the object, and names it "CObjects" (low 32 bits 4), "OrkaHeap"
    /// (0x01010004) or "Default" (anything else).
    explicit OxHeap(OxHeapPool pool);
    /// A new heap object with the pool and name of `other`, linked at the head of the list.
    OxHeap(const OxHeap& other);
    /// Unlinks the object; nothing happens when it is not in the list.
    ~OxHeap();
    /// Copies the pool and the name. The target keeps its own place in the list.
    OxHeap& operator=(const OxHeap& other);

    const OXCHAR* name() const { return mName; }
    OxHeapPool pool() const { return mPool; }

    /// The newest heap object in the list, null when there is none.
    static OxHeap* first();
    /// The next older heap object in the list, null at the end.
    OxHeap* next() const { return mNext; }

    /// The process allocator's malloc.
    void* allocMem(std::size_t size);
    /// 0 for null; otherwise frees p with the process allocator and returns 1.
    int freeMem(void* p);
    /// __oxRealloc(p, size).
    void* reallocMem(void* p, std::size_t size);
    /// oxHeapSize(0, p) truncated to 32 bits.
    unsigned int sizeMem(const void* p);
    /// Committed bytes of the small-block heap for the pool 0x01010004, 0 for every other pool.
    std::size_t heapSize();

    // Do nothing.
    void allocHeap();
    void freeHeap();

private:
    void link();
    void unlink();

    OxHeapPool mPool;
    const OXCHAR* mName;
    OxHeap* mNext;
};
