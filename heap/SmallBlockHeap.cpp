// heap/SmallBlockHeap.cpp
// Entry points of the small-block heap, the allocator behind heap handle 0 on Windows before
// version 6. The size classes, regions and pages are not in place yet, so the heap runs as it
// does when switched off at load: requests above 2 GB fail after informing the out-of-memory
// handler, everything else goes to the C runtime, and no block lies in a live region.

#include "heap/HeapInternal.h"

#include "platform/win.h"

#include <cstdlib>

namespace {
constexpr std::size_t kLargestRequest = 0x80000000u;
} // namespace

void* __oxMallocAligned(std::size_t size) noexcept
{
    if (size > kLargestRequest) [[unlikely]] {
        oxCallOutOfMemHandler(size);
        return nullptr;
    }
    return std::malloc(size);
}

void __oxFreeAligned(void* p) noexcept
{
    std::free(p);
}

unsigned int __oxMsizeAligned(const void* p) noexcept
{
    return static_cast<unsigned int>(win::_msize(p));
}

unsigned int oxMsizeAligned(const void* p) noexcept
{
    return __oxMsizeAligned(p);
}

namespace oxheap {

void* smallBlockRealloc(void* p, std::size_t size)
{
    return std::realloc(p, size);
}

std::size_t smallBlockCommittedSize()
{
    return 0;
}

} // namespace oxheap
