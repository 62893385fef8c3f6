// platform/Process.cpp
// The process as Windows describes it: its image path, command line, error mode, privileges,
// end, and the attributes of files by path. Nothing here reaches beyond the process: the error
// mode is only stored and privileges are granted without asking anyone.

#include "platform/TemporaryBuffer.h"
#include "platform/TestControls.h"
#include "platform/Utf16.h"
#include "platform/win.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <dlfcn.h>
#include <link.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace win {
namespace {

const HANDLE kCurrentProcess = INVALID_HANDLE_VALUE;

constinit std::atomic<UINT> gErrorMode{0};

// Every command line handed out stays valid for the process: a replacement is appended, and the
// last one is the current one. Built at the first call.
constinit CRITICAL_SECTION gCommandLineLock{};
constinit std::deque<std::u16string>* gpCommandLines = nullptr;

std::u16string widen(const char* text)
{
    std::u16string out(detail::utf8ToUtf16(text, nullptr, 0), u'\0');
    detail::utf8ToUtf16(text, out.data(), out.size() + 1);
    return out;
}

std::u16string readCommandLine()
{
    std::u16string line;
    std::FILE* file = std::fopen("/proc/self/cmdline", "rb");
    if (file == nullptr)
        return line;
    std::string argument;
    auto append = [&] {
        if (!line.empty())
            line += u' ';
        const bool quote = argument.find_first_of(" \t") != std::string::npos;
        line += quote ? u"\"" + widen(argument.c_str()) + u"\"" : widen(argument.c_str());
        argument.clear();
    };
    for (int c; (c = std::fgetc(file)) != EOF;) {
        if (c == 0)
            append();
        else
            argument += static_cast<char>(c);
    }
    if (!argument.empty())
        append();
    std::fclose(file);
    return line;
}

} // namespace

HANDLE GetCurrentProcess()
{
    return kCurrentProcess;
}

BOOL TerminateProcess(HANDLE process, UINT exitCode)
{
    if (process != kCurrentProcess) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    ::_exit(static_cast<int>(exitCode));
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size)
{
    char path[PATH_MAX + 1];
    const char* source = path;
    if (module == nullptr) {
        const ssize_t length = ::readlink("/proc/self/exe", path, PATH_MAX);
        if (length <= 0) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        path[length] = 0;
    } else {
        link_map* map = nullptr;
        if (::dlinfo(reinterpret_cast<void*>(module), RTLD_DI_LINKMAP, &map) != 0 || map->l_name == nullptr) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        source = map->l_name;
    }
    if (buffer == nullptr || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const std::size_t needed = detail::utf8ToUtf16(source, buffer, size);
    if (needed >= size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(needed);
}

LPCWSTR GetCommandLineW()
{
    CriticalSectionGuard guard(gCommandLineLock);
    if (gpCommandLines == nullptr)
        gpCommandLines = new std::deque<std::u16string>{readCommandLine()};
    return gpCommandLines->back().c_str();
}

void test::setCommandLine(const WCHAR* commandLine)
{
    GetCommandLineW();
    CriticalSectionGuard guard(gCommandLineLock);
    gpCommandLines->push_back(commandLine != nullptr ? commandLine : readCommandLine());
}

UINT SetErrorMode(UINT mode)
{
    return gErrorMode.exchange(mode);
}

UINT GetErrorMode()
{
    return gErrorMode.load();
}

DWORD GetFileAttributesW(LPCWSTR path)
{
    const std::size_t length = detail::utf16ToUtf8(path, nullptr, 0);
    TemporaryBuffer<char> narrow(length + 1);
    struct stat status;
    bool found = path != nullptr && path[0] != 0 && narrow.data() != nullptr;
    if (found) {
        detail::utf16ToUtf8(path, narrow.data(), length + 1);
        found = ::stat(narrow.data(), &status) == 0;
    }
    if (!found) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    return S_ISDIR(status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

BOOL OpenProcessToken(HANDLE, DWORD, HANDLE* token)
{
    if (token == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *token = detail::kProcessToken;
    return TRUE;
}

BOOL LookupPrivilegeValueW(LPCWSTR, LPCWSTR, LUID* luid)
{
    if (luid != nullptr)
        *luid = LUID{};
    return TRUE;
}

BOOL AdjustTokenPrivileges(HANDLE, BOOL, TOKEN_PRIVILEGES*, DWORD, TOKEN_PRIVILEGES*, DWORD* returnLength)
{
    if (returnLength != nullptr)
        *returnLength = 0;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

} // namespace win
