// heap/HeapFrontEnd.cpp
// The entry points every module allocates through. Heap 0 goes to the process allocator table
// (ProcessAllocator.cpp); any other handle to the platform's private heaps with flags 0. The
// front end holds no lock of its own: the heaps behind it serialise themselves.

#include "heap/HeapInternal.h"

#include "platform/win.h"

#include <cstring>
#include <string>

namespace oxheap {

thread_local bool tNoOutOfMemHandler = false;

namespace {

// One turn of the new-handler retry: true when the handler asks for another attempt. A
// failure that is not a shortage of memory (a handle that is no heap, a pointer the heap does
// not own) is not retried: no handler can cure it, and retrying would spin for as long as the
// handler keeps asking.
[[gnu::noinline]] bool retryAfterFailure(std::size_t size)
{
    const win::DWORD error = win::GetLastError();
    if (error == win::ERROR_INVALID_HANDLE || error == win::ERROR_INVALID_PARAMETER)
        return false;
    win::_PNH handler = win::_query_new_handler();
    return handler != nullptr && handler(size) != 0;
}

// Private heaps, kept out of line so that heap 0 costs one test and a jump through the
// allocator table (its operations are noexcept, so no frame is needed around the call).
[[gnu::noinline]] void* reallocInHeap(void* heap, void* p, std::size_t size) noexcept
{
    for (;;) {
        void* q = p != nullptr ? win::HeapReAlloc(heap, 0, p, size) : win::HeapAlloc(heap, 0, size);
        if (q != nullptr) [[likely]]
            return q;
        if (!retryAfterFailure(size))
            return nullptr;
    }
}

} // namespace
} // namespace oxheap

using oxheap::gProcessAllocator;

// oxHeapAlloc and oxHeapFree are inline in the header; taking their addresses here makes the
// library define and export them too.
[[gnu::used]] constexpr void* (*kExportedAlloc)(void*, std::size_t) noexcept = &oxHeapAlloc;
[[gnu::used]] constexpr void (*kExportedFree)(void*, void*) noexcept = &oxHeapFree;

void* __oxPrivateHeapAlloc(void* heap, std::size_t size) noexcept
{
    for (;;) {
        if (void* p = win::HeapAlloc(heap, 0, size)) [[likely]]
            return p;
        if (!oxheap::retryAfterFailure(size))
            return nullptr;
    }
}

void __oxPrivateHeapFree(void* heap, void* p) noexcept
{
    win::HeapFree(heap, 0, p);
}

void* oxTryHeapAlloc(void* heap, std::size_t size) noexcept
{
    if (heap == nullptr)
        return gProcessAllocator.tryAlloc(size);
    return win::HeapAlloc(heap, 0, size);
}

void* oxHeapReAlloc(void* heap, void* p, std::size_t size) noexcept
{
    if (heap == nullptr) [[likely]]
        return gProcessAllocator.realloc(p, size);
    return oxheap::reallocInHeap(heap, p, size);
}

std::size_t oxHeapSize(void* heap, const void* p) noexcept
{
    if (heap == nullptr)
        return gProcessAllocator.msize(p);
    return win::HeapSize(heap, 0, p);
}

bool oxHeapValidate(void* heap, const void* p) noexcept
{
    if (heap == nullptr)
        return gProcessAllocator.validate(p);
    return win::HeapValidate(heap, 0, p) != 0;
}

bool oxHeapWalk(void* heap, std::uint32_t& count, std::uint32_t& bytes, std::uint32_t& overhead) noexcept
{
    count = 0;
    bytes = 0;
    overhead = 0;
    // A handle the platform does not know as a heap cannot be locked; it has nothing to count.
    if (heap == nullptr || !win::HeapLock(heap))
        return false;
    win::PROCESS_HEAP_ENTRY entry{};
    while (win::HeapWalk(heap, &entry)) {
        if (entry.wFlags & win::PROCESS_HEAP_ENTRY_BUSY) {
            count += 1;
            bytes += entry.cbData;
            overhead += entry.cbOverhead;
        }
    }
    win::HeapUnlock(heap);
    return true;
}

void* oxHeapCreate(std::uint32_t) noexcept
{
    constexpr std::size_t kInitialCommit = 4096;
    win::HANDLE heap = win::HeapCreate(0, kInitialCommit, 0);
    while (heap == nullptr) {
        if (!oxheap::retryAfterFailure(kInitialCommit))
            return nullptr;
        heap = win::HeapCreate(0, kInitialCommit, 0);
    }
    win::ULONG lowFragmentation = 2;
    win::HeapSetInformation(heap, win::HeapCompatibilityInformation, &lowFragmentation,
                            sizeof lowFragmentation);
    return heap;
}

void oxHeapDestroy(void* heap) noexcept
{
    if (heap != nullptr)
        win::HeapDestroy(heap);
}

void* __oxMalloc(std::size_t size) noexcept
{
    return gProcessAllocator.malloc(size);
}

void __oxFree(void* p) noexcept
{
    gProcessAllocator.free(p);
}

void* __oxRealloc(void* p, std::size_t size) noexcept
{
    return oxHeapReAlloc(nullptr, p, size);
}

unsigned int __oxMsize(const void* p) noexcept
{
    return static_cast<unsigned int>(oxHeapSize(nullptr, p));
}

unsigned int oxMsize(const void* p) noexcept
{
    return static_cast<unsigned int>(oxHeapSize(nullptr, p));
}

OXCHAR* __oxStrdup(const OXCHAR* s) noexcept
{
    if (s == nullptr)
        return nullptr;
    const std::size_t length = std::char_traits<OXCHAR>::length(s);
    auto* copy = static_cast<OXCHAR*>(gProcessAllocator.malloc((length + 1) * sizeof(OXCHAR)));
    if (copy == nullptr)
        return nullptr;
    std::memcpy(copy, s, (length + 1) * sizeof(OXCHAR));
    return copy;
}

bool oxCallOutOfMemHandler(std::size_t size) noexcept
{
    if (oxheap::tNoOutOfMemHandler)
        return false;
    win::_PNH handler = win::_query_new_handler();
    return handler != nullptr && handler(size) != 0;
}

OxNoOutOfMemHandlerScope::OxNoOutOfMemHandlerScope() : mPrevious(oxheap::tNoOutOfMemHandler)
{
    oxheap::tNoOutOfMemHandler = true;
}

OxNoOutOfMemHandlerScope::~OxNoOutOfMemHandlerScope()
{
    oxheap::tNoOutOfMemHandler = mPrevious;
}

void* OxHeapOperators::allocRawMem(std::size_t size) noexcept
{
    return gProcessAllocator.malloc(size);
}

void OxHeapOperators::freeRawMem(void* p) noexcept
{
    gProcessAllocator.free(p);
}

void* OxHeapOperators::allocRawMem(std::size_t size, const char*, int) noexcept
{
    return oxHeapAlloc(nullptr, size);
}

void OxHeapOperators::freeRawMem(void* p, const char*, int) noexcept
{
    oxHeapFree(nullptr, p);
}

void establishHeapErrorHandler(void (*)(const OXCHAR*)) noexcept {}

void OxHeapDump(int, int, const OXCHAR*) noexcept {}

int oxDbgOverhead() noexcept
{
    return 0;
}

int oxfirst_entry() noexcept
{
    return 0;
}

int oxMgcEp000000() noexcept
{
    return 0;
}
