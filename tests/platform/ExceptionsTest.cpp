// tests/platform/ExceptionsTest.cpp
// Raised structured exceptions and the debug-output sink.

#include "platform/TestControls.h"
#include "platform/win.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(RaiseException, ThrowsWithCodeFlagsAndArguments)
{
    const win::ULONG_PTR arguments[3] = {1, 2, 0xFFFFFFFFFFFFFFFFull};
    try {
        win::RaiseException(0xE0000001u, win::EXCEPTION_NONCONTINUABLE, 3, arguments);
        FAIL() << "RaiseException returned";
    } catch (const OxStructuredException& exception) {
        EXPECT_EQ(0xE0000001u, exception.code());
        EXPECT_EQ(win::EXCEPTION_NONCONTINUABLE, exception.flags());
        ASSERT_EQ(3u, exception.argumentCount());
        EXPECT_EQ(0xFFFFFFFFFFFFFFFFull, exception.argument(2));
        EXPECT_EQ(0u, exception.argument(3));
        EXPECT_STREQ("structured exception 0xE0000001", exception.what());
    }
}

// An argument count beyond what the record holds is cut; a null argument array holds none.
TEST(RaiseException, ArgumentListIsBounded)
{
    win::ULONG_PTR many[40] = {};
    for (int i = 0; i < 40; ++i)
        many[i] = static_cast<win::ULONG_PTR>(i);
    try {
        win::RaiseException(1, 0, 40, many);
    } catch (const OxStructuredException& exception) {
        EXPECT_EQ(OxStructuredException::kMaximumArguments, exception.argumentCount());
        EXPECT_EQ(14u, exception.argument(14));
    }
    try {
        win::RaiseException(1, 0, 5, nullptr);
    } catch (const OxStructuredException& exception) {
        EXPECT_EQ(0u, exception.argumentCount());
    }
}

struct Captured {
    std::vector<std::u16string> texts;
};

void capture(void* context, const win::WCHAR* text)
{
    static_cast<Captured*>(context)->texts.emplace_back(text);
}

TEST(DebugOutput, CaptureSinkReceivesEveryTextAndNullIsIgnored)
{
    Captured captured;
    win::test::setDebugOutputSink(&capture, &captured);
    win::OutputDebugStringW(u"oxfirst.dll Terminating!\n");
    win::OutputDebugStringW(nullptr);
    win::OutputDebugStringW(u"");
    win::test::setDebugOutputSink(nullptr, nullptr);
    win::OutputDebugStringW(u"after the sink is gone");
    ASSERT_EQ(2u, captured.texts.size());
    EXPECT_EQ(u"oxfirst.dll Terminating!\n", captured.texts[0]);
    EXPECT_EQ(u"", captured.texts[1]);
}

} // namespace
