// platform/AnsiCodePage.cpp
// The ANSI code page: which page is in force, its conversion tables, and the conversions that
// read them. The page is chosen once, at first use, from OX_ANSI_CODEPAGE; its tables are built
// then (from glibc's iconv, except for the built-in 1252), so a conversion is table look-ups only:
// no iconv call, no lock, no allocation. The entry points that check arguments and pick the codec
// are in Utf8Codec.cpp.
//
// Double-byte pages are tabled too, rather than converted through a cached iconv descriptor
// under a lock: building the tables takes one iconv call per defined pair (a few milliseconds,
// once), and in return a conversion never waits for another thread, never calls into a library
// that may allocate, and treats broken pairs by this file's rules rather than by where iconv
// happens to stop. 1252 is built in so that the default page works even where glibc's converter
// modules are not installed.

#include "platform/AnsiCodePage.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iconv.h>

namespace win {
namespace detail {
namespace {

// No page decodes anything to U+FFFF (a noncharacter), so it marks what a page leaves undefined.
constexpr char16_t kUndefined = 0xFFFF;
constexpr char16_t kReplacement = 0xFFFD;
constexpr UINT kDefaultCodePage = 1252;

struct ByteRange {
    unsigned char first;
    unsigned char last; // first > last marks an unused range
};

// Lead and trail ranges are Windows' for these pages; they decide how bytes pair up before any
// table is read, so a malformed pair never swallows an ASCII byte that follows a lead byte.
struct DoubleBytePage {
    UINT number;
    const char* iconvName;
    ByteRange leads[2];
    ByteRange trails[3];
};

constexpr ByteRange kNoRange = {1, 0};
constexpr DoubleBytePage kDoubleBytePages[] = {
    {932, "CP932", {{0x81, 0x9F}, {0xE0, 0xFC}}, {{0x40, 0x7E}, {0x80, 0xFC}, kNoRange}},
    {936, "CP936", {{0x81, 0xFE}, kNoRange}, {{0x40, 0x7E}, {0x80, 0xFE}, kNoRange}},
    {949, "CP949", {{0x81, 0xFE}, kNoRange}, {{0x41, 0x5A}, {0x61, 0x7A}, {0x81, 0xFE}}},
    {950, "CP950", {{0x81, 0xFE}, kNoRange}, {{0x40, 0x7E}, {0xA1, 0xFE}, kNoRange}},
};

// Windows-1252 from 0x80 to 0x9F; every other byte is the Latin-1 character of the same value.
// 0x81, 0x8D, 0x8F, 0x90 and 0x9D are undefined in the page and decode to the C1 controls, as
// Windows decodes them.
constexpr char16_t kWindows1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                           0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                           0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                           0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Zero-filled static storage (about 200 KB of .bss, touched only as far as the page in force
// needs): no constructor runs and nothing is allocated.
struct AnsiTables {
    UINT number;
    bool utf8;
    bool isLead[256];
    bool isTrail[256];
    char16_t single[256];     // unit of each byte that is not a lead byte, or kUndefined
    char16_t pairs[128][256]; // pairs[lead - 0x80][trail]: unit of a lead and trail byte, or kUndefined
    // Bytes of each BMP unit: 0 when the page cannot hold it (U+0000 is the byte 0), below 0x100
    // one byte, otherwise lead << 8 | trail. Every entry decodes back to its own unit:
    //   decode(encoding[u]) == u whenever encoding[u] != 0 or u == 0
    // so encoding never turns a character into a different one (no best fit, which could turn
    // a yen sign into a backslash); what the page cannot hold becomes the default character.
    std::uint16_t encoding[0x10000];
};

AnsiTables gTables;

unsigned leadIndex(unsigned lead)
{
    return lead - 0x80;
}

char16_t decodeByteSequence(const AnsiTables& tables, const unsigned char* bytes, std::size_t count)
{
    return count == 1 ? tables.single[bytes[0]] : tables.pairs[leadIndex(bytes[0])][bytes[1]];
}

// The number OX_ANSI_CODEPAGE names, 0 when unset or not a plain decimal number.
UINT requestedCodePage()
{
    const char* text = std::getenv("OX_ANSI_CODEPAGE");
    if (text == nullptr || *text == '\0')
        return 0;
    UINT number = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || p - text >= 6)
            return 0;
        number = number * 10 + static_cast<UINT>(*p - '0');
    }
    return number;
}

void buildWindows1252(AnsiTables& tables)
{
    tables.number = 1252;
    for (unsigned byte = 0; byte < 256; ++byte)
        tables.single[byte] = byte >= 0x80 && byte < 0xA0 ? kWindows1252High[byte - 0x80] : char16_t(byte);
    for (unsigned byte = 0; byte < 256; ++byte)
        tables.encoding[tables.single[byte]] = static_cast<std::uint16_t>(byte);
}

// Converts `length` bytes with `decoder` (to UTF-16LE) and gives the one unit they make, or
// kUndefined when they are not exactly one BMP character. Some pages (1255, 1258) hold a base
// letter back to compose it with a following mark, hence the flush.
char16_t decodeWithIconv(iconv_t decoder, const unsigned char* bytes, std::size_t length, bool* incomplete)
{
    char in[2] = {static_cast<char>(bytes[0]), length > 1 ? static_cast<char>(bytes[1]) : '\0'};
    unsigned char out[8];
    char* inPosition = in;
    auto outPosition = reinterpret_cast<char*>(out);
    std::size_t inLeft = length;
    std::size_t outLeft = sizeof out;
    iconv(decoder, nullptr, nullptr, nullptr, nullptr);
    if (iconv(decoder, &inPosition, &inLeft, &outPosition, &outLeft) == static_cast<std::size_t>(-1)) {
        if (errno == EINVAL && incomplete != nullptr)
            *incomplete = true;
        return kUndefined;
    }
    if (iconv(decoder, nullptr, nullptr, &outPosition, &outLeft) == static_cast<std::size_t>(-1) ||
        inLeft != 0 || sizeof out - outLeft != 2)
        return kUndefined;
    return static_cast<char16_t>(out[0] | out[1] << 8);
}

// The bytes `encoder` (from UTF-16LE) gives for `unit`, in the layout of AnsiTables::encoding;
// 0 when it gives none or more than two.
std::uint16_t encodeWithIconv(iconv_t encoder, char16_t unit)
{
    char in[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    unsigned char out[8];
    char* inPosition = in;
    auto outPosition = reinterpret_cast<char*>(out);
    std::size_t inLeft = sizeof in;
    std::size_t outLeft = sizeof out;
    iconv(encoder, nullptr, nullptr, nullptr, nullptr);
    if (iconv(encoder, &inPosition, &inLeft, &outPosition, &outLeft) == static_cast<std::size_t>(-1) ||
        iconv(encoder, nullptr, nullptr, &outPosition, &outLeft) == static_cast<std::size_t>(-1))
        return 0;
    std::size_t produced = sizeof out - outLeft;
    if (produced == 1)
        return out[0];
    if (produced == 2)
        return static_cast<std::uint16_t>(out[0] << 8 | out[1]);
    return 0;
}

// Fills `encoding` from the decode tables, then lets iconv choose among bytes that decode to the
// same unit (932 has NEC and IBM copies of some characters). An iconv answer that does not decode
// back to its unit (a one-way mapping) is not taken.
void buildEncoding(AnsiTables& tables, iconv_t encoder)
{
    for (unsigned byte = 0; byte < 256; ++byte) {
        char16_t unit = tables.single[byte];
        if (!tables.isLead[byte] && unit != kUndefined && tables.encoding[unit] == 0)
            tables.encoding[unit] = static_cast<std::uint16_t>(byte);
    }
    for (unsigned lead = 0x80; lead < 256; ++lead) {
        if (!tables.isLead[lead])
            continue;
        for (unsigned trail = 0; trail < 256; ++trail) {
            char16_t unit = tables.pairs[leadIndex(lead)][trail];
            if (tables.isTrail[trail] && unit != kUndefined && tables.encoding[unit] == 0)
                tables.encoding[unit] = static_cast<std::uint16_t>(lead << 8 | trail);
        }
    }
    for (unsigned unit = 1; unit < 0x10000; ++unit) {
        if (tables.encoding[unit] == 0)
            continue;
        std::uint16_t bytes = encodeWithIconv(encoder, static_cast<char16_t>(unit));
        if (bytes == 0 || bytes == tables.encoding[unit])
            continue;
        unsigned char sequence[2] = {static_cast<unsigned char>(bytes >> 8),
                                     static_cast<unsigned char>(bytes)};
        bool twoBytes = bytes >= 0x100;
        bool wellFormed = twoBytes ? tables.isLead[sequence[0]] && tables.isTrail[sequence[1]]
                                   : !tables.isLead[sequence[1]];
        if (wellFormed &&
            decodeByteSequence(tables, twoBytes ? sequence : sequence + 1, twoBytes ? 2 : 1) == unit)
            tables.encoding[unit] = bytes;
    }
}

// Builds the tables of `number` from iconv's "CP<number>" (or the name a double-byte page
// gives). False, with the tables left for the caller to clear, when iconv does not know the page
// or a page not listed as double-byte turns out not to be single-byte.
bool buildFromIconv(AnsiTables& tables, UINT number)
{
    const DoubleBytePage* doubleByte = nullptr;
    for (const DoubleBytePage& page : kDoubleBytePages) {
        if (page.number == number)
            doubleByte = &page;
    }
    char name[16];
    if (doubleByte != nullptr)
        std::strcpy(name, doubleByte->iconvName);
    else
        std::snprintf(name, sizeof name, "CP%u", number);

    iconv_t decoder = iconv_open("UTF-16LE", name);
    if (decoder == reinterpret_cast<iconv_t>(-1))
        return false;
    iconv_t encoder = iconv_open(name, "UTF-16LE");
    if (encoder == reinterpret_cast<iconv_t>(-1)) {
        iconv_close(decoder);
        return false;
    }

    if (doubleByte != nullptr) {
        for (ByteRange range : doubleByte->leads) {
            for (unsigned byte = range.first; byte <= range.last; ++byte)
                tables.isLead[byte] = true;
        }
        for (ByteRange range : doubleByte->trails) {
            for (unsigned byte = range.first; byte <= range.last; ++byte)
                tables.isTrail[byte] = true;
        }
    }
    bool incomplete = false;
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned char sequence[1] = {static_cast<unsigned char>(byte)};
        tables.single[byte] =
            tables.isLead[byte] ? kUndefined : decodeWithIconv(decoder, sequence, 1, &incomplete);
        if (tables.single[byte] == kUndefined && byte >= 0x80 && byte < 0xA0 && !tables.isLead[byte])
            tables.single[byte] = static_cast<char16_t>(byte);
    }
    // A byte that iconv finds incomplete opens a multi-byte character: only the listed
    // double-byte pages may have those, and there they are the lead bytes.
    bool usable = doubleByte != nullptr || !incomplete;
    if (usable) {
        for (unsigned lead = 0; lead < 256; ++lead) {
            for (unsigned trail = 0; trail < 256 && tables.isLead[lead]; ++trail) {
                unsigned char sequence[2] = {static_cast<unsigned char>(lead),
                                             static_cast<unsigned char>(trail)};
                tables.pairs[leadIndex(lead)][trail] =
                    tables.isTrail[trail] ? decodeWithIconv(decoder, sequence, 2, nullptr) : kUndefined;
            }
        }
        buildEncoding(tables, encoder);
        tables.number = number;
    }
    iconv_close(encoder);
    iconv_close(decoder);
    return usable;
}

// Runs once, at the first use of any ANSI function. A page that is unknown, unsupported or that
// iconv cannot open gives 1252, the page in force when nothing is asked for.
bool buildTables(AnsiTables& tables)
{
    UINT requested = requestedCodePage();
    if (requested == CP_UTF8) {
        tables.number = CP_UTF8;
        tables.utf8 = true;
        return true;
    }
    if (requested != 0 && requested != kDefaultCodePage && buildFromIconv(tables, requested))
        return true;
    std::memset(&tables, 0, sizeof tables);
    buildWindows1252(tables);
    return true;
}

const AnsiTables& tables()
{
    [[maybe_unused]] static const bool built = buildTables(gTables);
    return gTables;
}

} // namespace

bool ansiCodePageIsUtf8()
{
    return tables().utf8;
}

ConversionResult decodeAnsi(const char* source, std::size_t length, OXCHAR* destination, std::size_t capacity)
{
    const AnsiTables& table = tables();
    auto in = reinterpret_cast<const unsigned char*>(source);
    if (destination == nullptr)
        capacity = 0;
    std::size_t count = 0;
    for (std::size_t i = 0; i < length; ++count) {
        unsigned byte = in[i++];
        char16_t unit;
        if (!table.isLead[byte])
            unit = table.single[byte];
        else if (i < length && table.isTrail[in[i]])
            unit = table.pairs[leadIndex(byte)][in[i++]];
        else
            unit = kUndefined;
        if (unit == kUndefined)
            unit = kReplacement;
        if (count < capacity)
            destination[count] = unit;
    }
    return {count < capacity ? count : capacity, count, false};
}

ConversionResult encodeAnsi(const OXCHAR* source, std::size_t length, char* destination, std::size_t capacity)
{
    const AnsiTables& table = tables();
    if (destination == nullptr)
        capacity = 0;
    ConversionResult result = {0, 0, false};
    bool full = capacity == 0;
    for (std::size_t i = 0; i < length;) {
        char16_t unit = source[i++];
        std::uint16_t bytes;
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            // Surrogates: none of the tabled pages holds a character above U+FFFF. A pair is one
            // character and takes one default character.
            if (unit <= 0xDBFF && i < length && source[i] >= 0xDC00 && source[i] <= 0xDFFF)
                ++i;
            bytes = 0;
        } else {
            bytes = table.encoding[unit];
        }
        if (bytes == 0 && unit != 0) {
            bytes = '?';
            result.usedDefaultChar = true;
        }
        std::size_t size = bytes >= 0x100 ? 2 : 1;
        if (!full && capacity - result.written >= size) {
            if (size == 2)
                destination[result.written++] = static_cast<char>(bytes >> 8);
            destination[result.written++] = static_cast<char>(bytes);
        } else {
            full = true;
        }
        result.needed += size;
    }
    return result;
}

} // namespace detail

BOOL IsDBCSLeadByte(BYTE byte)
{
    return detail::tables().isLead[byte] ? TRUE : FALSE;
}

UINT GetACP()
{
    return detail::tables().number;
}

} // namespace win
