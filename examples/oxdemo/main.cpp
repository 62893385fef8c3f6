// examples/oxdemo/main.cpp
// A small host: installs the host defaults, then tours what the library offers.

#include "Tours.h"

#include <oxfirst/OxHostDefaults.h>
#include <oxfirst/oxfirst.h>

#include "Tours.h"

#include <cstdio>
#include <string>

namespace {

// The tour's texts are ASCII; a real host would convert with its own UTF-16 tools.
std::string narrow(const OXCHAR* text)
{
    std::string out;
    for (; text != nullptr && *text != 0; ++text)
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

void showProcessAllocator()
{
    const bool smallBlock = oxProcessAllocatorKind() == OxProcessAllocatorKind::kSmallBlock;
    std::printf("Process allocator: %s\n",
                smallBlock ? "small-block heap (older Windows emulated)" : "C runtime heap");
}

void showPrivateHeap()
{
    void* heap = oxHeapCreate(0);
    void* blocks[5];
    for (int i = 0; i < 5; ++i)
        blocks[i] = oxHeapAlloc(heap, 100u << i);
    oxHeapFree(heap, blocks[1]);

    std::uint32_t count = 0, bytes = 0, overhead = 0;
    oxHeapWalk(heap, count, bytes, overhead);
    std::printf("Private heap: %u busy blocks, %u bytes, %u bytes of overhead\n", count, bytes, overhead);
    std::printf("  block of 400 bytes: size %zu, valid %s; a freed block valid %s\n",
                oxHeapSize(heap, blocks[2]), oxHeapValidate(heap, blocks[2]) ? "yes" : "no",
                oxHeapValidate(heap, blocks[1]) ? "yes" : "no");
    oxHeapDestroy(heap);
    std::printf("  destroyed; walking it again answers %s\n",
                oxHeapWalk(heap, count, bytes, overhead) ? "true" : "false");
}

void showNamedHeaps()
{
    OxHeap objects{OxHeapPool(kOxHeapPoolCObjects)};
    OxHeap smallBlocks{OxHeapPool(kOxHeapPoolSmallBlock)};
    OxHeap geometry(u"Geometry cache");
    std::printf("Named heaps, newest first:\n");
    for (OxHeap* heap = OxHeap::first(); heap != nullptr; heap = heap->next())
        std::printf("  %-16s pool 0x%08x  size %zu\n", narrow(heap->name()).c_str(), heap->pool().low,
                    heap->heapSize());
}

void printFatalReport(const OXCHAR* message)
{
    std::printf("Fatal report received by the host: \"%s\"\n", narrow(message).c_str());
}

void showFatalReport()
{
    OxRxTypeSysCallbacks::setCallback_fatalError(&printFatalReport);
    oxrx_abort(u"Class '%s' parent named '%s' not found.", u"Arc", u"Curve");
    OxRxTypeSysCallbacks::setCallback_fatalError(&oxHostFatalError);
}

} // namespace

int main()
{
    startupTour();
    oxInstallHostDefaults();
    showProcessAllocator();
    showPrivateHeap();
    showNamedHeaps();
    heapTour();
    showFatalReport();
    showStrings();
    rxTour();
    valueTour();
    memberTour();
    browserTour();
    perfLogTour();
    assertionTour();
    return 0;
}
