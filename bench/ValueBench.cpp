// bench/ValueBench.cpp
// Typed values against the standard library's type-erased holders, side by side in one run:
// the copy and the same-type assignment of an int, a double, an OxString and a 40-byte blittable
// record held in OxRxValue, in std::any and in std::variant; and the text form of an int and of a
// double against std::to_chars (fixed, six decimals for the double) widened to UTF-16. After the
// usual table the program prints each ratio, ours / peer.

#include <oxfirst/OxHostDefaults.h>
#include <oxfirst/OxRxValue.h>

#include <benchmark/benchmark.h>

#include "bench/RatioReporter.h"

#include <any>
#include <charconv>
#include <variant>

namespace {

struct Record40 {
    double fields[5];
};

// Hides where a pointer comes from, so the copy it feeds is not folded away.
template <class T>
T* opaque(T* pointer)
{
    asm volatile("" : "+r"(pointer));
    return pointer;
}

} // namespace

template <>
int OxRxValueTypePOD<Record40>::subToString(const void*, OXCHAR*, std::size_t, StringFormat) const
{
    return -1;
}
template <>
bool OxRxValueTypePOD<Record40>::subEqualTo(const void* first, const void* second) const
{
    return std::memcmp(first, second, sizeof(Record40)) == 0;
}
template <>
struct OxRxValueType::Desc<Record40> {
    static const OxRxValueType& value()
    {
        static OxRxClass* gpType = nullptr;
        if (gpType == nullptr) {
            new OxRxValueTypePOD<Record40>(u"Record40");
            oxrxFindClassByName(&gpType, u"Record40");
        }
        return *static_cast<const OxRxValueType*>(gpType);
    }
};

namespace {

using namespace oxbench;
using Variant = std::variant<int, double, OxString, Record40>;

template <class T>
T sample();
template <>
int sample<int>()
{
    return 123456;
}
template <>
double sample<double>()
{
    return 3.14159;
}
template <>
OxString sample<OxString>()
{
    return OxString(u"a short name");
}
template <>
Record40 sample<Record40>()
{
    return Record40{{1, 2, 3, 4, 5}};
}

template <class Holder, class T>
void copyHolder(benchmark::State& state)
{
    const Holder source(sample<T>());
    for (auto _ : state) {
        Holder copy(*opaque(&source));
        benchmark::DoNotOptimize(&copy);
    }
}

template <class Holder, class T>
void assignHolder(benchmark::State& state)
{
    const Holder source(sample<T>());
    Holder target(sample<T>());
    for (auto _ : state) {
        *opaque(&target) = *opaque(&source);
        benchmark::DoNotOptimize(&target);
    }
}

void oursToString(benchmark::State& state, const OxRxValue& value)
{
    OXCHAR buffer[64];
    for (auto _ : state) {
        benchmark::DoNotOptimize(opaque(&value)->toString(buffer, 64));
        benchmark::DoNotOptimize(buffer);
    }
}

template <class T>
void toCharsWidened(benchmark::State& state)
{
    const T value = sample<T>();
    OXCHAR buffer[64];
    for (auto _ : state) {
        char text[64];
        std::to_chars_result result;
        if constexpr (std::is_same_v<T, double>)
            result = std::to_chars(text, text + 63, *opaque(&value), std::chars_format::fixed, 6);
        else
            result = std::to_chars(text, text + 63, *opaque(&value));
        const auto length = static_cast<std::size_t>(result.ptr - text);
        for (std::size_t i = 0; i < length; ++i)
            buffer[i] = static_cast<unsigned char>(text[i]);
        buffer[length] = 0;
        benchmark::DoNotOptimize(buffer);
    }
}

template <class T>
void registerHolders(const std::string& typeName, bool inlineAim)
{
    for (const std::string operation : {"Copy", "Assign"}) {
        const bool copy = operation == "Copy";
        const std::string name = operation + "/" + typeName + "/";
        const std::string ours =
            add(name + "OxRxValue/" + kOurs, copy ? copyHolder<OxRxValue, T> : assignHolder<OxRxValue, T>);
        const std::string any =
            add(name + "std::any", copy ? copyHolder<std::any, T> : assignHolder<std::any, T>);
        const std::string variant =
            add(name + "std::variant", copy ? copyHolder<Variant, T> : assignHolder<Variant, T>);
        if (copy && inlineAim)
            gComparisons.push_back({ours, any, "<= 1", 1.0, true});
        else
            gComparisons.push_back({ours, any, "", 0, false});
        gComparisons.push_back({ours, variant, "", 0, false});
    }
}

void registerToString(const std::string& typeName, const OxRxValue& value, void (*peer)(benchmark::State&))
{
    const std::string name = "ToString/" + typeName + "/";
    const std::string ours = add(name + "OxRxValue/" + kOurs, oursToString, std::cref(value));
    gComparisons.push_back({ours, add(name + "std::to_chars+widen", peer), "", 0, false});
}

} // namespace

int main(int argc, char** argv)
{
    oxInstallHostDefaults();
    oxrxInitTypeSystem();
    oxrxBuildClassHierarchy();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    registerHolders<int>("int", true);
    registerHolders<double>("double", true);
    registerHolders<OxString>("OxString", true);
    registerHolders<Record40>("40-byte record", false);
    {
        // Values hold their type: they go before the type system does.
        const OxRxValue number(sample<int>());
        const OxRxValue real(sample<double>());
        registerToString("int", number, toCharsWidened<int>);
        registerToString("double", real, toCharsWidened<double>);
        runWithRatios();
    }
    oxrxTerminateTypeSystem();
    return 0;
}
