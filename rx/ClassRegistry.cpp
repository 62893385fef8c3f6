// rx/ClassRegistry.cpp
// The global state of the class system and its lifecycle: the system registry and the class
// dictionary, registration (newOxRxClass, rxInit), linking classes to their parents, deletion,
// and the fixed orders in which the type system starts and ends.

#include <oxfirst/OxRxClass.h>

#include <oxfirst/OxRxCallbacks.h>
#include <oxfirst/OxRxCopyOnWriteObject.h>
#include <oxfirst/OxRxDictionary.h>
#include <oxfirst/OxRxOverrule.h>
#include <oxfirst/OxRxSet.h>
#include <oxfirst/OxRxTextString.h>
#include <oxfirst/PerfLog.h>

#include "rx/ImpClass.h"
#include "rx/RegistryState.h"

#include <new>
#include <string_view>

namespace oxrx {

constinit RegistryState gRegistry;

OxRxClass* findClass(const OXCHAR* name) noexcept
{
    if (gRegistry.classDictionary == nullptr)
        return nullptr;
    return static_cast<OxRxClass*>(gRegistry.classDictionary->lookup(name));
}

namespace {

// The registration functions of the library's classes after the root, in the order the type
// system runs them; the hierarchy is built once all of them are registered.
void (*const kLibraryClasses[])() = {
    &OxRxClass::rxInit,
    &OxRxTextString::rxInit,
    &OxRxDictionary::rxInit,
    &OxRxDictionaryIterator::rxInit,
    &OxRxGenLinkedList::rxInit,
    &OxRxGenLinkedListIterator::rxInit,
    &OxRxGenTypedDictionary::rxInit,
    &OxRxIterator::rxInit,
    &OxRxSet::rxInit,
    &OxRxImpDictionary::rxInit,
    &OxRxImpDictionaryIterator::rxInit,
    &OxRxImpSet::rxInit,
    &OxRxImpSetIterator::rxInit,
    &OxRxOverruleBase::rxInit,
    &OxRxOverrule::rxInit,
    &OxRxQueryXOverrule::rxInit,
    &OxRxCopyOnWriteObject::rxInit,
};

constexpr int kClassDictionaryCapacity = 200;
constexpr int kProtocolTableCapacity = 14;

// Classes that may not be derived from; "OxDbVertex" only by the five vertex classes. Names
// compare exactly.
const char16_t* const kSealedParents[] = {
    u"OxDb2dPolyline",         u"OxDb3dPolyline",        u"OxDbPolyFaceMesh", u"OxDbPolygonMesh",
    u"OxDbViewport",           u"OxDbBlockBegin",        u"OxDbBlockEnd",     u"OxDbSequenceEnd",
    u"OxDbMInsertBlock",       u"OxDbFaceRecord",        u"OxDb2dVertex",     u"OxDb3dPolylineVertex",
    u"OxDbPolyFaceMeshVertex", u"OxDbPolygonMeshVertex",
};
const char16_t* const kVertexClasses[] = {
    u"OxDbFaceRecord",         u"OxDb2dVertex",          u"OxDb3dPolylineVertex",
    u"OxDbPolyFaceMeshVertex", u"OxDbPolygonMeshVertex",
};

bool sameText(const OXCHAR* left, const OXCHAR* right)
{
    return std::u16string_view(left) == right;
}

bool isSealedParent(const OXCHAR* name, const OXCHAR* parentName)
{
    for (const char16_t* sealed : kSealedParents)
        if (sameText(parentName, sealed))
            return true;
    if (!sameText(parentName, u"OxDbVertex"))
        return false;
    for (const char16_t* vertex : kVertexClasses)
        if (sameText(name, vertex))
            return false;
    return true;
}

// A walk of the class dictionary in caller storage: it never allocates and is not told of
// erasures, so the loop body must not erase.
class ClassWalk {
public:
    explicit ClassWalk(OxRx::DictIterType order)
    {
        auto* classes = static_cast<OxRxImpDictionary*>(gRegistry.classDictionary);
        if (classes != nullptr)
            mpIterator = classes->placeIterator(mStorage, order);
    }
    ~ClassWalk()
    {
        if (mpIterator != nullptr)
            mpIterator->~OxRxDictionaryIterator();
    }
    ClassWalk(const ClassWalk&) = delete;
    ClassWalk& operator=(const ClassWalk&) = delete;

