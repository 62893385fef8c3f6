// examples/oxdemo/PerfLogTour.cpp
// Performance events as a host writes them. Run the demo with OX_TRACE_FILE=trace.json and open
// the file in the Perfetto UI (ui.perfetto.dev) or chrome://tracing to see them as slices.

#include "Tours.h"

#include <oxfirst/oxfirst.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Stands for a class object until the class system exists: the lifetime events carry only the
// class's address and name.
struct DemoClass {
    int unused;
} gDemoClass;

void openDocument(const OXCHAR* fileName)
{
    PerfLog_WriteOpenDocumentEvent(fileName, true);
    PerfLog_WriteDocLockEvent(nullptr, 4 /* kWrite */, u"OPEN", false);
    PerfLog_WriteDocUnlockEvent(nullptr);
    PerfLog_WriteOpenDocumentEvent(fileName, false);
}

} // namespace

void perfLogTour()
{
    const auto* rxClass = reinterpret_cast<const OxRxClass*>(&gDemoClass);
    PerfLog_WriteOxRxClassLifetimeEvent(rxClass, u"DemoClass", true);
    PerfLog_WriteStartCommandEvent(u"OPEN");
    openDocument(u"Floor plan.oxd");
    PerfLog_WriteEndCommandEvent(u"OPEN");
    PerfLog_WriteOxRxClassLifetimeEvent(rxClass, u"DemoClass", false);

    const char* traceFile = std::getenv("OX_TRACE_FILE");
    if (traceFile != nullptr && traceFile[0] != 0)
        std::printf("Performance events: a command, a document and a class lifetime, traced to %s\n",
                    traceFile);
    else
        std::printf(
            "Performance events: written with no session listening (set OX_TRACE_FILE to trace them)\n");
}
