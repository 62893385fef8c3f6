// platform/DebugOutput.cpp
// The debugger's output channel and breakpoint. There is no debugger to listen here: the text
// goes to a test's capture, or to standard error when OX_DEBUG_OUTPUT asks for it.

#include "platform/TestControls.h"
#include "platform/Utf16.h"
#include "platform/win.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace win {
namespace {

constinit std::atomic<void (*)(LPCWSTR)> gCapture{nullptr};

} // namespace

void OutputDebugStringW(LPCWSTR text)
{
    if (auto capture = gCapture.load()) {
        capture(text != nullptr ? text : u"");
        return;
    }
    if (std::getenv("OX_DEBUG_OUTPUT") == nullptr)
        return;
    char buffer[1024];
    const std::size_t length = detail::utf16ToUtf8(text, buffer, sizeof buffer);
    (void)!::write(STDERR_FILENO, buffer, length < sizeof buffer ? length : sizeof buffer - 1);
}

void DebugBreak()
{
    std::raise(SIGTRAP);
}

void test::captureDebugOutput(void (*sink)(LPCWSTR text))
{
    gCapture.store(sink);
}

} // namespace win
