// platform/TestControls.h
// Where a test stands in for the world the layer emulates. Every control is process-wide and
// takes effect at once; install controls before the threads that depend on them start. The
// controls are not exported: tests link the library's objects, hosts never call them.
#pragma once

#include "platform/win.h"

namespace win::test {

/// Makes the next `count` requests for new memory fail as if the system refused them: commits
/// (VirtualAlloc with MEM_COMMIT) with ERROR_NOT_ENOUGH_MEMORY, and the mappings a private heap
/// grows by, so its allocation fails. 0 stops failing. Lets the out-of-memory paths be driven.
void failNextCommits(unsigned count);

/// Number of reservations the virtual-memory record holds (for leak checks in tests).
SIZE_T liveReservationCount();

/// Sets the calling thread's fiber-data word (see GetCurrentFiber); null or a small value means
/// the thread does not run fibers.
void setCurrentFiber(void* fiber);

/// Makes RtlDllShutdownInProgress answer `exiting` from now on, as process exit would.
void setProcessExiting(bool exiting);

} // namespace win::test

namespace win::detail {
/// Whether the next request for new memory is to fail: consumes one of the failures that
/// test::failNextCommits asked for.
bool takeCommitFailure();
} // namespace win::detail
