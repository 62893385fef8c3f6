// tests/hostdefaults/HostDefaultsTest.cpp
// The installer and the fatal-error handler of liboxhost; the handler aborts, so its cases are death tests.

#include <oxfirst/OxHostDefaults.h>

#include "support/FreshProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

namespace {

using Callbacks = OxRxTypeSysCallbacks;

// The installer missing one of its four services or overwriting the host's own callbacks (class
// notifications, resource module). In a process of its own: the callbacks stay installed.
TEST(HostDefaults, InstallSetsExactlyTheFourServices)
{
    if (oxtest::inFreshProcess())
        return;
    const auto newClass = +[](OxRxClass*) {};
    const auto deleteClass = +[](OxRxClass*) { return true; };
    const auto resource = +[]() -> win::HINSTANCE { return nullptr; };
    Callbacks::setCallback_newClassCallback(newClass);
    Callbacks::setCallback_deleteClassCallback(deleteClass);
    Callbacks::setCallback_getAppResourceDllHandle(resource);
    oxInstallHostDefaults();
    EXPECT_TRUE(Callbacks::fmtout() == &oxHostFormat && Callbacks::fatalError() == &oxHostFatalError &&
                Callbacks::multiByteToWideChar() == &oxHostMultiByteToWideChar &&
                Callbacks::wideCharToMultiByte() == &oxHostWideCharToMultiByte);
    EXPECT_TRUE(Callbacks::newClassCallback() == newClass &&
                Callbacks::deleteClassCallback() == deleteClass &&
                Callbacks::getAppResourceDllHandle() == resource);
}

// A fatal report returning to its caller, or not formatted and printed after its '!'; the message
// not reaching standard error as UTF-8 with a newline (only the newline for null): a surrogate
// pair is one four-byte form, a lone surrogate U+FFFD; a message longer than the handler's buffer
// cut, or a pair straddling the buffer's end split (pairs start at every odd offset of the long one).
TEST(HostFatalError, WritesTheMessageAsUtf8AndANewlineThenAborts)
{
    const auto aborted = ::testing::KilledBySignal(SIGABRT);
    EXPECT_EXIT(
        (oxInstallHostDefaults(), oxrx_abort(u"Class '%s' parent '%s' not found.", u"Child", u"Parent")),
        aborted, "^!Class 'Child' parent 'Parent' not found\\.\n$");
    EXPECT_EXIT(oxHostFatalError(nullptr), aborted, "^\n$");
    const OXCHAR loneSurrogates[] = {u'a', 0xD800, u'b', 0xDC00, u'\u00e9', u'\u20ac', 0xD83D, 0xDE00, 0};
    EXPECT_EXIT(oxHostFatalError(loneSurrogates), aborted,
                "^a\xef\xbf\xbd"
                "b\xef\xbf\xbd\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\n$");
    std::u16string message = u"a";
    std::string expected = "^a";
    for (int i = 0; i < 300; ++i)
        message += u"\U0001F600", expected += "\xf0\x9f\x98\x80";
    EXPECT_EXIT(oxHostFatalError((message + u"z").c_str()), aborted, expected + "z\n$");
}

} // namespace
