// heap/FixedSizeHeap.cpp
// Fixed-size heaps: size classes of their own on the pages of the small-block heap, under its
// lock. Their pages carry kFixedHeapPage, so a block handed to __oxFreeAligned by mistake is
// recognised and left alone instead of being threaded into a shared class's lists.

#include "heap/SmallBlockInternal.h"

#include <oxfirst/OxHeap.h>

#include <cstdlib>
#include <new>

struct OxFixedSizeHeap : oxheap::OxSbClass {};

OxFixedSizeHeap* __oxHeapCreate(unsigned int size) noexcept
{
    using namespace oxheap;
    const std::uint32_t classIndex = classOfSize(size);
    if (classIndex == 0)
        return nullptr;
    void* memory = std::malloc(sizeof(OxFixedSizeHeap));
    if (memory == nullptr)
        return nullptr;
    const std::uint32_t blockSize = kSizeClasses.blockSize[classIndex];
    win::SlimLockGuard guard(gSmallBlockLock);
    return new (memory)
        OxFixedSizeHeap{{blockSize, classIndex, kPageBytes / blockSize, kFixedHeapPage, nullptr, nullptr}};
}

void* __oxHeapMalloc(OxFixedSizeHeap* heap) noexcept
{
    if (heap == nullptr)
        return nullptr;
    win::SlimLockGuard guard(oxheap::gSmallBlockLock);
    return oxheap::allocFromClass(heap, guard);
}

unsigned int __oxHeapSize(const OxFixedSizeHeap* heap) noexcept
{
    return heap != nullptr ? heap->blockSize : 0;
}

bool __oxHeapDestroy(OxFixedSizeHeap* heap) noexcept
{
    if (heap == nullptr)
        return true;
    {
        win::SlimLockGuard guard(oxheap::gSmallBlockLock);
        oxheap::releaseAllPages(heap);
    }
    heap->~OxFixedSizeHeap();
    std::free(heap);
    return true;
}
