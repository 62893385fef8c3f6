// bench/MemberBench.cpp
// Reflection through the member query engine against RTTR, side by side in one run: reading an
// int, a double and an OxString property by name (engine find, then getValue; RTTR's
// type::get_property(name).get_value(object)), the same reads through a property fetched once,
// and listing all members of a class with 20 properties over a 4-deep hierarchy. The int lives
// on the most derived class, the double two levels up, the text on the base, so a lookup by
// name walks as far as the hierarchy makes it. After the usual table the program prints each
// ratio, ours / peer.

#include <oxfirst/OxHostDefaults.h>
#include <oxfirst/OxRxProperty.h>

#include <benchmark/benchmark.h>
#include <rttr/registration>
#include <rttr/type>

#include "bench/RatioReporter.h"

#include <string>

namespace {

using namespace oxbench;

// ---------------------------------------------------------------------------------------------
// Ours: four classes, five properties each; the object answers the most derived one.

struct Shape : OxRxObject {
    OxRxClass* isA() const override { return gpClass; }
    static inline OxRxClass* gpClass = nullptr;
    int count = 42;
    double width = 2.5;
    OxString title = OxString(u"a short name");
    int filler = 0;
};

template <class T>
class FieldProperty final : public OxRxProperty {
public:
    FieldProperty(const OXCHAR* name, T Shape::*field)
        : OxRxProperty(name, OxRxValueType::Desc<T>::value(), nullptr), mpField(field)
    {
    }

protected:
    Orka::ErrorStatus subGetValue(const OxRxObject* object, OxRxValue& value) const override
    {
        if (object == nullptr)
            return Orka::eInvalidInput;
        value.set(static_cast<const Shape*>(object)->*mpField);
        return Orka::eOk;
    }

private:
    T Shape::*mpField;
};

// Level n's properties: "pN_0" ... "pN_3" (ints) and one of the three read by name.
void buildLevel(OxRxMemberCollectionBuilder& builder, void* data)
{
    const int level = static_cast<int>(reinterpret_cast<std::intptr_t>(data));
    static const OXCHAR* const kFiller[4][4] = {{u"p0_0", u"p0_1", u"p0_2", u"p0_3"},
                                                {u"p1_0", u"p1_1", u"p1_2", u"p1_3"},
                                                {u"p2_0", u"p2_1", u"p2_2", u"p2_3"},
                                                {u"p3_0", u"p3_1", u"p3_2", u"p3_3"}};
    for (const OXCHAR* name : kFiller[level])
        builder.add(new FieldProperty<int>(name, &Shape::filler));
    if (level == 0)
        builder.add(new FieldProperty<OxString>(u"title", &Shape::title));
    else if (level == 1)
        builder.add(new FieldProperty<double>(u"width", &Shape::width));
    else if (level == 3)
        builder.add(new FieldProperty<int>(u"count", &Shape::count));
    else
        builder.add(new FieldProperty<int>(u"p2_4", &Shape::filler));
}

void registerShapeClasses()
{
    const OXCHAR* names[4] = {u"Shape0", u"Shape1", u"Shape2", u"Shape3"};
    for (int level = 0; level < 4; ++level)
        Shape::gpClass = newOxRxClass(names[level], level == 0 ? u"OxRxObject" : names[level - 1], 0, 0, 0,
                                      nullptr, nullptr, nullptr, nullptr, buildLevel,
                                      reinterpret_cast<void*>(static_cast<std::intptr_t>(level)));
    oxrxBuildClassHierarchy();
}

// ---------------------------------------------------------------------------------------------
// RTTR: the same hierarchy and properties.

struct RShape0 {
    virtual ~RShape0() = default;
    int p0_0 = 0, p0_1 = 0, p0_2 = 0, p0_3 = 0;
    std::string title = "a short name";
    RTTR_ENABLE()
};
struct RShape1 : RShape0 {
    int p1_0 = 0, p1_1 = 0, p1_2 = 0, p1_3 = 0;
    double width = 2.5;
    RTTR_ENABLE(RShape0)
};
struct RShape2 : RShape1 {
    int p2_0 = 0, p2_1 = 0, p2_2 = 0, p2_3 = 0, p2_4 = 0;
    RTTR_ENABLE(RShape1)
};
struct RShape3 : RShape2 {
    int p3_0 = 0, p3_1 = 0, p3_2 = 0, p3_3 = 0;
    int count = 42;
    RTTR_ENABLE(RShape2)
};

} // namespace

