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

/// Replaces what GetCommandLineW answers; the text is copied. Null goes back to the real one.
void setCommandLine(const WCHAR* commandLine);

/// Receives each OutputDebugStringW text instead of the default sink; null restores it.
void captureDebugOutput(void (*sink)(LPCWSTR text));

/// Answers every message box from now on (before OX_MESSAGE_BOX_ANSWER and the terminal); the
/// answer is MessageBoxW's result. The responder may hold Shift down with setShiftKeyDown and
/// may itself raise boxes. Null removes it.
using MessageBoxResponder = int (*)(LPCWSTR text, LPCWSTR caption, UINT type, void* context);
void setMessageBoxResponder(MessageBoxResponder responder, void* context);

/// The Shift key's state as GetAsyncKeyState reads it.
void setShiftKeyDown(bool down);

/// The directory holding the named objects from now on, instead of OX_NAMED_OBJECT_DIR; the
/// text is copied. Set it before the first named object is created.
void setNamedObjectDirectory(const char* directory);

} // namespace win::test

namespace win::detail {
/// The handle OpenProcessToken gives: a pseudo handle that CloseHandle accepts.
inline const HANDLE kProcessToken = reinterpret_cast<HANDLE>(std::intptr_t{-4});
/// Whether the next request for new memory is to fail: consumes one of the failures that
/// test::failNextCommits asked for.
bool takeCommitFailure();
} // namespace win::detail
