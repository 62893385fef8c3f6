// tests/support/OxCoreStub.cpp
// A stand-in for the host core module (libOxCore.so): oxPreviewOrPlotting answers false at first
// (true with OX_TEST_PREVIEW_OR_PLOTTING set), then what oxTestSetPreviewOrPlotting said last.

#include <atomic>
#include <cstdlib>

static std::atomic<bool> gPreviewOrPlotting{std::getenv("OX_TEST_PREVIEW_OR_PLOTTING") != nullptr};

extern "C" bool oxPreviewOrPlotting()
{
    return gPreviewOrPlotting.load();
}

extern "C" void oxTestSetPreviewOrPlotting(bool previewOrPlotting)
{
    gPreviewOrPlotting.store(previewOrPlotting);
}
