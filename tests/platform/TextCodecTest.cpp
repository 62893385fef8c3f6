// tests/platform/TextCodecTest.cpp
// MultiByteToWideChar and WideCharToMultiByte: the UTF-8 codec (ill-formed input, every scalar
// value, surrogates), the argument and buffer contract, the ANSI code page 1252 and, in processes
// of their own started with OX_ANSI_CODEPAGE, the pages 932 and 1255.

#include "platform/Utf16.h"
#include "platform/win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <iconv.h>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace win;

namespace {

// Converts with a size query first, then into a buffer of exactly that size guarded by sentinels,
// and checks that both calls agree and nothing past the size was written. Empty input gives
// empty output (the functions refuse a length of 0).
std::u16string decode(std::string_view bytes, UINT codePage = CP_UTF8, DWORD flags = 0)
{
    if (bytes.empty())
        return {};
    int length = static_cast<int>(bytes.size());
    int needed = MultiByteToWideChar(codePage, flags, bytes.data(), length, nullptr, 0);
    EXPECT_GT(needed, 0) << "last error " << GetLastError();
    std::u16string out(needed + 2, u'\x5A5A');
    EXPECT_EQ(needed, MultiByteToWideChar(codePage, flags, bytes.data(), length, out.data(), needed));
    EXPECT_EQ(u"\x5A5A\x5A5A", out.substr(needed));
    out.resize(needed);
    return out;
}

std::string encode(std::u16string_view units, UINT codePage = CP_UTF8, DWORD flags = 0,
                   const char* defaultChar = nullptr, BOOL* usedDefaultChar = nullptr)
{
    if (units.empty())
        return {};
    int length = static_cast<int>(units.size());
    int needed =
        WideCharToMultiByte(codePage, flags, units.data(), length, nullptr, 0, defaultChar, usedDefaultChar);
    EXPECT_GT(needed, 0) << "last error " << GetLastError();
    std::string out(needed + 2, '\x5A');
    EXPECT_EQ(needed, WideCharToMultiByte(codePage, flags, units.data(), length, out.data(), needed,
                                          defaultChar, usedDefaultChar));
    EXPECT_EQ("\x5A\x5A", out.substr(needed));
    out.resize(needed);
    return out;
}

// glibc's converter as an independent oracle for well-formed text.
std::string iconvConvert(const char* to, const char* from, std::string_view input)
{
    iconv_t converter = iconv_open(to, from);
    EXPECT_NE(reinterpret_cast<iconv_t>(-1), converter);
    std::string out(input.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(input.data());
    char* outPosition = out.data();
    std::size_t inLeft = input.size();
    std::size_t outLeft = out.size();
    EXPECT_NE(static_cast<std::size_t>(-1), iconv(converter, &in, &inLeft, &outPosition, &outLeft));
    iconv_close(converter);
    out.resize(out.size() - outLeft);
    return out;
}

bool isValidUtf16(std::u16string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF)
            ++i;
        else if (unit >= 0xD800 && unit <= 0xDFFF)
            return false;
    }
    return true;
}

constexpr char16_t R = 0xFFFD;

} // namespace

// ---------------------------------------------------------------------------------------------
// UTF-8 decoding of ill-formed input: one U+FFFD per maximal subpart.

struct IllFormedCase {
    const char* name;
    std::string bytes;
    std::u16string expected;
};

class Utf8IllFormed : public ::testing::TestWithParam<IllFormedCase> {};

// Guards against decoders that swallow the byte that broke a sequence, emit one U+FFFD per byte
// of a truncated sequence, or accept overlongs, surrogates and values above U+10FFFF.
TEST_P(Utf8IllFormed, DecodesToOneReplacementPerMaximalSubpart)
{
    EXPECT_EQ(GetParam().expected, decode(GetParam().bytes));
}

