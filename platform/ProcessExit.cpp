// platform/ProcessExit.cpp
// Telling a process exit from an unload. An atexit handler cannot: a library's atexit
// handlers run before its destructor functions both when the process exits and when the
// library is unloaded alone. The destructors of the loading thread's thread-local objects can:
// exit() runs them first of all, before any library is finalised, while an unload never runs
// them (and a library with such a destructor pending stays mapped until its thread ends).

#include "platform/TestControls.h"
#include "platform/win.h"

#include <atomic>

namespace win {
namespace {

constinit std::atomic<bool> gExiting{false};

struct ExitWatch {
    // The watch must exist before its destructor can be registered: arm() touches it.
    void arm() { mArmed = true; }
    ~ExitWatch()
    {
        if (mArmed)
            gExiting.store(true, std::memory_order_release);
    }
    bool mArmed = false;
};

thread_local ExitWatch tExitWatch;

} // namespace

void watchForProcessExit()
{
    tExitWatch.arm();
}

BOOL RtlDllShutdownInProgress()
{
    return gExiting.load(std::memory_order_acquire) ? TRUE : FALSE;
}

void test::setProcessExiting(bool exiting)
{
    gExiting.store(exiting, std::memory_order_release);
}

} // namespace win
