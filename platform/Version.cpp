// platform/Version.cpp
// The Windows version the process reports. Linux answers Windows 10.0; the environment
// variable OX_EMULATE_WINDOWS_VERSION makes it answer another one, so that paths chosen by
// version (the process allocator, first of all) can be tested in a fresh process.

#include "platform/win.h"

#include <cstdlib>

namespace win {
namespace {

struct Version {
    DWORD major;
    DWORD minor;
    DWORD build;
};

constexpr Version kDefaultVersion{10, 0, 19045};

// Reads one decimal number of at most 9 digits; null when there is none.
const char* parseNumber(const char* text, DWORD& value)
{
    value = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (++digits > 9)
            return nullptr;
        value = value * 10 + static_cast<DWORD>(*text - '0');
    }
    return digits > 0 ? text : nullptr;
}

// "major.minor" (build 0); anything else leaves the default in force, so a mistyped switch
// never makes the process believe it runs on a version nobody asked for.
Version readVersion()
{
    const char* text = std::getenv("OX_EMULATE_WINDOWS_VERSION");
    if (text == nullptr || *text == '\0')
        return kDefaultVersion;
    Version version{};
    text = parseNumber(text, version.major);
    if (text == nullptr || *text != '.')
        return kDefaultVersion;
    text = parseNumber(text + 1, version.minor);
    if (text == nullptr || *text != '\0')
        return kDefaultVersion;
    return version;
}

} // namespace

BOOL GetVersionExW(OSVERSIONINFOW* info)
{
    if (info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    // Read once: the answer must not change while the process runs.
    static const Version version = readVersion();
    *info = OSVERSIONINFOW{};
    info->dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    info->dwMajorVersion = version.major;
    info->dwMinorVersion = version.minor;
    info->dwBuildNumber = version.build;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    return TRUE;
}

} // namespace win
