// tests/rx/ProtocolExtensionTest.cpp
// Protocol extensions: copy-down inheritance on addX and delX, protocols never used, and a
// randomized model of linking, extensions and deleted (protocol) classes.

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

// The canonical sequence on A <- B <- C: a class's own extension shields its subtree from later
// changes above it and delX hands the parent's value back down. Null and never-used protocols
// answer null without a report, getX reports a missing one by name, objects reach their class's
// slots.
TEST(ProtocolExtensions, ChangesCopyDownWhereClassesInherit)
{
    oxtest::TypeSystemScope typeSystem;
    OxRxClass* a = newOxRxClass(u"ExtA", u"TestObject", 0, nullptr, nullptr, nullptr);
    OxRxClass* b = newOxRxClass(u"ExtB", u"ExtA", 0, nullptr, nullptr, nullptr);
    OxRxClass* c = newOxRxClass(u"ExtC", u"ExtB", 0, nullptr, nullptr, nullptr);
    OxRxClass* p = newOxRxClass(u"ProtocolP", u"OxRxObject", 0, nullptr, nullptr, nullptr);
    OxRxClass* q = newOxRxClass(u"ProtocolQ", u"OxRxObject", 0, nullptr, nullptr, nullptr);
    oxrxBuildClassHierarchy();
    TestObject e1{1}, e2{2}, e3{3};
    EXPECT_EQ(nullptr, a->addX(p, &e1));
    EXPECT_EQ(&e1, b->addX(p, &e2));
    EXPECT_EQ(&e1, a->addX(p, &e3));
    EXPECT_TRUE(a->queryX(p) == &e3 && c->queryX(p) == &e2);
    EXPECT_TRUE(b->delX(p) == &e2 && c->queryX(p) == &e3);
    EXPECT_TRUE(a->addX(nullptr, &e1) == nullptr && a->queryX(nullptr) == nullptr &&
                a->queryX(q) == nullptr && a->delX(nullptr) == nullptr);
    EXPECT_EQ(0u, typeSystem.reports().count());
    for (OxRxClass* missing : {q, static_cast<OxRxClass*>(nullptr)}) {
        EXPECT_EQ(nullptr, a->getX(missing));
        EXPECT_EQ(missing ? u"Protocol Extension 'ProtocolQ' not found."
                          : u"Protocol Extension '' not found.",
                  typeSystem.reports().last());
    }
    TestObject::desc()->addX(p, &e2);
    TestObject object;
    EXPECT_TRUE(object.queryX(p) == &e2 && object.x(p) == &e2);
}

// Randomized: registration, linking, addX, delX and deletion of (protocol) classes against a model
// applying the copy-down rules to a plain tree; every class's extensions are checked each step.
TEST(ProtocolExtensionModel, EveryClassSeesTheModelsExtension)
{
    oxtest::TypeSystemScope typeSystem;
    std::mt19937 random(61206);
    struct Model {
        std::u16string name, parentName;
        OxRxClass* real = nullptr;
        int parent = -1;
        bool pending = true, alive = true;
        std::map<int, int> slots; // protocol class -> extension, absent for null
    };
    std::vector<Model> classes;
    TestObject extensions[3];
    auto slot = [&](int c, int p) { return classes[c].slots.count(p) ? classes[c].slots[p] : -1; };
    auto propagate = [&](auto& self, int c, int p, int value, int old) -> void {
        if (slot(c, p) < 0 || slot(c, p) == old)
            value < 0 ? void(classes[c].slots.erase(p)) : void(classes[c].slots[p] = value);
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
    auto nameOf = [](int n) {
        return u"K" + std::u16string{char16_t(u'A' + n / 26 % 26), char16_t(u'A' + n % 26)};
    };
    int counter = 0;
    for (int step = 0; step < 3000; ++step) {
        std::vector<int> live = alive();
        const int op = static_cast<int>(random() % 10);
        if (live.size() < 4 || (op < 2 && live.size() < 30)) { // register, under a name that may come later
            const int pick = static_cast<int>(random() % 10);
            Model m{nameOf(counter),
                    live.empty() || pick < 2 ? nameOf(counter + 1 + pick)
                                             : classes[live[random() % live.size()]].name,
                    nullptr,
                    -1,
                    true,
                    true,
                    {}};
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
