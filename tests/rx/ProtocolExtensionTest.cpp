// tests/rx/ProtocolExtensionTest.cpp
// Protocol extensions: copy-down inheritance through the class tree on addX and delX, lookups
// for protocols never used, inheritance picked up at link time, and the index of a deleted
// protocol class given to the next one; a randomized model of all of it.

#include <oxfirst/OxRxClass.h>

#include "support/RxTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using oxtest::TestObject;

// A <- B <- C linked under the root; P and Q are protocol classes; e1..e3 extension objects.
class ProtocolExtensions : public ::testing::Test {
protected:
    void SetUp() override
    {
        a = newOxRxClass(u"ExtA", u"OxRxObject", 0, nullptr, nullptr, nullptr);
        b = newOxRxClass(u"ExtB", u"ExtA", 0, nullptr, nullptr, nullptr);
        c = newOxRxClass(u"ExtC", u"ExtB", 0, nullptr, nullptr, nullptr);
        p = newOxRxClass(u"ProtocolP", u"OxRxObject", 0, nullptr, nullptr, nullptr);
        q = newOxRxClass(u"ProtocolQ", u"OxRxObject", 0, nullptr, nullptr, nullptr);
        oxrxBuildClassHierarchy();
    }

    oxtest::TypeSystemScope mTypeSystem;
    OxRxClass *a = nullptr, *b = nullptr, *c = nullptr, *p = nullptr, *q = nullptr;
    TestObject e1{1}, e2{2}, e3{3};
};

// A class's own extension shields its subtree from later changes above it; delX hands the
// parent's value back down. Null and never-used protocols answer null without a report; getX
// reports the missing extension by the protocol's name; objects reach the slots of their class.
TEST_F(ProtocolExtensions, ChangesCopyDownWhereClassesInherit)
{
    EXPECT_EQ(nullptr, a->addX(p, &e1));
    EXPECT_EQ(&e1, c->queryX(p));
    EXPECT_EQ(&e1, b->addX(p, &e2));
    EXPECT_EQ(&e1, a->queryX(p));
    EXPECT_EQ(&e1, a->addX(p, &e3));
    EXPECT_EQ(&e2, c->queryX(p));
    EXPECT_EQ(&e2, b->delX(p));
    EXPECT_EQ(&e3, c->queryX(p));
    EXPECT_EQ(&e3, a->delX(p));
    EXPECT_EQ(nullptr, c->queryX(p));

    EXPECT_EQ(nullptr, a->addX(nullptr, &e1));
    EXPECT_TRUE(a->queryX(nullptr) == nullptr && a->queryX(q) == nullptr && a->delX(nullptr) == nullptr);
    EXPECT_EQ(0u, mTypeSystem.reports().count());
    EXPECT_EQ(nullptr, a->getX(q));
    EXPECT_EQ(u"Protocol Extension 'ProtocolQ' not found.", mTypeSystem.reports().last());
    EXPECT_EQ(nullptr, a->getX(nullptr));
    EXPECT_EQ(u"Protocol Extension '' not found.", mTypeSystem.reports().last());
    TestObject::desc()->addX(p, &e2);
    TestObject object;
    EXPECT_EQ(&e2, object.queryX(p));
    EXPECT_EQ(&e2, object.x(p));
}

// A class linked after an extension was attached above it inherits it then, and passes it on
// to classes linked below it earlier.
TEST_F(ProtocolExtensions, LinkingInheritsExtensions)
{
    a->addX(p, &e1);
    b->addX(q, &e2);
    OxRxClass* grandchild = newOxRxClass(u"LateGrandchild", u"LateChild", 0, nullptr, nullptr, nullptr);
    newOxRxClass(u"LateChild", u"ExtB", 0, nullptr, nullptr, nullptr);
    oxrxBuildClassHierarchy(); // "LateChild" sorts first and links first; both must inherit
    EXPECT_EQ(&e1, grandchild->queryX(p));
    EXPECT_EQ(&e2, grandchild->queryX(q));
}

// Many protocols grow every class's slot array beyond its first 21 slots.
TEST_F(ProtocolExtensions, ManyProtocolsGrowTheSlots)
{
    std::vector<OxRxClass*> protocols;
    for (char16_t i = 0; i < 40; ++i) {
        protocols.push_back(newOxRxClass((u"Many" + std::u16string(1, u'0' + i)).c_str(), u"OxRxObject", 0,
                                         nullptr, nullptr, nullptr));
        a->addX(protocols.back(), &e1);
    }
    for (OxRxClass* protocol : protocols)
        EXPECT_EQ(&e1, c->queryX(protocol));
}

// Deleting a protocol class frees its index for the next protocol and takes the deleted class
// out of every slot where it was the extension itself.
TEST_F(ProtocolExtensions, DeletedProtocolGivesItsIndexBack)
{
    a->addX(p, p); // the protocol class as its own extension
    b->addX(q, &e1);
    deleteOxRxClass(p);
    OxRxClass* next = newOxRxClass(u"ProtocolNext", u"OxRxObject", 0, nullptr, nullptr, nullptr);
    EXPECT_EQ(nullptr, a->queryX(next)) << "the reused index must not show the old extension";
    EXPECT_EQ(nullptr, c->queryX(next));
    a->addX(next, &e3);
    EXPECT_EQ(&e3, c->queryX(next));
    EXPECT_EQ(&e1, c->queryX(q));
}

