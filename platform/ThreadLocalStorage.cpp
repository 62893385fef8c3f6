// platform/ThreadLocalStorage.cpp
// Windows thread-local storage, the fiber-data word of the thread information block, and the
// calling thread's stack limits. TLS values live in a block of each thread's own (64 slots
// inline, 1024 expansion slots made on first use); TlsFree clears the freed slot in every
// thread that ever stored a value, so a reused index reads null everywhere, as on Windows.

#include "platform/TestControls.h"
#include "platform/win.h"

#include <atomic>
#include <cstdlib>
#include <pthread.h>

namespace win {
namespace {

constexpr DWORD kExpansionSlots = kTlsSlotCount - TLS_MINIMUM_AVAILABLE;

// A thread's values. Plain data, so reaching it costs no initialisation check; the
// registration below is what needs a destructor. Slots are read and written atomically
// (relaxed): TlsFree clears them from another thread.
struct ThreadSlots {
    LPVOID inlineSlots[TLS_MINIMUM_AVAILABLE];
    LPVOID* expansion; // kExpansionSlots values, made on first need; freed when the thread ends
    ThreadSlots* next; // in the list of registered threads
    ThreadSlots* prev;
    bool registered;
};

thread_local ThreadSlots tSlots;
thread_local LPVOID tCurrentFiber = nullptr;

// Guards the list of registered threads, the expansion pointers as others see them, and the
// allocation of indices.
constinit CRITICAL_SECTION gLock{};
constinit ThreadSlots* gpRegistered = nullptr;
constinit std::atomic<std::uint64_t> gAllocated[kTlsSlotCount / 64] = {};

bool isAllocated(DWORD index)
{
    return index < kTlsSlotCount &&
           (gAllocated[index / 64].load(std::memory_order_relaxed) >> (index % 64) & 1) != 0;
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
        std::free(slots.expansion);
        slots.expansion = nullptr;
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

// The slot of `index` in the calling thread; null when it is an expansion slot not made yet
// and `make` is false, or it cannot be made.
LPVOID* slotOf(DWORD index, bool make)
{
    if (index < TLS_MINIMUM_AVAILABLE)
        return &tSlots.inlineSlots[index];
    if (tSlots.expansion == nullptr) {
        if (!make)
            return nullptr;
        auto* expansion = static_cast<LPVOID*>(std::calloc(kExpansionSlots, sizeof(LPVOID)));
        if (expansion == nullptr)
            return nullptr;
        CriticalSectionGuard guard(gLock);
        tSlots.expansion = expansion;
    }
    return &tSlots.expansion[index - TLS_MINIMUM_AVAILABLE];
}

} // namespace

DWORD TlsAlloc()
{
    CriticalSectionGuard guard(gLock);
    for (DWORD word = 0; word < kTlsSlotCount / 64; ++word) {
        const std::uint64_t bits = gAllocated[word].load(std::memory_order_relaxed);
        if (bits == ~std::uint64_t{0})
            continue;
        const auto bit = static_cast<DWORD>(__builtin_ctzll(~bits));
        gAllocated[word].store(bits | std::uint64_t{1} << bit, std::memory_order_relaxed);
        return word * 64 + bit;
    }
    SetLastError(ERROR_NO_MORE_ITEMS);
    return TLS_OUT_OF_INDEXES;
}

LPVOID TlsGetValue(DWORD index)
{
    if (!isAllocated(index)) [[unlikely]] {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    LPVOID* slot = slotOf(index, false);
    return slot != nullptr ? std::atomic_ref<LPVOID>(*slot).load(std::memory_order_relaxed) : nullptr;
}

BOOL TlsSetValue(DWORD index, LPVOID value)
{
    if (!isAllocated(index)) [[unlikely]] {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    LPVOID* slot = slotOf(index, value != nullptr);
    if (slot == nullptr) {
        if (value == nullptr) // an expansion slot never made already reads null
            return TRUE;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (!tSlots.registered && value != nullptr)
        registerThread();
    std::atomic_ref<LPVOID>(*slot).store(value, std::memory_order_relaxed);
    return TRUE;
}

BOOL TlsFree(DWORD index)
{
    CriticalSectionGuard guard(gLock);
    if (!isAllocated(index)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (ThreadSlots* slots = gpRegistered; slots != nullptr; slots = slots->next) {
        LPVOID* slot = index < TLS_MINIMUM_AVAILABLE ? &slots->inlineSlots[index]
                       : slots->expansion != nullptr ? &slots->expansion[index - TLS_MINIMUM_AVAILABLE]
                                                     : nullptr;
        if (slot != nullptr)
            std::atomic_ref<LPVOID>(*slot).store(nullptr, std::memory_order_relaxed);
    }
    gAllocated[index / 64].fetch_and(~(std::uint64_t{1} << (index % 64)), std::memory_order_relaxed);
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
