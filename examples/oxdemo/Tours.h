// examples/oxdemo/Tours.h
// One tour per area of the library; main() runs them in order.
#pragma once

/// Writes a few performance events: a command, a document opened, a class created and ended.
/// With OX_TRACE_FILE set they land in that trace file.
void perfLogTour();
