// tests/rx/FatalReportTest.cpp
// The callback store and the fatal report: what reaches the host's fatal-error callback, how
// long messages are cut, and the structured exception raised when there is no callback.

#include <oxfirst/OxRxCallbacks.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string gDelivered;
int gDeliveries = 0;

void recordFatalError(const OXCHAR* message)
{
    gDelivered = message;
    ++gDeliveries;
}

// A stand-in formatter: copies the format, replacing "%d" by an int argument and "%s" by an
// OXCHAR text argument, and hands the result to the sink `pieceLength` units at a time.
unsigned gPieceLength = 1000;

int fakeFormat(OxRxFmtSink sink, void* context, const OXCHAR* format, va_list arguments)
{
    std::u16string out;
    for (const OXCHAR* f = format; *f; ++f) {
        if (f[0] == u'%' && f[1] == u'd') {
            for (char c : std::to_string(va_arg(arguments, int)))
                out += static_cast<OXCHAR>(c);
            ++f;
        } else if (f[0] == u'%' && f[1] == u's') {
            out += va_arg(arguments, const OXCHAR*);
            ++f;
        } else {
            out += *f;
        }
    }
    for (std::size_t at = 0; at < out.size(); at += gPieceLength) {
        const std::size_t length = std::min<std::size_t>(gPieceLength, out.size() - at);
        sink(context, out.data() + at, static_cast<unsigned>(length));
    }
    return static_cast<int>(out.size());
}

class FatalReport : public ::testing::Test {
protected:
    void SetUp() override
    {
        gDelivered.clear();
        gDeliveries = 0;
        gPieceLength = 1000;
    }
    void TearDown() override
    {
        OxRxTypeSysCallbacks::setCallback_fmtout(nullptr);
        OxRxTypeSysCallbacks::setCallback_fatalError(nullptr);
    }
};

// Without any callback the report raises 0xBAD0F0E1 with flags 0 and no arguments.
TEST_F(FatalReport, WithoutCallbacksRaisesTheStructuredException)
{
    try {
        oxrx_abort(u"Class mismatch");
        FAIL() << "oxrx_abort returned";
    } catch (const OxStructuredException& exception) {
        EXPECT_EQ(0xBAD0F0E1u, exception.code());
        EXPECT_EQ(0u, exception.flags());
        EXPECT_EQ(0u, exception.argumentCount());
    }
}

// Uncaught, the exception ends the process (here it meets a frame that lets nothing through).
TEST_F(FatalReport, UncaughtExceptionEndsTheProcess)
{
    EXPECT_DEATH([]() noexcept { oxrx_abort(u"Class mismatch"); }(), "");
}

// A formatter alone does not stop the exception.
TEST_F(FatalReport, FormatterWithoutFatalCallbackStillRaises)
{
    OxRxTypeSysCallbacks::setCallback_fmtout(&fakeFormat);
    EXPECT_THROW(oxrx_abort(u"x"), OxStructuredException);
}

// Without a formatter the message is the bare "!", whatever the format.
TEST_F(FatalReport, WithoutFormatterTheMessageIsTheBang)
{
    OxRxTypeSysCallbacks::setCallback_fatalError(&recordFatalError);
    oxrx_abort(u"Attempt to register class '%s' twice.", u"OxRxObject");
    EXPECT_EQ(1, gDeliveries);
    EXPECT_EQ(u"!", gDelivered);
}

// With both callbacks the formatted text follows the '!' and the report returns.
TEST_F(FatalReport, FormattedMessageFollowsTheBangAndReturns)
{
    OxRxTypeSysCallbacks::setCallback_fmtout(&fakeFormat);
    OxRxTypeSysCallbacks::setCallback_fatalError(&recordFatalError);
    oxrx_abort(u"Class mismatch");
    EXPECT_EQ(u"!Class mismatch", gDelivered);
    oxrx_abort(u"Invalid Dictionary Array Index: %d", -7);
    EXPECT_EQ(u"!Invalid Dictionary Array Index: -7", gDelivered);
    oxrx_abort(u"Class '%s' parent named '%s' not found.", u"Arc", u"Curve");
    EXPECT_EQ(u"!Class 'Arc' parent named 'Curve' not found.", gDelivered);
    EXPECT_EQ(3, gDeliveries);
}

// Pieces are joined in order, however the formatter splits its output.
TEST_F(FatalReport, PiecesAreJoinedInOrder)
{
    OxRxTypeSysCallbacks::setCallback_fmtout(&fakeFormat);
    OxRxTypeSysCallbacks::setCallback_fatalError(&recordFatalError);
    gPieceLength = 3;
    oxrx_abort(u"Out of Memory in DictArray 1\n");
    EXPECT_EQ(u"!Out of Memory in DictArray 1\n", gDelivered);
}