// Guards against a strict decode that lets a malformed sequence through.
TEST_P(Utf8IllFormed, FailsWithNoTranslationWhenStrict)
{
    const std::string& bytes = GetParam().bytes;
    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                     static_cast<int>(bytes.size()), nullptr, 0));
    EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, GetLastError());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8IllFormed,
    ::testing::Values(IllFormedCase{"OverlongC0", "\xC0\x80", {R, R}},
                      IllFormedCase{"OverlongC1", "\xC1\xBF", {R, R}},
                      IllFormedCase{"OverlongE0", "\xE0\x80\x80", {R, R, R}},
                      IllFormedCase{"OverlongE0High", "\xE0\x9F\xBF", {R, R, R}},
                      IllFormedCase{"OverlongF0", "\xF0\x80\x80\x80", {R, R, R, R}},
                      IllFormedCase{"OverlongF0High", "\xF0\x8F\xBF\xBF", {R, R, R, R}},
                      IllFormedCase{"HighSurrogate", "\xED\xA0\x80", {R, R, R}},
                      IllFormedCase{"LowSurrogate", "\xED\xBF\xBF", {R, R, R}},
                      IllFormedCase{"AboveMaximum", "\xF4\x90\x80\x80", {R, R, R, R}},
                      IllFormedCase{"LeadF5", "\xF5\x80\x80\x80", {R, R, R, R}},
                      IllFormedCase{"BytesFEFF", "\xFE\xFF", {R, R}},
                      IllFormedCase{"LoneContinuations",
                                    "\x80\xBF"
                                    "a",
                                    {R, R, u'a'}},
                      IllFormedCase{"TruncatedTwoAtEnd", "a\xC2", {u'a', R}},
                      IllFormedCase{"TruncatedThreeAtEnd", "\xE2\x82", {R}},
                      IllFormedCase{"TruncatedFourAtEnd", "\xF0\x9F\x98", {R}},
                      IllFormedCase{"TruncatedBeforeAscii",
                                    "\xF0\x9F\x98"
                                    "A\xE2\x82"
                                    "B",
                                    {R, u'A', R, u'B'}},
                      IllFormedCase{"TruncatedBeforeLead", "\xE2\x82\xE2\x82\xAC", {R, u'\x20AC'}},
                      // The example of the Unicode standard's recommended practice.
                      IllFormedCase{"MixedExample",
                                    "a\xF1\x80\x80\xE1\x80\xC2"
                                    "b\x80"
                                    "c\x80\xBF"
                                    "d",
                                    {u'a', R, R, R, u'b', R, u'c', R, R, u'd'}}),
    [](const ::testing::TestParamInfo<IllFormedCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// UTF-8 well-formed text

// Guards against off-by-one range checks at the edges of each sequence length.
TEST(Utf8Decoding, DecodesTheBoundariesOfEachSequenceLength)
{
    EXPECT_EQ(u"\x7F", decode("\x7F"));
    EXPECT_EQ(u"\x80", decode("\xC2\x80"));
    EXPECT_EQ(u"\x7FF", decode("\xDF\xBF"));
    EXPECT_EQ(u"\x800", decode("\xE0\xA0\x80"));
    EXPECT_EQ(u"\xD7FF", decode("\xED\x9F\xBF"));
    EXPECT_EQ(u"\xE000", decode("\xEE\x80\x80"));
    EXPECT_EQ(u"\xFFFF", decode("\xEF\xBF\xBF"));
    EXPECT_EQ(u"\xD800\xDC00", decode("\xF0\x90\x80\x80"));
    EXPECT_EQ(u"\xDBFF\xDFFF", decode("\xF4\x8F\xBF\xBF"));
}

// Guards the 8-byte ASCII path: a non-ASCII sequence or a malformed byte at any offset of a
// word, and a word that ends exactly at the end of the input, must decode as byte by byte.
TEST(Utf8Decoding, AsciiRunsDecodeAroundSequencesAtEveryOffset)
{
    for (std::size_t offset = 0; offset < 20; ++offset) {
        std::string ascii(24, 'x');
        std::u16string expectedAscii(24, u'x');
        std::string bytes = ascii.substr(0, offset) + "\xE2\x82\xAC" + ascii.substr(offset);
        EXPECT_EQ(expectedAscii.substr(0, offset) + u"\x20AC" + expectedAscii.substr(offset), decode(bytes));
        std::string broken = ascii.substr(0, offset) + "\xE2\x82" + ascii.substr(offset);
        EXPECT_EQ(expectedAscii.substr(0, offset) + u"\xFFFD" + expectedAscii.substr(offset), decode(broken));
    }
}

// Every scalar value once, through both directions, checked against glibc as an oracle: catches
// wrong bit arithmetic, wrong surrogate composition and wrong sequence lengths.
TEST(Utf8RoundTrip, EveryScalarValueMatchesTheOracleBothWays)
{
    std::u16string all;
    for (char32_t c = 1; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        if (c < 0x10000) {
            all.push_back(static_cast<char16_t>(c));
        } else {
            all.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            all.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        }
    }
    std::string utf8 = encode(all);
    std::string_view asBytes(reinterpret_cast<const char*>(all.data()), all.size() * 2);
    ASSERT_EQ(iconvConvert("UTF-8", "UTF-16LE", asBytes), utf8);
    EXPECT_EQ(127u + 2 * 1920 + 3 * (0x10000 - 0x800 - 0x800) + 4 * 0x100000u, utf8.size());
    EXPECT_TRUE(all == decode(utf8));
    EXPECT_EQ(static_cast<int>(all.size()), MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                                                static_cast<int>(utf8.size()), nullptr, 0));
}

