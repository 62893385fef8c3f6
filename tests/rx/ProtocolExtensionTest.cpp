// tests/rx/ProtocolExtensionTest.cpp
// Protocol extensions: copy-down inheritance through the class tree on addX and delX, lookups
// for protocols never used, inheritance picked up at link time, and the index of a deleted
// protocol class given to the next one.

#include <oxfirst/OxRxClass.h>

#include "support/RxTestSupport.h"

#include <gtest/gtest.h>

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

} // namespace
