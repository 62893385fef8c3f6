// platform/CriticalSection.cpp
// Re-entrant critical sections on a futex. `state` is the classic three-state futex word
// (0 free, 1 held, 2 held with possible sleepers); `owner` and `recursionCount` are touched only
// by the owner once it holds the word, except that other threads read `owner` to learn that
// they are not it. Zero-filled memory is a free section.

#include "platform/win.h"

#include <atomic>
#include <climits>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace win {
namespace {

static_assert(sizeof(CRITICAL_SECTION) == 40);

std::atomic_ref<int> stateOf(CRITICAL_SECTION* section)
{
    return std::atomic_ref<int>(section->state);
}
std::atomic_ref<unsigned long> ownerOf(CRITICAL_SECTION* section)
{
    return std::atomic_ref<unsigned long>(section->owner);
}

void futexWait(int* word, int expected)
{
    syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

void futexWakeOne(int* word)
{
    syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

// Out of line: the word was held. Spin briefly (the holder is usually about to leave), then
// mark the word contended and sleep until a leave wakes us.
[[gnu::noinline]] void enterSlow(CRITICAL_SECTION* section)
{
    auto state = stateOf(section);
    for (int spin = 0; spin < 100; ++spin) {
        int expected = 0;
        if (state.load(std::memory_order_relaxed) == 0 &&
            state.compare_exchange_weak(expected, 1, std::memory_order_acquire, std::memory_order_relaxed))
            return;
        __builtin_ia32_pause();
    }
    int previous = state.exchange(2, std::memory_order_acquire);
    while (previous != 0) {
        futexWait(&section->state, 2);
        previous = state.exchange(2, std::memory_order_acquire);
    }
}

} // namespace

void InitializeCriticalSection(CRITICAL_SECTION* section)
{
    *section = CRITICAL_SECTION{};
}

BOOL InitializeCriticalSectionAndSpinCount(CRITICAL_SECTION* section, DWORD spinCount)
{
    InitializeCriticalSection(section);
    section->spinCount = spinCount;
    return TRUE;
}

void EnterCriticalSection(CRITICAL_SECTION* section)
{
    const unsigned long self = pthread_self();
    if (ownerOf(section).load(std::memory_order_relaxed) == self) {
        ++section->recursionCount;
        return;
    }
    int expected = 0;
    if (!stateOf(section).compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                                  std::memory_order_relaxed)) [[unlikely]]
        enterSlow(section);
    ownerOf(section).store(self, std::memory_order_relaxed);
    section->recursionCount = 1;
}

BOOL TryEnterCriticalSection(CRITICAL_SECTION* section)
{
    const unsigned long self = pthread_self();
    if (ownerOf(section).load(std::memory_order_relaxed) == self) {
        ++section->recursionCount;
        return TRUE;
    }
    int expected = 0;
    if (!stateOf(section).compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                                  std::memory_order_relaxed))
        return FALSE;
    ownerOf(section).store(self, std::memory_order_relaxed);
    section->recursionCount = 1;
    return TRUE;
}

void LeaveCriticalSection(CRITICAL_SECTION* section)
{
    // Leaving a section the thread does not hold is a caller error; ignoring it keeps the
    // section usable for its real owner.
    if (ownerOf(section).load(std::memory_order_relaxed) != pthread_self()) [[unlikely]]
        return;
    if (--section->recursionCount > 0)
        return;
    ownerOf(section).store(0, std::memory_order_relaxed);
    if (stateOf(section).exchange(0, std::memory_order_release) == 2) [[unlikely]]
        futexWakeOne(&section->state);
}

void DeleteCriticalSection(CRITICAL_SECTION* section)
{
    *section = CRITICAL_SECTION{};
}

} // namespace win
