// diagnostics/TraceFile.h
// The trace file: a trace session of the library's own that writes every event it receives to
// the file named by OX_TRACE_FILE, as Chrome trace event JSON.
#pragma once

namespace oxperf {

/// When OX_TRACE_FILE names a file, creates it and starts the session, with the level from
/// OX_TRACE_LEVEL and the keyword mask from OX_TRACE_KEYWORDS (everything when unset or when
/// they do not parse). A file that cannot be written leaves the process without a trace and
/// without a word. Called once, at load.
void startTraceFileFromEnvironment();

/// Stops the session and completes the file as valid JSON. Nothing happens when no trace file
/// runs. Called once, when the process ends normally (or the library is unloaded).
void finishTraceFile();

} // namespace oxperf
