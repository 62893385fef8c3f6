// tests/rx/ClassModelTest.cpp
// Objects and class objects: the parent walk, cast, clone through the pseudo-constructor, the order
// of class names, and the lifetime events of class records.

#include "diagnostics/PerfManifest.h"
#include "support/RxTestSupport.h"
#include "support/TraceRecorder.h"

namespace {

using oxtest::TestObject;

// A class chain registered by the test: Chain0 <- Chain1 <- Chain2, under TestObject.
class ClassModel : public ::testing::Test {
protected:
    void SetUp() override
    {
        const OXCHAR* names[] = {u"TestObject", u"Chain0", u"Chain1", u"Chain2"};
        for (int i = 0; i < 3; ++i)
            mChain[i] = newOxRxClass(names[i + 1], names[i], 0, nullptr, nullptr, nullptr);
        oxrxBuildClassHierarchy();
    }

    oxtest::TypeSystemScope mTypeSystem;
    OxRxClass* mChain[3] = {};
};

// The parent walk goes from the class upwards and stops at a root; cast answers by class, never
// by the static type of the pointer, and gives null rather than a wrong pointer.
TEST_F(ClassModel, DerivationAndCastFollowParentLinks)
{
    for (OxRxClass* base : {mChain[2], mChain[0], OxRxObject::desc()})
        EXPECT_TRUE(mChain[2]->isDerivedFrom(base));
    EXPECT_FALSE(mChain[0]->isDerivedFrom(mChain[2]) || OxRxObject::desc()->isDerivedFrom(mChain[0]) ||
                 mChain[2]->isDerivedFrom(nullptr));

    TestObject object(3);
    const OxRxObject* asRoot = &object;
    EXPECT_EQ(&object, TestObject::cast(asRoot));
    EXPECT_EQ(asRoot, OxRxObject::cast(asRoot));
    EXPECT_FALSE(OxRxClass::cast(asRoot) || TestObject::cast(nullptr));
    EXPECT_EQ(mChain[2], OxRxClass::cast(mChain[2]));
    EXPECT_EQ(OxRxClass::desc(), mChain[2]->isA());
}

// clone makes the object through its class and copies into it; without pseudo-constructor it gives
// null without calling copyFrom; a root copyFrom is a fatal report naming the class. The root
// answers identity and no order.
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
    EXPECT_TRUE(root.isEqualTo(&root) && !root.isEqualTo(&original));
    EXPECT_EQ(OxRx::kOrderNone, root.comparedTo(&root));

    mTypeSystem.reports().clear();
    EXPECT_EQ(nullptr, root.clone()) << "the root class makes no objects";
    EXPECT_EQ(nullptr, mChain[0]->create());
    EXPECT_EQ(0u, mTypeSystem.reports().count()) << "copyFrom must not run without a new object";
}

// Names order by UTF-16 code unit (unsigned), not by a collation or letter case. Anything that is
// not a registered class object has no record to read and is unordered.
TEST_F(ClassModel, NamesCompareByCodeUnit)
{
    // Ascending: a prefix first, 'O' below 'o', U+00E9 above ASCII. kOrderLess is -1, kOrderGreater 1.
    const OXCHAR* names[] = {u"OxRxAttributeT",    u"OxRxBoxedValueT", u"OxRxPropertyT",
                             u"OxRxPropertyTBase", u"OxRx\u00e9",      u"oxRxLower"};
    OxRxClass* classes[6];
    for (int i = 0; i < 6; ++i)
        classes[i] = newOxRxClass(names[i], u"OxRxObject", 0, nullptr, nullptr, nullptr);
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 6; ++j)
            EXPECT_EQ((i > j) - (i < j), classes[i]->comparedTo(classes[j])) << i << " " << j;
    OxRxClass* boxed = classes[1];

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
