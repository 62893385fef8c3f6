// bench/RxBench.cpp
// The class system's fast paths against their usual peers, side by side in one run: class tests
// (C::cast and isA()->isDerivedFrom) against dynamic_cast on an equivalent plain hierarchy, a
// class looked up by name in the class dictionary against std::map (ASCII letter case folded,
// as the dictionary does) and std::unordered_map, with the classes registered in a neutral and
// in a round-robin order, lookup by id, 10,000 insertions into a sorted dictionary, queryX without
// and through overrules against an array index and a hash map keyed by type, and the copy of a
// copy-on-write object against that of a std::shared_ptr. After
// the usual table the program prints each ratio, ours / peer, from the median CPU time when
// repetitions are asked for; absolute times depend on the machine.

#include <oxfirst/OxHostDefaults.h>
#include <oxfirst/OxRxClass.h>
#include <oxfirst/OxRxCopyOnWriteObject.h>
#include <oxfirst/OxRxDictionary.h>
#include <oxfirst/OxRxObject.h>
#include <oxfirst/OxRxOverrule.h>

#include <benchmark/benchmark.h>

#include "bench/RatioReporter.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <typeindex>
#include <unordered_map>
#include <vector>

// The plain hierarchy has external linkage, as class hierarchies shared between modules have:
// its type_info objects then compare by address and, when the addresses differ, by name.
namespace plainbench {
struct PlainRoot {
    virtual ~PlainRoot() = default;
};
struct PlainBase : PlainRoot {};
struct PlainLevel1 : PlainBase {};
struct PlainLevel2 : PlainLevel1 {};
struct PlainLevel3 : PlainLevel2 {};
struct PlainLevel4 : PlainLevel3 {};
struct PlainLevel5 : PlainLevel4 {};
struct PlainOther : PlainRoot {};
} // namespace plainbench