// ---------------------------------------------------------------------------------------------
// UTF-8 encoding of surrogates

// Guards against encoding a lone surrogate as its own three bytes (CESU-like output that other
// decoders reject) and against pairing surrogates in the wrong order.
TEST(Utf8Encoding, UnpairedSurrogatesBecomeReplacementCharacters)
{
    EXPECT_EQ("\xF0\x9F\x98\x80", encode(u"\xD83D\xDE00"));
    EXPECT_EQ("\xEF\xBF\xBD", encode(u"\xD83D"));
    EXPECT_EQ("\xEF\xBF\xBD"
              "a",
              encode(u"\xD83D"
                     u"a"));
    EXPECT_EQ("\xEF\xBF\xBD", encode(u"\xDE00"));
    EXPECT_EQ("\xEF\xBF\xBD\xEF\xBF\xBD", encode(u"\xDE00\xD83D"));
    EXPECT_EQ("\xEF\xBF\xBD\xF0\x9F\x98\x80", encode(u"\xD83D\xD83D\xDE00"));
}

// Guards against a strict encode that lets an unpaired surrogate through.
TEST(Utf8Encoding, StrictEncodingRefusesUnpairedSurrogates)
{
    SetLastError(0);
    EXPECT_EQ(
        0, WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, u"a\xDE00", 2, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, GetLastError());
    EXPECT_EQ("a\xF0\x9F\x98\x80", encode(u"a\xD83D\xDE00", CP_UTF8, WC_ERR_INVALID_CHARS));
}

// Guards the 4-unit ASCII path of the encoder at every offset.
TEST(Utf8Encoding, AsciiRunsEncodeAroundOtherUnitsAtEveryOffset)
{
    for (std::size_t offset = 0; offset < 12; ++offset) {
        std::u16string units(12, u'y');
        units.insert(offset, u"\x00E9");
        std::string expected(12, 'y');
        expected.insert(offset, "\xC3\xA9");
        EXPECT_EQ(expected, encode(units));
    }
}

// ---------------------------------------------------------------------------------------------
// The argument and buffer contract, both directions

// Guards against forgetting the terminator in the count or writing one for an explicit length.
TEST(TextConversionLengths, MinusOneCountsTheTerminatorAndExplicitLengthsAddNone)
{
    OXCHAR wide[8];
    std::fill(std::begin(wide), std::end(wide), u'#');
    EXPECT_EQ(3, MultiByteToWideChar(CP_UTF8, 0, "ab", -1, wide, 8));
    EXPECT_EQ(std::u16string(u"ab\0#", 4), std::u16string(wide, 4));

    std::fill(std::begin(wide), std::end(wide), u'#');
    EXPECT_EQ(3, MultiByteToWideChar(CP_UTF8, 0, "a\0b", 3, wide, 8));
    EXPECT_EQ(std::u16string(u"a\0b#", 4), std::u16string(wide, 4));

    char narrow[8];
    std::memset(narrow, '#', sizeof narrow);
    EXPECT_EQ(3, WideCharToMultiByte(CP_UTF8, 0, u"a\0b", 3, narrow, 8, nullptr, nullptr));
    EXPECT_EQ(std::string("a\0b#", 4), std::string(narrow, 4));
    std::memset(narrow, '#', sizeof narrow);
    EXPECT_EQ(3, WideCharToMultiByte(CP_UTF8, 0, u"\x00E9", -1, narrow, 8, nullptr, nullptr));
    EXPECT_EQ(std::string("\xC3\xA9\0#", 4), std::string(narrow, 4));
    EXPECT_EQ(1, WideCharToMultiByte(CP_ACP, 0, u"", -1, nullptr, 0, nullptr, nullptr));
}

