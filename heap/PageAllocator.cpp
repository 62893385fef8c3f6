// heap/PageAllocator.cpp
// Whole committed pages straight from virtual memory, with no state of their own. A refused
// commit gives the out-of-memory handler a bounded number of chances: unlike the heap front
// end, which retries for as long as the handler asks, a page request gives up after 6 retries.

#include <oxfirst/OxHeap.h>

#include "platform/win.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int kRetries = 6;
} // namespace

void* __oxAllocPages(std::size_t size) noexcept
{
    if (size == 0)
        return nullptr;
    for (int retry = 0;; ++retry) {
        if (void* pages = win::VirtualAlloc(nullptr, size, win::MEM_COMMIT, win::PAGE_READWRITE))
            return pages;
        if (retry == kRetries || !oxCallOutOfMemHandler(size))
            return nullptr;
    }
}

void __oxFreePages(void* p) noexcept
{
    if (p != nullptr)
        win::VirtualFree(p, 0, win::MEM_RELEASE);
}

void* __oxReallocPages(void* p, std::size_t oldSize, std::size_t newSize) noexcept
{
    void* pages = __oxAllocPages(newSize);
    if (pages == nullptr)
        return nullptr;
    if (p != nullptr)
        std::memcpy(pages, p, std::min(oldSize, newSize));
    __oxFreePages(p);
    return pages;
}
