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

// thisProduct and thisProgram name the process as OX_TEST_PRODUCT and OX_TEST_PROGRAM say
// ("OxFirst Test" and "oxchild" when unset). Names are ASCII.
static const char16_t* nameFrom(const char* variable, const char* fallback, char16_t (&name)[64])
{
    const char* value = std::getenv(variable);
    value = value != nullptr ? value : fallback;
    std::size_t i = 0;
    for (; value[i] != 0 && i < 63; ++i)
        name[i] = static_cast<char16_t>(value[i]);
    name[i] = 0;
    return name;
}

extern "C" const char16_t* thisProduct()
{
    static char16_t name[64];
    return nameFrom("OX_TEST_PRODUCT", "OxFirst Test", name);
}

extern "C" const char16_t* thisProgram()
{
    static char16_t name[64];
    return nameFrom("OX_TEST_PROGRAM", "oxchild", name);
}
