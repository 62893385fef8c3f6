// tests/rx/OverruleTest.cpp
// Overrules: chains, per-class lists, removal, nested and throwing dispatch, a randomized model.

#include <oxfirst/OxRxOverrule.h>

#include "support/RxTestSupport.h"

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <stdexcept>

namespace {

using oxtest::TestObject;
using Visits = std::vector<std::string>;
Visits gVisits; // names of the overrules a dispatch passed, in order

// Records its visit, runs mOnCall, then answers mpAnswer when set, else passes the call on.
struct Recorder : OxRxQueryXOverrule {
    explicit Recorder(std::string name) : mName(std::move(name)) {}
    bool appliesTo(const OxRxObject* object) const override { return mApplies && object != nullptr; }
    OxRxObject* queryX(const OxRxObject* object, const OxRxClass* protocolClass) override
    {
        gVisits.push_back(mName);
        if (mOnCall)
            mOnCall();
        return mpAnswer != nullptr ? mpAnswer : OxRxQueryXOverrule::queryX(object, protocolClass);
    }
    std::string mName;
    OxRxObject* mpAnswer = nullptr;
    bool mApplies = true;
    std::function<void()> mOnCall;
};

// Host classes A <- B below TestObject; A answers the extension e under protocol P.
class Overrules : public ::testing::Test {
protected:
    void SetUp() override
    {
        a = newOxRxClass(u"OvA", u"TestObject", 0, nullptr, nullptr, nullptr);
        b = newOxRxClass(u"OvB", u"OvA", 0, nullptr, nullptr, nullptr);
        p = newOxRxClass(u"OvP", u"OxRxObject", 0, nullptr, nullptr, nullptr);
        oxrxBuildClassHierarchy();
        a->addX(p, &e);
        objA.mpClass = a, objB.mpClass = b;
    }
    void TearDown() override
    {
        for (Recorder* o : {&o1, &o2, &o3, &o4})
            OxRxOverrule::removeOverrule(a, o);
    }
    struct Object : TestObject { // an object whose class is mpClass
        explicit Object(OxRxClass* c) : mpClass(c) {}
        OxRxClass* isA() const override { return mpClass; }
        OxRxClass* mpClass;
    };
    Visits visitsOf(const OxRxObject& object, OxRxObject* expected = nullptr)
    {
        gVisits.clear();
        EXPECT_EQ(expected != nullptr ? expected : &e, object.queryX(p));
        return gVisits;
    }

