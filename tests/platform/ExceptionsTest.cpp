// tests/platform/ExceptionsTest.cpp
// Raised structured exceptions and the debug-output sink.

#include "platform/TestControls.h"
#include "platform/win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

OxStructuredException raised(win::DWORD flags, win::DWORD count, const win::ULONG_PTR* arguments)
{
    try {
        win::RaiseException(0xE0000001u, flags, count, arguments);
    } catch (const OxStructuredException& exception) {
        return exception;
    }
}

// Code, flags and arguments lost on the way to the handler; an argument count beyond what the
// record holds read past it (it is cut), a null argument array read as arguments.
TEST(RaiseException, ThrowsWithCodeFlagsAndABoundedArgumentList)
{
    win::ULONG_PTR arguments[40] = {1, 2, 0xFFFFFFFFFFFFFFFFull};
    const OxStructuredException three = raised(win::EXCEPTION_NONCONTINUABLE, 3, arguments);
    EXPECT_TRUE(three.code() == 0xE0000001u && three.flags() == win::EXCEPTION_NONCONTINUABLE);
    ASSERT_EQ(3u, three.argumentCount());
    EXPECT_TRUE(three.argument(2) == 0xFFFFFFFFFFFFFFFFull && three.argument(3) == 0);
    EXPECT_STREQ("structured exception 0xE0000001", three.what());
    for (int i = 3; i < 40; ++i)
        arguments[i] = static_cast<win::ULONG_PTR>(i);
    const OxStructuredException many = raised(0, 40, arguments);
    EXPECT_TRUE(many.argumentCount() == OxStructuredException::kMaximumArguments && many.argument(14) == 14);
    EXPECT_EQ(0u, raised(0, 5, nullptr).argumentCount());
}

// A text lost or a null text passed on; output after the sink is removed still delivered to it.
TEST(DebugOutput, CaptureSinkReceivesEveryTextAndNullIsIgnored)
{
    std::vector<std::u16string> texts;
    win::test::setDebugOutputSink(
        [](void* context, const win::WCHAR* text) {
            static_cast<std::vector<std::u16string>*>(context)->emplace_back(text);
        },
        &texts);
    win::OutputDebugStringW(u"oxfirst.dll Terminating!\n");
    win::OutputDebugStringW(nullptr);
    win::OutputDebugStringW(u"");
    win::test::setDebugOutputSink(nullptr, nullptr);
    win::OutputDebugStringW(u"after the sink is gone");
    EXPECT_EQ((std::vector<std::u16string>{u"oxfirst.dll Terminating!\n", u""}), texts);
}

} // namespace
