// platform/SlimLock.cpp
// The contended half of SlimLock: the classic three-state futex word.

#include "platform/SlimLock.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace win {

void SlimLock::enterSlow()
{
    for (int spin = 0; spin < 100; ++spin) {
        int expected = 0;
        if (mState.load(std::memory_order_relaxed) == 0 &&
            mState.compare_exchange_weak(expected, 1, std::memory_order_acquire, std::memory_order_relaxed))
            return;
        __builtin_ia32_pause();
    }
    while (mState.exchange(2, std::memory_order_acquire) != 0)
        syscall(SYS_futex, reinterpret_cast<int*>(&mState), FUTEX_WAIT_PRIVATE, 2, nullptr, nullptr, 0);
}

void SlimLock::wakeOne()
{
    syscall(SYS_futex, reinterpret_cast<int*>(&mState), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

} // namespace win
