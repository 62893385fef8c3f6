// tests/rx/FatalReportTest.cpp
// The fatal report: what reaches the host's fatal-error callback, how long messages are cut, and
// the structured exception raised when there is no callback.

#include <oxfirst/OxRxCallbacks.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string gDelivered;
unsigned gPieceLength = 1000;

void recordFatalError(const OXCHAR* message)
{
    gDelivered = message;
}

// A stand-in formatter: the format with "%s" replaced by an OXCHAR text argument, handed to the
// sink `gPieceLength` units at a time.
int fakeFormat(OxRxFmtSink sink, void* context, const OXCHAR* format, va_list arguments)
{
    std::u16string out;
    for (const OXCHAR* f = format; *f; ++f) {
        if (f[0] == u'%' && f[1] == u's') {
            out += va_arg(arguments, const OXCHAR*);
            ++f;
        } else {
            out += *f;
        }
    }
    for (std::size_t at = 0; at < out.size(); at += gPieceLength)
        sink(context, out.data() + at,
             static_cast<unsigned>(std::min<std::size_t>(gPieceLength, out.size() - at)));
    return static_cast<int>(out.size());
}

class FatalReport : public ::testing::Test {
protected:
    void TearDown() override
    {
        OxRxTypeSysCallbacks::setCallback_fmtout(nullptr);
        OxRxTypeSysCallbacks::setCallback_fatalError(nullptr);
    }
};

// Without a fatal-error callback the report raises 0xBAD0F0E1 with flags 0 and no arguments, with
// a formatter too. With one it returns, with '!' and the formatted text, or a bare '!' unformatted.
// Pieces are joined in order however they are split. A long message is cut to 159 units ('!' and
// 158 of the text), with nothing from later pieces that would fit; a cut that would split a
// surrogate pair drops its first half.
TEST_F(FatalReport, RaisesWithoutCallbackElseDeliversTheBangAndTheTextCutToTheBuffer)
{
    for (bool withFormatter : {false, true}) {
        OxRxTypeSysCallbacks::setCallback_fmtout(withFormatter ? &fakeFormat : nullptr);
        try {
            oxrx_abort(u"Class mismatch");
            ADD_FAILURE() << "oxrx_abort returned";
        } catch (const OxStructuredException& exception) {
            EXPECT_TRUE(exception.code() == 0xBAD0F0E1u && exception.flags() == 0 &&
                        exception.argumentCount() == 0);
        }
    }
    OxRxTypeSysCallbacks::setCallback_fatalError(&recordFatalError);
    oxrx_abort(u"Class '%s' parent named '%s' not found.", u"Arc", u"Curve");
    EXPECT_EQ(u"!Class 'Arc' parent named 'Curve' not found.", gDelivered);
    OxRxTypeSysCallbacks::setCallback_fmtout(nullptr);
    oxrx_abort(u"Attempt to register class '%s' twice.", u"OxRxObject");
    EXPECT_EQ(u"!", gDelivered);

    OxRxTypeSysCallbacks::setCallback_fmtout(&fakeFormat);
    std::u16string text;
    for (int i = 0; i < 400; ++i)
        text += static_cast<OXCHAR>(u'a' + i % 26);
    const std::u16string split = std::u16string(157, u'a') + u"\U0001F600tail";
    for (unsigned piece : {1000u, 3u, 7u, 158u, 159u}) {
        gPieceLength = piece;
        oxrx_abort(u"%s", text.c_str());
        EXPECT_EQ(u"!" + text.substr(0, kOxRxAbortBufferLength - 2), gDelivered) << "piece length " << piece;
        oxrx_abort(u"%s", split.c_str());
        EXPECT_EQ(u"!" + split.substr(0, 157), gDelivered) << "piece length " << piece;
    }
}

} // namespace
