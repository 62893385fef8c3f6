// heap/NamedHeaps.cpp
// Named heap objects and the process-wide list that heap reports walk. The list is newest
// first and holds every constructed OxHeap exactly once; it takes no lock, since heap objects
// are made and destroyed during start-up and shutdown, one thread at a time.

#include "heap/HeapInternal.h"

#include <cstddef>
#include <new>

namespace {

// Head of the list. Every constructed OxHeap is reachable from here until its destructor runs.
constinit OxHeap* gpFirstHeap = nullptr;

const OXCHAR* nameOfPool(OxHeapPool pool)
{
    switch (pool.low) {
    case kOxHeapPoolCObjects:
        return u"CObjects";
    case kOxHeapPoolSmallBlock:
        return u"OrkaHeap";
    default:
        return u"Default";
    }
}

} // namespace

OxHeap::OxHeap(const OXCHAR* name) : mPool(0), mName(name), mNext(nullptr)
{
    link();
}

OxHeap::OxHeap(OxHeapPool pool) : mPool(pool), mName(nameOfPool(pool)), mNext(nullptr)
{
    link();
}

OxHeap::OxHeap(const OxHeap& other) : mPool(other.mPool), mName(other.mName), mNext(nullptr)
{
    link();
}

OxHeap::~OxHeap()
{
    unlink();
}

// Copying the link as well would cut the list short at the target; the target keeps its place.
OxHeap& OxHeap::operator=(const OxHeap& other)
{
    mPool = other.mPool;
    mName = other.mName;
    return *this;
}

OxHeap* OxHeap::first()
{
    return gpFirstHeap;
}

void OxHeap::link()
{
    static_assert(sizeof(OxHeap) == 24);
    static_assert(offsetof(OxHeap, mPool) == 0 && offsetof(OxHeap, mName) == 8 &&
                  offsetof(OxHeap, mNext) == 16);
    mNext = gpFirstHeap;
    gpFirstHeap = this;
}

void OxHeap::unlink()
{
    for (OxHeap** link = &gpFirstHeap; *link != nullptr; link = &(*link)->mNext) {
        if (*link == this) {
            *link = mNext;
            mNext = nullptr;
            return;
        }
    }
}

void* OxHeap::allocMem(std::size_t size)
{
    return oxheap::gProcessAllocator.malloc(size);
}

int OxHeap::freeMem(void* p)
{
    if (p == nullptr)
        return 0;
    oxheap::gProcessAllocator.free(p);
    return 1;
}

void* OxHeap::reallocMem(void* p, std::size_t size)
{
    return __oxRealloc(p, size);
}

unsigned int OxHeap::sizeMem(const void* p)
{
    return static_cast<unsigned int>(oxHeapSize(nullptr, p));
}

std::size_t OxHeap::heapSize()
{
    return mPool.low == kOxHeapPoolSmallBlock ? oxheap::smallBlockCommittedSize() : 0;
}

void OxHeap::allocHeap() {}

void OxHeap::freeHeap() {}

namespace oxheap {

OxHeap* heapForPool(OxHeapPool pool)
{
    for (OxHeap* heap = gpFirstHeap; heap != nullptr; heap = heap->next())
        if (heap->pool() == pool)
            return heap;
    return new (std::nothrow) OxHeap(pool);
}

} // namespace oxheap
