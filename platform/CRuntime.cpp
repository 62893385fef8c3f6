// platform/CRuntime.cpp
// The C runtime pieces the heap front end calls: the new handler in its C runtime form
// (int handler(size_t), non-zero asks for a retry) and the usable size of a malloc block.

#include "platform/win.h"

#include <atomic>
#include <malloc.h>
#include <new>

namespace win {
namespace {

std::atomic<_PNH> gNewHandler{nullptr};

// A std::new_handler either frees memory and returns (try again) or gives up by throwing
// bad_alloc. The library never lets an exception out of an allocation, so giving up becomes 0.
int callStandardNewHandler(SIZE_T)
{
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr)
        return 0;
    try {
        handler();
        return 1;
    } catch (...) {
        return 0;
    }
}

} // namespace

_PNH _query_new_handler()
{
    if (_PNH handler = gNewHandler.load(std::memory_order_acquire))
        return handler;
    return std::get_new_handler() != nullptr ? &callStandardNewHandler : nullptr;
}

_PNH _set_new_handler(_PNH handler)
{
    return gNewHandler.exchange(handler, std::memory_order_acq_rel);
}

SIZE_T _msize(const void* p)
{
    return p != nullptr ? malloc_usable_size(const_cast<void*>(p)) : 0;
}

} // namespace win
