// startup/ProcessNames.cpp
// The executable's path and the product and program names. The host core module names the
// process when it is loaded before the library; otherwise the names come from the executable's
// file name. The module is only looked for, never loaded: a host that links it has it loaded
// before any library's initialisation runs.

#include "startup/Startup.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace oxstartup {

namespace {
// What the names read before attach, after detach and when a copy could not be made.
constexpr OXCHAR kNoText[1] = {0};
} // namespace

constinit const OXCHAR* gpExePath = kNoText;
constinit const OXCHAR* gpProductName = kNoText;
constinit const OXCHAR* gpProgramName = kNoText;
constinit bool gNamesOwned = false;

namespace {

constexpr win::DWORD kPathCapacity = 261; // 260 characters and the terminator

OXCHAR* copyOf(const OXCHAR* text, std::size_t length)
{
    auto* copy = static_cast<OXCHAR*>(std::malloc((length + 1) * sizeof(OXCHAR)));
    if (copy != nullptr) {
        std::memcpy(copy, text, length * sizeof(OXCHAR));
        copy[length] = 0;
    }
    return copy;
}

// Both names from the host core module's exports, when it is loaded and has both.
bool namesFromHostCore()
{
    using NameFunction = const OXCHAR* (*)();
    win::HMODULE core = win::GetModuleHandleW(u"OxCore.dll");
    if (core == nullptr)
        return false;
    auto product = reinterpret_cast<NameFunction>(win::GetProcAddress(core, "thisProduct"));
    auto program = reinterpret_cast<NameFunction>(win::GetProcAddress(core, "thisProgram"));
    if (product == nullptr || program == nullptr)
        return false;
    gpProductName = product();
    gpProgramName = program();
    return true;
}

} // namespace

void namesFromPath(const OXCHAR* exePath, OXCHAR** productName, OXCHAR** programName)
{
    const OXCHAR* fileName = exePath;
    for (const OXCHAR* c = exePath; *c != 0; ++c)
        if (*c == u'/' || *c == u'\\' || *c == u':')
            fileName = c + 1;
    std::size_t stem = 0;
    while (fileName[stem] != 0 && fileName[stem] != u'.')
        ++stem;
    *productName = copyOf(fileName, std::char_traits<OXCHAR>::length(fileName));
    *programName = copyOf(fileName, stem);
}

void takeNames()
{
    OXCHAR path[kPathCapacity];
    if (win::GetModuleFileNameW(nullptr, path, kPathCapacity) == 0)
        path[0] = 0;
    if (OXCHAR* exePath = copyOf(path, std::char_traits<OXCHAR>::length(path)))
        gpExePath = exePath;
    if (namesFromHostCore())
        return;
    gNamesOwned = true;
    OXCHAR* product = nullptr;
    OXCHAR* program = nullptr;
    namesFromPath(path, &product, &program);
    gpProductName = product != nullptr ? product : kNoText;
    gpProgramName = program != nullptr ? program : kNoText;
}

// The names stay readable as empty texts: a module's own destructors may still report.
void freeNames()
{
    auto release = [](const OXCHAR*& text) {
        if (text != kNoText)
            std::free(const_cast<OXCHAR*>(text));
        text = kNoText;
    };
    release(gpExePath);
    if (gNamesOwned) {
        release(gpProgramName);
        release(gpProductName);
    }
}

} // namespace oxstartup
