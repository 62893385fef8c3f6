// tests/rx/ClassRegistryTest.cpp
// The class registry and the type system's lifecycle: registration and linking, refused parents,
// replacement and deletion with the class pointers they clear, and the fatal reports on the way.

#include "support/FreshProcess.h"
#include "support/RxTestSupport.h"

#include <oxfirst/OxRxAttribute.h>

namespace {

using oxtest::TestObject;
using Reports = std::vector<std::u16string>;

OxRxClass* registerClass(const OXCHAR* name, const OXCHAR* parent)
{
    return newOxRxClass(name, parent, 0, nullptr, nullptr, nullptr);
}

// A host class, declared like the library's own.
class HostShape : public OxRxObject {
    OX_RX_DECLARE_MEMBERS(HostShape)
};
OX_RX_DEFINE_MEMBERS(HostShape, u"HostShape", u"OxRxObject", nullptr)

class ClassRegistry : public ::testing::Test {
protected:
    oxtest::TypeSystemScope mTypeSystem;
    oxtest::FatalReports& reports() { return mTypeSystem.reports(); }
};

// A fresh start registers the library's classes, each linked but the root and making objects of
// itself if any. rxInit of a registered class (the root's is separate code) changes nothing. A
// pointer holding another class object than the one registered under its name is a mismatch.
TEST_F(ClassRegistry, StartRegistersTheLibraryClassesAndRxInitKeepsThem)
{
    auto* classes = static_cast<OxRxDictionary*>(oxrxSysRegistry()->lookup(u"ClassDictionary"));
    OxRxDictionaryIterator* it = classes->makeIterator(OxRx::kIterateById);
    for (; !it->done(); it->next()) {
        auto* rxClass = static_cast<OxRxClass*>(it->object());
        EXPECT_EQ(rxClass != OxRxObject::desc(), rxClass->myParent() != nullptr) << it->id();
        OxRxObject* made = rxClass->create();
        EXPECT_TRUE(made == nullptr || made->isA() == rxClass) << it->id();
        delete made;
    }
    delete it;
    EXPECT_EQ(OxRxDictionary::desc(), OxRxImpDictionary::desc()->myParent());

    OxRxClass* root = OxRxObject::desc();
    OxRxClass* before = TestObject::desc();
    OxRxObject::rxInit();
    TestObject::rxInit();
    EXPECT_EQ(root, oxrxFindClassByName(nullptr, u"OxRxObject"));
    EXPECT_EQ(before, TestObject::desc());
    EXPECT_EQ(0u, reports().count());
    TestObject::gpDesc = registerClass(u"Impostor", u"OxRxObject");
    TestObject::rxInit();
    EXPECT_EQ((Reports{u"Class mismatch", u"Attempt to register class 'TestObject' twice."}),
              reports().all());
    EXPECT_EQ(oxrxFindClassByName(nullptr, u"TestObject"), TestObject::desc());
}

// A host class stays a root until the hierarchy is built; then it is its parent's child, once.
TEST_F(ClassRegistry, HostClassIsLinkedOnlyByBuildingTheHierarchy)
{
    static std::vector<OxRxClass*> announced;
    announced.clear();
    OxRxTypeSysCallbacks::setCallback_newClassCallback(
        [](OxRxClass* rxClass) { announced.push_back(rxClass); });
    OxRxClass* shape = registerClass(u"Shape", u"OxRxObject");
    OxRxClass* circle = registerClass(u"Circle", u"Shape");
    OxRxTypeSysCallbacks::setCallback_newClassCallback(nullptr);

    EXPECT_EQ((std::vector<OxRxClass*>{shape, circle}), announced);
    EXPECT_FALSE(circle->isDerivedFrom(shape));
    oxrxBuildClassHierarchy();
    oxrxBuildClassHierarchy();
    EXPECT_EQ(shape, circle->myParent());
    EXPECT_TRUE(circle->isDerivedFrom(OxRxObject::desc()));
    EXPECT_EQ(1, shape->descendants()->count());
    EXPECT_TRUE(shape->descendants()->contains(circle));
}

// A missing parent is reported once with both names, and the class stays a root, never linked (or
// reported) again; a parent closing a loop (endless walks) counts as missing. Sealed parents are
// refused, registering nothing ("OxDbVertex" takes the vertex classes; other letter cases pass).
TEST_F(ClassRegistry, RefusedParentsLeaveNothingOrARoot)
{
    OxRxClass* orphan = registerClass(u"Orphan", u"NoSuchParent");
    oxrxBuildClassHierarchy();
    EXPECT_EQ(Reports{u"Class 'Orphan' parent named 'NoSuchParent' not found."}, reports().all());
    registerClass(u"NoSuchParent", u"OxRxObject");
    oxrxBuildClassHierarchy();
    EXPECT_EQ(1u, reports().count());
    EXPECT_EQ(nullptr, orphan->myParent());

    OxRxClass* first = registerClass(u"LoopA", u"LoopB");
    OxRxClass* second = registerClass(u"LoopB", u"LoopA");
    OxRxClass* self = registerClass(u"LoopSelf", u"LoopSelf");
    oxrxBuildClassHierarchy();
    EXPECT_EQ(3u, reports().count());
    EXPECT_FALSE(first->isDerivedFrom(OxRxObject::desc()) || second->isDerivedFrom(OxRxObject::desc()));
    EXPECT_EQ(nullptr, self->myParent());

    reports().clear();
    EXPECT_EQ(nullptr, registerClass(u"MyPolyline", u"OxDb2dPolyline"));
    EXPECT_EQ(nullptr, registerClass(u"MyVertex", u"OxDbVertex"));
    EXPECT_EQ(nullptr, oxrxFindClassByName(nullptr, u"MyPolyline"));
    EXPECT_NE(nullptr, registerClass(u"OxDb2dVertex", u"OxDbVertex"));
    EXPECT_NE(nullptr, registerClass(u"OxDbPolygonMeshVertex", u"OxDbVertex"));
    EXPECT_NE(nullptr, registerClass(u"MyOther", u"oxdb2dpolyline"));
    EXPECT_EQ((Reports{u"Deriving from class OxDb2dPolyline is not allowed.",
                       u"Deriving from class OxDbVertex is not allowed."}),
              reports().all());
}

// Registering a name twice reports it and the new class takes the place: the earlier one's children
// and parent drop it, and so does a class pointer rxInit or desc() filled. Such a pointer looks the
// name up again, or is null once the class is deleted or the type system ends.
TEST_F(ClassRegistry, ReplacedOrDeletedClassesLeaveNoPointersBehind)
{
    const OxRxSet* rootChildren = OxRxObject::desc()->descendants();
    const int childrenOfRoot = rootChildren->count();
    HostShape::rxInit();
    OxRxClass* child = registerClass(u"HostShapeChild", u"HostShape");
    oxrxBuildClassHierarchy();
    ASSERT_EQ(HostShape::desc(), child->myParent());
    OxRxClass* replacement = registerClass(u"hostshape", u"OxRxObject");
    EXPECT_EQ(u"Attempt to register class 'hostshape' twice.", reports().last());
    EXPECT_EQ(replacement, HostShape::desc());
    EXPECT_EQ(nullptr, child->myParent());
    EXPECT_EQ(childrenOfRoot, rootChildren->count());
    oxrxBuildClassHierarchy();
    EXPECT_EQ(OxRxObject::desc(), replacement->myParent());
    EXPECT_EQ(replacement, HostShape().isA());

    deleteOxRxClass(replacement);
    EXPECT_EQ(nullptr, HostShape::gpDesc);
    OxRxClass* again = registerClass(u"HostShape", u"OxRxObject");
    EXPECT_EQ(again, HostShape::desc());
    oxrxTerminateTypeSystem();
    EXPECT_FALSE(HostShape::gpDesc || OxRxSet::gpDesc || OxRxObject::gpDesc);
}

// Deletion: a class id or a veto keeps the class; otherwise it goes and its children become roots;
// a class object not registered under its name takes nothing with it. The first class id set stays.
TEST_F(ClassRegistry, DeletionHonoursIdsVetoAndUnhooksChildren)
{
    OxRxClass* parent = registerClass(u"Doomed", u"OxRxObject");
    OxRxClass* child = registerClass(u"DoomedChild", u"Doomed");
    oxrxBuildClassHierarchy();

    oxrxSetClassId(child, 7);
    oxrxSetClassId(child, 9);
    EXPECT_EQ(7, oxrxGetClassId(child));
    deleteOxRxClass(child);
    EXPECT_EQ(child, oxrxFindClassByName(nullptr, u"DoomedChild"));
    static int asked = 0;
    OxRxTypeSysCallbacks::setCallback_deleteClassCallback([](OxRxClass*) { return ++asked == 0; });
    deleteOxRxClass(parent);
    EXPECT_EQ(1, asked);
    EXPECT_EQ(parent, oxrxFindClassByName(nullptr, u"Doomed"));
    OxRxTypeSysCallbacks::setCallback_deleteClassCallback(nullptr);

    OxRxClass stray; // no record: named "" and registered nowhere, no class id
    oxrxSetClassId(&stray, 5);
    EXPECT_EQ(0, oxrxGetClassId(&stray) + oxrxGetClassId(nullptr));
    deleteOxRxClass(&stray);
    deleteOxRxClass(nullptr);

    const int childrenOfRoot = OxRxObject::desc()->descendants()->count();
    deleteOxRxClass(parent);
    EXPECT_EQ(nullptr, oxrxFindClassByName(nullptr, u"Doomed"));
    EXPECT_EQ(nullptr, child->myParent());
    EXPECT_EQ(childrenOfRoot - 1, OxRxObject::desc()->descendants()->count());
    EXPECT_EQ(0u, reports().count());
}

// Starting twice keeps the running system; ending twice, or without a start, does nothing; a
// restart gives new class objects that work. A root pointer still set at a start is reported and
// the root registered anew.
TEST(TypeSystemLifecycle, StartsAndEndsAnyNumberOfTimes)
{
    oxtest::FatalReports reports;
    oxrxTerminateTypeSystem();
    oxrxTerminateTypeSystem();
    EXPECT_EQ(nullptr, oxrxSysRegistry());
    EXPECT_EQ(nullptr, OxRxSet::desc()) << "nothing to look classes up in";
    EXPECT_EQ(nullptr, registerClass(u"Early", u"OxRxObject"));

    oxrxInitTypeSystem();
    OxRxDictionary* registry = oxrxSysRegistry();
    OxRxClass* firstSetClass = OxRxSet::desc();
    oxrxInitTypeSystem();
    EXPECT_EQ(registry, oxrxSysRegistry());
    EXPECT_EQ(firstSetClass, OxRxSet::desc());
    oxrxTerminateTypeSystem();
    EXPECT_EQ(nullptr, oxrxSysRegistry());

    oxrxInitTypeSystem();
    EXPECT_NE(nullptr, OxRxImpSet::cast(std::unique_ptr<OxRxSet>(newOxRxSet()).get()));
    oxrxTerminateTypeSystem();
    EXPECT_EQ(0u, reports.count());

    OxRxClass leftover; // the root's pointer left set, as by a start without its end
    OxRxObject::gpDesc = &leftover;
    oxrxInitTypeSystem();
    EXPECT_EQ(Reports{u"OxRxObject class object not found."}, reports.all());
    EXPECT_EQ(u"OxRxObject", std::u16string(OxRxObject::desc()->name()));
    oxrxTerminateTypeSystem();
}

// A class's attributes asked for before the type system ever started went through a hook that
// only the start installed.
TEST(ClassRecord, AttributesExistBeforeTheFirstStart)
{
    if (oxtest::inFreshProcess())
        return;
    OxRxClass unregistered;
    EXPECT_EQ(0, unregistered.attributes().count());
}

} // namespace
