// startup/LoadOrder.cpp
// Everything the library does while the process maps and unmaps it, in the order it happens.
// The library's globals are constant-initialised (constinit), so nothing runs at load except the
// prioritised constructor functions below, and their priorities are the order:
//
//   101  choose the process allocator. First of all, so every later step may allocate through
//        the front end and gets the allocator the process keeps for its whole life.
//   102  set up the small-block heap (lock, region table, environment switches). Right after the
//        choice: on older Windows it is the process allocator, and until it is set up every
//        request falls through to the C runtime.
//   103  set up the stack heap's slot operations; needs nothing but the process allocator.
//   105  watch for process exit, so the unload work below can tell an exit from an unload.
//        Armed by the loading thread, which is the thread whose end is the process's end.
//   110  process attach (attachProcess below), after every allocator is ready. Its event
//        provider registration comes before the constructors of the modules that link the
//        library, so they can write events from their own initialisers.
//   111  start the trace file when OX_TRACE_FILE asks for one. After 110 so the provider is
//        registered when the session's enable reaches it (either order works, this one is
//        simpler to reason about); it is finished by the destructor of the same priority.
//
// At unload the destructors run in the reverse order: 111 finishes the trace file, 110 is
// process detach (detachProcess below), and 102 runs the small-block heap's unload work after
// every other destructor of the library, so objects destroyed at unload may still free their
// blocks.
//
// The order is the ELF one: lower priorities run first, all of them before the constructors of
// the modules that link the library, and destructors run in reverse, after every destructor and
// atexit handler of the program and of the modules loaded after the library.

#include "diagnostics/PerfProvider.h"
#include "diagnostics/TraceFile.h"
#include "heap/HeapInternal.h"
#include "platform/win.h"
#include "startup/Startup.h"

namespace {

[[gnu::constructor(101)]] void chooseProcessAllocatorAtLoad()
{
    oxheap::chooseProcessAllocator();
}

[[gnu::constructor(102)]] void setUpSmallBlockHeapAtLoad()
{
    oxheap::setUpSmallBlockHeap();
}

[[gnu::constructor(103)]] void setUpStackHeapAtLoad()
{
    oxheap::setUpStackHeap();
}

[[gnu::constructor(105)]] void watchForProcessExitAtLoad()
{
    win::watchForProcessExit();
}

// Windows' attach also switches thread notifications off; a library gets none here.
[[gnu::constructor(110)]] void attachProcess()
{
    // 1. The C runtime heap becomes a low-fragmentation heap.
    win::ULONG lowFragmentation = 2;
    win::HeapSetInformation(reinterpret_cast<win::HANDLE>(win::_get_heap_handle()),
                            win::HeapCompatibilityInformation, &lowFragmentation, sizeof lowFragmentation);
    // 2 to 4. The executable's path, and the names from the host core module or from that path.
    oxstartup::takeNames();
    // 5. The performance provider; a failed registration only silences the events.
    oxperf::registerProvider();
    // 6. The system's critical-error and open-file boxes stay away when the environment asks.
    win::SIZE_T required = 0;
    win::_wgetenv_s(&required, nullptr, 0, u"OXDISABLESYSTEMERRORS");
    if (required != 0)
        win::SetErrorMode(win::SEM_FAILCRITICALERRORS | win::SEM_NOOPENFILEERRORBOX);
    // 7. The TLS destructor registry, before any thread can allocate a stack-heap slot.
    oxheap::setUpTlsDestructorRegistry();
}

[[gnu::constructor(111)]] void startTraceFileAtLoad()
{
    oxperf::startTraceFileFromEnvironment();
}

// The last events of the process reach the file, and the file ends as valid JSON.
[[gnu::destructor(111)]] void finishTraceFileAtExit()
{
    oxperf::finishTraceFile();
}

[[gnu::destructor(110)]] void detachProcess()
{
    win::OutputDebugStringW(u"oxfirst.dll Terminating!\n");
    oxstartup::releaseSessionSlot();
    oxstartup::freeNames();
    // The registry's lock is a critical section in static storage: nothing to delete.
    oxheap::runTlsDestructors();
}

[[gnu::destructor(102)]] void tearDownSmallBlockHeapAtUnload()
{
    oxheap::tearDownSmallBlockHeap();
}

} // namespace
