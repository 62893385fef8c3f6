// examples/oxdemo/Tours.h
// The demo's tours, one per area of the library; main() calls them in order.
#pragma once

/// Strings moving between storage kinds, a UTF-8 round trip, a parse failure answered three
/// ways, and a resource string loaded by id.
void showStrings();
