// platform/SlimLock.cpp
// The contended half of the futex word of SlimLock.h.

#include "platform/SlimLock.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace win::detail {

// Spin briefly first: the holder is usually about to leave. Then mark the word contended and
// sleep until a leave wakes us; whoever takes the word after a sleep keeps it marked 2, since
// other sleepers may remain.
void lockContended(int& word)
{
    std::atomic_ref<int> state(word);
    for (int spin = 0; spin < 100; ++spin) {
        if (state.load(std::memory_order_relaxed) == 0 && tryLockWord(word))
            return;
        __builtin_ia32_pause();
    }
    while (state.exchange(2, std::memory_order_acquire) != 0)
        syscall(SYS_futex, &word, FUTEX_WAIT_PRIVATE, 2, nullptr, nullptr, 0);
}

void wakeOne(int& word)
{
    syscall(SYS_futex, &word, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

} // namespace win::detail
