// oxfirst/OxStartup.h
// What the host executable asks of the library's start-up: the checks that the process can run,
// and the number of its instance among the program's instances in the session.
#pragma once

#include <oxfirst/OxFirstExport.h>

/// The number (1 to 32) of this process's slot among the running instances of its program; 33
/// when it holds none (before doOxFirstStartupChecks claimed one, or when the session record
/// could not be used).
OXFIRST_API int GetCurrentSessionNumber();

/// Makes sure the process can run, in this order: a local date from 1970 to 2037 (else, after
/// asking, the process's clock is set to 1998), 10 MB of free memory (asking to retry while
/// there is not), and, when the host core module named the program, the executable's name and a
/// free session slot. Call it early in the host's start-up. Returns when the process may go on;
/// otherwise it ends the process with exit code 0 and does not return.
OXFIRST_API void doOxFirstStartupChecks();
