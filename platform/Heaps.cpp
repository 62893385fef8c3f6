// platform/Heaps.cpp
// The Heap... entry points. A handle names a slot of a table of the layer's own plus the
// generation of the heap created in it, so resolving any value, a destroyed heap's or a made-up
// one, is one load and a compare and never touches memory the value points at. Private heaps are
// in PrivateHeap.cpp; the C runtime heap's handle forwards to glibc malloc.

#include "platform/PrivateHeap.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <malloc.h>

namespace win {
namespace {

using heaps::PrivateHeap;

// At most 16383 private heaps live at once (slot 0 is never one); HeapCreate fails with
// ERROR_NOT_ENOUGH_MEMORY beyond that. The table is zero-filled static storage: its pages
// cost nothing until slots are used, and it works before any initializer has run.
constexpr std::size_t kMaximumHeaps = 16384;

// Handle value: tag | generation << 18 | slot << 4. The tag (bit 62) is never set in a user
// address, so no pointer is mistaken for a handle; a slot's generation grows with every heap
// created in it, so a destroyed heap's handle stays invalid after its slot is reused (until
// the 32-bit generation wraps).
constexpr std::uintptr_t kHandleTag = std::uintptr_t{1} << 62;
constexpr unsigned kSlotShift = 4;
constexpr unsigned kGenerationShift = 18;
static_assert((kMaximumHeaps << kSlotShift) <= (std::uintptr_t{1} << kGenerationShift));

/// The C runtime heap: slot 0, generation 1. Slot 0 never holds a private heap.
constexpr std::uintptr_t kRuntimeHandle = kHandleTag | (std::uintptr_t{1} << kGenerationShift);

struct HeapSlot {
    std::atomic<std::uintptr_t> handle; // the live heap's handle value; 0 when the slot is free
    PrivateHeap* heap;                  // set before `handle` is published, cleared after it is
    std::uint32_t generation;           // of the last heap created here (under gTableLock)
    std::uint32_t nextFree;             // the free-slot list (under gTableLock); 0 ends it
};

constinit HeapSlot gSlots[kMaximumHeaps] = {};
constinit CRITICAL_SECTION gTableLock = {};
constinit std::uint32_t gFreeSlots = 0;      // head of the list of slots given back
constinit std::uint32_t gNextUnusedSlot = 1; // slots at or above it were never used

/// Serialises walks of the C runtime heap (and HeapLock on it); glibc serialises its own calls.
constinit CRITICAL_SECTION gRuntimeLock = {};
/// The region entry of the C runtime heap points here, so it is not null and ends the walk.
constinit char gRuntimeRegion = 0;

std::size_t slotOf(std::uintptr_t value)
{
    return (value >> kSlotShift) % kMaximumHeaps;
}

/// The private heap a handle names, or null (the C runtime heap, a destroyed heap, or no heap).
/// A null handle lands on slot 0, whose heap is always null.
PrivateHeap* privateHeapOf(HANDLE heap)
{
    const auto value = reinterpret_cast<std::uintptr_t>(heap);
    const HeapSlot& slot = gSlots[slotOf(value)];
    return slot.handle.load(std::memory_order_acquire) == value ? slot.heap : nullptr;
}

bool isRuntimeHeap(HANDLE heap)
{
    return reinterpret_cast<std::uintptr_t>(heap) == kRuntimeHandle;
}

template <typename T>
T failWith(DWORD error, T answer)
{
    SetLastError(error);
    return answer;
}

// Resolves a handle for a Heap... call: false, with the last error set, when it names no heap
// or when `flags` is not 0 (no flag is emulated). `*privateHeap` is null for the C runtime heap.
bool resolve(HANDLE heap, DWORD flags, PrivateHeap** privateHeap)
{
    *privateHeap = privateHeapOf(heap);
    if (*privateHeap == nullptr && !isRuntimeHeap(heap)) [[unlikely]] {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (flags != 0) [[unlikely]] {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// The C runtime heap. glibc keeps no requested sizes, so HeapSize answers the usable size
// (malloc_usable_size, which is at least the requested size), and HeapValidate cannot tell a
// block from anything else and answers TRUE.

// glibc refuses requests above PTRDIFF_MAX itself; checking first keeps sanitizer runtimes,
// which abort on absurd sizes, out of it.
constexpr SIZE_T kRuntimeLimit = static_cast<SIZE_T>(PTRDIFF_MAX);

void* runtimeAlloc(SIZE_T size)
{
    void* p = size <= kRuntimeLimit ? std::malloc(size) : nullptr;
    if (p == nullptr)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return p;
}

void* runtimeReAlloc(void* p, SIZE_T size)
{
    if (p == nullptr)
        return failWith<void*>(ERROR_INVALID_PARAMETER, nullptr);
    // realloc(p, 0) would free the block; a 0-byte block is still a block here.
    void* moved = size <= kRuntimeLimit ? std::realloc(p, size != 0 ? size : 1) : nullptr;
    if (moved == nullptr)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return moved;
}

BOOL runtimeWalk(PROCESS_HEAP_ENTRY* entry)
{
    // One region whose committed size is what glibc has handed out (arenas and mappings).
    CriticalSectionGuard guard(gRuntimeLock);
    if (entry->lpData == &gRuntimeRegion && (entry->wFlags & PROCESS_HEAP_REGION))
        return failWith<BOOL>(ERROR_NO_MORE_ITEMS, FALSE);
    if (entry->lpData != nullptr)
        return failWith<BOOL>(ERROR_INVALID_PARAMETER, FALSE);
    const struct mallinfo2 info = mallinfo2();
    *entry = PROCESS_HEAP_ENTRY{};
    entry->lpData = &gRuntimeRegion;
    entry->wFlags = PROCESS_HEAP_REGION;
    const std::size_t inUse = info.uordblks + info.hblkhd;
    entry->Region.dwCommittedSize = static_cast<DWORD>(inUse < 0xFFFFFFFFu ? inUse : 0xFFFFFFFFu);
    return TRUE;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Creation, destruction, enumeration

HANDLE HeapCreate(DWORD options, SIZE_T initialSize, SIZE_T maximumSize)
{
    if (options != 0 || maximumSize != 0)
        return failWith<HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
    PrivateHeap* heap = PrivateHeap::create(initialSize);
    if (heap == nullptr)
        return failWith<HANDLE>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    std::uintptr_t value = 0;
    {
        CriticalSectionGuard guard(gTableLock);
        std::uint32_t index = gFreeSlots;
        if (index != 0)
            gFreeSlots = gSlots[index].nextFree;
        else if (gNextUnusedSlot < kMaximumHeaps)
            index = gNextUnusedSlot++;
        if (index != 0) {
            HeapSlot& slot = gSlots[index];
            ++slot.generation;
            value = kHandleTag | (std::uintptr_t{slot.generation} << kGenerationShift) |
                    (std::uintptr_t{index} << kSlotShift);
            slot.heap = heap;
            slot.handle.store(value, std::memory_order_release);
        }
    }
    if (value == 0) {
        heap->destroy();
        return failWith<HANDLE>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    }
    return reinterpret_cast<HANDLE>(value);
}

BOOL HeapDestroy(HANDLE heap)
{
    const auto value = reinterpret_cast<std::uintptr_t>(heap);
    PrivateHeap* destroyed = nullptr;
    {
        CriticalSectionGuard guard(gTableLock);
        const auto index = static_cast<std::uint32_t>(slotOf(value));
        HeapSlot& slot = gSlots[index];
        if (slot.heap != nullptr && slot.handle.load(std::memory_order_relaxed) == value) {
            destroyed = slot.heap;
            slot.handle.store(0, std::memory_order_release);
            slot.heap = nullptr;
            slot.nextFree = gFreeSlots;
            gFreeSlots = index;
        }
    }
    if (destroyed == nullptr)
        return failWith<BOOL>(isRuntimeHeap(heap) ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE, FALSE);
    destroyed->destroy();
    return TRUE;
}

DWORD GetProcessHeaps(DWORD capacity, HANDLE* heaps)
{
    CriticalSectionGuard guard(gTableLock);
    DWORD count = 0;
    auto list = [&](std::uintptr_t value) {
        if (count < capacity && heaps != nullptr)
            heaps[count] = reinterpret_cast<HANDLE>(value);
        ++count;
    };
    list(kRuntimeHandle);
    for (std::uint32_t i = 1; i < gNextUnusedSlot; ++i) {
        if (const std::uintptr_t value = gSlots[i].handle.load(std::memory_order_relaxed))
            list(value);
    }
    return count;
}

std::intptr_t _get_heap_handle()
{
    return static_cast<std::intptr_t>(kRuntimeHandle);
}

// ---------------------------------------------------------------------------------------------
// Blocks

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T size)
{
    PrivateHeap* privateHeap;
    if (!resolve(heap, flags, &privateHeap)) [[unlikely]]
        return nullptr;
    return privateHeap != nullptr ? privateHeap->alloc(size) : runtimeAlloc(size);
}

LPVOID HeapReAlloc(HANDLE heap, DWORD flags, LPVOID p, SIZE_T size)
{
    PrivateHeap* privateHeap;
    if (!resolve(heap, flags, &privateHeap)) [[unlikely]]
        return nullptr;
    return privateHeap != nullptr ? privateHeap->reAlloc(p, size) : runtimeReAlloc(p, size);
}

BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID p)
{
    PrivateHeap* privateHeap;
    if (!resolve(heap, flags, &privateHeap)) [[unlikely]]
        return FALSE;
    if (privateHeap != nullptr)
        return privateHeap->free(p);
    std::free(p);
    return TRUE;
}

SIZE_T HeapSize(HANDLE heap, DWORD flags, LPCVOID p)
{
    PrivateHeap* privateHeap;
    if (!resolve(heap, flags, &privateHeap))
        return ~SIZE_T{0};
    if (privateHeap != nullptr)
        return privateHeap->size(p);
    if (p == nullptr)
        return failWith<SIZE_T>(ERROR_INVALID_PARAMETER, ~SIZE_T{0});
    return malloc_usable_size(const_cast<void*>(p));
}

BOOL HeapValidate(HANDLE heap, DWORD flags, LPCVOID p)
{
    PrivateHeap* privateHeap;
    if (!resolve(heap, flags, &privateHeap))
        return FALSE;
    return privateHeap != nullptr ? privateHeap->validate(p) : TRUE;
}

// ---------------------------------------------------------------------------------------------
// Locking, walking, information

BOOL HeapLock(HANDLE heap)
{
    PrivateHeap* privateHeap;
    if (!resolve(heap, 0, &privateHeap))
        return FALSE;
    if (privateHeap != nullptr)
        return privateHeap->lock();
    EnterCriticalSection(&gRuntimeLock);
    return TRUE;
}

BOOL HeapUnlock(HANDLE heap)
{
    PrivateHeap* privateHeap;
    if (!resolve(heap, 0, &privateHeap))
        return FALSE;
    if (privateHeap != nullptr)
        return privateHeap->unlock();
    LeaveCriticalSection(&gRuntimeLock);
    return TRUE;
}

BOOL HeapWalk(HANDLE heap, PROCESS_HEAP_ENTRY* entry)
{
    PrivateHeap* privateHeap;
    if (!resolve(heap, 0, &privateHeap))
        return FALSE;
    if (entry == nullptr)
        return failWith<BOOL>(ERROR_INVALID_PARAMETER, FALSE);
    return privateHeap != nullptr ? privateHeap->walk(entry) : runtimeWalk(entry);
}

// The low-fragmentation mode is all a heap can be switched to, and it changes nothing: the
// allocator already keeps small sizes apart in bins of their own, which is what the mode asks for.
BOOL HeapSetInformation(HANDLE heap, HEAP_INFORMATION_CLASS informationClass, void* information,
                        SIZE_T length)
{
    PrivateHeap* privateHeap;
    if (!resolve(heap, 0, &privateHeap))
        return FALSE;
    ULONG mode = 0;
    if (informationClass != HeapCompatibilityInformation || information == nullptr || length != sizeof mode)
        return failWith<BOOL>(ERROR_INVALID_PARAMETER, FALSE);
    std::memcpy(&mode, information, sizeof mode);
    return mode == 2 ? TRUE : failWith<BOOL>(ERROR_INVALID_PARAMETER, FALSE);
}

} // namespace win
