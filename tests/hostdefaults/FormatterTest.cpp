// tests/hostdefaults/FormatterTest.cpp
// The UTF-16 formatter of liboxhost: numbers against the C library's printf over the flag,
// width, precision and length combinations; text in both widths; the pieces handed to the sink;
// and the snprintf-like buffer convenience.

#include <oxfirst/OxHostDefaults.h>

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

// Collects every piece the formatter hands over; answers non-zero on piece `stopAfterPieces`.
struct Recorder {
    std::u16string text;
    std::vector<unsigned> pieceSizes;
    int stopAfterPieces = -1;
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
    const int produced = oxHostFormat(Recorder::sink, &recorder, format, arguments);
    va_end(arguments);
    return produced;
}

template <typename... Args> // formats through the sink; the count answered must be what arrived
std::u16string format(const OXCHAR* format, Args... arguments)
{
    Recorder recorder;
    const int produced = formatInto(recorder, format, arguments...);
    EXPECT_EQ(static_cast<int>(recorder.text.size()), produced);
    return recorder.text;
}

template <typename... Args>
std::u16string cFormat(const std::string& format, Args... arguments)
{
    char buffer[512];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int length = std::snprintf(buffer, sizeof buffer, format.c_str(), arguments...);
#pragma GCC diagnostic pop
    EXPECT_TRUE(length >= 0 && length < static_cast<int>(sizeof buffer)) << format;
    return widen(std::string(buffer, static_cast<std::size_t>(length)));
}

// Formats the values with every combination of flags, a few widths and precisions and each
// conversion, here with `wideLength` and by snprintf with `cLength`; counts the differences.
template <typename T>
int mismatchesWithCPrintf(const std::string& conversions, const std::string& wideLength,
                          const std::string& cLength, std::initializer_list<T> values)
{
    int mismatches = 0;
    for (unsigned flagSet = 0; flagSet < 32; ++flagSet) {
        std::string flags;
        for (unsigned bit = 0; bit < 5; ++bit) {
            if (flagSet & (1u << bit))
                flags += "-+ #0"[bit];
        }
        for (const char* width : {"", "1", "6", "24"}) {
            for (const char* precision : {"", ".", ".0", ".1", ".5", ".30"}) {
                for (char conversion : conversions) {
                    const std::string prefix = "%" + flags + width + precision;
                    const std::u16string wideFormat = widen(prefix + wideLength + conversion);
                    for (T value : values) {
                        const std::u16string expected = cFormat(prefix + cLength + conversion, value);
                        const std::u16string actual = format(wideFormat.c_str(), value);
                        if (actual != expected && ++mismatches <= 5)
                            ADD_FAILURE() << prefix + cLength + conversion << " with " << +value << ": got "
                                          << ::testing::PrintToString(actual) << ", C gives "
                                          << ::testing::PrintToString(expected);
                    }
                }
            }
        }
    }
    return mismatches;
}

template <typename T>
int integerMismatches(const std::string& wideLength, const std::string& cLength)
{
    // 300 and 70000 wrap under hh and h; -1 is also the largest value for u, x and o; the most
    // negative value's magnitude does not fit the signed type.
    using Limits = std::numeric_limits<T>;
    return mismatchesWithCPrintf<T>("diuxXo", wideLength, cLength,
                                    {0, 1, -1, 7, -42, 255, 300, 70000, Limits::max(), Limits::min()});
}

// Signs, zero padding against precision, '#' on zero, the most negative value and the short
// lengths' truncation are as printf's, for each length with the C type its caller passes.
TEST(FormatterIntegers, MatchCPrintfOverFlagsWidthsPrecisionsAndLengths)
{
    EXPECT_EQ(0, integerMismatches<int>("", ""));
    EXPECT_EQ(0, integerMismatches<int>("hh", "hh"));
    EXPECT_EQ(0, integerMismatches<int>("h", "h"));
    EXPECT_EQ(0, integerMismatches<long>("l", "l"));
    EXPECT_EQ(0, integerMismatches<long long>("ll", "ll"));
    EXPECT_EQ(0, integerMismatches<std::intmax_t>("j", "j"));
    EXPECT_EQ(0, integerMismatches<std::ptrdiff_t>("z", "z"));
    EXPECT_EQ(0, integerMismatches<std::ptrdiff_t>("t", "t"));
    EXPECT_EQ(0, integerMismatches<std::ptrdiff_t>("I", "z"));
    EXPECT_EQ(0, integerMismatches<std::int32_t>("I32", ""));
    EXPECT_EQ(0, integerMismatches<std::int64_t>("I64", "ll"));
}

