// startup/Startup.h
// The process-wide start-up state that attach, the session slot, the messages and the checks
// share. Names and paths are set at attach and live until detach.
#pragma once

#include <oxfirst/OxTypes.h>

#include "platform/win.h"

namespace oxstartup {

/// The executable's full path; the empty text when it could not be read.
extern const OXCHAR* gpExePath;
/// The product and program names: the host core module's when it supplied them, else made from
/// the executable's file name (and then owned here: gNamesOwned).
extern const OXCHAR* gpProductName;
extern const OXCHAR* gpProgramName;
extern bool gNamesOwned;

/// Attach steps 2 to 4: the executable's path and the names. Detach frees what they made.
void takeNames();
void freeNames();

/// The names made from an executable's path: the file name (after the last "/", "\" or ":")
/// and its part before the first "."; both allocated with malloc, null when that fails.
void namesFromPath(const OXCHAR* exePath, OXCHAR** productName, OXCHAR** programName);

/// Claims the lowest free slot of the program's session record; false only when all 32 are
/// taken (after the message, unless this is an embedding launch). Any other failure leaves the
/// process without a slot (session number 33) and answers true.
bool claimSessionSlot();
/// Gives the slot back and closes the record; at detach.
void releaseSessionSlot();

/// The module holding the start-up message texts (cached), or null.
win::HINSTANCE resourceModule();
/// Loads text `textId`, formats it with the arguments and shows it with the title text 15935
/// (formatted with the product name) and box type `boxType`. The box's answer, or 0 when a
/// text is missing.
int showStartupMessage(win::UINT textId, win::UINT boxType, ...);
/// Whether the command line carries the word "-Embedding" or "/Embedding".
bool isEmbeddingLaunch();
/// Removes from PATH the entries that hold the graphics module.
void rewritePath();

} // namespace oxstartup
