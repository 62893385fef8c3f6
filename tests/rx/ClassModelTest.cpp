// tests/rx/ClassModelTest.cpp
// Objects and class objects: the parent walk, cast, clone through the pseudo-constructor,
// ordering of class names by code unit, and the lifetime events of class records.

#include <oxfirst/OxRxClass.h>
#include <oxfirst/OxRxDictionary.h>
#include <oxfirst/OxRxSet.h>

#include "diagnostics/PerfManifest.h"
#include "support/RxTestSupport.h"
#include "support/TraceRecorder.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using oxtest::TestObject;

// A class chain registered by the test: Chain0 <- Chain1 <- Chain2, under TestObject.
class ClassModel : public ::testing::Test {
protected:
    void SetUp() override
    {
        mChain[0] = newOxRxClass(u"Chain0", u"TestObject", 0, nullptr, nullptr, nullptr);
        mChain[1] = newOxRxClass(u"Chain1", u"Chain0", 0, nullptr, nullptr, nullptr);
        mChain[2] = newOxRxClass(u"Chain2", u"Chain1", 0, nullptr, nullptr, nullptr);
        oxrxBuildClassHierarchy();
    }

    oxtest::TypeSystemScope mTypeSystem;
    OxRxClass* mChain[3] = {};
};

// The parent walk compares pointers from the class upwards and stops at a root; cast answers
// by class, never by the static type of the pointer, and gives null rather than a wrong
// pointer.
TEST_F(ClassModel, DerivationAndCastFollowParentLinks)
{
    EXPECT_TRUE(mChain[2]->isDerivedFrom(mChain[2]));
    EXPECT_TRUE(mChain[2]->isDerivedFrom(mChain[0]));
    EXPECT_TRUE(mChain[2]->isDerivedFrom(OxRxObject::desc()));
    EXPECT_FALSE(mChain[0]->isDerivedFrom(mChain[2]));
    EXPECT_FALSE(OxRxObject::desc()->isDerivedFrom(mChain[0]));
    EXPECT_FALSE(mChain[2]->isDerivedFrom(nullptr));

    TestObject object(3);
    const OxRxObject* asRoot = &object;
    EXPECT_EQ(&object, TestObject::cast(asRoot));
    EXPECT_EQ(asRoot, OxRxObject::cast(asRoot));
    EXPECT_EQ(nullptr, OxRxClass::cast(asRoot));
    EXPECT_EQ(nullptr, TestObject::cast(nullptr));
    EXPECT_EQ(mChain[2], OxRxClass::cast(mChain[2]));
    EXPECT_EQ(OxRxClass::desc(), mChain[2]->isA());
}

// clone makes the object through its class and copies into it; a class without
// pseudo-constructor gives null without calling copyFrom, and a root copyFrom is a fatal
// report naming the class. The root answers identity and no order.
TEST_F(ClassModel, CloneGoesThroughCreateAndCopyFrom)
{
    TestObject original(42);
    std::unique_ptr<OxRxObject> copy(original.clone());
    EXPECT_TRUE(original.isEqualTo(copy.get()));

    OxRxGenLinkedListIterator iterator; // a class that makes objects but does not copy them
    EXPECT_EQ(nullptr, iterator.clone());
    EXPECT_EQ(u"Unimplemented OxRxGenLinkedListIterator::copyFrom() function invoked.\n",
              mTypeSystem.reports().last());
    OxRxObject root;
    EXPECT_EQ(Orka::eNotImplementedYet, root.copyFrom(&original));
    EXPECT_EQ(u"Unimplemented OxRxObject::copyFrom() function invoked.\n", mTypeSystem.reports().last());
    EXPECT_TRUE(root.isEqualTo(&root));
    EXPECT_FALSE(root.isEqualTo(&original));
    EXPECT_EQ(OxRx::kOrderNone, root.comparedTo(&root));

    mTypeSystem.reports().clear();
    EXPECT_EQ(nullptr, root.clone()) << "the root class makes no objects";
    EXPECT_EQ(nullptr, mChain[0]->create());
    EXPECT_EQ(0u, mTypeSystem.reports().count()) << "copyFrom must not run without a new object";
}

// Names order by UTF-16 code unit, not by a collation or letter case. Anything that is not a
// registered class object has no record to read and is unordered.
TEST_F(ClassModel, NamesCompareByCodeUnit)
{
    OxRxClass* attribute = newOxRxClass(u"OxRxAttributeT", u"OxRxObject", 0, nullptr, nullptr, nullptr);
    OxRxClass* boxed = newOxRxClass(u"OxRxBoxedValueT", u"OxRxObject", 0, nullptr, nullptr, nullptr);
    OxRxClass* property = newOxRxClass(u"OxRxPropertyT", u"OxRxObject", 0, nullptr, nullptr, nullptr);
    OxRxClass* propertyBase = newOxRxClass(u"OxRxPropertyTBase", u"OxRxObject", 0, nullptr, nullptr, nullptr);
    OxRxClass* lower = newOxRxClass(u"oxRxLower", u"OxRxObject", 0, nullptr, nullptr, nullptr);
    OxRxClass* nonAscii = newOxRxClass(u"OxRx\u00e9", u"OxRxObject", 0, nullptr, nullptr, nullptr);
    EXPECT_EQ(OxRx::kOrderLess, attribute->comparedTo(boxed));
    EXPECT_EQ(OxRx::kOrderGreater, boxed->comparedTo(attribute));
    EXPECT_EQ(OxRx::kOrderLess, property->comparedTo(propertyBase));
    EXPECT_EQ(OxRx::kOrderEqual, boxed->comparedTo(boxed));
    EXPECT_EQ(OxRx::kOrderGreater, lower->comparedTo(attribute)) << "'o' is above 'O'";
    EXPECT_EQ(OxRx::kOrderGreater, nonAscii->comparedTo(attribute)) << "units compare unsigned";

    TestObject object;
    OxRxClass bare; // a class object without record
    EXPECT_EQ(OxRx::kOrderNone, boxed->comparedTo(&object));
    EXPECT_EQ(OxRx::kOrderNone, boxed->comparedTo(nullptr));
    EXPECT_EQ(OxRx::kOrderNone, boxed->comparedTo(&bare));
    EXPECT_EQ(OxRx::kOrderNone, bare.comparedTo(boxed));
}

// A class's record announces its creation and its end to a trace session, and a session that
// starts late is first told of every class alive.
TEST(ClassLifetimeEvents, RecordsReportCreationAndEnd)
{
    oxtest::TypeSystemScope typeSystem;
    const unsigned alive =
        static_cast<OxRxDictionary*>(oxrxSysRegistry()->lookup(u"ClassDictionary"))->count();
    TraceRecorder session(oxperf::kProviderId);
    OxRxClass* traced = newOxRxClass(u"Traced", u"OxRxObject", 0, nullptr, nullptr, nullptr);
    deleteOxRxClass(traced);
    session.stop();

    const std::vector<RecordedEvent> events = session.events();
    ASSERT_EQ(alive + 2, events.size());
    EXPECT_EQ(37, events[alive].descriptor.Id);
    EXPECT_EQ(38, events[alive + 1].descriptor.Id);
    EXPECT_EQ(valueBytes(traced), events[alive].fields[0]);
    EXPECT_EQ(events[alive].fields, events[alive + 1].fields);
}

} // namespace
