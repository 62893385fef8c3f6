// startup/StartupChecks.cpp
// The checks the host runs early in its start-up. A failed check ends the process at once,
// with exit code 0 and nothing logged: the user has seen the reason in a message (unless its
// text could not be loaded).

#include <oxfirst/OxStartup.h>

#include "diagnostics/BoundedText.h"
#include "startup/Startup.h"

#include <chrono>
#include <iterator>
#include <thread>

namespace oxstartup {
namespace {

constexpr win::UINT kDateTooEarlyText = 15936;
constexpr win::UINT kDateTooLateText = 15937;
constexpr win::UINT kLowMemoryText = 15938;
constexpr win::UINT kRenamedProgramText = 15940;
constexpr win::WORD kFirstYear = 1970;
constexpr win::WORD kLastYear = 2037;
constexpr win::WORD kFallbackYear = 1998;
constexpr win::SIZE_T kNeededMemory = 0xA00000;

bool isPlausible(const win::SYSTEMTIME& now)
{
    return now.wYear >= kFirstYear && now.wYear <= kLastYear;
}

// The process's clock is set back to 1998 (same day and time) when the user agrees or is not
// asked. The check passes whether or not that works: a 29 February has no 1998 counterpart.
bool checkDate()
{
    win::SYSTEMTIME now;
    win::GetLocalTime(&now);
    if (isPlausible(now))
        return true;
    if (!isEmbeddingLaunch()) {
        const int answer =
            showStartupMessage(now.wYear < kFirstYear ? kDateTooEarlyText : kDateTooLateText, win::MB_YESNO,
                               21, gpProductName, 21, gpProductName, kFallbackYear);
        win::GetLocalTime(&now);
        if (isPlausible(now))
            return true;
        if (answer == win::IDNO)
            return false;
    }
    win::OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    win::HANDLE token = nullptr;
    if (win::GetVersionExW(&version) && version.dwPlatformId == win::VER_PLATFORM_WIN32_NT &&
        win::OpenProcessToken(win::GetCurrentProcess(), win::TOKEN_ADJUST_PRIVILEGES, &token)) {
        win::TOKEN_PRIVILEGES privileges{1, {{{}, win::SE_PRIVILEGE_ENABLED}}};
        win::LookupPrivilegeValueW(nullptr, u"SeSystemtimePrivilege", &privileges.Privileges[0].Luid);
        win::AdjustTokenPrivileges(token, win::FALSE, &privileges, 0, nullptr, nullptr);
        win::CloseHandle(token);
    }
    now.wYear = kFallbackYear;
    win::SetLocalTime(&now);
    return true;
}

// A box that cannot be shown answers 0; the check then measures again after a pause rather
// than spin until memory frees up.
bool checkMemory()
{
    if (isEmbeddingLaunch())
        return true;
    for (;;) {
        win::MEMORYSTATUS status;
        win::GlobalMemoryStatus(&status);
        if (status.dwAvailPageFile >= kNeededMemory)
            return true;
        if (void* probe = win::VirtualAlloc(nullptr, kNeededMemory, win::MEM_COMMIT, win::PAGE_NOACCESS)) {
            win::VirtualFree(probe, 0, win::MEM_RELEASE);
            return true;
        }
        const int answer = showStartupMessage(kLowMemoryText, win::MB_RETRYCANCEL, 21, gpProductName);
        if (answer == win::IDCANCEL)
            return false;
        if (answer == 0)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }
}

// The executable must be the program's: its file name equal, ignoring case, to the first 9
// characters of the program name and ".exe". Executables carry no extension here, so a file
// name without one is compared as if it ended in ".exe".
bool checkProgram()
{
    rewritePath();
    OXCHAR expected[14];
    oxdiag::BoundedText expectedName(expected, std::size(expected));
    expectedName.append(gpProgramName, 9);
    expectedName.appendAscii(".exe");

    const OXCHAR* actual = gpExePath;
    for (const OXCHAR* c = gpExePath; *c != 0; ++c)
        if (*c == u'/' || *c == u'\\' || *c == u':')
            actual = c + 1;
    OXCHAR compared[261];
    oxdiag::BoundedText comparedName(compared, std::size(compared));
    comparedName.append(actual);
    bool hasExtension = false;
    for (const OXCHAR* c = actual; *c != 0; ++c)
        hasExtension = hasExtension || *c == u'.';
    if (!hasExtension)
        comparedName.appendAscii(".exe");

    if (comparedName.length() == expectedName.length() &&
        win::CompareStringW(win::LOCALE_USER_DEFAULT, win::NORM_IGNORECASE, expected, -1, compared, -1) ==
            win::CSTR_EQUAL)
        return true;
    const int answer =
        showStartupMessage(kRenamedProgramText, win::MB_YESNO, 21, gpProductName, 9, gpProgramName, actual);
    return answer == win::IDYES;
}

[[noreturn]] void endProcess()
{
    win::TerminateProcess(win::GetCurrentProcess(), 0);
    __builtin_unreachable();
}

} // namespace
} // namespace oxstartup

void doOxFirstStartupChecks()
{
    using namespace oxstartup;
    if (!checkDate() || !checkMemory())
        endProcess();
    // Without the host core module the process is no instance of the program: nothing to
    // compare its name with, no slot to claim.
    if (gNamesOwned)
        return;
    if (!checkProgram() || !claimSessionSlot())
        endProcess();
}
