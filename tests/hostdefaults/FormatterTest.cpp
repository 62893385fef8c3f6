// tests/hostdefaults/FormatterTest.cpp
// The UTF-16 formatter of liboxhost: numbers against the C library's printf over the flag,
// width, precision and length combinations; text in both widths; the pieces handed to the sink;
// and the snprintf-like buffer convenience.

#include <oxfirst/OxHostDefaults.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace {

std::u16string widen(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

std::string narrowFormatOf(const std::u16string& format)
{
    return std::string(format.begin(), format.end());
}

// Collects every piece the formatter hands over, and where each one ended.
struct Recorder {
    std::u16string text;
    std::vector<unsigned> pieceSizes;
    int stopAfterPieces = -1; // answer non-zero on this piece (1-based); -1: never
    void* seenContext = nullptr;

    static int sink(void* context, const OXCHAR* piece, unsigned int unitCount)
    {
        auto* self = static_cast<Recorder*>(context);
        self->seenContext = context;
        self->text.append(piece, unitCount);
        self->pieceSizes.push_back(unitCount);
        return static_cast<int>(self->pieceSizes.size()) == self->stopAfterPieces ? 1 : 0;
    }
};

int formatInto(Recorder& recorder, const OXCHAR* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int produced = oxHostFormat(Recorder::sink, &recorder, format, arguments);
    va_end(arguments);
    return produced;
}

// Formats through the sink and checks that the returned count agrees with what arrived.
template <typename... Args>
std::u16string format(const OXCHAR* format, Args... arguments)
{
    Recorder recorder;
    int produced = formatInto(recorder, format, arguments...);
    EXPECT_EQ(static_cast<int>(recorder.text.size()), produced);
    return recorder.text;
}

template <typename... Args>
std::u16string cFormat(const char* format, Args... arguments)
{
    char buffer[512];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int length = std::snprintf(buffer, sizeof buffer, format, arguments...);
#pragma GCC diagnostic pop
    EXPECT_GE(length, 0);
    EXPECT_LT(length, static_cast<int>(sizeof buffer));
    return widen(std::string(buffer, static_cast<std::size_t>(length)));
}

// Every combination of the five flags, a few widths and precisions, as "%<flags><width><precision>".
std::vector<std::string> numericSpecPrefixes()
{
    static const char* const kWidths[] = {"", "1", "6", "24"};
    static const char* const kPrecisions[] = {"", ".", ".0", ".1", ".5", ".30"};
    std::vector<std::string> prefixes;
    for (unsigned flagSet = 0; flagSet < 32; ++flagSet) {
        std::string flags;
        for (unsigned bit = 0; bit < 5; ++bit)
            if (flagSet & (1u << bit))
                flags += "-+ #0"[bit];
        for (const char* width : kWidths)
            for (const char* precision : kPrecisions)
                prefixes.push_back("%" + flags + width + precision);
    }
    return prefixes;
}

// ---------------------------------------------------------------------------------------------
// Integers: one typed case per length modifier, each with the C type the caller passes.

template <typename T, const char* WideModifier, const char* CModifier>
struct IntegerLength {
    using Type = T;
    static std::string wide() { return WideModifier; }
    static std::string narrow() { return CModifier; }
};

constexpr char kNone[] = "";
constexpr char kHH[] = "hh";
constexpr char kH[] = "h";
constexpr char kL[] = "l";
constexpr char kLL[] = "ll";
constexpr char kJ[] = "j";
constexpr char kZ[] = "z";
constexpr char kT[] = "t";
constexpr char kI[] = "I";
constexpr char kI32[] = "I32";
constexpr char kI64[] = "I64";

template <typename Length>
class FormatterIntegers : public ::testing::Test {
};

using IntegerLengths =
    ::testing::Types<IntegerLength<int, kNone, kNone>, IntegerLength<int, kHH, kHH>,
                     IntegerLength<int, kH, kH>, IntegerLength<long, kL, kL>,
                     IntegerLength<long long, kLL, kLL>, IntegerLength<std::intmax_t, kJ, kJ>,
                     IntegerLength<std::ptrdiff_t, kZ, kZ>, IntegerLength<std::ptrdiff_t, kT, kT>,
                     IntegerLength<std::ptrdiff_t, kI, kZ>, IntegerLength<std::int32_t, kI32, kNone>,
                     IntegerLength<std::int64_t, kI64, kLL>>;
TYPED_TEST_SUITE(FormatterIntegers, IntegerLengths);

// Signs, zero padding against precision, '#' prefixes on zero, the most negative value (whose
// magnitude does not fit the signed type) and the short lengths' truncation must all come out
// as the C library prints them.
TYPED_TEST(FormatterIntegers, MatchCPrintfOverFlagsWidthsAndPrecisions)
{
    using T = typename TypeParam::Type;
    // 300 and 70000 wrap under hh and h; -1 is also the largest value for u, x and o.
    const T values[] = {
        0, 1, -1, 7, -42, 255, 300, 70000, std::numeric_limits<T>::max(), std::numeric_limits<T>::min()};
    int mismatches = 0;
    for (const std::string& prefix : numericSpecPrefixes()) {
        for (char conversion : std::string("diuxXo")) {
            std::u16string wideFormat = widen(prefix + TypeParam::wide() + conversion);
            std::string cFormatText = prefix + TypeParam::narrow() + conversion;
            for (T value : values) {
                std::u16string expected = cFormat(cFormatText.c_str(), value);
                std::u16string actual = format(wideFormat.c_str(), value);
                if (actual != expected && ++mismatches <= 10)
                    ADD_FAILURE() << cFormatText << " with " << +value << ": got \"" << narrowFormatOf(actual)
                                  << "\", C printf gives \"" << narrowFormatOf(expected) << "\"";
            }
        }
    }
    EXPECT_EQ(0, mismatches);
}

// '*' takes width and precision from the arguments, in that order and before the value; a
// negative width left-justifies and a negative precision counts as none.
TEST(FormatterIntegersStar, WidthAndPrecisionFromArgumentsMatchCPrintf)
{
    const int widths[] = {0, 5, -5, 12, -12};
    const int precisions[] = {-1, -7, 0, 3, 9};
    for (int width : widths) {
        for (int precision : precisions) {
            for (long long value : {0LL, 42LL, -42LL, std::numeric_limits<long long>::min()}) {
                EXPECT_EQ(cFormat("%0*.*lld|", width, precision, value),
                          format(u"%0*.*I64d|", width, precision, value))
                    << width << " " << precision << " " << value;
                EXPECT_EQ(cFormat("%*.*llx|", width, precision, value),
                          format(u"%*.*llx|", width, precision, value));
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Floating point: the digits are the C library's; what is checked is that flags, width,
// precision and the long-double length reach it intact.

TEST(FormatterFloatingPoint, MatchCPrintfOverFlagsWidthsAndPrecisions)
{
    const double values[] = {0.0, -0.0, 1.5, -2.25, 123456.789, 1e-300, -1e300, INFINITY, -NAN};
    int mismatches = 0;
    for (const std::string& prefix : numericSpecPrefixes()) {
        for (char conversion : std::string("fFeEgGaA")) {
            std::string cFormatText = prefix + conversion;
            std::u16string wideFormat = widen(cFormatText);
            for (double value : values) {
                if (std::abs(value) > 1e100 && (conversion == 'f' || conversion == 'F'))
                    continue; // over 300 digits: covered by the long-text case below
                std::u16string expected = cFormat(cFormatText.c_str(), value);
                std::u16string actual = format(wideFormat.c_str(), value);
                if (actual != expected && ++mismatches <= 10)
                    ADD_FAILURE() << cFormatText << " with " << value << ": got \"" << narrowFormatOf(actual)
                                  << "\", C printf gives \"" << narrowFormatOf(expected) << "\"";
            }
        }
    }
    EXPECT_EQ(0, mismatches);
}

// Long double is read as long double: reading it as double would misalign every later argument.
TEST(FormatterFloatingPoint, LongDoubleKeepsLaterArgumentsInStep)
{
    EXPECT_EQ(cFormat("%.20Lg %d", 1.0L / 3, 7), format(u"%.20Lg %d", 1.0L / 3, 7));
}

// Text longer than the stack buffer for digits still arrives whole.
TEST(FormatterFloatingPoint, TextLongerThanTheStackBufferArrivesWhole)
{
    char expected[2048];
    int length = std::snprintf(expected, sizeof expected, "%.600f|%1000.1f|%d", -1e300, 2.5, 3);
    ASSERT_GT(length, 1500);
    EXPECT_EQ(widen(std::string(expected, static_cast<std::size_t>(length))),
              format(u"%.600f|%1000.1f|%d", -1e300, 2.5, 3));
}

// ---------------------------------------------------------------------------------------------
// Text and characters

TEST(FormatterText, WideTextWithWidthAndPrecision)
{
    EXPECT_EQ(u"[abc]", format(u"[%s]", u"abc"));
    EXPECT_EQ(u"[  abc]", format(u"[%5s]", u"abc"));
    EXPECT_EQ(u"[abc  ]", format(u"[%-5s]", u"abc"));
    EXPECT_EQ(u"[   ab]", format(u"[%5.2s]", u"abc"));
    EXPECT_EQ(u"[ab   ]", format(u"[%*.*s]", -5, 2, u"abc"));
    EXPECT_EQ(u"[abc]", format(u"[%.*s]", -1, u"abc"));
    EXPECT_EQ(u"[]", format(u"[%.0s]", u"abc"));
    EXPECT_EQ(u"[abc]", format(u"[%ls]", u"abc"));
    EXPECT_EQ(u"[abc]", format(u"[%ws]", u"abc"));
    EXPECT_EQ(u"[abc]", format(u"[%lS]", u"abc"));
    EXPECT_EQ(u"[\u00e9\U0001F600]", format(u"[%s]", u"\u00e9\U0001F600"));
}

// A null text pointer prints "(null)" instead of crashing, and is cut by the precision like text.
TEST(FormatterText, NullTextPrintsNullMarkerInBothWidths)
{
    EXPECT_EQ(u"(null)", format(u"%s", static_cast<const OXCHAR*>(nullptr)));
    EXPECT_EQ(u"(null)", format(u"%hs", static_cast<const char*>(nullptr)));
    EXPECT_EQ(u"(null)", format(u"%S", static_cast<const char*>(nullptr)));
    EXPECT_EQ(u"  (null)", format(u"%8s", static_cast<const OXCHAR*>(nullptr)));
    EXPECT_EQ(u"(nu", format(u"%.3S", static_cast<const char*>(nullptr)));
}

// Narrow text: UTF-8 sequences become one code point each (two units above U+FFFF); bytes that
// are not well-formed UTF-8 stand for themselves; the width counts units of output.
TEST(FormatterText, NarrowTextIsUtf8WhereWellFormedAndLatin1Elsewhere)
{
    EXPECT_EQ(u"abc", format(u"%hs", "abc"));
    EXPECT_EQ(u"abc", format(u"%S", "abc"));
    EXPECT_EQ(u"caf\u00e9", format(u"%S", "caf\xc3\xa9"));
    EXPECT_EQ(u"caf\u00e9", format(u"%S", "caf\xe9"));               // Latin-1 byte
    EXPECT_EQ(u"\U0001F600", format(u"%hs", "\xf0\x9f\x98\x80"));    // four bytes, two units
    EXPECT_EQ(u"\u00c3(", format(u"%S", "\xc3("));                   // lead byte without continuation
    EXPECT_EQ(u"\u00e0\u0080\u0080", format(u"%S", "\xe0\x80\x80")); // overlong
    EXPECT_EQ(u"\u00ed\u00a0\u0080", format(u"%S", "\xed\xa0\x80")); // encoded surrogate
    EXPECT_EQ(u"[   \U0001F600]", format(u"[%5S]", "\xf0\x9f\x98\x80"));
    EXPECT_EQ(u"[\u00e9 ]", format(u"[%-2hs]", "\xc3\xa9"));
}

// The precision bounds how far text is read: a buffer without terminator is safe with a
// precision (the sanitizer build catches a read past it), and a UTF-8 sequence cut by the
// precision is not completed from beyond it.
TEST(FormatterText, PrecisionBoundsTheReadOfUnterminatedText)
{
    const std::array<OXCHAR, 3> wide{u'x', u'y', u'z'};
    const std::array<char, 3> narrow{'x', 'y', 'z'};
    EXPECT_EQ(u"xyz|xy", format(u"%.3s|%.2s", wide.data(), wide.data()));
    EXPECT_EQ(u"xyz|xy", format(u"%.3hs|%.2S", narrow.data(), narrow.data()));
    const std::array<char, 3> cutSequence{'a', '\xc3', '\xa9'};
    EXPECT_EQ(u"a\u00c3", format(u"%.2S", cutSequence.data()));
    EXPECT_EQ(u"a\u00e9", format(u"%.3S", cutSequence.data()));
}

TEST(FormatterText, CharactersInBothWidths)
{
    EXPECT_EQ(u"[x]", format(u"[%c]", u'x'));
    EXPECT_EQ(u"[\u20ac]", format(u"[%c]", u'\u20ac'));
    EXPECT_EQ(u"[\u20ac]", format(u"[%lc]", u'\u20ac'));
    EXPECT_EQ(u"[\u20ac]", format(u"[%wc]", u'\u20ac'));
    EXPECT_EQ(u"[y]", format(u"[%hc]", 'y'));
    EXPECT_EQ(u"[y]", format(u"[%C]", 'y'));
    EXPECT_EQ(u"[\u00e9]", format(u"[%C]", '\xe9')); // a negative char is still the byte
    EXPECT_EQ(u"[  z]", format(u"[%3c]", u'z'));
    EXPECT_EQ(u"[z  ]", format(u"[%-3C]", 'z'));
    EXPECT_EQ(std::u16string(u"a\0b", 3), format(u"a%cb", 0)); // a zero unit is output, not an end
}

// ---------------------------------------------------------------------------------------------
// Pointers, %n, %% and malformed formats

TEST(FormatterPointer, SixteenUpperCaseHexDigits)
{
    EXPECT_EQ(u"00000000DEADBEEF", format(u"%p", reinterpret_cast<void*>(0xDEADBEEFu)));
    EXPECT_EQ(u"0000000000000000", format(u"%p", static_cast<void*>(nullptr)));
    EXPECT_EQ(u"[  0000000000000001]", format(u"[%18p]", reinterpret_cast<void*>(1)));
    EXPECT_EQ(u"[0000000000000001  ]", format(u"[%-18p]", reinterpret_cast<void*>(1)));
}

// %n must never write through its argument, yet must take it so the next argument is not
// read from the wrong place.
TEST(FormatterSecurity, PercentNWritesNothingAndKeepsArgumentsInStep)
{
    int target = -7;
    EXPECT_EQ(u"ab|5", format(u"ab%n|%d", &target, 5));
    EXPECT_EQ(-7, target);
    EXPECT_EQ(u"|5", format(u"%hhn|%d", &target, 5));
    EXPECT_EQ(-7, target);
}

TEST(FormatterMalformed, LiteralsAndPercentSigns)
{
    EXPECT_EQ(u"", format(u""));
    EXPECT_EQ(u"Class mismatch", format(u"Class mismatch"));
    EXPECT_EQ(u"100%", format(u"100%%"));
    EXPECT_EQ(u"%%", format(u"%%%%"));
    EXPECT_EQ(u"[%]", format(u"[%5%]"));
}

// A format must never be read past its terminator, whatever is left unfinished before it.
TEST(FormatterMalformed, FormatEndingInsideASpecificationPrintsWhatIsThere)
{
    EXPECT_EQ(u"end %", format(u"end %"));
    EXPECT_EQ(u"end %-05", format(u"end %-05"));
    EXPECT_EQ(u"end %5.3", format(u"end %5.3"));
    EXPECT_EQ(u"end %I", format(u"end %I"));
    EXPECT_EQ(u"end %I6", format(u"end %I6"));
    EXPECT_EQ(u"end %ll", format(u"end %ll"));
}

TEST(FormatterMalformed, UnknownConversionPrintsItselfLiterally)
{
    EXPECT_EQ(u"a %y b", format(u"a %y b"));
    EXPECT_EQ(u"a %-5.2ky b", format(u"a %-5.2ky b"));
    EXPECT_EQ(u"%I3d", format(u"%I3d")); // "I" then the unknown conversion '3'
}

// ---------------------------------------------------------------------------------------------
// The sink

// No output at all means no call: sinks need not handle empty pieces.
TEST(FormatterSink, NullFormatOrEmptyOutputNeverCallsTheSink)
{
    Recorder recorder;
    EXPECT_EQ(0, formatInto(recorder, nullptr, 1, 2));
    EXPECT_EQ(0, formatInto(recorder, u"%.0s%n", u"abc", nullptr));
    EXPECT_TRUE(recorder.pieceSizes.empty());
}

// Long output comes in several bounded pieces that join up to the whole text, with nothing
// lost or repeated at the boundaries between literal text, padding and arguments; the context
// reaches the sink unchanged.
TEST(FormatterSink, LongOutputArrivesInBoundedPieces)
{
    std::u16string literal(300, u'L');
    std::u16string argument(700, u'A');
    std::u16string formatText = literal + u"%s%-1000d|";
    Recorder recorder;
    int produced = formatInto(recorder, formatText.c_str(), argument.c_str(), 42);
    std::u16string expected = literal + argument + u"42" + std::u16string(998, u' ') + u"|";
    EXPECT_EQ(expected, recorder.text);
    EXPECT_EQ(static_cast<int>(expected.size()), produced);
    EXPECT_EQ(&recorder, recorder.seenContext);
    EXPECT_GE(recorder.pieceSizes.size(), 8u);
    for (unsigned size : recorder.pieceSizes) {
        EXPECT_GT(size, 0u);
        EXPECT_LE(size, 256u);
    }
}

// A non-zero answer stops the formatter at once: no further pieces, and the count covers only
// the units handed over.
TEST(FormatterSink, NonZeroAnswerStopsFormatting)
{
    std::u16string argument(1000, u'A');
    for (int stopAfter : {1, 2}) {
        Recorder recorder;
        recorder.stopAfterPieces = stopAfter;
        int produced = formatInto(recorder, u"%s%d", argument.c_str(), 7);
        EXPECT_EQ(static_cast<std::size_t>(stopAfter), recorder.pieceSizes.size());
        EXPECT_EQ(static_cast<int>(recorder.text.size()), produced);
        EXPECT_EQ(std::u16string(recorder.text.size(), u'A'), recorder.text);
    }
}

TEST(FormatterSink, NullSinkOnlyCounts)
{
    std::u16string argument(1000, u'A');
    EXPECT_EQ(1003, oxHostFormatToBuffer(nullptr, 0, u"%s%3d", argument.c_str(), 7));
}

// ---------------------------------------------------------------------------------------------
// The buffer convenience

class FormatterBuffer : public ::testing::Test {
protected:
    // Marks every unit so that writes beyond what the call may touch show up.
    void SetUp() override { mBuffer.fill(u'#'); }
    std::u16string contents() const { return std::u16string(mBuffer.data()); }
    std::array<OXCHAR, 16> mBuffer;
};

// The boundaries of the cut: room for everything, for all but the terminator, for the terminator
// alone, and none.
TEST_F(FormatterBuffer, CutsAndTerminatesLikeSnprintf)
{
    EXPECT_EQ(5, oxHostFormatToBuffer(mBuffer.data(), 6, u"%s", u"hello"));
    EXPECT_EQ(u"hello", contents());
    mBuffer.fill(u'#');
    EXPECT_EQ(5, oxHostFormatToBuffer(mBuffer.data(), 5, u"%s", u"hello"));
    EXPECT_EQ(u"hell", contents());
    EXPECT_EQ(u'#', mBuffer[5]);
    mBuffer.fill(u'#');
    EXPECT_EQ(11, oxHostFormatToBuffer(mBuffer.data(), 1, u"hello %s", u"world"));
    EXPECT_EQ(u"", contents());
    EXPECT_EQ(u'#', mBuffer[1]);
    mBuffer.fill(u'#');
    EXPECT_EQ(5, oxHostFormatToBuffer(mBuffer.data(), 0, u"%d", 12345));
    EXPECT_EQ(u'#', mBuffer[0]);
}

// Output longer than one piece is cut in the right place, not at a piece boundary.
TEST_F(FormatterBuffer, LongOutputIsCutAtTheCapacity)
{
    std::u16string argument(600, u'x');
    EXPECT_EQ(601, oxHostFormatToBuffer(mBuffer.data(), mBuffer.size(), u"%s!", argument.c_str()));
    EXPECT_EQ(std::u16string(15, u'x'), contents());
}

// A cut inside a surrogate pair leaves neither half.
TEST_F(FormatterBuffer, CutNeverLeavesHalfASurrogatePair)
{
    EXPECT_EQ(4, oxHostFormatToBuffer(mBuffer.data(), 4, u"ab\U0001F600"));
    EXPECT_EQ(u"ab", contents());
    EXPECT_EQ(4, oxHostFormatToBuffer(mBuffer.data(), 5, u"ab\U0001F600"));
    EXPECT_EQ(u"ab\U0001F600", contents());
}

} // namespace
