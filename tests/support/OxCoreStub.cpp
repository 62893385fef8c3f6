// tests/support/OxCoreStub.cpp
// A stand-in for the host core module, built as libOxCore.so. Tests load it themselves and steer
// what its oxPreviewOrPlotting export answers.

#include <atomic>

namespace {
std::atomic<bool> gPreviewOrPlotting{false};
} // namespace

extern "C" bool oxPreviewOrPlotting()
{
    return gPreviewOrPlotting.load();
}

extern "C" void oxTestSetPreviewOrPlotting(bool previewOrPlotting)
{
    gPreviewOrPlotting.store(previewOrPlotting);
}