    bool done() const { return mpIterator == nullptr || mpIterator->done(); }
    void next() { mpIterator->next(); }
    OxRxClass* rxClass() const { return static_cast<OxRxClass*>(mpIterator->object()); }

private:
    alignas(std::max_align_t) unsigned char mStorage[kOxRxDictionaryIteratorStorage];
    OxRxDictionaryIterator* mpIterator = nullptr;
};

// Writes a lifetime start event for every class alive, so a trace session that starts late
// still learns of the classes made before it.
void writeClassList()
{
    for (ClassWalk walk(OxRx::kIterateById); !walk.done(); walk.next())
        if (OxRxClass* rxClass = walk.rxClass())
            PerfLog_WriteOxRxClassLifetimeEvent(rxClass, rxClass->name(), true);
}

void linkClass(OxRxClass* rxClass)
{
    OxRxImpClass* record = rxClass != nullptr ? rxClass->imp() : nullptr;
    if (record == nullptr || record->mpParentName == nullptr)
        return;
    OxRxClass* parent = findClass(record->mpParentName);
    // A parent that already derives from this class would close a cycle, and every parent walk
    // through it would never end: it is refused as if it were not there.
    if (parent != nullptr && parent->isDerivedFrom(rxClass))
        parent = nullptr;
    if (parent == nullptr && rxClass != OxRxObject::gpDesc)
        oxrx_abort(u"Class '%s' parent named '%s' not found.", record->mpName, record->mpParentName);
    if (parent != nullptr) {
        OxRxImpClass* parentRecord = parent->imp();
        if (parentRecord->mpChildren == nullptr)
            parentRecord->mpChildren = newOxRxSet();
        if (parentRecord->mpChildren != nullptr)
            parentRecord->mpChildren->add(rxClass);
        record->mpParent = parent;
        record->mProtocolSlots = parentRecord->mProtocolSlots;
    }
    // Classes linked below this one earlier pick up the extensions they lack.
    for (int index = 0; index < record->mProtocolSlots.logicalLength(); ++index)
        if (OxRxObject* value = record->mProtocolSlots[index])
            propagateProtocolSlot(rxClass, index, value, value);
    OxHeapOperators::freeRawMem(record->mpParentName);
    record->mpParentName = nullptr;
}

// Registers `supplied`, or a new plain class object when it is null. A supplied object that
// cannot be registered is left without record and is not deleted: its maker owns it.
OxRxClass* registerClass(OxRxClass* supplied, const OXCHAR* name, const OXCHAR* parentName, int firstVersion,
                         int secondVersion, int proxyFlags, OxRxClass::PseudoConstructor pseudoConstructor,
                         const OXCHAR* dxfName, const OXCHAR* appName,
                         OxRxClass::AppNameCallback appNameCallback, OxRxClass::MemberBuilder memberBuilder,
                         void* memberBuilderData)
{
    OxRxDictionary* classes = gRegistry.classDictionary;
    if (classes == nullptr || name == nullptr || name[0] == 0)
        return nullptr;
    if (parentName != nullptr && isSealedParent(name, parentName)) {
        oxrx_abort(u"Deriving from class %s is not allowed.", parentName);
        return nullptr;
    }
    OxRxClass* rxClass = supplied != nullptr ? supplied : new (std::nothrow) OxRxClass;
    if (rxClass == nullptr)
        return nullptr;
    auto* record = new OxRxImpClass(rxClass, name, parentName, firstVersion, secondVersion, proxyFlags,
                                    pseudoConstructor, dxfName, appName, appNameCallback, memberBuilder,
                                    memberBuilderData);
    if (record == nullptr || !record->isComplete()) {
        delete record;
        if (supplied == nullptr)
            delete rxClass;
        return nullptr;
    }
    rxClass->setImp(record);
    // The dictionary owns its classes: taking the earlier class's place deletes it, and its
    // record's destructor unhooks it from its parent, its children and the protocol tables and
    // clears the class pointers that hold it before anything can reach it again.
    const bool registeredBefore = classes->contains(name);
    classes->insert(name, rxClass, nullptr);
    if (registeredBefore)
        oxrx_abort(u"Attempt to register class '%s' twice.", name);
    if (OxRxTypeSysCallbacks::NewClassCallback callback = OxRxTypeSysCallbacks::newClassCallback())
        callback(rxClass);
    return rxClass;
}

} // namespace

void fillClassPointer(OxRxClass** slot, OxRxClass* rxClass) noexcept
{
    OxRxImpClass* record = rxClass != nullptr ? rxClass->imp() : nullptr;
    if (record == nullptr) {
        *slot = rxClass;
        return;
    }
    OxArray<OxRxClass**>& pointers = record->mClassPointers;
    *slot = pointers.contains(slot) || pointers.append(slot) >= 0 ? rxClass : nullptr;
}

} // namespace oxrx

