// fuzz/StringFuzz.cpp
// Drives OxString's UTF-8 constructor, its number parsers, substr and sequences of appends and
// accessors with arbitrary input, and checks each answer against an independent model: decoded
// text equals the table-driven oracle and is valid UTF-16, parsed numbers equal a reference
// parser in 128-bit arithmetic, sub-strings equal the model's, and every string keeps the kind
// rules (empty is kind 0, inline kinds hold what fits, lengths agree across forms).
//
// Input: the first byte picks the operation, the rest is its material.

#include <oxfirst/OxHostDefaults.h>
#include <oxfirst/OxString.h>

#include "fuzz/FuzzCheck.h"
#include "support/Utf8Oracle.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Reads the input front to back; past the end everything is 0.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : mData(data), mSize(size) {}
    std::uint8_t byte() { return mPosition < mSize ? mData[mPosition++] : 0; }
    int integer()
    {
        // Small values mostly, and the extremes now and then.
        switch (byte() % 8) {
        case 0:
            return INT_MIN;
        case 1:
            return INT_MAX;
        case 2:
            return -static_cast<int>(byte());
        default:
            return static_cast<int>(byte() % 40);
        }
    }
    std::string bytes(std::size_t most)
    {
        std::string out;
        while (out.size() < most && mPosition < mSize && mData[mPosition] != 0)
            out += static_cast<char>(mData[mPosition++]);
        if (mPosition < mSize)
            ++mPosition; // the separator
        return out;
    }
    std::u16string units(std::size_t most)
    {
        std::u16string out;
        while (out.size() < most && mPosition + 1 < mSize) {
            const auto unit = static_cast<char16_t>(mData[mPosition] | mData[mPosition + 1] << 8);
            mPosition += 2;
            if (unit == 0)
                break;
            out += unit;
        }
        return out;
    }
    std::string rest() { return bytes(SIZE_MAX); }

private:
    const std::uint8_t* mData;
    std::size_t mSize;
    std::size_t mPosition = 0;
};

void checkKindRules(const OxString& s)
{
    const unsigned kind = s.kind();
    FUZZ_CHECK(kind <= OxString::kHeapDual);
    FUZZ_CHECK((kind == OxString::kEmpty) == s.isEmpty());
    if (kind == OxString::kInlineNarrow) {
        const std::size_t length = std::strlen(s.ansiPtr());
        FUZZ_CHECK(length >= 1 && length <= OxString::kInlineNarrowCapacity);
    }
    if (kind == OxString::kInlineWide) {
        const std::size_t length = std::char_traits<OXCHAR>::length(s.kwszPtr());
        FUZZ_CHECK(length >= 1 && length <= OxString::kInlineWideCapacity);
        FUZZ_CHECK(reinterpret_cast<const unsigned char*>(&s)[1] == 0);
    }
    if (kind == OxString::kEmpty) {
        void* pointer;
        std::memcpy(&pointer, reinterpret_cast<const unsigned char*>(&s) + 8, sizeof pointer);
        FUZZ_CHECK(pointer == nullptr);
        FUZZ_CHECK(s.length() == 0 && *s.kwszPtr() == 0 && *s.ansiPtr() == 0);
    }
}

// The kind a freshly stored text must have.
unsigned storedKind(std::size_t length, bool narrow)
{
    if (length == 0)
        return OxString::kEmpty;
    if (narrow)
        return length <= OxString::kInlineNarrowCapacity ? OxString::kInlineNarrow : OxString::kHeapNarrow;
    return length <= OxString::kInlineWideCapacity ? OxString::kInlineWide : OxString::kHeapWide;
}

void fuzzUtf8(Input& input)
{
    const std::string bytes = input.rest();
    const OxString s(bytes.c_str(), true);
    const std::u16string expected = oxtest::decodeUtf8Oracle(bytes);
    FUZZ_CHECK(s.kind() == storedKind(expected.size(), false));
    FUZZ_CHECK(s.kwszPtr() == expected);
    FUZZ_CHECK(oxtest::isValidUtf16(s.kwszPtr()));
    FUZZ_CHECK(s.length() == static_cast<int>(expected.size()));
    // Encoding back and decoding again gives the same text: U+FFFD is a character like others.
    OxString copy(s);
    const OxString again(copy.utf8Ptr(), true);
    FUZZ_CHECK(std::u16string(again.kwszPtr()) == expected);
    checkKindRules(s);
    checkKindRules(copy);
}

