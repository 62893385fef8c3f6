// platform/Modules.cpp
// Modules by name, as the library asks for the host's: only objects already loaded count, and
// nothing here ever loads one. Windows names modules "X.dll" and compares them without regard
// to case; a ported module is an ELF object named "X.dll" or "libX.so", so both are looked for
// among the loaded objects' file names.

#include "platform/Utf16.h"
#include "platform/win.h"

#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <string_view>

namespace win {
namespace {

// Module names are file names; a longer one cannot name anything loaded.
constexpr std::size_t kNameCapacity = 512;

char lowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

bool endsWithIgnoringAsciiCase(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() &&
           equalIgnoringAsciiCase(text.substr(text.size() - suffix.size()), suffix);
}

// The file names a module name stands for: the name itself and, for "X.dll", "libX.so".
struct Candidates {
    std::string_view windowsName;
    char elfName[kNameCapacity + 3]; // "libX.so" is 3 longer than "X.dll"
    bool hasElfName;
};

void makeCandidates(std::string_view name, Candidates& out)
{
    out.windowsName = name;
    out.hasElfName = endsWithIgnoringAsciiCase(name, ".dll");
    if (out.hasElfName) {
        const std::string_view stem = name.substr(0, name.size() - 4);
        std::memcpy(out.elfName, "lib", 3);
        std::memcpy(out.elfName + 3, stem.data(), stem.size());
        std::memcpy(out.elfName + 3 + stem.size(), ".so", 4);
    }
}

struct Search {
    const Candidates* candidates;
    char path[4096];
    bool found;
};

int visitLoadedObject(dl_phdr_info* info, std::size_t, void* context)
{
    auto* search = static_cast<Search*>(context);
    if (info->dlpi_name == nullptr || info->dlpi_name[0] == 0)
        return 0; // the main program and the vDSO carry no file name here
    const std::string_view path = info->dlpi_name;
    const std::size_t slash = path.rfind('/');
    const std::string_view fileName = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const Candidates& candidates = *search->candidates;
    if (!equalIgnoringAsciiCase(fileName, candidates.windowsName) &&
        !(candidates.hasElfName && equalIgnoringAsciiCase(fileName, candidates.elfName)))
        return 0;
    if (path.size() >= sizeof search->path)
        return 0;
    std::memcpy(search->path, path.data(), path.size());
    search->path[path.size()] = 0;
    search->found = true;
    return 1;
}

// The handle of the loaded object at `path`, without loading anything and without keeping a
// reference: the handle stays valid while the object stays loaded, like Windows' module handles.
HMODULE handleOfLoaded(const char* path)
{
    void* handle = ::dlopen(path, RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr)
        return nullptr;
    ::dlclose(handle);
    return reinterpret_cast<HMODULE>(handle);
}

} // namespace

HMODULE GetModuleHandleW(LPCWSTR moduleName)
{
    char name[kNameCapacity];
    const std::size_t length = detail::utf16ToUtf8(moduleName, name, sizeof name);
    HMODULE module = nullptr;
    if (length > 0 && length < sizeof name) {
        Candidates candidates;
        makeCandidates(std::string_view(name, length), candidates);
        Search search{&candidates, {}, false};
        ::dl_iterate_phdr(&visitLoadedObject, &search);
        if (search.found)
            module = handleOfLoaded(search.path);
    }
    if (module == nullptr)
        SetLastError(ERROR_MOD_NOT_FOUND);
    return module;
}

void* GetProcAddress(HMODULE module, LPCSTR procName)
{
    if (module == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* handle = reinterpret_cast<void*>(module);
    void* address = ::dlsym(handle, procName);
    // dlsym also searches the module's dependencies; Windows answers with the module's own
    // exports only, so a symbol found elsewhere does not count.
    link_map* moduleMap = nullptr;
    link_map* symbolMap = nullptr;
    Dl_info info;
    if (address != nullptr &&
        (::dlinfo(handle, RTLD_DI_LINKMAP, &moduleMap) != 0 ||
         ::dladdr1(address, &info, reinterpret_cast<void**>(&symbolMap), RTLD_DL_LINKMAP) == 0 ||
         moduleMap != symbolMap))
        address = nullptr;
    if (address == nullptr)
        SetLastError(ERROR_PROC_NOT_FOUND);
    return address;
}

} // namespace win
