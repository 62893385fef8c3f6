// examples/oxdemo/Tours.h
// The demo's tours, one per area of the library.
#pragma once

/// The allocators: a heap report of a few heaps, grouped per heap and sorted by total.
void heapTour();