// A message longer than the buffer is cut to 159 units ('!' and 158 of the text) and
// terminated; nothing after the cut shows up, even from later pieces that would fit.
TEST_F(FatalReport, LongMessageIsCutInsideTheBuffer)
{
    OxRxTypeSysCallbacks::setCallback_fmtout(&fakeFormat);
    OxRxTypeSysCallbacks::setCallback_fatalError(&recordFatalError);
    for (unsigned piece : {1000u, 7u, 158u, 159u}) {
        gPieceLength = piece;
        std::u16string text(400, u'x');
        text[157] = u'y';
        text[158] = u'z';
        oxrx_abort(u"%s", text.c_str());
        ASSERT_EQ(kOxRxAbortBufferLength - 1, gDelivered.size()) << "piece length " << piece;
        EXPECT_EQ(u'!', gDelivered[0]);
        EXPECT_EQ(u'y', gDelivered.back());
    }
}

// A cut that would split a surrogate pair drops its first half, so the message stays valid
// UTF-16.
TEST_F(FatalReport, CutNeverSplitsASurrogatePair)
{
    OxRxTypeSysCallbacks::setCallback_fmtout(&fakeFormat);
    OxRxTypeSysCallbacks::setCallback_fatalError(&recordFatalError);
    std::u16string text(157, u'a');
    text += u"\U0001F600tail";
    oxrx_abort(u"%s", text.c_str());
    EXPECT_EQ(u"!" + std::u16string(157, u'a'), gDelivered);
}

TEST(TypeSysCallbacks, SecondInstallReplacesTheFirstAndNullUninstalls)
{
    auto first = +[](const OXCHAR*) {};
    auto second = +[](const OXCHAR*) {};
    OxRxTypeSysCallbacks::setCallback_fatalError(first);
    OxRxTypeSysCallbacks::setCallback_fatalError(second);
    EXPECT_EQ(second, OxRxTypeSysCallbacks::fatalError());
    OxRxTypeSysCallbacks::setCallback_fatalError(nullptr);
    EXPECT_EQ(nullptr, OxRxTypeSysCallbacks::fatalError());
}

// Each setter fills its own slot and no other.
TEST(TypeSysCallbacks, EachSetterFillsItsOwnSlot)
{
    auto newClass = +[](OxRxClass*) {};
    auto deleteClass = +[](OxRxClass*) { return true; };
    auto resource = +[]() -> win::HINSTANCE { return nullptr; };
    auto toWide = +[](unsigned, int, const char*, int, OXCHAR*, int) { return 0; };
    auto toNarrow = +[](unsigned, std::uint32_t, const OXCHAR*, int, char*, int, std::uint32_t) { return 0; };

    OxRxTypeSysCallbacks::setCallback_newClassCallback(newClass);
    EXPECT_EQ(nullptr, OxRxTypeSysCallbacks::deleteClassCallback());
    OxRxTypeSysCallbacks::setCallback_deleteClassCallback(deleteClass);
    OxRxTypeSysCallbacks::setCallback_getAppResourceDllHandle(resource);
    OxRxTypeSysCallbacks::setCallback_MultiByteCIFToWideChar(toWide);
    EXPECT_EQ(nullptr, OxRxTypeSysCallbacks::wideCharToMultiByte());
    OxRxTypeSysCallbacks::setCallback_WideCharToMultiByteCIF(toNarrow);
    OxRxTypeSysCallbacks::setCallback_fmtout(&fakeFormat);

    EXPECT_EQ(newClass, OxRxTypeSysCallbacks::newClassCallback());
    EXPECT_EQ(deleteClass, OxRxTypeSysCallbacks::deleteClassCallback());
    EXPECT_EQ(resource, OxRxTypeSysCallbacks::getAppResourceDllHandle());
    EXPECT_EQ(toWide, OxRxTypeSysCallbacks::multiByteToWideChar());
    EXPECT_EQ(toNarrow, OxRxTypeSysCallbacks::wideCharToMultiByte());
    EXPECT_EQ(&fakeFormat, OxRxTypeSysCallbacks::fmtout());
    EXPECT_EQ(nullptr, OxRxTypeSysCallbacks::fatalError());

    OxRxTypeSysCallbacks::setCallback_newClassCallback(nullptr);
    OxRxTypeSysCallbacks::setCallback_deleteClassCallback(nullptr);
    OxRxTypeSysCallbacks::setCallback_getAppResourceDllHandle(nullptr);
    OxRxTypeSysCallbacks::setCallback_MultiByteCIFToWideChar(nullptr);
    OxRxTypeSysCallbacks::setCallback_WideCharToMultiByteCIF(nullptr);
    OxRxTypeSysCallbacks::setCallback_fmtout(nullptr);
}

} // namespace
