// heap/ProcessAllocator.cpp
// The six operations behind heap handle 0, chosen once at load by the Windows version the
// process reports: the C runtime from version 6 on, the small-block heap before.

#include "heap/HeapInternal.h"

#include "platform/win.h"

#include <atomic>
#include <cstdlib>

namespace oxheap {
namespace {

// The C runtime heap's handle, fetched on the first try-allocation and kept.
std::atomic<win::HANDLE> gCRuntimeHeap{nullptr};

[[gnu::noinline]] win::HANDLE fetchCRuntimeHeap()
{
    auto heap = reinterpret_cast<win::HANDLE>(win::_get_heap_handle());
    gCRuntimeHeap.store(heap, std::memory_order_release);
    return heap;
}

void* cRuntimeTryAlloc(std::size_t size) noexcept
{
    win::HANDLE heap = gCRuntimeHeap.load(std::memory_order_acquire);
    if (heap == nullptr) [[unlikely]]
        heap = fetchCRuntimeHeap();
    return win::HeapAlloc(heap, 0, size);
}

std::size_t cRuntimeMsize(const void* p) noexcept
{
    return win::_msize(p);
}

bool alwaysValid(const void*) noexcept
{
    return true;
}

std::size_t smallBlockMsize(const void* p) noexcept
{
    return __oxMsizeAligned(p);
}

void* smallBlockTryAlloc(std::size_t size) noexcept
{
    OxNoOutOfMemHandlerScope quiet;
    return __oxMallocAligned(size);
}

constexpr OxProcessAllocator kCRuntimeColumn{&::malloc,      &::free,           &::realloc,
                                             &cRuntimeMsize, &cRuntimeTryAlloc, &alwaysValid};
constexpr OxProcessAllocator kSmallBlockColumn{&__oxMallocAligned, &__oxFreeAligned,    &smallBlockRealloc,
                                               &smallBlockMsize,   &smallBlockTryAlloc, &alwaysValid};

constinit OxProcessAllocatorKind gKind = OxProcessAllocatorKind::kCRuntime;

} // namespace

constinit OxProcessAllocator gProcessAllocator = kCRuntimeColumn;

void chooseProcessAllocator()
{
    win::OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    // A failed query leaves the major version 0, which selects the older column; it cannot fail
    // with a correctly sized record.
    win::GetVersionExW(&version);
    if (version.dwMajorVersion >= 6) {
        gProcessAllocator = kCRuntimeColumn;
        gKind = OxProcessAllocatorKind::kCRuntime;
    } else {
        gProcessAllocator = kSmallBlockColumn;
        gKind = OxProcessAllocatorKind::kSmallBlock;
    }
}

} // namespace oxheap

const OxProcessAllocator* const __oxProcessAllocatorTable = &oxheap::gProcessAllocator;

const OxProcessAllocator& oxProcessAllocator()
{
    return oxheap::gProcessAllocator;
}

OxProcessAllocatorKind oxProcessAllocatorKind()
{
    return oxheap::gKind;
}
