// tests/platform/ExceptionsTest.cpp
// Raised structured exceptions.

#include "platform/PlatformTest.h"

static OxStructuredException raised(win::DWORD flags, win::DWORD count, const win::ULONG_PTR* arguments)
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
    const OxStructuredException three = raised(1, 3, arguments);
    EXPECT_TRUE(three.code() == 0xE0000001u && three.flags() == 1 && three.argumentCount() == 3 &&
                three.argument(2) == 0xFFFFFFFFFFFFFFFFull && three.argument(3) == 0);
    EXPECT_STREQ("structured exception 0xE0000001", three.what());
    for (int i = 3; i < 40; ++i)
        arguments[i] = static_cast<win::ULONG_PTR>(i);
    const OxStructuredException many = raised(0, 40, arguments);
    EXPECT_TRUE(many.argumentCount() == OxStructuredException::kMaximumArguments && many.argument(14) == 14 &&
                raised(0, 5, nullptr).argumentCount() == 0);
}
