// diagnostics/Assertions.cpp
// Failed-assertion reports: the log record, the event and the box. Three pieces of process-wide
// state, all without a lock: the active flag, taken with one atomic exchange so that exactly one
// report at a time gets past it; the dialog flag; the list of silenced lines, which only the
// holder of the active flag touches.

#include <oxfirst/OxAssert.h>
#include <oxfirst/OxRxCallbacks.h>
#include <oxfirst/PerfLog.h>

#include "diagnostics/AssertionsInternal.h"
#include "diagnostics/BoundedText.h"
#include "platform/win.h"

#include <atomic>
#include <cstdio>
#include <iterator>
#include <string>

namespace {

constexpr int kMaximumSilencedLines = 50;
constexpr win::UINT kBoxStyle = win::MB_TASKMODAL | win::MB_ICONHAND | win::MB_ABORTRETRYIGNORE;

constinit std::atomic<bool> gActive{false};
constinit std::atomic<bool> gDialog{true};
constinit int gSilencedLines[kMaximumSilencedLines] = {};
constinit int gSilencedCount = 0;

// Clears the active flag however the report ends, the fatal report's exception included.
struct ActiveReport {
    ~ActiveReport() { gActive.store(false); }
};

bool isSilenced(int line)
{
    for (int i = 0; i < gSilencedCount; ++i)
        if (gSilencedLines[i] == line)
            return true;
    return false;
}

void silence(int line)
{
    if (!isSilenced(line) && gSilencedCount < kMaximumSilencedLines)
        gSilencedLines[gSilencedCount++] = line;
}

void appendUtf8(std::string& out, const OXCHAR* text)
{
    const int bytes = win::WideCharToMultiByte(win::CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return;
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(bytes));
    win::WideCharToMultiByte(win::CP_UTF8, 0, text, -1, out.data() + start, bytes, nullptr, nullptr);
    out.pop_back(); // the terminator
}

std::FILE* openForAppending(const OXCHAR* path)
{
    std::string narrow;
    appendUtf8(narrow, path);
    return narrow.empty() ? nullptr : std::fopen(narrow.c_str(), "a");
}

// The log file, or the file of the same name in the current directory when it cannot be
// opened where the executable is; null when neither opens.
std::FILE* openLog(const OXCHAR* exePath)
{
    OXCHAR path[oxdiag::kAssertLogPathCapacity];
    const std::size_t length = oxdiag::assertLogPath(exePath, path);
    if (std::FILE* file = openForAppending(path))
        return file;
    for (std::size_t i = length; i > 0; --i)
        if (path[i - 1] == u'\\' || path[i - 1] == u'/')
            return openForAppending(path + i);
    return nullptr;
}

void appendToLog(const OXCHAR* exePath, const OXCHAR* condition, const OXCHAR* fileName, int line,
                 const OXCHAR* status)
{
    std::FILE* file = openLog(exePath);
    if (file == nullptr)
        return;
    win::SYSTEMTIME now;
    win::GetLocalTime(&now);
    std::fprintf(file, "Assert failure at %d:%02d:%02d on %d/%02d/%04d\n", now.wHour, now.wMinute,
                 now.wSecond, now.wMonth, now.wDay, now.wYear);
    std::string record = "Condition: ";
    appendUtf8(record, condition);
    if (status != nullptr) {
        record += "\nStatus: ";
        appendUtf8(record, status);
    }
    record += "\nModule: ";
    appendUtf8(record, exePath);
    record += "\nFile: ";
    appendUtf8(record, fileName);
    record += "\nLine: " + std::to_string(line) + "\n-------------\n";
    std::fputs(record.c_str(), file);
    std::fclose(file);
}

void showDialog(const OXCHAR* exePath, const OXCHAR* condition, const OXCHAR* fileName, int line,
                const OXCHAR* status)
{
    OXCHAR statusLine[233];
    oxdiag::BoundedText statusText(statusLine, std::size(statusLine));
    if (status != nullptr)
        statusText.appendFormatted(u"Status:  %.*s.\n", 200, status);
    OXCHAR message[1521];
    oxdiag::BoundedText messageText(message, std::size(message));
    messageText.appendFormatted(u"Failed:  %.*s.\n%sModule:  %.*s.\nFile: \"%.*s\".  Line: %d.", 400,
                                condition, statusLine, 260, exePath, 260, fileName, line);
    PerfLog_WriteAssertEvent(message);

    win::HWND owner = win::GetActiveWindow();
    if (owner != nullptr)
        owner = win::GetLastActivePopup(owner);
    // The box runs a message loop of its own, which would end at a pending quit message and
    // swallow it: it is taken off first and posted again afterwards.
    win::MSG quit;
    const bool hadQuit = win::PeekMessageW(&quit, nullptr, win::WM_QUIT, win::WM_QUIT, win::PM_REMOVE) != 0;
    const int answer =
        win::MessageBoxW(owner, message, u"ASSERT Error.  Shift-Ignore to suppress", kBoxStyle);
    const bool shiftDown = win::GetAsyncKeyState(win::VK_SHIFT) < 0;
    if (hadQuit)
        win::PostMessageW(nullptr, win::WM_QUIT, quit.wParam, quit.lParam);

    if (answer == win::IDIGNORE) {
        if (shiftDown)
            silence(line);
    } else if (answer == win::IDRETRY) {
        win::DebugBreak();
    } else {
        oxrx_abort(u"User aborted during ASSERT file %s, line %d", fileName, line);
    }
}

} // namespace

std::size_t oxdiag::assertLogPath(const OXCHAR* exePath, OXCHAR (&path)[kAssertLogPathCapacity])
{
    constexpr std::size_t kBaseLimit = 259;
    const OXCHAR* source = exePath != nullptr && exePath[0] != 0 ? exePath : u"assert.xxx";
    std::size_t length = 0;
    while (length < kBaseLimit && source[length] != 0) {
        path[length] = source[length];
        ++length;
    }
    std::size_t base = length;
    for (std::size_t i = length; i > 0; --i) {
        if (path[i - 1] == u'\\' || path[i - 1] == u'/')
            break;
        if (path[i - 1] == u'.') {
            base = i - 1;
            break;
        }
    }
    if (base > kAssertLogPathCapacity - 10)
        base = kAssertLogPathCapacity - 10;
    for (const OXCHAR c : u".err")
        path[base++] = c;
    return base - 1;
}

void oxutAssertMessage(const OXCHAR* condition, const OXCHAR* fileName, int line, const OXCHAR* status)
{
    if (gActive.exchange(true))
        return;
    ActiveReport report;
    condition = condition != nullptr ? condition : u"(null)";
    fileName = fileName != nullptr ? fileName : u"(null)";
    OXCHAR exePath[520];
    if (win::GetModuleFileNameW(nullptr, exePath, std::size(exePath)) == 0)
        exePath[0] = 0;
    appendToLog(exePath, condition, fileName, line, status);
    if (gDialog.load() && !isSilenced(line))
        showDialog(exePath, condition, fileName, line, status);
}

bool oxutAssertActive()
{
    return gActive.load();
}

void oxutAssertDia()
{
    gDialog.store(!gDialog.load());
}