// The reference parser: 128-bit magnitude, the rules written out plainly.
struct Parsed {
    bool failed;
    const char* message;
    unsigned __int128 value;
};

Parsed referenceParse(const std::u16string& units, bool signedKind, unsigned base, int bits)
{
    const unsigned __int128 limit = bits == 32 ? 0xFFFFFFFFull : ~0ull;
    if (units.empty())
        return {true, "Parsing Empty OxString", 0};
    std::size_t i = 0;
    bool negative = false;
    if (signedKind && units[0] == u'-') {
        negative = true;
        i = 1;
        if (units.size() == 1)
            return {true, "Parsing Empty OxString", 0};
    }
    unsigned __int128 magnitude = 0;
    for (; i < units.size(); ++i) {
        const char16_t c = units[i];
        int digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return {true, "Parsing Invalid Char in OxString", 0};
        magnitude = magnitude * base + static_cast<unsigned>(digit);
        if (magnitude > limit)
            return {true, "Overflow While Parsing OxString", 0};
    }
    if (negative)
        magnitude = (limit + 1 - magnitude) & limit;
    return {false, nullptr, magnitude};
}

template <typename Call>
void checkParser(const OxString& s, const std::u16string& units, bool signedKind, unsigned base, int bits,
                 int options, Call call)
{
    const Parsed expected = referenceParse(units, signedKind, base, bits);
    const std::uint64_t allBits = bits == 32 ? 0xFFFFFFFFull : ~0ull;
    const bool emptyFailure = expected.failed && std::strcmp(expected.message, "Parsing Empty OxString") == 0;
    const bool fails = expected.failed && (!emptyFailure || (options & OxString::kEmptyIsError) != 0);
    try {
        const std::uint64_t value = call(s, options) & allBits;
        FUZZ_CHECK(!fails || (options & OxString::kOnErrorThrow) == 0);
        if (!expected.failed)
            FUZZ_CHECK(value == static_cast<std::uint64_t>(expected.value));
        else if (!fails)
            FUZZ_CHECK(value == 0);
        else
            FUZZ_CHECK(value == ((options & OxString::kOnErrorReturnMinusOne) != 0 ? allBits : 0));
    } catch (const char* message) {
        FUZZ_CHECK(fails && (options & OxString::kOnErrorThrow) != 0);
        FUZZ_CHECK(std::strcmp(message, expected.message) == 0);
    }
}

void fuzzParsers(Input& input)
{
    const int options = input.byte() & 0xF;
    const bool wide = input.byte() & 1;
    OxString s;
    std::u16string units;
    if (wide) {
        units = input.units(48);
        s.assign(units.c_str());
    } else {
        const std::string bytes = input.bytes(48);
        s.assign(bytes.c_str());
        for (char b : bytes)
            units += static_cast<char16_t>(static_cast<signed char>(b)); // bytes are signed
    }
    using S = const OxString&;
    checkParser(s, units, true, 10, 32, options,
                [](S t, int o) { return std::uint64_t(std::uint32_t(t.asDeci(o))); });
    checkParser(s, units, false, 10, 32, options, [](S t, int o) { return std::uint64_t(t.asUDeci(o)); });
    checkParser(s, units, true, 16, 32, options,
                [](S t, int o) { return std::uint64_t(std::uint32_t(t.asHex(o))); });
    checkParser(s, units, false, 16, 32, options, [](S t, int o) { return std::uint64_t(t.asUHex(o)); });
    checkParser(s, units, true, 10, 64, options, [](S t, int o) { return std::uint64_t(t.asDeci64(o)); });
    checkParser(s, units, false, 10, 64, options, [](S t, int o) { return t.asUDeci64(o); });
    checkParser(s, units, true, 16, 64, options, [](S t, int o) { return std::uint64_t(t.asHex64(o)); });
    checkParser(s, units, false, 16, 64, options, [](S t, int o) { return t.asUHex64(o); });
    checkParser(s, units, false, 16, 64, options, [](S t, int o) { return t.asOxDbHandle(o).value; });
    checkKindRules(s);
}