// Randomized: registration, linking, addX, delX and deletion of classes (protocol classes among
// them) against a model that applies the copy-down rules to a plain tree. After every step each
// live class's extension under each live protocol must match.
TEST(ProtocolExtensionModel, EveryClassSeesTheModelsExtension)
{
    oxtest::TypeSystemScope typeSystem;
    std::mt19937 random(61206);
    struct Model {
        std::u16string name, parentName;
        OxRxClass* real = nullptr;
        int parent = -1;
        bool pending = true, alive = true, protocol = false;
        std::map<int, int> slots; // protocol class -> extension, absent for null
    };
    std::vector<Model> classes;
    TestObject extensions[3];
    auto slot = [&](int c, int p) { return classes[c].slots.count(p) ? classes[c].slots[p] : -1; };
    auto set = [&](int c, int p, int v) {
        v < 0 ? void(classes[c].slots.erase(p)) : void(classes[c].slots[p] = v);
    };
    auto propagate = [&](auto& self, int c, int p, int value, int old) -> void {
        if (slot(c, p) < 0 || slot(c, p) == old)
            set(c, p, value);
        for (int x = 0; x < static_cast<int>(classes.size()); ++x)
            if (classes[x].alive && classes[x].parent == c)
                self(self, x, p, value, old);
    };
    auto alive = [&] {
        std::vector<int> result;
        for (int c = 0; c < static_cast<int>(classes.size()); ++c)
            if (classes[c].alive)
                result.push_back(c);
        return result;
    };
    int counter = 0;
    for (int step = 0; step < 3000; ++step) {
        std::vector<int> live = alive();
        const int op = static_cast<int>(random() % 10);
        if (live.size() < 4 || (op < 2 && live.size() < 30)) { // register, under a name that may come later
            Model m;
            m.name =
                u"K" + std::u16string(1, u'A' + counter / 26 % 26) + std::u16string(1, u'A' + counter % 26);
            const int pick = static_cast<int>(random() % 10);
            m.parentName = live.empty() || pick < 2
                               ? u"K" + std::u16string(1, u'A' + (counter + 1 + pick) / 26 % 26) +
                                     std::u16string(1, u'A' + (counter + 1 + pick) % 26)
                               : classes[live[random() % live.size()]].name;
            ++counter;
            m.real = newOxRxClass(m.name.c_str(), m.parentName.c_str(), 0, nullptr, nullptr, nullptr);
            classes.push_back(m);
        } else if (op < 3) { // link in ascending name order
            std::vector<int> order = live;
            std::sort(order.begin(), order.end(),
                      [&](int l, int r) { return classes[l].name < classes[r].name; });
            for (int c : order) {
                if (!classes[c].pending)
                    continue;
                classes[c].pending = false;
                int parent = -1;
                for (int x : live)
                    if (classes[x].name == classes[c].parentName)
                        parent = x;
                for (int up = parent; up >= 0; up = classes[up].parent)
                    if (up == c)
                        parent = -1; // would close a cycle
                if (parent < 0)
                    continue;
                classes[c].parent = parent;
                classes[c].slots = classes[parent].slots;
                for (auto [p, v] : std::map<int, int>(classes[c].slots))
                    propagate(propagate, c, p, v, v);
            }
            oxrxBuildClassHierarchy();
        } else if (op < 9) { // addX with an extension or null (delX)
            // Few protocols and extensions, so that values meet again further down the tree.
            const int c = live[random() % live.size()],
                      p = live[random() % std::min<std::size_t>(live.size(), 3)];
            const int value = random() % 3 == 0 ? -1 : static_cast<int>(random() % 3);
            const int parent = classes[c].parent;
            const int effective = value >= 0 ? value : parent >= 0 ? slot(parent, p) : -1;
            const int old = slot(c, p);
            classes[p].protocol = true;
            propagate(propagate, c, p, effective, old);
            OxRxObject* answer = value >= 0 ? classes[c].real->addX(classes[p].real, &extensions[value])
                                            : classes[c].real->delX(classes[p].real);
            ASSERT_EQ(old >= 0 ? &extensions[old] : nullptr, answer) << "step " << step;
        } else { // delete a class: its children become roots, its index is given back
            const int c = live[random() % live.size()];
            deleteOxRxClass(classes[c].real);
            classes[c].alive = false;
            for (Model& m : classes) {
                if (m.parent == c)
                    m.parent = -1;
                m.slots.erase(c);
            }
        }
        for (int c : alive())
            for (int p : alive())
                ASSERT_EQ(slot(c, p) >= 0 ? &extensions[slot(c, p)] : nullptr,
                          classes[c].real->queryX(classes[p].real))
                    << "class " << c << " protocol " << p << " step " << step;
    }
}

} // namespace
