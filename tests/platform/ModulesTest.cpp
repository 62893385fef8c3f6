// tests/platform/ModulesTest.cpp
// Modules by name, with libOxCore.so (built beside the tests) as the stand-in; only this test loads it.

#include "platform/PlatformTest.h"

#include <dlfcn.h>

using namespace win;

static bool isLoaded(const char* path)
{
    void* handle = ::dlopen(path, RTLD_LAZY | RTLD_NOLOAD);
    return handle != nullptr && ::dlclose(handle) == 0;
}

// A lookup that loads the module it is asked about, or answers before the module is there;
// GetProcAddress answering with a dependency's symbol or for a null module. The module stays
// loaded afterwards (it must not be unloaded in a process that may have cached its addresses).
TEST(ModuleLookup, FindsLoadedModulesUnderEveryNameAndOnlyTheirOwnExports)
{
    ASSERT_FALSE(isLoaded(OXFIRST_TEST_OXCORE_PATH)) << "the stand-in must not be loaded before this test";
    SetLastError(0);
    EXPECT_TRUE(GetModuleHandleW(u"OxCore.dll") == nullptr && GetLastError() == ERROR_MOD_NOT_FOUND &&
                !isLoaded(OXFIRST_TEST_OXCORE_PATH));

    void* loaded = ::dlopen(OXFIRST_TEST_OXCORE_PATH, RTLD_NOW);
    ASSERT_NE(nullptr, loaded);
    const auto module = reinterpret_cast<HMODULE>(loaded);
    for (const OXCHAR* name : {u"OxCore.dll", u"oxcore.DLL", u"libOxCore.so"})
        EXPECT_EQ(module, GetModuleHandleW(name));
    for (const OXCHAR* name : {u"Ox.dll", u"OxCore.dl", u"", static_cast<const OXCHAR*>(nullptr)})
        EXPECT_EQ(nullptr, GetModuleHandleW(name));

    EXPECT_TRUE(GetProcAddress(module, "oxPreviewOrPlotting") == ::dlsym(loaded, "oxPreviewOrPlotting"));
    ASSERT_NE(nullptr, ::dlsym(loaded, "malloc")) << "the dependency's symbol is visible to dlsym";
    SetLastError(0);
    EXPECT_TRUE(GetProcAddress(module, "noSuchExport") == nullptr &&
                GetProcAddress(module, "malloc") == nullptr && GetLastError() == ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(GetProcAddress(nullptr, "oxPreviewOrPlotting") == nullptr &&
                GetLastError() == ERROR_INVALID_HANDLE);
}
