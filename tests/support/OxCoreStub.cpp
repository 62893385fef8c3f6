// tests/support/OxCoreStub.cpp
// A stand-in for the host core module, built as libOxCore.so. Tests load it themselves and steer
// what its oxPreviewOrPlotting export answers: false at first (true when the environment has
// OX_TEST_PREVIEW_OR_PLOTTING), then whatever oxTestSetPreviewOrPlotting said last.

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<bool> gPreviewOrPlotting{std::getenv("OX_TEST_PREVIEW_OR_PLOTTING") != nullptr};
} // namespace

extern "C" bool oxPreviewOrPlotting()
{
    return gPreviewOrPlotting.load();
}

extern "C" void oxTestSetPreviewOrPlotting(bool previewOrPlotting)
{
    gPreviewOrPlotting.store(previewOrPlotting);
}