// Every capacity short of the size: the call fails with ERROR_INSUFFICIENT_BUFFER, never writes
// past the capacity, and what it wrote is whole leading characters of the full result (a
// surrogate pair is never split).
TEST(TextConversionLengths, TooSmallBuffersFailWithoutWritingPastTheCapacity)
{
    const std::string bytes = "a\xF0\x9F\x98\x80"
                              "bc\xC3\xA9"
                              "defghijklmn\xE2\x82\xAC";
    const std::u16string full = decode(bytes);
    for (int capacity = 1; capacity < static_cast<int>(full.size()); ++capacity) {
        std::u16string out(full.size() + 1, u'#');
        SetLastError(0);
        EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, bytes.data(), -1, out.data(), capacity));
        EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
        std::size_t written = out.find(u'#');
        EXPECT_LE(written, static_cast<std::size_t>(capacity));
        EXPECT_EQ(full.substr(0, written), out.substr(0, written));
        EXPECT_FALSE(written > 0 && out[written - 1] >= 0xD800 && out[written - 1] <= 0xDBFF);
    }
    for (int capacity = 1; capacity < static_cast<int>(bytes.size()); ++capacity) {
        std::string out(bytes.size() + 1, '#');
        SetLastError(0);
        EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, full.data(), static_cast<int>(full.size()), out.data(),
                                         capacity, nullptr, nullptr));
        EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
        std::size_t written = out.find('#');
        EXPECT_LE(written, static_cast<std::size_t>(capacity));
        EXPECT_EQ(bytes.substr(0, written), out.substr(0, written));
        // A prefix cut inside a character would be ill-formed.
        EXPECT_TRUE(written == 0 || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, out.data(),
                                                        static_cast<int>(written), nullptr, 0) > 0)
            << "cut inside a character at capacity " << capacity;
    }
}

// Guards each refusal that must leave the buffer alone and say ERROR_INVALID_PARAMETER.
TEST(TextConversionArguments, MalformedArgumentsFailWithInvalidParameter)
{
    OXCHAR wide[8] = {};
    char narrow[16] = {};
    auto expectInvalid = [](int result) {
        EXPECT_EQ(0, result);
        EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
        SetLastError(0);
    };
    expectInvalid(MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, wide, 8));
    expectInvalid(MultiByteToWideChar(CP_UTF8, 0, "a", 0, wide, 8));
    expectInvalid(MultiByteToWideChar(CP_UTF8, 0, "a", -2, wide, 8));
    expectInvalid(MultiByteToWideChar(CP_UTF8, 0, "a", -1, wide, -1));
    expectInvalid(MultiByteToWideChar(CP_UTF8, 0, "a", -1, nullptr, 8));
    expectInvalid(WideCharToMultiByte(CP_UTF8, 0, nullptr, -1, narrow, 8, nullptr, nullptr));
    expectInvalid(WideCharToMultiByte(CP_UTF8, 0, u"a", 0, narrow, 8, nullptr, nullptr));
    expectInvalid(WideCharToMultiByte(CP_UTF8, 0, u"a", -5, narrow, 8, nullptr, nullptr));
    expectInvalid(WideCharToMultiByte(CP_UTF8, 0, u"a", -1, nullptr, 8, nullptr, nullptr));

    // Source and destination in the same storage, at the same address or overlapping.
    alignas(8) char shared[16] = "abcdefg";
    expectInvalid(MultiByteToWideChar(CP_UTF8, 0, shared, -1, reinterpret_cast<OXCHAR*>(shared), 8));
    expectInvalid(MultiByteToWideChar(CP_UTF8, 0, shared + 2, 4, reinterpret_cast<OXCHAR*>(shared), 4));
    expectInvalid(WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<OXCHAR*>(shared), 2, shared + 2, 4,
                                      nullptr, nullptr));

    // A code page that is neither the ANSI page nor UTF-8; default-character arguments with UTF-8.
    expectInvalid(MultiByteToWideChar(GetACP() == 1253 ? 1254 : 1253, 0, "a", -1, wide, 8));
    BOOL used = FALSE;
    expectInvalid(WideCharToMultiByte(CP_UTF8, 0, u"a", -1, narrow, 8, "?", nullptr));
    expectInvalid(WideCharToMultiByte(CP_UTF8, 0, u"a", -1, narrow, 8, nullptr, &used));
}

