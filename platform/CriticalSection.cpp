// platform/CriticalSection.cpp
// Re-entrant critical sections on the futex word of SlimLock.h. `owner` and `recursionCount`
// are touched only by the owner once it holds the word, except that other threads read `owner`
// to learn that they are not it. Zero-filled memory is a free section.

#include "platform/SlimLock.h"

#include <pthread.h>

namespace win {
namespace {

std::atomic_ref<unsigned long> ownerOf(CRITICAL_SECTION* section)
{
    return std::atomic_ref<unsigned long>(section->owner);
}

} // namespace

void EnterCriticalSection(CRITICAL_SECTION* section)
{
    const unsigned long self = pthread_self();
    if (ownerOf(section).load(std::memory_order_relaxed) == self) {
        ++section->recursionCount;
        return;
    }
    detail::lockWord(section->state);
    ownerOf(section).store(self, std::memory_order_relaxed);
    section->recursionCount = 1;
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
    detail::unlockWord(section->state);
}

} // namespace win
