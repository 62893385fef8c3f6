// heap/TlsDestructors.cpp
// The TLS destructor registry: which TLS slots hold values that need a destructor when their
// thread goes away. Windows TLS has no destructors, so the library keeps this map itself and
// runs it for the detaching thread at process detach, and for every thread that ends: on this
// platform a thread's slots are unreachable once it has ended, so an ending thread runs the
// registry for itself rather than leave its values (a stack-heap arena each) behind.

#include "heap/HeapInternal.h"

#include "platform/win.h"

#include <map>
#include <new>

namespace oxheap {
namespace {

using Destructor = void (*)(void*);

constinit win::CRITICAL_SECTION gRegistryLock{};
constinit std::map<std::uint32_t, Destructor>* gpRegistry = nullptr;

struct ThreadEndWatch {
    ~ThreadEndWatch() { runTlsDestructors(); }
};

} // namespace

void setUpTlsDestructorRegistry()
{
    gpRegistry = new (std::nothrow) std::map<std::uint32_t, Destructor>;
}

std::uint32_t fillSlotOnce(std::atomic<std::uint32_t>& slot, std::uint32_t (*allocate)(void*), void* context)
{
    win::CriticalSectionGuard guard(gRegistryLock);
    std::uint32_t index = slot.load(std::memory_order_relaxed);
    if (index == win::TLS_OUT_OF_INDEXES) {
        index = allocate(context);
        slot.store(index, std::memory_order_release);
    }
    return index;
}

std::uint32_t allocTlsSlotWithDestructor(Destructor destructor)
{
    win::CriticalSectionGuard guard(gRegistryLock);
    const win::DWORD index = win::TlsAlloc();
    if (index == win::TLS_OUT_OF_INDEXES || destructor == nullptr || gpRegistry == nullptr)
        return index;
    try {
        gpRegistry->emplace(index, destructor);
    } catch (const std::bad_alloc&) {
        // A slot whose values would never be destroyed is worse than no slot.
        win::TlsFree(index);
        return win::TLS_OUT_OF_INDEXES;
    }
    return index;
}

void watchThreadEnd()
{
    thread_local ThreadEndWatch tWatch;
    (void)&tWatch;
}

// Each destructor runs without the lock (it may allocate a slot itself), and its slot is
// cleared first, so a second run for the same thread finds nothing to do.
void runTlsDestructors()
{
    for (std::uint32_t next = 0;;) {
        std::uint32_t index = 0;
        Destructor destructor = nullptr;
        {
            win::CriticalSectionGuard guard(gRegistryLock);
            if (gpRegistry == nullptr)
                return;
            auto entry = gpRegistry->lower_bound(next);
            if (entry == gpRegistry->end())
                return;
            index = entry->first;
            destructor = entry->second;
        }
        next = index + 1;
        if (void* value = win::TlsGetValue(index)) {
            win::TlsSetValue(index, nullptr);
            destructor(value);
        }
    }
}

} // namespace oxheap
