// diagnostics/AssertionsInternal.h
// The assertion log's path rule, for the tests.
#pragma once

#include <oxfirst/OxTypes.h>

#include <cstddef>

namespace oxdiag {

/// Capacity, in units with the terminator, of the log path.
inline constexpr std::size_t kAssertLogPathCapacity = 520;

/// The log file's path for the executable at `exePath` (null or empty: "assert.xxx"): its first
/// 259 units with the extension (a "." after the last "\" or "/") replaced by ".err", or ".err"
/// appended when there is none. Returns its length.
std::size_t assertLogPath(const OXCHAR* exePath, OXCHAR (&path)[kAssertLogPathCapacity]);

} // namespace oxdiag
