// platform/DebugOutput.cpp
// The debugger's output channel. Nothing listens by default, so texts are dropped; with
// OX_DEBUG_OUTPUT set in the environment they go to standard error as UTF-8, and a test control
// can capture them instead.

#include "platform/TestControls.h"
#include "platform/Utf16.h"
#include "platform/win.h"

#include <cstdlib>
#include <unistd.h>

namespace win {
namespace {

constinit CRITICAL_SECTION gSinkLock{};
constinit test::DebugOutputSink gSink = nullptr;
constinit void* gSinkContext = nullptr;

void writeToStandardError(LPCWSTR text)
{
    char buffer[1024];
    // Most texts fit the stack buffer; a longer one is converted whole into a temporary block.
    const std::size_t needed = detail::utf16ToUtf8(text, buffer, sizeof buffer);
    if (needed < sizeof buffer) {
        ssize_t ignored = ::write(STDERR_FILENO, buffer, needed);
        (void)ignored;
        return;
    }
    char* whole = static_cast<char*>(std::malloc(needed + 1));
    if (whole == nullptr)
        return;
    detail::utf16ToUtf8(text, whole, needed + 1);
    ssize_t ignored = ::write(STDERR_FILENO, whole, needed);
    (void)ignored;
    std::free(whole);
}

} // namespace

void OutputDebugStringW(LPCWSTR text)
{
    if (text == nullptr)
        return;
    CriticalSectionGuard guard(gSinkLock);
    if (gSink != nullptr) {
        gSink(gSinkContext, text);
        return;
    }
    static const bool toStandardError = std::getenv("OX_DEBUG_OUTPUT") != nullptr;
    if (toStandardError)
        writeToStandardError(text);
}

namespace test {

void setDebugOutputSink(DebugOutputSink sink, void* context)
{
    CriticalSectionGuard guard(gSinkLock);
    gSink = sink;
    gSinkContext = context;
}

} // namespace test
} // namespace win
