// oxfirst/OxAssert.h
// Reports of failed assertions. Each report is appended to the executable's log file (its path
// with the extension ".err"), written as the assertion performance event, and shown in a
// task-modal box that lets the user abort, break into the debugger or ignore; Ignore with Shift
// held down silences every later report of that line number, whatever its file.
#pragma once

#include <oxfirst/OxTypes.h>

/// Reports a failed assertion: `condition` (the failed test's text) at `line` of `fileName`,
/// with an optional `status` (may be null). Null condition or file name read as "(null)".
/// While a report is being handled, on any thread, a further one is dropped whole (neither
/// logged nor shown), which also keeps an assertion inside the box's own message loop from
/// recursing. With the dialog switched off (oxutAssertDia) or the line silenced, the report is
/// only logged. The box's answers: Ignore returns (with Shift held down it also silences the
/// line, up to 50 lines), Retry breaks into the debugger, anything else (Abort, or a box that
/// could not be shown) goes to oxrx_abort, which returns only when the host's fatal-error
/// callback does. A quit message pending on the thread is kept across the box. Takes no lock.
OXFIRST_API void oxutAssertMessage(const OXCHAR* condition, const OXCHAR* fileName, int line,
                                   const OXCHAR* status);

/// Whether a report is being handled right now.
OXFIRST_API bool oxutAssertActive();

/// Switches the dialog off, or on again; it starts on.
OXFIRST_API void oxutAssertDia();
