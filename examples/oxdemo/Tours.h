// examples/oxdemo/Tours.h
// The demo's tours, one per area of the library; main() calls them in order.
#pragma once

#include <oxfirst/OxTypes.h>

#include <string>

/// A UTF-16 text for printing: ASCII as it is, anything else as '?'.
inline std::string narrowForPrint(const OXCHAR* text)
{
    std::string out;
    for (; text != nullptr && *text != 0; ++text)
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

/// Strings moving between storage kinds, a UTF-8 round trip, a parse failure answered three
/// ways, and a resource string loaded by id.
void showStrings();

/// The allocators: a heap report of a few heaps, grouped per heap and sorted by total.
void heapTour();

/// Writes a few performance events: a command, a document opened, a class created and ended.
/// With OX_TRACE_FILE set they land in that trace file.
void perfLogTour();

/// The runtime class system: starts the type system, registers a few shape classes, prints their
/// hierarchy, class tests and a sorted dictionary, then terminates, restarts and terminates again.
void rxTour();

/// Typed values: built-in types and their text forms, a value held in the stack heap, an
/// assignment that changes a value's type, and the empty and varies values.
void valueTour();

/// Runs the start-up checks as a host does, early, and shows the session number they claimed.
void startupTour();

/// Raises one assertion, answered Ignore, and shows the record it appended to the log file.
void assertionTour();

/// Members: a class described by a member builder, listed through the member query engine in
/// both contexts, a property read and written by name, a method invoked, a read overruled.
void memberTour();

/// A property browser: a circle's members by category and weight with their loaded names and
/// descriptions, its centre's coordinates under the centre, and a reference path followed.
void browserTour();