// '*' takes width, then precision, before the value; a negative width left-justifies, a negative
// precision is none.
TEST(FormatterIntegers, StarWidthAndPrecisionMatchCPrintf)
{
    for (int width : {0, 5, -5, 12, -12}) {
        for (int precision : {-1, -7, 0, 3, 9}) {
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

// The digits are the C library's; flags, width, precision and long double must reach it intact
// (a long double read as double misaligns later arguments), and long text must not be cut.
TEST(FormatterFloatingPoint, MatchCPrintfOverFlagsWidthsAndPrecisions)
{
    EXPECT_EQ(0, mismatchesWithCPrintf<double>(
                     "eEgGaA", "", "", {0.0, -0.0, 1.5, -2.25, 123456.789, 1e-300, -1e300, INFINITY, -NAN}));
    EXPECT_EQ(0, mismatchesWithCPrintf<double>("fF", "", "",
                                               {0.0, -0.0, 1.5, -2.25, 123456.789, 1e-300, INFINITY, -NAN}));
    EXPECT_EQ(cFormat("%.20Lg %d", 1.0L / 3, 7), format(u"%.20Lg %d", 1.0L / 3, 7));
    char expected[2048];
    const int length = std::snprintf(expected, sizeof expected, "%.600f|%1000.1f|%d", -1e300, 2.5, 3);
    ASSERT_GT(length, 1500);
    EXPECT_EQ(widen(std::string(expected, static_cast<std::size_t>(length))),
              format(u"%.600f|%1000.1f|%d", -1e300, 2.5, 3));
}

// Wide text and characters with width, precision (from '*' too) and each length; null text is
// "(null)", cut like text; a zero unit is output; a narrow character is its byte, even if negative.
TEST(FormatterText, WideTextAndCharactersWithWidthAndPrecision)
{
    const OXCHAR* none = nullptr;
    const char* narrowNone = nullptr;
    EXPECT_EQ(u"[abc][  abc][abc  ][   ab][ab   ][abc][]",
              format(u"[%s][%5s][%-5s][%5.2s][%*.*s][%.*s][%.0s]", u"abc", u"abc", u"abc", u"abc", -5, 2,
                     u"abc", -1, u"abc", u"abc"));
    EXPECT_EQ(u"[abc][abc][abc][\u00e9\U0001F600]",
              format(u"[%ls][%ws][%lS][%s]", u"abc", u"abc", u"abc", u"\u00e9\U0001F600"));
    EXPECT_EQ(u"(null)|(null)|(null)|  (null)|(nu",
              format(u"%s|%hs|%S|%8s|%.3S", none, narrowNone, narrowNone, none, narrowNone));
    EXPECT_EQ(u"[x][\u20ac][\u20ac][\u20ac][y][y][\u00e9][  z][z  ]",
              format(u"[%c][%c][%lc][%wc][%hc][%C][%C][%3c][%-3C]", u'x', u'\u20ac', u'\u20ac', u'\u20ac',
                     'y', 'y', '\xe9', u'z', 'z'));
    EXPECT_EQ(std::u16string(u"a\0b", 3), format(u"a%cb", 0));
}

// Narrow text is UTF-8: a sequence becomes one code point (two units above U+FFFF), an
// ill-formed one (Latin-1, a lead without continuation, overlong, surrogate) U+FFFD per maximal
// subpart; the width counts units of output. The precision bounds the read of unterminated text
// (the sanitizer build catches a read past it) and a sequence it cuts is not completed from
// beyond it.
TEST(FormatterText, NarrowTextIsUtf8)
{
    EXPECT_EQ(u"abc|abc|caf\u00e9|caf\ufffd|\U0001F600",
              format(u"%hs|%S|%S|%S|%hs", "abc", "abc", "caf\xc3\xa9", "caf\xe9", "\xf0\x9f\x98\x80"));
    EXPECT_EQ(u"\ufffd(|\ufffd\ufffd\ufffd|\ufffd\ufffd\ufffd",
              format(u"%S|%S|%S", "\xc3(", "\xe0\x80\x80", "\xed\xa0\x80"));
    EXPECT_EQ(u"[   \U0001F600][\u00e9 ]", format(u"[%5S][%-2hs]", "\xf0\x9f\x98\x80", "\xc3\xa9"));
    const std::array<OXCHAR, 3> wide{u'x', u'y', u'z'};
    const std::array<char, 3> narrow{'x', 'y', 'z'};
    const std::array<char, 3> cutSequence{'a', '\xc3', '\xa9'};
    EXPECT_EQ(u"xyz|xy|xyz|xy|a\ufffd|a\u00e9",
              format(u"%.3s|%.2s|%.3hs|%.2S|%.2S|%.3S", wide.data(), wide.data(), narrow.data(),
                     narrow.data(), cutSequence.data(), cutSequence.data()));
}

// Pointers are sixteen upper-case hex digits. %n writes nothing through its argument (a format
// must not write memory) yet takes it, so later arguments stay in step.
TEST(FormatterPointer, SixteenUpperCaseHexDigitsAndPercentNWritesNothing)
{
    EXPECT_EQ(u"00000000DEADBEEF|0000000000000000|  0000000000000001|0000000000000001  |",
              format(u"%p|%p|%18p|%-18p|", reinterpret_cast<void*>(0xDEADBEEFu), static_cast<void*>(nullptr),
                     reinterpret_cast<void*>(1), reinterpret_cast<void*>(1)));
    int target = -7;
    EXPECT_EQ(u"ab|5|6", format(u"ab%n|%d|%hhn%d", &target, 5, &target, 6));
    EXPECT_EQ(-7, target);
}

// Literal text, '%%' (with a width too) and unknown conversions print themselves; a format that
// ends inside a conversion prints what is there and is never read past its terminator.
TEST(FormatterMalformed, LiteralsPercentSignsAndUnfinishedConversionsPrintThemselves)
{
    for (const OXCHAR* same : {u"", u"Class mismatch", u"end %", u"end %-05", u"end %5.3", u"end %I",
                               u"end %I6", u"end %ll", u"a %y b", u"a %-5.2ky b", u"%I3d"})
        EXPECT_EQ(std::u16string(same), format(same));
    EXPECT_EQ(u"100%|%%|[%]", format(u"100%%|%%%%|[%5%]"));
}

// Output arrives in bounded non-empty pieces that join up to the whole text, with the context;
// no output means no call; without a sink the units are only counted. A non-zero answer stops
// the formatter at once: no further pieces, and the count covers only the units handed over.
TEST(FormatterSink, OutputArrivesInBoundedPiecesUntilTheSinkSaysStop)
{
    const std::u16string literal(300, u'L');
    const std::u16string argument(700, u'A');
    Recorder recorder;
    const int produced = formatInto(recorder, (literal + u"%s%-1000d|").c_str(), argument.c_str(), 42);
    const std::u16string expected = literal + argument + u"42" + std::u16string(998, u' ') + u"|";
    EXPECT_TRUE(recorder.text == expected && produced == static_cast<int>(expected.size()));
    EXPECT_EQ(&recorder, recorder.seenContext);
    EXPECT_GE(recorder.pieceSizes.size(), 8u);
    for (unsigned size : recorder.pieceSizes)
        EXPECT_TRUE(size > 0 && size <= 256) << size;
    Recorder silent;
    EXPECT_EQ(0, formatInto(silent, nullptr, 1, 2));
    EXPECT_EQ(0, formatInto(silent, u"%.0s%n", u"abc", nullptr));
    EXPECT_TRUE(silent.pieceSizes.empty());
    EXPECT_EQ(703, oxHostFormatToBuffer(nullptr, 0, u"%s%3d", argument.c_str(), 7));

    for (int stopAfter : {1, 2}) {
        Recorder stopping;
        stopping.stopAfterPieces = stopAfter;
        const int stoppedAt = formatInto(stopping, u"%s%d", argument.c_str(), 7);
        EXPECT_EQ(static_cast<int>(stopping.text.size()), stoppedAt);
        EXPECT_EQ(static_cast<std::size_t>(stopAfter), stopping.pieceSizes.size());
        EXPECT_EQ(std::u16string(stopping.text.size(), u'A'), stopping.text);
    }
}

// The buffer form cuts and terminates like snprintf at every boundary of room, answers the whole
// length, writes nothing past its room and never leaves half a surrogate pair.
TEST(FormatterBuffer, CutsAndTerminatesLikeSnprintf)
{
    std::array<OXCHAR, 16> buffer;
    auto formatInBuffer = [&buffer](std::size_t capacity, const OXCHAR* format, auto... arguments) {
        buffer.fill(u'#');
        const int length = oxHostFormatToBuffer(buffer.data(), capacity, format, arguments...);
        return std::make_pair(length, std::u16string(buffer.data(), 16));
    };
    const std::u16string x600(600, u'x');
    using Result = std::pair<int, std::u16string>;
    EXPECT_EQ(Result(5, std::u16string(u"hello\0##########", 16)), formatInBuffer(6, u"%s", u"hello"));
    EXPECT_EQ(Result(5, std::u16string(u"hell\0###########", 16)), formatInBuffer(5, u"%s", u"hello"));
    EXPECT_EQ(Result(11, std::u16string(u"\0###############", 16)), formatInBuffer(1, u"hello %s", u"world"));
    EXPECT_EQ(Result(5, std::u16string(16, u'#')), formatInBuffer(0, u"%d", 12345));
    EXPECT_EQ(Result(601, std::u16string(15, u'x') + u'\0'), formatInBuffer(16, u"%s!", x600.c_str()));
    EXPECT_EQ(Result(4, std::u16string(u"ab\0#############", 16)), formatInBuffer(4, u"ab\U0001F600"));
    EXPECT_EQ(Result(4, std::u16string(u"ab\U0001F600\0###########", 16)),
              formatInBuffer(5, u"ab\U0001F600"));
}

} // namespace