using oxrx::gRegistry;

OxRxClass* oxrxFindClassByName(OxRxClass** slot, const OXCHAR* name) noexcept
{
    OxRxClass* found = oxrx::findClass(name);
    if (found != nullptr && slot != nullptr)
        oxrx::fillClassPointer(slot, found);
    return found;
}

void oxrxRegisterClass(OxRxClass** slot, const OXCHAR* name, const OXCHAR* parentName,
                       OxRxObject* (*pseudoConstructor)()) noexcept
{
    if (slot == nullptr)
        return;
    if (*slot != nullptr) {
        OxRxClass* found = oxrx::findClass(name);
        if (found == *slot) {
            oxrx::fillClassPointer(slot, found); // a pointer set by hand is cleared with its class too
            return;
        }
        if (found != nullptr)
            oxrx_abort(u"Class mismatch");
    }
    oxrx::fillClassPointer(slot, newOxRxClass(name, parentName, 0, pseudoConstructor, nullptr, nullptr));
}

OxRxClass* newOxRxClass(const OXCHAR* name, const OXCHAR* parentName, int proxyFlags,
                        OxRxClass::PseudoConstructor pseudoConstructor, const OXCHAR* dxfName,
                        const OXCHAR* appName)
{
    return oxrx::registerClass(nullptr, name, parentName, 0, 0, proxyFlags, pseudoConstructor, dxfName,
                               appName, nullptr, nullptr, nullptr);
}

OxRxClass* newOxRxClass(const OXCHAR* name, const OXCHAR* parentName, int firstVersion, int secondVersion,
                        int proxyFlags, OxRxClass::PseudoConstructor pseudoConstructor, const OXCHAR* dxfName,
                        const OXCHAR* appName, OxRxClass::AppNameCallback appNameCallback)
{
    return oxrx::registerClass(nullptr, name, parentName, firstVersion, secondVersion, proxyFlags,
                               pseudoConstructor, dxfName, appName, appNameCallback, nullptr, nullptr);
}

OxRxClass* newOxRxClass(const OXCHAR* name, const OXCHAR* parentName, int firstVersion, int secondVersion,
                        int proxyFlags, OxRxClass::PseudoConstructor pseudoConstructor, const OXCHAR* dxfName,
                        const OXCHAR* appName, OxRxClass::AppNameCallback appNameCallback,
                        OxRxClass::MemberBuilder memberBuilder, void* memberBuilderData)
{
    return oxrx::registerClass(nullptr, name, parentName, firstVersion, secondVersion, proxyFlags,
                               pseudoConstructor, dxfName, appName, appNameCallback, memberBuilder,
                               memberBuilderData);
}

OxRxClass::OxRxClass(const OXCHAR* name, const OXCHAR* parentName, MemberBuilder memberBuilder,
                     void* memberBuilderData)
{
    if (oxrx::registerClass(this, name, parentName, 0, 0, 0, nullptr, nullptr, nullptr, nullptr,
                            memberBuilder, memberBuilderData) != nullptr)
        oxrx::linkClass(this);
}

