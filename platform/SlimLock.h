// platform/SlimLock.h
// A small non-recursive lock for the allocators' short critical sections. Uncontended, entering
// and leaving cost one atomic operation each, and nothing at all while the process has a single
// thread: no other thread can then be inside, so there is nothing to exclude. The C runtime's
// own allocator skips its locking the same way. A contended thread spins briefly, then sleeps
// on a futex.
#pragma once

#include "platform/win.h"

#include <atomic>
#include <sys/single_threaded.h>

namespace win {

class SlimLock {
public:
    constexpr SlimLock() = default;
    SlimLock(const SlimLock&) = delete;
    SlimLock& operator=(const SlimLock&) = delete;

    /// Enters the lock. Returns whether a lock was taken; pass the answer to leave(). A process
    /// only ever goes from one thread to several through a thread of its own, which is then not
    /// inside the lock, so an entry made without taking it stays exclusive until its leave().
    bool enter()
    {
        if (__libc_single_threaded)
            return false;
        int expected = 0;
        if (!mState.compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                            std::memory_order_relaxed)) [[unlikely]]
            enterSlow();
        return true;
    }

    void leave(bool taken)
    {
        if (taken && mState.exchange(0, std::memory_order_release) == 2) [[unlikely]]
            wakeOne();
    }

private:
    void enterSlow();
    void wakeOne();

    // 0 free, 1 held, 2 held and a thread may sleep on it.
    std::atomic<int> mState{0};
};

/// Holds a SlimLock for a scope; may let go of it for a while (unlock, lock).
class SlimLockGuard {
public:
    explicit SlimLockGuard(SlimLock& lock) : mLock(lock), mTaken(lock.enter()) {}
    ~SlimLockGuard()
    {
        if (mHeld)
            mLock.leave(mTaken);
    }
    SlimLockGuard(const SlimLockGuard&) = delete;
    SlimLockGuard& operator=(const SlimLockGuard&) = delete;

    void unlock()
    {
        mLock.leave(mTaken);
        mHeld = false;
    }
    void lock()
    {
        mTaken = mLock.enter();
        mHeld = true;
    }

private:
    SlimLock& mLock;
    bool mTaken;
    bool mHeld = true;
};

} // namespace win
