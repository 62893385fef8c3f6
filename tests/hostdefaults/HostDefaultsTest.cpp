// tests/hostdefaults/HostDefaultsTest.cpp
// The installer and the fatal-error handler of liboxhost. The handler aborts, so its cases run
// as death tests in a child process.

#include <oxfirst/OxHostDefaults.h>

#include <gtest/gtest.h>

#include <csignal>
#include <string>

namespace {

void newClassSentinel(OxRxClass*) {}
bool deleteClassSentinel(OxRxClass*)
{
    return true;
}
win::HINSTANCE resourceSentinel()
{
    return nullptr;
}

// Every test leaves the process-wide callback store as it found it: empty.
class HostDefaults : public ::testing::Test {
protected:
    void TearDown() override
    {
        OxRxTypeSysCallbacks::setCallback_newClassCallback(nullptr);
        OxRxTypeSysCallbacks::setCallback_deleteClassCallback(nullptr);
        OxRxTypeSysCallbacks::setCallback_fatalError(nullptr);
        OxRxTypeSysCallbacks::setCallback_fmtout(nullptr);
        OxRxTypeSysCallbacks::setCallback_getAppResourceDllHandle(nullptr);
        OxRxTypeSysCallbacks::setCallback_MultiByteCIFToWideChar(nullptr);
        OxRxTypeSysCallbacks::setCallback_WideCharToMultiByteCIF(nullptr);
    }
};

// The installer sets its four services and leaves the host's own callbacks (class notifications,
// resource module) untouched.
TEST_F(HostDefaults, InstallSetsExactlyTheFourServices)
{
    OxRxTypeSysCallbacks::setCallback_newClassCallback(newClassSentinel);
    OxRxTypeSysCallbacks::setCallback_deleteClassCallback(deleteClassSentinel);
    OxRxTypeSysCallbacks::setCallback_getAppResourceDllHandle(resourceSentinel);

    oxInstallHostDefaults();

    EXPECT_EQ(&oxHostFormat, OxRxTypeSysCallbacks::fmtout());
    EXPECT_EQ(&oxHostFatalError, OxRxTypeSysCallbacks::fatalError());
    EXPECT_EQ(&oxHostMultiByteToWideChar, OxRxTypeSysCallbacks::multiByteToWideChar());
    EXPECT_EQ(&oxHostWideCharToMultiByte, OxRxTypeSysCallbacks::wideCharToMultiByte());
    EXPECT_EQ(&newClassSentinel, OxRxTypeSysCallbacks::newClassCallback());
    EXPECT_EQ(&deleteClassSentinel, OxRxTypeSysCallbacks::deleteClassCallback());
    EXPECT_EQ(&resourceSentinel, OxRxTypeSysCallbacks::getAppResourceDllHandle());
}

// With the defaults installed, a fatal report is formatted, printed after its '!' and ends the
// process with SIGABRT rather than returning to the reporting code.
TEST_F(HostDefaults, FatalReportIsPrintedAndAborts)
{
    oxInstallHostDefaults();
    EXPECT_EXIT(oxrx_abort(u"Class '%s' parent named '%s' not found.", u"Child", u"Parent"),
                ::testing::KilledBySignal(SIGABRT), "^!Class 'Child' parent named 'Parent' not found\\.\n$");
}

using HostFatalError = HostDefaults;

// The message and a newline reach standard error (only the newline for null), UTF-16 as UTF-8:
// two- and three-byte forms, a surrogate pair as one four-byte form, a lone surrogate (which has
// no UTF-8 form) as U+FFFD.
TEST_F(HostFatalError, WritesTheMessageAsUtf8AndANewlineThenAborts)
{
    EXPECT_EXIT(oxHostFatalError(u"!Class mismatch"), ::testing::KilledBySignal(SIGABRT),
                "^!Class mismatch\n$");
    EXPECT_EXIT(oxHostFatalError(nullptr), ::testing::KilledBySignal(SIGABRT), "^\n$");
    EXPECT_EXIT(oxHostFatalError(u"caf\u00e9 \u20ac \U0001F600"), ::testing::KilledBySignal(SIGABRT),
                "^caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\n$");
    const OXCHAR loneSurrogates[] = {u'a', 0xD800, u'b', 0xDC00, 0};
    EXPECT_EXIT(oxHostFatalError(loneSurrogates), ::testing::KilledBySignal(SIGABRT),
                "^a\xef\xbf\xbd"
                "b\xef\xbf\xbd\n$");
}

// A message longer than the handler's output buffer arrives whole, and a surrogate pair that
// straddles the buffer's end is not split into two replacement characters. The odd prefix puts
// pair boundaries at every even offset, so some pair straddles whatever the buffer size.
TEST_F(HostFatalError, LongMessageArrivesWhole)
{
    std::u16string message = u"a";
    std::string expected = "^a";
    for (int i = 0; i < 300; ++i) {
        message += u"\U0001F600";
        expected += "\xf0\x9f\x98\x80";
    }
    message += u"z";
    expected += "z\n$";
    EXPECT_EXIT(oxHostFatalError(message.c_str()), ::testing::KilledBySignal(SIGABRT), expected);
}

} // namespace