RTTR_REGISTRATION
{
    using rttr::registration;
    registration::class_<RShape0>("RShape0")
        .property("p0_0", &RShape0::p0_0)
        .property("p0_1", &RShape0::p0_1)
        .property("p0_2", &RShape0::p0_2)
        .property("p0_3", &RShape0::p0_3)
        .property("title", &RShape0::title);
    registration::class_<RShape1>("RShape1")
        .property("p1_0", &RShape1::p1_0)
        .property("p1_1", &RShape1::p1_1)
        .property("p1_2", &RShape1::p1_2)
        .property("p1_3", &RShape1::p1_3)
        .property("width", &RShape1::width);
    registration::class_<RShape2>("RShape2")
        .property("p2_0", &RShape2::p2_0)
        .property("p2_1", &RShape2::p2_1)
        .property("p2_2", &RShape2::p2_2)
        .property("p2_3", &RShape2::p2_3)
        .property("p2_4", &RShape2::p2_4);
    registration::class_<RShape3>("RShape3")
        .property("p3_0", &RShape3::p3_0)
        .property("p3_1", &RShape3::p3_1)
        .property("p3_2", &RShape3::p3_2)
        .property("p3_3", &RShape3::p3_3)
        .property("count", &RShape3::count);
}

namespace {

// Hides where a pointer comes from, so the work it feeds is not folded away.
template <class T>
T* opaque(T* pointer)
{
    asm volatile("" : "+r"(pointer));
    return pointer;
}

void oursReadByName(benchmark::State& state, const OXCHAR* name)
{
    Shape shape;
    const OxRxMemberQueryEngine* engine = OxRxMemberQueryEngine::theEngine();
    for (auto _ : state) {
        OxRxValue value;
        auto* property = static_cast<const OxRxProperty*>(engine->find(opaque(&shape), name));
        benchmark::DoNotOptimize(property->getValue(&shape, value));
        benchmark::DoNotOptimize(&value);
    }
}

void rttrReadByName(benchmark::State& state, const char* name)
{
    RShape3 shape;
    const rttr::type type = rttr::type::get<RShape3>();
    for (auto _ : state) {
        rttr::variant value = type.get_property(name).get_value(*opaque(&shape));
        benchmark::DoNotOptimize(&value);
    }
}

void oursReadFetched(benchmark::State& state, const OXCHAR* name)
{
    Shape shape;
    auto* property = static_cast<const OxRxProperty*>(OxRxMemberQueryEngine::theEngine()->find(&shape, name));
    for (auto _ : state) {
        OxRxValue value;
        benchmark::DoNotOptimize(opaque(property)->getValue(&shape, value));
        benchmark::DoNotOptimize(&value);
    }
}

void rttrReadFetched(benchmark::State& state, const char* name)
{
    RShape3 shape;
    const rttr::property property = rttr::type::get<RShape3>().get_property(name);
    for (auto _ : state) {
        rttr::variant value = property.get_value(*opaque(&shape));
        benchmark::DoNotOptimize(&value);
    }
}

void oursListMembers(benchmark::State& state)
{
    Shape shape;
    const OxRxMemberQueryEngine* engine = OxRxMemberQueryEngine::theEngine();
    for (auto _ : state) {
        OxRxMemberIterator* iterator = engine->newMemberIterator(opaque(&shape));
        int count = 0;
        for (; !iterator->done(); iterator->next())
            count += iterator->current() != nullptr;
        delete iterator;
        benchmark::DoNotOptimize(count);
    }
}

void rttrListMembers(benchmark::State& state)
{
    const rttr::type type = rttr::type::get<RShape3>();
    for (auto _ : state) {
        int count = 0;
        for (const rttr::property& property : opaque(&type)->get_properties())
            count += property.is_valid();
        benchmark::DoNotOptimize(count);
    }
}

void registerReads(const std::string& typeName, const OXCHAR* ourName, const char* peerName)
{
    const std::string byName = "ReadByName/" + typeName + "/";
    gComparisons.push_back({add(byName + kOurs, oursReadByName, ourName),
                            add(byName + "rttr", rttrReadByName, peerName), "<= 1", 1.0, true});
    const std::string fetched = "ReadFetchedProperty/" + typeName + "/";
    gComparisons.push_back({add(fetched + kOurs, oursReadFetched, ourName),
                            add(fetched + "rttr", rttrReadFetched, peerName), "<= 1", 1.0, true});
}

} // namespace

int main(int argc, char** argv)
{
    oxInstallHostDefaults();
    oxrxInitTypeSystem();
    registerShapeClasses();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    registerReads("int", u"count", "count");
    registerReads("double", u"width", "width");
    registerReads("OxString", u"title", "title");
    gComparisons.push_back({add(std::string("ListMembers/20 over 4 levels/") + kOurs, oursListMembers),
                            add("ListMembers/20 over 4 levels/rttr", rttrListMembers), "", 0, false});
    runWithRatios();
    oxrxTerminateTypeSystem();
    return 0;
}