// Guards against silently ignoring flags that would change the result.
TEST(TextConversionArguments, UnsupportedFlagsFailWithInvalidFlags)
{
    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "a", -1, nullptr, 0));
    EXPECT_EQ(ERROR_INVALID_FLAGS, GetLastError());
    SetLastError(0);
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, WC_NO_BEST_FIT_CHARS, u"a", -1, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(ERROR_INVALID_FLAGS, GetLastError());
    SetLastError(0);
    EXPECT_EQ(0, WideCharToMultiByte(CP_ACP, WC_ERR_INVALID_CHARS, u"a", -1, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(ERROR_INVALID_FLAGS, GetLastError());
    EXPECT_EQ(2, MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "a", -1, nullptr, 0));
}

// ---------------------------------------------------------------------------------------------
// The terminating helpers the environment functions use

// Guards against an unterminated buffer, a character cut in half at the end of the buffer, and a
// needed size that counts the terminator or only what fitted.
TEST(Utf16Helpers, AlwaysTerminateAndCutOnlyBetweenCharacters)
{
    char narrow[4];
    EXPECT_EQ(3u, detail::utf16ToUtf8(u"a\x00E9", narrow, 4));
    EXPECT_STREQ("a\xC3\xA9", narrow);
    EXPECT_EQ(3u, detail::utf16ToUtf8(u"a\x00E9", narrow, 3));
    EXPECT_STREQ("a", narrow);
    EXPECT_EQ(5u, detail::utf16ToUtf8(u"ab\xD83D", narrow, 1));
    EXPECT_STREQ("", narrow);
    EXPECT_EQ(0u, detail::utf16ToUtf8(nullptr, narrow, 4));
    EXPECT_STREQ("", narrow);
    EXPECT_EQ(2u, detail::utf16ToUtf8(u"\x00E9", nullptr, 0));

    OXCHAR wide[3];
    EXPECT_EQ(2u, detail::utf8ToUtf16("a\xC3\xA9", wide, 3));
    EXPECT_EQ(std::u16string(u"a\x00E9"), std::u16string(wide));
    EXPECT_EQ(3u, detail::utf8ToUtf16("a\xF0\x9F\x98\x80", wide, 3));
    EXPECT_EQ(std::u16string(u"a"), std::u16string(wide));
    EXPECT_EQ(1u, detail::utf8ToUtf16("\xFF", wide, 3));
    EXPECT_EQ(std::u16string(u"\xFFFD"), std::u16string(wide));
    EXPECT_EQ(0u, detail::utf8ToUtf16(nullptr, wide, 3));
    EXPECT_EQ(u'\0', wide[0]);
}

// ---------------------------------------------------------------------------------------------
// Randomized self-check (fixed seed, so a failure reproduces)

