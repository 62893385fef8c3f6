// platform/TestControls.h
// Where a test or a host must stand in for the world the layer emulates. Every control is
// process-wide and takes effect at once; install controls before the threads that depend on
// them start.
#pragma once

#include "platform/win.h"

namespace win::test {

/// Makes the next `count` requests for new memory fail as if the system refused them: commits
/// (VirtualAlloc with MEM_COMMIT) with ERROR_NOT_ENOUGH_MEMORY, and the mappings a private heap
/// grows by, so its allocation fails. 0 stops failing. Lets the out-of-memory paths be driven.
OXWIN_API void failNextCommits(unsigned count);

/// Number of reservations the virtual-memory record holds (for leak checks in tests).
OXWIN_API SIZE_T liveReservationCount();

/// Sets the calling thread's fiber-data word (see GetCurrentFiber); null or a small value means
/// the thread does not run fibers.
OXWIN_API void setCurrentFiber(void* fiber);

/// Makes RtlDllShutdownInProgress answer `exiting` from now on, as process exit would.
OXWIN_API void setProcessExiting(bool exiting);

/// One string of a module's string table.
struct StringResource {
    UINT id;
    const WCHAR* text; // null counts as empty
};
/// Gives `module` the string table `strings[0..count)`, replacing the table it had (pointers
/// that LoadStringW handed out for the old table become invalid). Texts are copied; a later
/// entry with the same id replaces an earlier one. `count` 0 removes the module's table. A null
/// module is ignored. Hosts register their own modules' strings through this too (the layer has
/// no resource sections to read), which is why it is exported beside the test controls; a host
/// picks any distinct non-null handle for a module, for example the address of one of its own
/// objects.
OXWIN_API void registerStringTable(HINSTANCE module, const StringResource* strings, SIZE_T count);

} // namespace win::test

namespace win::detail {
/// Whether the next request for new memory is to fail: consumes one of the failures that
/// test::failNextCommits asked for.
bool takeCommitFailure();
} // namespace win::detail
