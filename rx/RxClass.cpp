// rx/RxClass.cpp
// Class objects and their records: the queries of a class, name ordering, class ids, and the
// record's construction and destruction, which keep the hierarchy and the protocol tables free
// of pointers to classes that are gone.

#include <oxfirst/OxRxClass.h>

#include <oxfirst/OxRxSet.h>
#include <oxfirst/PerfLog.h>

#include "rx/ImpClass.h"
#include "rx/RegistryState.h"

#include <string_view>

namespace {

OxRxObject* makeNothing()
{
    return nullptr;
}

// __oxStrdup, noting in `failed` when a text could not be copied; null stays null.
OXCHAR* copyText(const OXCHAR* text, bool& failed)
{
    OXCHAR* copy = __oxStrdup(text);
    if (text != nullptr && copy == nullptr)
        failed = true;
    return copy;
}

const OXCHAR kEmptyText[1] = {0};

} // namespace

namespace oxrx {
constinit ReflectionHooks gReflectionHooks;
} // namespace oxrx

OX_RX_DEFINE_MEMBERS(OxRxClass, u"OxRxClass", u"OxRxObject", nullptr)

OxRxImpClass::OxRxImpClass(OxRxClass* owner, const OXCHAR* name, const OXCHAR* parentName, int firstVersion,
                           int secondVersion, int proxyFlags, OxRxClass::PseudoConstructor pseudoConstructor,
                           const OXCHAR* dxfName, const OXCHAR* appName,
                           OxRxClass::AppNameCallback appNameCallback, OxRxClass::MemberBuilder memberBuilder,
                           void* memberBuilderData)
    : mpPseudoConstructor(pseudoConstructor != nullptr ? pseudoConstructor : makeNothing),
      mProxyFlags(proxyFlags), mFirstVersion(firstVersion), mSecondVersion(secondVersion),
      mpAppNameCallback(appNameCallback), mpOwner(owner), mpMemberBuilder(memberBuilder),
      mpMemberBuilderData(memberBuilderData)
{
    bool failed = false;
    mpName = copyText(name != nullptr ? name : kEmptyText, failed);
    mpParentName = copyText(parentName, failed);
    mpAppName = copyText(appName, failed);
    mpDxfName = copyText(dxfName, failed);
    if (failed) {
        OxHeapOperators::freeRawMem(mpName);
        mpName = nullptr; // isComplete() is false: the registry gives up on this class
    }
    PerfLog_WriteOxRxClassLifetimeEvent(owner, mpName != nullptr ? mpName : kEmptyText, true);
}

OxRxImpClass::~OxRxImpClass()
{
    PerfLog_WriteOxRxClassLifetimeEvent(mpOwner, mpName != nullptr ? mpName : kEmptyText, false);
    const bool terminating = oxrx::gRegistry.terminating;
    if (!terminating) {
        // Children become roots; they are never linked again (their parent names are gone).
        if (mpChildren != nullptr) {
            OxRxIterator* it = mpChildren->makeIterator();
            for (; it != nullptr && !it->done(); it->next()) {
                auto* child = static_cast<OxRxClass*>(it->object());
                if (child != nullptr && child->imp() != nullptr)
                    child->imp()->mpParent = nullptr;
            }
            delete it;
            mpChildren->clear();
        }
        if (mpParent != nullptr && mpParent->imp() != nullptr && mpParent->imp()->mpChildren != nullptr)
            mpParent->imp()->mpChildren->removeByPointer(mpOwner);
    }
    if (mpMembers != nullptr)
        oxrx::gReflectionHooks.deleteMembers(mpMembers);
    mpMembers = nullptr;
    OxHeapOperators::freeRawMem(mpName);
    OxHeapOperators::freeRawMem(mpParentName);
    OxHeapOperators::freeRawMem(mpDxfName);
    OxHeapOperators::freeRawMem(mpAppName);
    delete mpChildren;
    mpChildren = nullptr;
    if (!terminating && mProtocolIndex >= 0)
        oxrx::releaseProtocolIndex(this);
    if (mpAttributes != nullptr)
        oxrx::gReflectionHooks.deleteAttributes(mpAttributes);
    for (int i = 0; i < mClassPointers.logicalLength(); ++i)
        if (*mClassPointers[i] == mpOwner)
            *mClassPointers[i] = nullptr;
}

bool OxRxImpClass::isEqualTo(const OxRxObject* other) const
{
    const OxRxClass* that = OxRxClass::cast(other);
    if (that == nullptr || that->imp() == nullptr || mpName == nullptr)
        return false;
    return std::u16string_view(mpName) == that->name();
}

