// startup/LoadOrder.cpp
// Everything the library does while the process maps it, in the order it happens. The
// library's globals are constant-initialised (constinit), so nothing runs at load except the
// prioritised constructor functions below, and their priorities are the order:
//
//   101  choose the process allocator. First of all, so every later step may allocate through
//        the front end and gets the allocator the process keeps for its whole life.
//
// The order is the ELF one: lower priorities run first, all of them before the constructors of
// the modules that link the library, and destructors run in reverse.

#include "heap/HeapInternal.h"

namespace {

[[gnu::constructor(101)]] void chooseProcessAllocatorAtLoad()
{
    oxheap::chooseProcessAllocator();
}

} // namespace
