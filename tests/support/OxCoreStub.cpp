// tests/support/OxCoreStub.cpp
// A stand-in for the host core module (libOxCore.so): oxPreviewOrPlotting answers false at first
// (true with OX_TEST_PREVIEW_OR_PLOTTING set), then what oxTestSetPreviewOrPlotting said last;
// it names the process too.

#include <atomic>
#include <cstddef>
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

// The process's names: "OxFirst Test", and OX_TEST_PROGRAM (ASCII) or "oxchild".
extern "C" const char16_t* thisProduct()
{
    return u"OxFirst Test";
}

extern "C" const char16_t* thisProgram()
{
    static char16_t name[64] = u"oxchild";
    const char* value = std::getenv("OX_TEST_PROGRAM");
    for (std::size_t i = 0; value != nullptr && i < 63; ++i)
        if ((name[i] = static_cast<char16_t>(value[i])) == 0)
            break;
    return name;
}