    oxtest::TypeSystemScope mTypeSystem;
    OxRxClass *a = nullptr, *b = nullptr, *p = nullptr;
    TestObject e{7};
    Recorder o1{"o1"}, o2{"o2"}, o3{"o3"}, o4{"o4"};
    Object objA{nullptr}, objB{nullptr};
};

// Front and back insertion order a chain; a derived class's own list starts as a copy of the
// inherited one and later additions above reach it; duplicates are refused at the class but
// still reach own lists below; overrules that do not apply are skipped (none applying: the
// object's own answer); removing at a class what its list shares with the class above reaches
// that class too.
TEST_F(Overrules, ChainsFollowTheListsOfTheClasses)
{
    EXPECT_EQ(Orka::eOk, OxRxOverrule::addOverrule(a, &o1, true));
    EXPECT_EQ(Orka::eOk, OxRxOverrule::addOverrule(a, &o2, false));
    EXPECT_EQ((Visits{"o2", "o1"}), visitsOf(objB));
    EXPECT_EQ(Orka::eDuplicateKey, OxRxOverrule::addOverrule(a, &o1, true));
    EXPECT_EQ(Orka::eOk, OxRxOverrule::addOverrule(b, &o3, true));
    EXPECT_EQ(Orka::eOk, OxRxOverrule::addOverrule(a, &o4, true));
    EXPECT_EQ((Visits{"o2", "o1", "o3", "o4"}), visitsOf(objB));
    EXPECT_EQ((Visits{"o2", "o1", "o4"}), visitsOf(objA));
    EXPECT_EQ(Orka::eDuplicateKey, OxRxOverrule::addOverrule(b, &o4, true));
    using O = OxRxOverrule;
    EXPECT_TRUE(O::addOverrule(nullptr, &o1, true) == Orka::eInvalidInput &&
                O::addOverrule(a, nullptr, true) == Orka::eInvalidInput);
    EXPECT_TRUE(O::removeOverrule(nullptr, &o1) == Orka::eInvalidInput &&
                O::removeOverrule(a, nullptr) == Orka::eInvalidInput);
    o1.mApplies = o3.mApplies = false;
    EXPECT_EQ((Visits{"o2", "o4"}), visitsOf(objB));
    o2.mApplies = o4.mApplies = false;
    EXPECT_EQ((Visits{}), visitsOf(objB));
    EXPECT_FALSE(O::hasOverrule(&objB, OxRxQueryXOverrule::desc()) || O::hasOverrule(&objB, nullptr) ||
                 O::hasOverrule(nullptr, a));
    o4.mApplies = true;
    EXPECT_TRUE(O::hasOverrule(&objB, OxRxQueryXOverrule::desc()));

    for (Recorder* o : {&o3, &o2, &o1})
        O::removeOverrule(b, o);
    EXPECT_EQ((Visits{"o4"}), visitsOf(objB));
    EXPECT_EQ((Visits{"o4"}), visitsOf(objA)) << "B's list was its own until o1 went";
}

// An overrule may dispatch again from inside its own call: each dispatch keeps its own place in
// the chain. An exception thrown by an overrule leaves every current iterator as it was. The
// base queryX outside a dispatch is the object's own answer.
TEST_F(Overrules, NestedAndThrowingDispatchKeepEachPlace)
{
    Object other(b); // o1 dispatches for it once from inside its own call
    OxRxOverrule::addOverrule(a, &o1, true);
    OxRxOverrule::addOverrule(a, &o2, true);
    o1.mOnCall = [&, nested = false]() mutable { std::exchange(nested, true) || (other.queryX(p), true); };
    EXPECT_EQ((Visits{"o1", "o1", "o2", "o2"}), visitsOf(objB));
    o1.mOnCall = nullptr, o2.mOnCall = [] { throw std::runtime_error("host failure"); };
    EXPECT_THROW(objB.queryX(p), std::runtime_error);
    EXPECT_TRUE(OxRxOverruleInternals::getIterator(&o1) == nullptr &&
                OxRxOverruleInternals::getIterator(&o2) == nullptr);
    o2.mOnCall = nullptr;
    TestObject answer;
    o3.mpAnswer = &answer;
    OxRxOverrule::addOverrule(b, &o3, false);
    EXPECT_EQ((Visits{"o3"}), visitsOf(objB, &answer));
    EXPECT_EQ(&e, o3.OxRxQueryXOverrule::queryX(&objB, p));
}

// Randomized: overrules added and removed at the classes of a random tree against a model of the
// list each class holds; after every step each chain and which classes share a list must match.
TEST(OverruleModel, ListsFollowTheModel)
{
    oxtest::TypeSystemScope typeSystem;
    std::mt19937 random(20261206);
    constexpr int kClasses = 12, kOverrules = 6;
    std::vector<OxRxClass*> classes;
    std::vector<int> parent(kClasses, -1);
    auto nameOf = [](int c) {
        return c < 0 ? std::u16string(u"OxRxObject") : u"Om" + std::u16string(1, u'A' + c);
    };
    for (int i = 0; i < kClasses; ++i) {
        parent[i] = i == 0 ? -1 : static_cast<int>(random() % i);
        classes.push_back(
            newOxRxClass(nameOf(i).c_str(), nameOf(parent[i]).c_str(), 0, nullptr, nullptr, nullptr));
    }
    oxrxBuildClassHierarchy();
    Recorder overrules[kOverrules] = {Recorder("0"), Recorder("1"), Recorder("2"),
                                      Recorder("3"), Recorder("4"), Recorder("5")};
    OxRxClass* family = OxRxQueryXOverrule::desc();

    std::vector<int> holds(kClasses, -1); // list id per class, -1 for none
    std::map<int, std::vector<int>> lists;
    int nextList = 0;
    auto isBelow = [&](int c, int top) {
        for (; c >= 0; c = parent[c])
            if (c == top)
                return true;
        return false;
    };
    auto addTo = [&](std::vector<int>& list, int o, bool last) {
        if (std::count(list.begin(), list.end(), o) == 0)
            list.insert(last ? list.end() : list.begin(), o);
    };
    for (int step = 0; step < 4000; ++step) {
        const int c = static_cast<int>(random() % kClasses), o = static_cast<int>(random() % kOverrules);
        const bool last = random() % 2 != 0, adding = random() % 3 != 0;
        if (adding) {
            const int inherited = parent[c] >= 0 ? holds[parent[c]] : -1;
            if (holds[c] < 0 || holds[c] == inherited) {
                const int old = holds[c], own = nextList++;
                lists[own] = old >= 0 ? lists[old] : std::vector<int>{};
                for (int x = 0; x < kClasses; ++x) // addX's copy-down: null or the old list
                    if (isBelow(x, c) && (holds[x] < 0 || holds[x] == old))
                        holds[x] = own;
            }
            for (int x = 0; x < kClasses; ++x)
                if (x != c && isBelow(x, c) && holds[x] >= 0 && holds[x] != holds[parent[x]])
                    addTo(lists[holds[x]], o, last);
            addTo(lists[holds[c]], o, last);
            OxRxOverrule::addOverrule(classes[c], &overrules[o], last);
        } else {
            std::set<int> touched;
            for (int x = 0; x < kClasses; ++x)
                if (isBelow(x, c) && holds[x] >= 0)
                    touched.insert(holds[x]);
            for (int id : touched) {
                std::vector<int>& list = lists[id];
                if (list.erase(std::remove(list.begin(), list.end(), o), list.end()); !list.empty())
                    continue;
                for (int x = 0; x < kClasses; ++x) { // every holder takes the list above it
                    int above = parent[x];
                    while (holds[x] == id && above >= 0 && holds[above] == id)
                        above = parent[above];
                    holds[x] = holds[x] != id ? holds[x] : above >= 0 ? holds[above] : -1;
                }
                lists.erase(id);
            }
            EXPECT_EQ(Orka::eOk, OxRxOverrule::removeOverrule(classes[c], &overrules[o]));
        }
        for (int x = 0; x < kClasses; ++x) {
            const auto* entry = static_cast<const OxRxOverruleEntry*>(classes[x]->queryX(family));
            std::vector<int> seen;
            for (OxRxOverrule* const* it = entry ? entry->begin() : nullptr; entry && it != entry->end();
                 ++it)
                seen.push_back(std::stoi(static_cast<Recorder*>(*it)->mName));
            ASSERT_EQ(holds[x] >= 0 ? lists[holds[x]] : std::vector<int>{}, seen)
                << "class " << x << ", step " << step;
            for (int y = 0; y < x; ++y)
                ASSERT_EQ(holds[x] == holds[y], classes[x]->queryX(family) == classes[y]->queryX(family))
                    << "classes " << x << " and " << y << ", step " << step;
        }
    }
    for (int o = 0; o < kOverrules; ++o)
        OxRxOverrule::removeOverrule(classes[0], &overrules[o]);
    EXPECT_EQ(nullptr, classes[0]->queryX(family));
}

} // namespace