namespace {

using namespace plainbench;
using namespace oxbench;

// ---------------------------------------------------------------------------------------------
// Two hierarchies of the same shape: BenchBase <- BenchLevel1 <- ... <- BenchLevel5 and a
// sibling BenchOther, all below OxRxObject; the plain one below PlainRoot. "Depth d" is an
// object of BenchLevel<d> tested against BenchBase (a hit) or BenchOther (a miss, which walks
// to the root).

class BenchBase : public OxRxObject {
    OX_RX_DECLARE_MEMBERS(BenchBase)
};
class BenchLevel1 : public BenchBase {
    OX_RX_DECLARE_MEMBERS(BenchLevel1)
};
class BenchLevel2 : public BenchLevel1 {
    OX_RX_DECLARE_MEMBERS(BenchLevel2)
};
class BenchLevel3 : public BenchLevel2 {
    OX_RX_DECLARE_MEMBERS(BenchLevel3)
};
class BenchLevel4 : public BenchLevel3 {
    OX_RX_DECLARE_MEMBERS(BenchLevel4)
};
class BenchLevel5 : public BenchLevel4 {
    OX_RX_DECLARE_MEMBERS(BenchLevel5)
};
class BenchOther : public OxRxObject {
    OX_RX_DECLARE_MEMBERS(BenchOther)
};

OX_RX_DEFINE_MEMBERS(BenchBase, u"BenchBase", u"OxRxObject", nullptr)
OX_RX_DEFINE_MEMBERS(BenchLevel1, u"BenchLevel1", u"BenchBase", nullptr)
OX_RX_DEFINE_MEMBERS(BenchLevel2, u"BenchLevel2", u"BenchLevel1", nullptr)
OX_RX_DEFINE_MEMBERS(BenchLevel3, u"BenchLevel3", u"BenchLevel2", nullptr)
OX_RX_DEFINE_MEMBERS(BenchLevel4, u"BenchLevel4", u"BenchLevel3", nullptr)
OX_RX_DEFINE_MEMBERS(BenchLevel5, u"BenchLevel5", u"BenchLevel4", nullptr)
OX_RX_DEFINE_MEMBERS(BenchOther, u"BenchOther", u"OxRxObject", nullptr)

// Hides a pointer's value from the optimiser, which must assume the empty asm changed it: no
// test below can be folded or devirtualised. A register operand only: benchmark's
// DoNotOptimize on a writable lvalue uses a two-alternative asm operand that g++ 12 may
// miscompile (seen as a garbage pointer under the sanitizers).
template <typename T>
T* opaque(T* pointer) noexcept
{
    asm volatile("" : "+r"(pointer));
    return pointer;
}

// Keeps a result alive through benchmark's read-only DoNotOptimize.
template <typename T>
void keep(const T& value)
{
    benchmark::DoNotOptimize(value);
}

// Made out of line and handed out as root pointers: the compiler sees neither the dynamic type
// nor the object, and every loop below launders the pointer through opaque() as well.
[[gnu::noinline]] OxRxObject* makeRxObject(int depth)
{
    if (depth == 1)
        return new BenchLevel1;
    return new BenchLevel5;
}
[[gnu::noinline]] PlainRoot* makePlainObject(int depth)
{
    if (depth == 1)
        return new PlainLevel1;
    return new PlainLevel5;
}

// ---------------------------------------------------------------------------------------------
// The type system with a given number of classes in the class dictionary (library classes and
// the bench chain included), filled up with host-like class names.

// "OxDbEntity12", "OxGeSpline3", ...: long shared prefixes, as real class names have. Unique,
// also ignoring case, and never one of the library's "OxRx" names.
std::u16string className(unsigned index)
{
    static const char* const kPrefixes[] = {"OxDb", "OxGe", "OxGi", "OxAp", "OxPl", "OxBr"};
    static const char* const kNouns[] = {
        "Entity", "Line",   "Circle",  "Arc",     "Polyline", "Spline", "Text",  "MText", "Dimension",
        "Leader", "Hatch",  "Block",   "Layer",   "Viewport", "Solid",  "Mesh",  "Table", "Field",
        "Xref",   "Layout", "Group",   "Image",   "Surface",  "Region", "Ray",   "Point", "Face",
        "Shape",  "Trace",  "Ellipse", "Wipeout", "Light",    "Camera", "Helix", "Style", "Material",
    };
    constexpr unsigned kPrefixCount = std::size(kPrefixes);
    constexpr unsigned kNounCount = std::size(kNouns);
    std::string name = kPrefixes[index % kPrefixCount];
    name += kNouns[index / kPrefixCount % kNounCount];
    name += std::to_string(index / (kPrefixCount * kNounCount));
    return std::u16string(name.begin(), name.end());
}

OxRxDictionary* classDictionary()
{
    OxRxDictionary* registry = oxrxSysRegistry();
    return registry != nullptr ? static_cast<OxRxDictionary*>(registry->lookup(u"ClassDictionary")) : nullptr;
}

void registerChain()
{
    BenchBase::rxInit();
    BenchLevel1::rxInit();
    BenchLevel2::rxInit();
    BenchLevel3::rxInit();
    BenchLevel4::rxInit();
    BenchLevel5::rxInit();
    BenchOther::rxInit();
}

// The order in which the filler classes are registered. The key index's node heights follow
// the order of insertion, so the same names can give a different index: kShuffled is a neutral
// order; kRoundRobin registers the six name families in turn (OxDbEntity0, OxGeEntity0, ...,
// OxDbLine0, ...), as modules do that register a class and its companions together.
enum class Registration { kShuffled, kRoundRobin };

// Restarts the type system when the class count or the registration order differs; a running
// one is kept. Benchmarks run one after another, so the restart happens once per family.
OxRxDictionary* typeSystemWithClasses(unsigned classCount,
                                      Registration registration = Registration::kShuffled)
{
    static Registration current = Registration::kShuffled;
    OxRxDictionary* classes = classDictionary();
    if (classes != nullptr && classes->count() == classCount && current == registration)
        return classes;
    oxrxTerminateTypeSystem();
    oxrxInitTypeSystem();
    registerChain();
    classes = classDictionary();
    current = registration;
    if (classes == nullptr)
        return nullptr;
    const unsigned fillers = classCount > classes->count() ? classCount - classes->count() : 0;
    std::vector<unsigned> order(fillers);
    for (unsigned index = 0; index < fillers; ++index)
        order[index] = index;
    if (registration == Registration::kShuffled)
        std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (unsigned index : order)
        newOxRxClass(className(index).c_str(), u"OxRxObject", 0, nullptr, nullptr, nullptr);
    oxrxBuildClassHierarchy();
    return classes;
}

// Class tests need the chain registered and linked, whatever else is there.
void typeSystemForClassTests()
{
    if (classDictionary() == nullptr)
        typeSystemWithClasses(200);
}

struct Entry {
    std::u16string key;
    OxRxObject* object;
    unsigned id;
};

// Every entry of the class dictionary, shuffled (fixed seed): the probes of the lookups.
std::vector<Entry> shuffledEntries(const OxRxDictionary* dictionary)
{
    std::vector<Entry> entries;
    OxRxDictionaryIterator* it = dictionary->makeIterator(OxRx::kIterateById);
    for (; !it->done(); it->next())
        entries.push_back({it->key(), it->object(), it->id()});
    delete it;
    std::shuffle(entries.begin(), entries.end(), std::mt19937(20261206));
    return entries;
}

// The ordering of the sorted peer: code units with ASCII letters folded to lower case, as the
// dictionary's keys compare. Transparent, so lookups take a view and build no string.
struct NoCaseLess {
    using is_transparent = void;
    static char16_t fold(char16_t unit) noexcept { return unit >= u'A' && unit <= u'Z' ? unit + 32 : unit; }
    bool operator()(std::u16string_view left, std::u16string_view right) const noexcept
    {
        const std::size_t common = std::min(left.size(), right.size());
        for (std::size_t i = 0; i < common; ++i) {
            const char16_t l = fold(left[i]), r = fold(right[i]);
            if (l != r)
                return l < r;
        }
        return left.size() < right.size();
    }
};
using NoCaseMap = std::map<std::u16string, OxRxObject*, NoCaseLess>;
using HashMap = std::unordered_map<std::u16string, OxRxObject*>;

// ---------------------------------------------------------------------------------------------
// Class tests

template <typename Target>
void rxCast(benchmark::State& state, int depth)
{
    typeSystemForClassTests();
    OxRxObject* object = makeRxObject(depth);
    for (auto _ : state) {
        const OxRxObject* probe = opaque(object);
        Target* result = Target::cast(probe);
        keep(result);
    }
    delete object;
}

template <typename Target>
void rxIsDerivedFrom(benchmark::State& state, int depth)
{
    typeSystemForClassTests();
    OxRxObject* object = makeRxObject(depth);
    for (auto _ : state) {
        const OxRxObject* probe = opaque(object);
        bool result = probe->isA()->isDerivedFrom(Target::desc());
        keep(result);
    }
    delete object;
}

template <typename Target>
void plainDynamicCast(benchmark::State& state, int depth)
{
    PlainRoot* object = makePlainObject(depth);
    for (auto _ : state) {
        PlainRoot* probe = opaque(object);
        Target* result = dynamic_cast<Target*>(probe);
        keep(result);
    }
    delete object;
}

// ---------------------------------------------------------------------------------------------
// Lookup by name and by id

void dictionaryLookupByName(benchmark::State& state, unsigned classCount, Registration registration)
{
    const OxRxDictionary* classes = typeSystemWithClasses(classCount, registration);
    const std::vector<Entry> probes = shuffledEntries(classes);
    std::size_t next = 0;
    for (auto _ : state) {
        OxRxObject* found = classes->lookup(probes[next].key.c_str());
        keep(found);
        if (++next == probes.size())
            next = 0;
    }
}

void mapLookupByName(benchmark::State& state, unsigned classCount)
{
    const std::vector<Entry> probes = shuffledEntries(typeSystemWithClasses(classCount));
    NoCaseMap map;
    for (const Entry& entry : probes)
        map.emplace(entry.key, entry.object);
    std::vector<std::u16string_view> keys(probes.size());
    std::transform(probes.begin(), probes.end(), keys.begin(),
                   [](const Entry& entry) { return std::u16string_view(entry.key); });
    std::size_t next = 0;
    for (auto _ : state) {
        auto found = map.find(keys[next]);
        OxRxObject* object = found != map.end() ? found->second : nullptr;
        keep(object);
        if (++next == keys.size())
            next = 0;
    }
}

void hashLookupByName(benchmark::State& state, unsigned classCount)
{
    const std::vector<Entry> probes = shuffledEntries(typeSystemWithClasses(classCount));
    HashMap map;
    for (const Entry& entry : probes)
        map.emplace(entry.key, entry.object);
    std::size_t next = 0;
    for (auto _ : state) {
        auto found = map.find(probes[next].key);
        OxRxObject* object = found != map.end() ? found->second : nullptr;
        keep(object);
        if (++next == probes.size())
            next = 0;
    }
}

std::vector<unsigned> shuffledIds(const std::vector<Entry>& entries)
{
    std::vector<unsigned> ids;
    for (const Entry& entry : entries)
        ids.push_back(entry.id);
    return ids;
}

void dictionaryLookupById(benchmark::State& state, unsigned classCount)
{
    const OxRxDictionary* classes = typeSystemWithClasses(classCount);
    const std::vector<unsigned> ids = shuffledIds(shuffledEntries(classes));
    std::size_t next = 0;
    for (auto _ : state) {
        OxRxObject* found = classes->lookupById(ids[next]);
        keep(found);
        if (++next == ids.size())
            next = 0;
    }
}

// Checked like the dictionary: an id outside the table answers null.
void vectorLookupById(benchmark::State& state, unsigned classCount)
{
    const std::vector<Entry> entries = shuffledEntries(typeSystemWithClasses(classCount));
    std::vector<OxRxObject*> table;
    for (const Entry& entry : entries) {
        if (entry.id >= table.size())
            table.resize(entry.id + 1);
        table[entry.id] = entry.object;
    }
    const std::vector<unsigned> ids = shuffledIds(entries);
    std::size_t next = 0;
    for (auto _ : state) {
        const unsigned id = ids[next];
        OxRxObject* found = id < table.size() ? table[id] : nullptr;
        keep(found);
        if (++next == ids.size())
            next = 0;
    }
}

void hashLookupById(benchmark::State& state, unsigned classCount)
{
    const std::vector<Entry> entries = shuffledEntries(typeSystemWithClasses(classCount));
    std::unordered_map<unsigned, OxRxObject*> map;
    for (const Entry& entry : entries)
        map.emplace(entry.id, entry.object);
    const std::vector<unsigned> ids = shuffledIds(entries);
    std::size_t next = 0;
    for (auto _ : state) {
        auto found = map.find(ids[next]);
        OxRxObject* object = found != map.end() ? found->second : nullptr;
        keep(object);
        if (++next == ids.size())
            next = 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Insertion of 10,000 new keys in a shuffled order into an empty container; the container's
// destruction is not timed.

constexpr unsigned kInsertCount = 10000;

const std::vector<std::u16string>& insertKeys()
{
    static const std::vector<std::u16string> keys = [] {
        std::vector<std::u16string> made;
        for (unsigned index = 0; index < kInsertCount; ++index)
            made.push_back(className(index));
        std::shuffle(made.begin(), made.end(), std::mt19937(4242));
        return made;
    }();
    return keys;
}

void dictionaryInsert(benchmark::State& state)
{
    typeSystemForClassTests();
    const std::vector<std::u16string>& keys = insertKeys();
    BenchOther object;
    for (auto _ : state) {
        OxRxDictionary* dictionary = newRxSortDictionary(true, false);
        for (const std::u16string& key : keys) {
            unsigned id = 0;
            dictionary->insert(key.c_str(), &object, &id);
            keep(id);
        }
        state.PauseTiming();
        delete dictionary;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kInsertCount);
}

template <typename Map>
void mapInsert(benchmark::State& state)
{
    const std::vector<std::u16string>& keys = insertKeys();
    BenchOther object;
    for (auto _ : state) {
        auto* map = new Map;
        for (const std::u16string& key : keys) {
            auto placed = map->try_emplace(key, &object);
            keep(placed.second);
        }
        state.PauseTiming();
        delete map;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kInsertCount);
}

// ---------------------------------------------------------------------------------------------
// Registration and the ratio table

// ---------------------------------------------------------------------------------------------
// Protocol extensions and overrules. The extension hangs at BenchBase; a BenchLevel5 object asks
// for it. The peers answer the same question from a vector indexed by the protocol's slot and
// from a hash map keyed by the object's dynamic type.

OxRxClass* gProtocol = nullptr;
OxRxObject gExtension;

void typeSystemForExtensions()
{
    typeSystemForClassTests();
    if (gProtocol == nullptr) {
        gProtocol = newOxRxClass(u"BenchProtocol", u"OxRxObject", 0, nullptr, nullptr, nullptr);
        oxrxBuildClassHierarchy();
        BenchBase::desc()->addX(gProtocol, &gExtension);
    }
}

// Passes every query on to the next overrule of the chain.
class PassingOverrule : public OxRxQueryXOverrule {
public:
    bool appliesTo(const OxRxObject*) const override { return true; }
};
PassingOverrule gPassing[3];

// `chain` overrules at BenchBase, and with `elsewhere` one at BenchOther, so that overrules exist
// but not for the object asked. Overrules are only ever added (again: eDuplicateKey), so the runs
// without any overrule must come first.
void rxQueryX(benchmark::State& state, int chain, bool elsewhere)
{
    typeSystemForExtensions();
    static PassingOverrule other;
    if (elsewhere)
        OxRxOverrule::addOverrule(BenchOther::desc(), &other, true);
    for (int i = 0; i < chain; ++i)
        OxRxOverrule::addOverrule(BenchBase::desc(), &gPassing[i], true);
    const OxRxObject* object = makeRxObject(5);
    if (object->queryX(gProtocol) != &gExtension)
        state.SkipWithError("the query did not reach the extension");
    for (auto _ : state)
        keep(opaque(object)->queryX(opaque(gProtocol)));
    delete object;
}

void vectorQueryX(benchmark::State& state)
{
    std::vector<OxRxObject*> slots(21, nullptr);
    slots[3] = &gExtension;
    int index = 3;
    const std::vector<OxRxObject*>* table = &slots;
    for (auto _ : state)
        keep((*opaque(table))[static_cast<std::size_t>(*opaque(&index))]);
}

void hashQueryX(benchmark::State& state)
{
    std::unordered_map<std::type_index, OxRxObject*> byType;
    for (int depth : {1, 5}) {
        const std::unique_ptr<const PlainRoot> made(makePlainObject(depth));
        const PlainRoot& sample = *made;
        byType[typeid(sample)] = &gExtension;
    }
    const PlainRoot* object = makePlainObject(5);
    for (auto _ : state) {
        const PlainRoot& hidden = *opaque(object);
        keep(byType.find(typeid(hidden))->second);
    }
    delete object;
}

// Copying a shared payload: one copy made and dropped per iteration, on the stack.
class BenchHolder : public OxRxCopyOnWriteObject {
public:
    using OxRxCopyOnWriteObject::OxRxCopyOnWriteObject;
};

void copyOnWriteCopy(benchmark::State& state)
{
    typeSystemForClassTests();
    BenchHolder original(new BenchBase);
    for (auto _ : state) {
        BenchHolder copy(*opaque(&original));
        keep(&copy);
    }
}

void sharedPtrCopy(benchmark::State& state)
{
    std::shared_ptr<OxRxObject> original(new BenchBase);
    for (auto _ : state) {
        std::shared_ptr<OxRxObject> copy(*opaque(&original));
        keep(copy.get());
    }
}

void registerClassTests(int depth)
{
    const std::string depthName = "ClassTest/depth" + std::to_string(depth);
    const std::string hit = depthName + "/hit/", miss = depthName + "/miss/";
    const std::string castHit = add(hit + "cast/" + kOurs, rxCast<BenchBase>, depth);
    const std::string derivedHit = add(hit + "isDerivedFrom/" + kOurs, rxIsDerivedFrom<BenchBase>, depth);
    const std::string plainHit = add(hit + "dynamic_cast", plainDynamicCast<PlainBase>, depth);
    const std::string castMiss = add(miss + "cast/" + kOurs, rxCast<BenchOther>, depth);
    const std::string derivedMiss = add(miss + "isDerivedFrom/" + kOurs, rxIsDerivedFrom<BenchOther>, depth);
    const std::string plainMiss = add(miss + "dynamic_cast", plainDynamicCast<PlainOther>, depth);
    for (const auto& [ours, peer] : {std::pair{castHit, plainHit}, std::pair{derivedHit, plainHit},
                                     std::pair{castMiss, plainMiss}, std::pair{derivedMiss, plainMiss}})
        gComparisons.push_back({ours, peer, "< 1", 1.0, false});
}

void registerLookups(unsigned classCount)
{
    const std::string byName = "LookupByName/" + std::to_string(classCount) + "classes/";
    const std::string ours =
        add(byName + "dictionary/" + kOurs, dictionaryLookupByName, classCount, Registration::kShuffled);
    const std::string sorted = add(byName + "std::map(nocase)", mapLookupByName, classCount);
    const std::string hashed = add(byName + "std::unordered_map", hashLookupByName, classCount);
    const std::string roundRobin = add(byName + "dictionary(round-robin registration)/" + kOurs,
                                       dictionaryLookupByName, classCount, Registration::kRoundRobin);
    gComparisons.push_back({ours, sorted, "<= 1.5", 1.5, true});
    gComparisons.push_back({roundRobin, sorted, "<= 1.5", 1.5, true});
    gComparisons.push_back({ours, hashed, "", 0, false});

    const std::string byId = "LookupById/" + std::to_string(classCount) + "classes/";
    const std::string oursId = add(byId + "dictionary/" + kOurs, dictionaryLookupById, classCount);
    const std::string vector = add(byId + "std::vector", vectorLookupById, classCount);
    const std::string hashedId = add(byId + "std::unordered_map", hashLookupById, classCount);
    gComparisons.push_back({oursId, vector, "", 0, false});
    gComparisons.push_back({oursId, hashedId, "", 0, false});
}

void registerExtensions()
{
    const std::string name = "QueryX/";
    const std::string bare = add(name + "no overrule anywhere/" + kOurs, rxQueryX, 0, false);
    const std::string elsewhere = add(name + "overrules on other classes/" + kOurs, rxQueryX, 0, true);
    const std::string chain = add(name + "chain of 3 overrules/" + kOurs, rxQueryX, 3, true);
    const std::string vector = add(name + "std::vector index", vectorQueryX);
    const std::string hashed = add(name + "std::unordered_map<type_index>", hashQueryX);
    for (const std::string& ours : {bare, elsewhere, chain}) {
        gComparisons.push_back({ours, vector, "", 0, false});
        gComparisons.push_back({ours, hashed, "", 0, false});
    }
    const std::string copy = add("Copy/copy-on-write object/" + std::string(kOurs), copyOnWriteCopy);
    const std::string shared = add("Copy/std::shared_ptr", sharedPtrCopy);
    gComparisons.push_back({copy, shared, "", 0, false});
}

void registerInsertion()
{
    const std::string name = "Insert10000/";
    auto* ours =
        benchmark::RegisterBenchmark((name + "sorted dictionary/" + kOurs).c_str(), dictionaryInsert);
    auto* sorted = benchmark::RegisterBenchmark((name + "std::map(nocase)").c_str(), mapInsert<NoCaseMap>);
    auto* hashed = benchmark::RegisterBenchmark((name + "std::unordered_map").c_str(), mapInsert<HashMap>);
    for (auto* benchmark : {ours, sorted, hashed})
        benchmark->Unit(benchmark::kMicrosecond);
    gComparisons.push_back({name + "sorted dictionary/" + kOurs, name + "std::map(nocase)", "", 0, false});
    gComparisons.push_back({name + "sorted dictionary/" + kOurs, name + "std::unordered_map", "", 0, false});
}

} // namespace

int main(int argc, char** argv)
{
    oxInstallHostDefaults(); // a fatal report prints instead of raising
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    registerClassTests(1);
    registerClassTests(5);
    registerLookups(200);
    registerLookups(2000);
    registerInsertion();
    registerExtensions();
    runWithRatios();
    oxrxTerminateTypeSystem();
    return 0;
}