// Byte strings mixing ASCII, well-formed sequences, their fragments and arbitrary bytes: the
// decoder never writes more than its size query said, produces valid UTF-16, and re-encoding
// gives the input back whenever the input was well-formed.
TEST(Utf8Randomized, DecodingIsBoundedValidAndRoundTripsWellFormedInput)
{
    std::mt19937 random(20240611);
    const std::string pieces[] = {"a",
                                  "Z~",
                                  "\xC3\xA9",
                                  "\xE2\x82\xAC",
                                  "\xF0\x9F\x98\x80",
                                  "\xED\x9F\xBF",
                                  "\xEF\xBF\xBF",
                                  "\xF4\x8F\xBF\xBF",
                                  "\x80",
                                  "\xC2",
                                  "\xE2\x82",
                                  "\xF0\x9F",
                                  "\xED\xA0\x80",
                                  "\xC0\xAF",
                                  "\xF8",
                                  "\0"};
    int wellFormedCount = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string bytes;
        int pieceCount = 1 + static_cast<int>(random() % 24);
        for (int i = 0; i < pieceCount; ++i) {
            if (random() % 4 == 0)
                bytes.push_back(static_cast<char>(random() & 0xFF));
            else
                bytes += pieces[random() % std::size(pieces)];
        }
        if (bytes.empty())
            continue;
        int length = static_cast<int>(bytes.size());
        int needed = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, nullptr, 0);
        ASSERT_GT(needed, 0);
        ASSERT_LE(needed, length);
        std::u16string out(needed + 8, u'#');
        ASSERT_EQ(needed, MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, out.data(), needed + 8));
        ASSERT_EQ(std::u16string(8, u'#'), out.substr(needed));
        out.resize(needed);
        ASSERT_TRUE(isValidUtf16(out));

        std::string again = encode(out, CP_UTF8, WC_ERR_INVALID_CHARS);
        bool wellFormed =
            MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0) > 0;
        if (wellFormed) {
            ++wellFormedCount;
            ASSERT_EQ(bytes, again);
        } else {
            // The replacement text is itself well-formed and stable.
            ASSERT_EQ(out, decode(again, CP_UTF8, MB_ERR_INVALID_CHARS));
        }
    }
    EXPECT_GT(wellFormedCount, 1000);
}

// ---------------------------------------------------------------------------------------------
// The ANSI code page when nothing is configured: Windows-1252

class AnsiCodePage1252 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (GetACP() != 1252)
            GTEST_SKIP() << "this process runs with ANSI code page " << GetACP();
    }
};

// Guards the 0x80..0x9F block, the one place 1252 differs from Latin-1: glibc's table for the
// defined bytes, the C1 control of the same value for the five undefined ones (as Windows).
TEST_F(AnsiCodePage1252, DecodesTheHighControlBlockAsWindowsDoes)
{
    for (unsigned byte = 0x80; byte < 0xA0; ++byte) {
        std::string one(1, static_cast<char>(byte));
        bool undefined = byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
        std::u16string expected(1, static_cast<char16_t>(byte));
        if (!undefined) {
            std::string utf16 = iconvConvert("UTF-16LE", "CP1252", one);
            ASSERT_EQ(2u, utf16.size());
            expected[0] = static_cast<char16_t>(static_cast<unsigned char>(utf16[0]) |
                                                static_cast<unsigned char>(utf16[1]) << 8);
        }
        EXPECT_EQ(expected, decode(one, CP_ACP)) << "byte " << std::hex << byte;
    }
    EXPECT_EQ(u"\x20AC\x0178\x00FF", decode("\x80\x9F\xFF", CP_ACP));
}

// Guards against an encoding table that loses or moves any byte: every byte decodes to one unit
// that encodes back to the same byte, with no default character, under CP_ACP and under 1252;
// and against a single-byte page reporting lead bytes (callers would pair bytes wrongly).
TEST_F(AnsiCodePage1252, EveryByteRoundTrips)
{
    std::string all;
    for (unsigned byte = 1; byte < 256; ++byte) {
        all.push_back(static_cast<char>(byte));
        EXPECT_FALSE(IsDBCSLeadByte(static_cast<BYTE>(byte))) << byte;
    }
    std::u16string units = decode(all, CP_ACP, MB_ERR_INVALID_CHARS);
    ASSERT_EQ(all.size(), units.size());
    BOOL used = TRUE;
    EXPECT_EQ(all, encode(units, CP_ACP, 0, nullptr, &used));
    EXPECT_FALSE(used);
    EXPECT_EQ(units, decode(all, 1252));
    EXPECT_EQ(all, encode(units, 1252, WC_NO_BEST_FIT_CHARS));
}