void deleteOxRxClass(OxRxClass* rxClass)
{
    if (rxClass == nullptr || oxrxGetClassId(rxClass) != 0 || gRegistry.classDictionary == nullptr)
        return;
    if (OxRxTypeSysCallbacks::DeleteClassCallback callback = OxRxTypeSysCallbacks::deleteClassCallback())
        if (!callback(rxClass))
            return;
    // Only the class object registered under its name is erased: a stray or already replaced
    // object must not take the registered class with it.
    const unsigned id = gRegistry.classDictionary->idOf(rxClass->name());
    if (id != 0 && gRegistry.classDictionary->lookupById(id) == rxClass)
        gRegistry.classDictionary->eraseById(id);
}

void oxrxBuildClassHierarchy()
{
    for (oxrx::ClassWalk walk(OxRx::kIterateByKey); !walk.done(); walk.next())
        oxrx::linkClass(walk.rxClass());
}

OxRxDictionary* oxrxSysRegistry() noexcept
{
    return gRegistry.systemRegistry;
}

namespace oxrx {

bool startClassSystem()
{
    if (gRegistry.systemRegistry != nullptr)
        return false; // already running: a second start would orphan every class
    gRegistry.systemRegistry = newOxRxDictionary();
    gRegistry.classDictionary = newRxOpaqueDictionary(kClassDictionaryCapacity, true, true, false);
    if (gRegistry.systemRegistry == nullptr || gRegistry.classDictionary == nullptr) {
        delete gRegistry.systemRegistry;
        delete gRegistry.classDictionary;
        gRegistry.systemRegistry = nullptr;
        gRegistry.classDictionary = nullptr;
        return false;
    }
    gRegistry.systemRegistry->insert(u"ClassDictionary", gRegistry.classDictionary, nullptr);
    gRegistry.protocolClasses = new (std::nothrow) OxArray<OxRxClass*>(kProtocolTableCapacity);

    if (OxRxObject::gpDesc != nullptr)
        oxrx_abort(u"OxRxObject class object not found.");
    // The root's parent name is the empty text: linking finds no such class and, for the root
    // alone, says nothing.
    fillClassPointer(&OxRxObject::gpDesc, newOxRxClass(u"OxRxObject", u"", 0, 0, 0, nullptr, nullptr, nullptr,
                                                       nullptr, gReflectionHooks.rootMembers, nullptr));
    for (void (*rxInit)() : kLibraryClasses)
        rxInit();
    oxrxBuildClassHierarchy();
    return true;
}

void announceClasses()
{
    PerfLog_RegisterOxRxClassListCallback(writeClassList);
}

namespace {

constexpr int kTeardownPasses = 3;

// Sorts the ids of the classes into passes by rank; false when memory ran out.
bool rankClasses(int (*rank)(const OxRxClass*), OxArray<unsigned> (&passes)[kTeardownPasses])
{
    for (ClassWalk walk(OxRx::kIterateById); !walk.done(); walk.next()) {
        const int pass = rank(walk.rxClass());
        if (pass >= 0 && pass < kTeardownPasses &&
            passes[pass].append(gRegistry.classDictionary->idOf(walk.rxClass()->name())) < 0)
            return false;
    }
    return true;
}

} // namespace

bool endClassSystem(int (*rank)(const OxRxClass*))
{
    if (gRegistry.systemRegistry == nullptr && gRegistry.classDictionary == nullptr)
        return false;
    delete gRegistry.protocolClasses;
    gRegistry.protocolClasses = nullptr;

    // While terminating, class records skip unhooking: every class goes, so there is nothing
    // left to keep consistent. The dictionary is forgotten before it is deleted, so a desc()
    // called meanwhile finds nothing rather than searching a dictionary being destroyed. Each
    // record clears the class pointers that hold its class as it goes.
    OxRxDictionary* classes = gRegistry.classDictionary;
    OxArray<unsigned> passes[kTeardownPasses];
    const bool ranked = rank != nullptr && classes != nullptr && rankClasses(rank, passes);
    gRegistry.classDictionary = nullptr;
    gRegistry.terminating = true;
    for (int pass = 0; ranked && pass < kTeardownPasses; ++pass)
        for (int i = 0; i < passes[pass].logicalLength(); ++i)
            classes->eraseById(passes[pass][i]);
    delete classes;
    gRegistry.terminating = false;

    // The system registry does not own the class dictionary, which is gone already.
    delete gRegistry.systemRegistry;
    gRegistry.systemRegistry = nullptr;
    return true;
}

} // namespace oxrx
