// platform/SlimLock.h
// The layer's one lock: a three-state futex word (0 free, 1 held, 2 held and a thread may sleep
// on it). Uncontended, entering and leaving cost one atomic operation each; a contended thread
// spins briefly, then sleeps on the futex (SlimLock.cpp). SlimLock is the non-recursive lock of
// the allocators' short critical sections; critical sections (CriticalSection.cpp) put an owner
// and a recursion count on top of the same word.
#pragma once

#include "platform/win.h"

#include <atomic>
#include <sys/single_threaded.h>

namespace win {
namespace detail {

/// Out of line: the word was held. Returns once the caller holds it.
void lockContended(int& word);
/// Wakes one thread sleeping on the word.
void wakeOne(int& word);

inline bool tryLockWord(int& word)
{
    int expected = 0;
    return std::atomic_ref<int>(word).compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                                              std::memory_order_relaxed);
}

inline void lockWord(int& word)
{
    if (!tryLockWord(word)) [[unlikely]]
        lockContended(word);
}

inline void unlockWord(int& word)
{
    if (std::atomic_ref<int>(word).exchange(0, std::memory_order_release) == 2) [[unlikely]]
        wakeOne(word);
}

} // namespace detail

/// Costs nothing at all while the process has a single thread: no other thread can then be
/// inside, so there is nothing to exclude. The C runtime's own allocator skips its locking the
/// same way.
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
        detail::lockWord(mState);
        return true;
    }

    void leave(bool taken)
    {
        if (taken)
            detail::unlockWord(mState);
    }

private:
    alignas(std::atomic_ref<int>::required_alignment) int mState = 0; // accessed atomically only
};

/// Holds a SlimLock for a scope; may let go of it for a while (unlock, lock).
class SlimLockGuard {
public:
    explicit SlimLockGuard(SlimLock& lock) : mLock(lock), mTaken(lock.enter()) {}
    /// Takes over a lock entered already; `taken` is what enter() answered.
    SlimLockGuard(SlimLock& lock, bool taken) : mLock(lock), mTaken(taken) {}
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