// Guards the default character: one per character the page lacks (a surrogate pair is one), the
// caller's choice when given, usedDefaultChar set only when it was used, and no best fit (A with
// macron stays unencodable rather than becoming 'A').
TEST_F(AnsiCodePage1252, UnencodableCharactersBecomeTheDefaultCharacter)
{
    BOOL used = FALSE;
    EXPECT_EQ("a\x80??b?", encode(u"a\x20AC\x0100\xD83D\xDE00"
                                  u"b\xDC00",
                                  CP_ACP, 0, nullptr, &used));
    EXPECT_TRUE(used);
    EXPECT_EQ("#x#", encode(u"\x4E00x\x0100", CP_ACP, 0, "#", &used));
    EXPECT_TRUE(used);
    EXPECT_EQ("caf\xE9", encode(u"caf\x00E9", CP_ACP, 0, "#", &used));
    EXPECT_FALSE(used);
    EXPECT_EQ("??", encode(u"\x0100\x0101", CP_ACP));

    char narrow[4];
    used = FALSE;
    EXPECT_EQ(3, WideCharToMultiByte(CP_ACP, 0, u"\x03A9z", -1, narrow, 4, nullptr, &used));
    EXPECT_STREQ("?z", narrow);
    EXPECT_TRUE(used);
}

// ---------------------------------------------------------------------------------------------
// Code page 932 (ctest runs these in a process started with OX_ANSI_CODEPAGE=932)

class AnsiCodePage932 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (GetACP() != 932)
            GTEST_SKIP() << "needs OX_ANSI_CODEPAGE=932";
    }
};

// First use from many threads at once: the tables are built once and every thread sees them
// whole. Meaningful as the first test of its process (ctest runs it so) and under TSan.
TEST(AnsiCodePage932FirstUse, ConcurrentFirstUseSeesCompleteTables)
{
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&wrong] {
            OXCHAR out[4] = {};
            int count = MultiByteToWideChar(CP_ACP, 0, "\x82\xA0", -1, out, 4);
            if (GetACP() == 932 && (count != 2 || out[0] != 0x3042))
                ++wrong;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(0, wrong.load());
}

TEST_F(AnsiCodePage932, ReportsItsNumberAndLeadBytes)
{
    EXPECT_EQ(932u, GetACP());
    for (unsigned byte : {0x81u, 0x9Fu, 0xE0u, 0xFCu})
        EXPECT_TRUE(IsDBCSLeadByte(static_cast<BYTE>(byte))) << byte;
    for (unsigned byte : {0x00u, 0x41u, 0x80u, 0xA0u, 0xA1u, 0xDFu, 0xFDu, 0xFFu})
        EXPECT_FALSE(IsDBCSLeadByte(static_cast<BYTE>(byte))) << byte;
}

// Guards the pairing of lead and trail bytes, the half-width katakana singles and the C1
// fallback for 0x80.
TEST_F(AnsiCodePage932, DecodesSinglesAndPairs)
{
    EXPECT_EQ(u"a\x3042\xFF71\x2460\\\x0080", decode("a\x82\xA0\xB1\x87\x40\x5C\x80", CP_ACP));
    EXPECT_EQ(u"\x3042", decode("\x82\xA0", 932));
}

// A lead byte with a byte that cannot trail it is one U+FFFD and the byte still counts on its
// own (a delimiter after a broken lead byte survives); a lead byte at the end is one U+FFFD; a
// pair in the trail range that names nothing is one U+FFFD for both bytes.
TEST_F(AnsiCodePage932, BrokenPairsNeverSwallowTheNextCharacter)
{
    EXPECT_EQ(u"\xFFFD/x", decode("\x82/x", CP_ACP));
    EXPECT_EQ(u"x\xFFFD", decode("x\x82", CP_ACP));
    EXPECT_EQ(3, MultiByteToWideChar(CP_ACP, 0, "x\x82", -1, nullptr, 0));
    EXPECT_EQ(u"\xFFFD"
              u"a",
              decode("\x82\x40"
                     "a",
                     CP_ACP));
    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "\x82/", 2, nullptr, 0));
    EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, GetLastError());
}

