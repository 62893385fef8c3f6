// platform/ThreadLocalStorage.cpp
// Windows thread-local storage, the fiber-data word of the thread information block, and the
// calling thread's stack limits. TLS values live in a block of each thread's own; TlsFree clears
// the freed slot in every thread that ever stored a value, so a reused index reads null
// everywhere, as on Windows.

#include "platform/TestControls.h"
#include "platform/win.h"

#include <atomic>
#include <pthread.h>

namespace win {
namespace {

// A thread's values. Plain data, so reaching it costs no initialisation check; the
// registration below is what needs a destructor. Slots are read and written atomically
// (relaxed): TlsFree clears them from another thread.
struct ThreadSlots {
    LPVOID slots[kTlsSlotCount];
    ThreadSlots* next; // in the list of registered threads
    ThreadSlots* prev;
    bool registered;
};

thread_local ThreadSlots tSlots;
thread_local LPVOID tCurrentFiber = nullptr;

// Guards the list of registered threads and the allocation of indices.
constinit CRITICAL_SECTION gLock{};
constinit ThreadSlots* gpRegistered = nullptr;
constinit std::atomic<std::uint64_t> gAllocated{0}; // bit i set <=> index i is allocated
static_assert(kTlsSlotCount == 64, "the allocation bitmap is one word");

bool isAllocated(DWORD index)
{
    return index < kTlsSlotCount && (gAllocated.load(std::memory_order_relaxed) >> index & 1) != 0;
}

// Takes the thread's block out of the list when the thread ends.
struct Registration {
    ~Registration()
    {
        CriticalSectionGuard guard(gLock);
        ThreadSlots& slots = tSlots;
        if (slots.prev != nullptr)
            slots.prev->next = slots.next;
        else
            gpRegistered = slots.next;
        if (slots.next != nullptr)
            slots.next->prev = slots.prev;
        slots.registered = false;
    }
};

[[gnu::noinline]] void registerThread()
{
    static thread_local Registration tRegistration;
    (void)&tRegistration;
    CriticalSectionGuard guard(gLock);
    tSlots.prev = nullptr;
    tSlots.next = gpRegistered;
    if (gpRegistered != nullptr)
        gpRegistered->prev = &tSlots;
    gpRegistered = &tSlots;
    tSlots.registered = true;
}

} // namespace

DWORD TlsAlloc()
{
    CriticalSectionGuard guard(gLock);
    const std::uint64_t bits = gAllocated.load(std::memory_order_relaxed);
    if (bits == ~std::uint64_t{0}) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return TLS_OUT_OF_INDEXES;
    }
    const auto index = static_cast<DWORD>(__builtin_ctzll(~bits));
    gAllocated.store(bits | std::uint64_t{1} << index, std::memory_order_relaxed);
    return index;
}

LPVOID TlsGetValue(DWORD index)
{
    if (!isAllocated(index)) [[unlikely]] {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return std::atomic_ref<LPVOID>(tSlots.slots[index]).load(std::memory_order_relaxed);
}

BOOL TlsSetValue(DWORD index, LPVOID value)
{
    if (!isAllocated(index)) [[unlikely]] {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!tSlots.registered && value != nullptr)
        registerThread();
    std::atomic_ref<LPVOID>(tSlots.slots[index]).store(value, std::memory_order_relaxed);
    return TRUE;
}

BOOL TlsFree(DWORD index)
{
    CriticalSectionGuard guard(gLock);
    if (!isAllocated(index)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (ThreadSlots* slots = gpRegistered; slots != nullptr; slots = slots->next)
        std::atomic_ref<LPVOID>(slots->slots[index]).store(nullptr, std::memory_order_relaxed);
    gAllocated.fetch_and(~(std::uint64_t{1} << index), std::memory_order_relaxed);
    return TRUE;
}

LPVOID GetCurrentFiber()
{
    return tCurrentFiber;
}

void test::setCurrentFiber(void* fiber)
{
    tCurrentFiber = fiber;
}

void GetCurrentThreadStackLimits(ULONG_PTR* lowLimit, ULONG_PTR* highLimit)
{
    // pthread_getattr_np reads /proc for the main thread: ask once per thread.
    thread_local ULONG_PTR tLow = 0;
    thread_local ULONG_PTR tHigh = 0;
    if (tHigh == 0) {
        pthread_attr_t attributes;
        if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
            void* address = nullptr;
            std::size_t size = 0;
            if (pthread_attr_getstack(&attributes, &address, &size) == 0) {
                tLow = reinterpret_cast<ULONG_PTR>(address);
                tHigh = tLow + size;
            }
            pthread_attr_destroy(&attributes);
        }
    }
    if (lowLimit != nullptr)
        *lowLimit = tLow;
    if (highLimit != nullptr)
        *highLimit = tHigh;
}

} // namespace win