void fuzzSubstr(Input& input)
{
    const bool narrow = input.byte() & 1;
    const int start = input.integer();
    const int count = input.integer();
    const std::size_t first = start > 0 ? static_cast<std::size_t>(start) : 0;
    const std::size_t most = count >= 0 ? static_cast<std::size_t>(count) : SIZE_MAX;
    if (narrow) {
        // Single-byte ANSI page: bytes are characters.
        const std::string text = input.bytes(64);
        const OxString s(text.c_str(), false);
        const OxString part = s.substr(start, count);
        const std::string expected = first < text.size() ? text.substr(first, most) : std::string();
        FUZZ_CHECK(part.kind() == storedKind(expected.size(), true));
        FUZZ_CHECK(part.isEmpty() || expected == part.ansiPtr());
        FUZZ_CHECK(s.kind() == storedKind(text.size(), true)); // nothing was cached
    } else {
        const std::u16string text = input.units(64);
        const OxString s(text.c_str());
        const OxString part = s.substr(start, count);
        const std::u16string expected = first < text.size() ? text.substr(first, most) : std::u16string();
        FUZZ_CHECK(part.kind() == storedKind(expected.size(), false));
        FUZZ_CHECK(expected == part.kwszPtr());
        const OxString tail = s.substrRev(count);
        const long long from = std::max(0ll, static_cast<long long>(text.size()) - count);
        const std::u16string expectedTail = static_cast<std::size_t>(from) < text.size()
                                                ? text.substr(static_cast<std::size_t>(from), most)
                                                : std::u16string();
        FUZZ_CHECK(expectedTail == tail.kwszPtr());
        checkKindRules(tail);
    }
}

// Appends and accessors in any order; after each step the kind rules hold and the forms agree
// in length where the host converters keep every unit (they escape what the page lacks).
void fuzzSequence(Input& input)
{
    OxString s;
    for (int step = 0; step < 12; ++step) {
        switch (input.byte() % 10) {
        case 0:
            s.append(input.bytes(20).c_str());
            break;
        case 1:
            s.append(input.units(10).c_str());
            break;
        case 2:
            s.append(OxString(input.bytes(20).c_str(), false));
            break;
        case 3: {
            const std::u16string before = s.kwszPtr();
            const std::u16string more = input.units(10);
            s.append(more.c_str());
            FUZZ_CHECK(before + more == s.kwszPtr());
            break;
        }
        case 4:
            // A wide-only string's produced ANSI form reads back as the same text: the host's
            // escapes keep every unit the page lacks.
            if (s.kind() == OxString::kInlineWide || s.kind() == OxString::kHeapWide) {
                const std::u16string before = s.kwszPtr();
                const OxString back(s.ansiPtr(), false);
                FUZZ_CHECK(before == back.kwszPtr());
            }
            break;
        case 5:
            s.utf8Ptr();
            break;
        case 6:
            s = s.substr(input.integer(), input.integer());
            break;
        case 7:
            s.assign(OxString(s));
            break;
        case 8:
            s.append(s);
            break;
        default:
            s.setEmpty();
            break;
        }
        checkKindRules(s);
        FUZZ_CHECK(s.length() == static_cast<int>(std::char_traits<OXCHAR>::length(s.kwszPtr())));
        FUZZ_CHECK(s.compare(OxString(s)) == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    oxInstallHostDefaults();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input input(data, size);
    switch (input.byte() % 4) {
    case 0:
        fuzzUtf8(input);
        break;
    case 1:
        fuzzParsers(input);
        break;
    case 2:
        fuzzSubstr(input);
        break;
    default:
        fuzzSequence(input);
        break;
    }
    return 0;
}