OxRxClass::~OxRxClass()
{
    OxRxImpClass* record = mpImp;
    mpImp = nullptr;
    delete record;
}

const OXCHAR* OxRxClass::name() const noexcept
{
    return mpImp != nullptr && mpImp->mpName != nullptr ? mpImp->mpName : kEmptyText;
}

OxRxClass* OxRxClass::myParent() const noexcept
{
    return mpImp != nullptr ? mpImp->mpParent : nullptr;
}

bool OxRxClass::isDerivedFrom(const OxRxClass* other) const noexcept
{
    // The walk compares class-object pointers only; a class without record ends it.
    const OxRxClass* rxClass = this;
    do {
        if (rxClass == other)
            return true;
        const OxRxImpClass* record = rxClass->mpImp;
        rxClass = record != nullptr ? record->mpParent : nullptr;
    } while (rxClass != nullptr);
    return false;
}

const OXCHAR* OxRxClass::dxfName() const noexcept
{
    return mpImp != nullptr ? mpImp->mpDxfName : nullptr;
}

const OXCHAR* OxRxClass::appName() const noexcept
{
    return mpImp != nullptr ? mpImp->mpAppName : nullptr;
}

OxRxClass::AppNameCallback OxRxClass::appNameCallbackPtr() const noexcept
{
    return mpImp != nullptr ? mpImp->mpAppNameCallback : nullptr;
}

int OxRxClass::proxyFlags() const noexcept
{
    return mpImp != nullptr ? mpImp->mProxyFlags : 0;
}

void OxRxClass::getClassVersion(int& first, int& second) const noexcept
{
    first = mpImp != nullptr ? mpImp->mFirstVersion : 0;
    second = mpImp != nullptr ? mpImp->mSecondVersion : 0;
}

OxRxObject* OxRxClass::create() const
{
    return mpImp != nullptr ? mpImp->mpPseudoConstructor() : nullptr;
}

namespace {

[[gnu::noinline]] void buildMembers(OxRxImpClass* record)
{
    // The builder is cleared only once it returned: one that throws is run again next time.
    OxRxMemberCollection* members = oxrx::gReflectionHooks.buildMembers(
        record->mpOwner, record->mpMemberBuilder, record->mpMemberBuilderData);
    record->mpMembers = members;
    record->mpMemberBuilder = nullptr;
}

} // namespace

OxRxMemberCollection* OxRxClass::members() const
{
    OxRxImpClass* record = mpImp;
    if (record == nullptr)
        return nullptr;
    if (record->mpMemberBuilder != nullptr && oxrx::gReflectionHooks.buildMembers != nullptr) [[unlikely]]
        buildMembers(record);
    return record->mpMembers;
}

OxRxAttributeCollection& OxRxClass::attributes()
{
    static OxRxAttributeCollection* gpRecordless = nullptr;
    OxRxAttributeCollection*& slot = mpImp != nullptr ? mpImp->mpAttributes : gpRecordless;
    if (slot == nullptr)
        slot = oxrx::gReflectionHooks.newAttributes();
    return *slot;
}

const OxRxAttributeCollection& OxRxClass::attributes() const
{
    return const_cast<OxRxClass*>(this)->attributes();
}

const OxRxSet* OxRxClass::descendants() const noexcept
{
    return mpImp != nullptr ? mpImp->mpChildren : nullptr;
}

OxRx::Ordering OxRxClass::comparedTo(const OxRxObject* other) const
{
    // Only a registered class object has a name to compare; anything else is unordered rather
    // than read as a class record it does not have.
    const OxRxClass* that = OxRxClass::cast(other);
    if (that == nullptr || that->mpImp == nullptr || mpImp == nullptr)
        return OxRx::kOrderNone;
    const OXCHAR* left = name();
    const OXCHAR* right = that->name();
    for (;; ++left, ++right) {
        if (*left != *right)
            return static_cast<std::uint16_t>(*left) < static_cast<std::uint16_t>(*right)
                       ? OxRx::kOrderLess
                       : OxRx::kOrderGreater;
        if (*left == 0)
            return OxRx::kOrderEqual;
    }
}

unsigned short oxrxGetClassId(const OxRxClass* rxClass) noexcept
{
    return rxClass != nullptr && rxClass->imp() != nullptr ? rxClass->imp()->mClassId : 0;
}

void oxrxSetClassId(OxRxClass* rxClass, unsigned short id) noexcept
{
    if (rxClass != nullptr && rxClass->imp() != nullptr && rxClass->imp()->mClassId == 0)
        rxClass->imp()->mClassId = id;
}
