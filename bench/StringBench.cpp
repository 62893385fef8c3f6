// bench/StringBench.cpp
// OxString against std::u16string, side by side: construction from a short (5 units) and a long
// (40 units) text, copy, appending a short piece, comparison of equal texts, find of a short
// pattern; and OxString(const char*, true) against a plain UTF-8 decode of the same bytes into a
// std::u16string. Compare the rows of one run with each other; absolute times depend on the
// machine.

#include <oxfirst/OxString.h>

#include "platform/win.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

const char16_t kShort[] = u"shape";                                   // 5 units: inline
const char16_t kLong[] = u"a rather longer text of forty characters"; // 40 units: heap
static_assert(sizeof kShort / 2 - 1 == 5 && sizeof kLong / 2 - 1 == 40);
const char kShortUtf8[] = "shape";
const char kLongUtf8[] = "a rather longer text of forty characters";
const char kAccentedUtf8[] = "caf\xC3\xA9 cr\xC3\xA8me br\xC3\xBBl\xC3\xA9"
                             "e \xE2\x82\xAC 4,50 le petit pot";

template <typename Text>
const char16_t* pick()
{
    return Text::kLong ? kLong : kShort;
}
struct ShortText {
    static constexpr bool kLong = false;
};
struct LongText {
    static constexpr bool kLong = true;
};

template <typename Text>
void ConstructOx(benchmark::State& state)
{
    const char16_t* text = pick<Text>();
    for (auto _ : state) {
        OxString s(text);
        benchmark::DoNotOptimize(s);
    }
}

template <typename Text>
void ConstructStd(benchmark::State& state)
{
    const char16_t* text = pick<Text>();
    for (auto _ : state) {
        std::u16string s(text);
        benchmark::DoNotOptimize(s);
    }
}

template <typename Text>
void CopyOx(benchmark::State& state)
{
    const OxString source(pick<Text>());
    for (auto _ : state) {
        OxString copy(source);
        benchmark::DoNotOptimize(copy);
    }
}

template <typename Text>
void CopyStd(benchmark::State& state)
{
    const std::u16string source(pick<Text>());
    for (auto _ : state) {
        std::u16string copy(source);
        benchmark::DoNotOptimize(copy);
    }
}

// A fresh string and one short append: "ab" + "cd" stays inline in both; the long text grows on
// the heap in both.
template <typename Text>
void AppendOx(benchmark::State& state)
{
    const char16_t* base = Text::kLong ? kLong : u"ab";
    for (auto _ : state) {
        OxString s(base);
        s.append(u"cd");
        benchmark::DoNotOptimize(s);
    }
}

template <typename Text>
void AppendStd(benchmark::State& state)
{
    const char16_t* base = Text::kLong ? kLong : u"ab";
    for (auto _ : state) {
        std::u16string s(base);
        s.append(u"cd");
        benchmark::DoNotOptimize(s);
    }
}

template <typename Text>
void CompareOx(benchmark::State& state)
{
    const OxString a(pick<Text>());
    const OxString b(pick<Text>());
    for (auto _ : state)
        benchmark::DoNotOptimize(a.compare(b));
}

template <typename Text>
void CompareStd(benchmark::State& state)
{
    const std::u16string a(pick<Text>());
    const std::u16string b(pick<Text>());
    for (auto _ : state)
        benchmark::DoNotOptimize(a.compare(b));
}

template <typename Text>
void FindOx(benchmark::State& state)
{
    const OxString text(pick<Text>());
    const char16_t* pattern = Text::kLong ? u"forty" : u"pe";
    for (auto _ : state)
        benchmark::DoNotOptimize(text.find(pattern));
}

template <typename Text>
void FindStd(benchmark::State& state)
{
    const std::u16string text(pick<Text>());
    const char16_t* pattern = Text::kLong ? u"forty" : u"pe";
    for (auto _ : state)
        benchmark::DoNotOptimize(text.find(pattern));
}

void Utf8Ox(benchmark::State& state, const char* bytes)
{
    for (auto _ : state) {
        OxString s(bytes, true);
        benchmark::DoNotOptimize(s);
    }
}

// What a caller without OxString writes: size the result, then decode into it.
void Utf8Plain(benchmark::State& state, const char* bytes)
{
    for (auto _ : state) {
        const int units = win::MultiByteToWideChar(win::CP_UTF8, 0, bytes, -1, nullptr, 0);
        std::u16string s(static_cast<std::size_t>(units - 1), u'\0');
        win::MultiByteToWideChar(win::CP_UTF8, 0, bytes, -1, s.data(), units);
        benchmark::DoNotOptimize(s);
    }
}

} // namespace

BENCHMARK(ConstructOx<ShortText>)->Name("Construct/short5/OxString");
BENCHMARK(ConstructStd<ShortText>)->Name("Construct/short5/u16string");
BENCHMARK(ConstructOx<LongText>)->Name("Construct/long40/OxString");
BENCHMARK(ConstructStd<LongText>)->Name("Construct/long40/u16string");
BENCHMARK(CopyOx<ShortText>)->Name("Copy/short5/OxString");
BENCHMARK(CopyStd<ShortText>)->Name("Copy/short5/u16string");
BENCHMARK(CopyOx<LongText>)->Name("Copy/long40/OxString");
BENCHMARK(CopyStd<LongText>)->Name("Copy/long40/u16string");
BENCHMARK(AppendOx<ShortText>)->Name("Append/short2+2/OxString");
BENCHMARK(AppendStd<ShortText>)->Name("Append/short2+2/u16string");
BENCHMARK(AppendOx<LongText>)->Name("Append/long40+2/OxString");
BENCHMARK(AppendStd<LongText>)->Name("Append/long40+2/u16string");
BENCHMARK(CompareOx<ShortText>)->Name("CompareEqual/short5/OxString");
BENCHMARK(CompareStd<ShortText>)->Name("CompareEqual/short5/u16string");
BENCHMARK(CompareOx<LongText>)->Name("CompareEqual/long40/OxString");
BENCHMARK(CompareStd<LongText>)->Name("CompareEqual/long40/u16string");
BENCHMARK(FindOx<ShortText>)->Name("Find/short5/OxString");
BENCHMARK(FindStd<ShortText>)->Name("Find/short5/u16string");
BENCHMARK(FindOx<LongText>)->Name("Find/long40/OxString");
BENCHMARK(FindStd<LongText>)->Name("Find/long40/u16string");
BENCHMARK_CAPTURE(Utf8Ox, short5, kShortUtf8)->Name("Utf8/short5/OxString");
BENCHMARK_CAPTURE(Utf8Plain, short5, kShortUtf8)->Name("Utf8/short5/plainDecode");
BENCHMARK_CAPTURE(Utf8Ox, long40, kLongUtf8)->Name("Utf8/long40/OxString");
BENCHMARK_CAPTURE(Utf8Plain, long40, kLongUtf8)->Name("Utf8/long40/plainDecode");
BENCHMARK_CAPTURE(Utf8Ox, accented, kAccentedUtf8)->Name("Utf8/accented40/OxString");
BENCHMARK_CAPTURE(Utf8Plain, accented, kAccentedUtf8)->Name("Utf8/accented40/plainDecode");