// Every defined single byte and pair encodes to bytes that decode to the same unit; duplicates
// (NEC and IBM copies) encode to the IBM row as Windows does; and no character is mapped to a
// different one (the yen sign does not become a backslash).
TEST_F(AnsiCodePage932, EncodingNeverChangesACharacter)
{
    int defined = 0;
    for (unsigned lead = 0; lead < 256; ++lead) {
        for (unsigned trail = 0; trail < (IsDBCSLeadByte(static_cast<BYTE>(lead)) ? 256u : 1u); ++trail) {
            std::string bytes(1, static_cast<char>(lead));
            if (IsDBCSLeadByte(static_cast<BYTE>(lead)))
                bytes.push_back(static_cast<char>(trail));
            if (bytes == std::string(1, '\0') || (bytes.size() == 2 && trail == 0))
                continue;
            std::u16string unit = decode(bytes, CP_ACP);
            if (unit.size() != 1 || unit[0] == R)
                continue;
            ++defined;
            BOOL used = TRUE;
            std::string again = encode(unit, CP_ACP, 0, nullptr, &used);
            ASSERT_FALSE(used) << std::hex << lead << ' ' << trail;
            ASSERT_EQ(unit, decode(again, CP_ACP)) << std::hex << lead << ' ' << trail;
        }
    }
    EXPECT_GT(defined, 9000);
    EXPECT_EQ("\xFA\x5C", encode(u"\x7E8A", CP_ACP));
    BOOL used = FALSE;
    EXPECT_EQ("?", encode(u"\x00A5", CP_ACP, 0, nullptr, &used));
    EXPECT_TRUE(used);
}

// Guards a double-byte default character and the two-byte size of each pair in size queries.
TEST_F(AnsiCodePage932, DefaultCharacterMayBeAPair)
{
    BOOL used = FALSE;
    EXPECT_EQ("\x82\xA0\x81\x45x", encode(u"\x3042\x00E9x", CP_ACP, 0, "\x81\x45", &used));
    EXPECT_TRUE(used);
    EXPECT_EQ(5, WideCharToMultiByte(CP_ACP, 0, u"\x3042\x3044", -1, nullptr, 0, nullptr, nullptr));
}

// ---------------------------------------------------------------------------------------------
// A single-byte page other than 1252, built from iconv (OX_ANSI_CODEPAGE=1255)

class AnsiCodePage1255 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (GetACP() != 1255)
            GTEST_SKIP() << "needs OX_ANSI_CODEPAGE=1255";
    }
};

// Guards the tables built from iconv: letters decode, the undefined bytes of 0x80..0x9F are C1
// controls, other undefined bytes are U+FFFD, and every defined byte round-trips.
TEST_F(AnsiCodePage1255, DecodesDefinedBytesAndRoundTripsThem)
{
    EXPECT_FALSE(IsDBCSLeadByte(0xE0));
    EXPECT_EQ(u"\x05D0\x05EA\x20AC\x0081\xFFFD", decode("\xE0\xFA\x80\x81\xFF", CP_ACP));
    for (unsigned byte = 1; byte < 256; ++byte) {
        std::string one(1, static_cast<char>(byte));
        std::u16string unit = decode(one, 1255);
        ASSERT_EQ(1u, unit.size());
        if (unit[0] != R) {
            EXPECT_EQ(one, encode(unit, CP_ACP)) << byte;
        }
    }
    EXPECT_EQ("?", encode(u"\x00E9", CP_ACP));
}

// ---------------------------------------------------------------------------------------------
// Configured pages that fall back or switch codec (OX_ANSI_CODEPAGE=99999 and =65001)

// Guards against an unknown page leaving the process without an ANSI code page.
TEST(AnsiCodePageFallback, UnknownPageFallsBackTo1252)
{
    const char* requested = std::getenv("OX_ANSI_CODEPAGE");
    if (requested == nullptr || std::strcmp(requested, "99999") != 0)
        GTEST_SKIP() << "needs OX_ANSI_CODEPAGE=99999";
    EXPECT_EQ(1252u, GetACP());
    EXPECT_EQ(u"\x20AC", decode("\x80", CP_ACP));
}

// With UTF-8 as the ANSI code page, CP_ACP is the UTF-8 codec with its rules.
TEST(AnsiCodePageUtf8, AnsiConversionsUseTheUtf8Codec)
{
    if (GetACP() != CP_UTF8)
        GTEST_SKIP() << "needs OX_ANSI_CODEPAGE=65001";
    EXPECT_EQ(u"\x20AC\xFFFD", decode("\xE2\x82\xAC\xC0", CP_ACP));
    EXPECT_EQ("\xE2\x82\xAC", encode(u"\x20AC", CP_ACP));
    EXPECT_FALSE(IsDBCSLeadByte(0xE2));
    BOOL used = FALSE;
    EXPECT_EQ(0, WideCharToMultiByte(CP_ACP, 0, u"a", -1, nullptr, 0, nullptr, &used));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
}
