// reflection/members/Member.cpp
// Members: their state, their children (computed once and kept), their deletion, which the
// engine's reactors hear of, and the heap they live on; member collections and the builder a
// class's member builder fills.

#include <oxfirst/OxRxMember.h>
#include <oxfirst/OxRxProperty.h>

#include "reflection/ReflectionClasses.h"
#include "reflection/members/QueryEngineImp.h"

#include <new>
#include <stdexcept>

OX_RX_DEFINE_MEMBERS(OxRxMember, u"OxRxMember", u"OxRxObject", nullptr)

OxRxMemberImp::OxRxMemberImp(const OXCHAR* name, const OxRxValueType& type, const OxRxObject* owner,
                             OxRxMember* self)
    : ImpBaseWithSelf(self), mName(name), mpOwner(owner), mpType(&type)
{
}

OxRxMemberImp::~OxRxMemberImp()
{
    if (mpChildren != nullptr && mpChildren != noChildren()) {
        for (int i = 0; i < mpChildren->logicalLength(); ++i)
            OxRxMember::deleteMember((*mpChildren)[i]);
        delete mpChildren;
    }
    if (mpOverrules != nullptr) {
        for (int i = 0; i < mpOverrules->logicalLength(); ++i)
            delete (*mpOverrules)[i];
        delete mpOverrules;
    }
}

OxString OxRxMemberImp::localName() const
{
    OxString result;
    const auto* name =
        static_cast<const OxRxLocalizedNameAttribute*>(mAttributes.get(OxRxLocalizedNameAttribute::desc()));
    if (name != nullptr)
        (void)OxRxResourceLoader::loadString(mpSelf, name->id(), name->sourceHint(), result);
    return result;
}

Orka::ErrorStatus OxRxMemberImp::children(OxArray<const OxRxMember*>&) const
{
    return Orka::eNotImplementedYet;
}

Orka::ErrorStatus OxRxMemberImp::childrenEx(OxArray<const OxRxMember*>*& children) const
{
    children = nullptr;
    return Orka::eNotImplementedYet;
}

OxRxMember::OxRxMember(OxRxMemberImp* imp) noexcept : ApiPart(imp) {}

OxRxMember::~OxRxMember() = default;

OxString OxRxMember::subLocalName() const
{
    return mpImp->localName();
}

Orka::ErrorStatus OxRxMember::subChildren(OxArray<const OxRxMember*>& children) const
{
    return mpImp->children(children);
}

Orka::ErrorStatus OxRxMember::subChildrenEx(OxArray<const OxRxMember*>*& children) const
{
    return mpImp->childrenEx(children);
}

const OxArray<const OxRxMember*>* OxRxMember::children() const
{
    OxArray<const OxRxMember*>* cached = mpImp->mpChildren;
    if (cached != nullptr) [[likely]]
        return cached != OxRxMemberImp::noChildren() ? cached : nullptr;
    return computeChildren();
}

const OxArray<const OxRxMember*>* OxRxMember::computeChildren() const
{
    // A member that keeps its own array (childrenEx) is asked every time: that array is its
    // own to change, so it is not cached here.
    OxArray<const OxRxMember*> found;
    if (subChildren(found) == Orka::eNotImplementedYet) {
        OxArray<const OxRxMember*>* own = nullptr;
        if (subChildrenEx(own) == Orka::eOk)
            return own;
    }
    if (found.isEmpty()) {
        mpImp->mpChildren = OxRxMemberImp::noChildren();
        return nullptr;
    }
    auto* kept = new (std::nothrow) OxArray<const OxRxMember*>(found);
    if (kept == nullptr || kept->logicalLength() != found.logicalLength()) {
        // Out of memory: the children are dropped, not leaked, and asked for again next time.
        delete kept;
        for (int i = 0; i < found.logicalLength(); ++i)
            deleteMember(found[i]);
        return nullptr;
    }
    mpImp->mpChildren = kept;
    return kept;
}

void OxRxMember::deleteMember(const OxRxMember* member)
{
    if (member == nullptr)
        return;
    if (OxRxMemberQueryEngine* engine = OxRxMemberQueryEngine::theEngine()) {
        // The count is read again at each step: a reactor may unregister itself.
        const OxArray<OxRxMemberReactor*>& reactors = engine->imp()->mReactors;
        for (int i = 0; i < reactors.logicalLength(); ++i)
            reactors[i]->memberDeleted(member);
    }
    delete const_cast<OxRxMember*>(member);
}

void* OxRxMember::operator new(std::size_t size)
{
    if (void* block = __oxMalloc(size))
        return block;
    throw std::bad_alloc();
}

void* OxRxMember::operator new(std::size_t size, const char*, int)
{
    if (void* block = oxHeapAlloc(nullptr, size))
        return block;
    throw std::bad_alloc();
}

void OxRxMember::operator delete(void* block) noexcept
{
    oxHeapFree(nullptr, block);
}

void OxRxMember::operator delete(void* block, const char*, int) noexcept
{
    oxHeapFree(nullptr, block);
}

void* OxRxMember::operator new[](std::size_t size)
{
    return operator new(size);
}

void* OxRxMember::operator new[](std::size_t size, const char* file, int line)
{
    return operator new(size, file, line);
}

void OxRxMember::operator delete[](void* block) noexcept
{
    oxHeapFree(nullptr, block);
}

void OxRxMember::operator delete[](void* block, const char*, int) noexcept
{
    oxHeapFree(nullptr, block);
}

OxRxMemberCollectionImp::~OxRxMemberCollectionImp()
{
    delete[] mpNameIndex;
}

std::uint32_t OxRxMemberCollectionImp::hashName(const OXCHAR* name) noexcept
{
    std::uint32_t hash = 2166136261u; // FNV-1a over the UTF-16 units
    for (; name != nullptr && *name != 0; ++name)
        hash = (hash ^ static_cast<std::uint16_t>(*name)) * 16777619u;
    return hash;
}

namespace {

bool sameName(const OXCHAR* left, const OXCHAR* right) noexcept
{
    while (*left == *right && *left != 0)
        ++left, ++right;
    return *left == *right;
}

} // namespace

bool OxRxMemberCollectionImp::buildNameIndex() noexcept
{
    std::uint32_t slots = 4;
    while (slots < 2u * static_cast<std::uint32_t>(mMembers.logicalLength()))
        slots *= 2;
    auto* index = new (std::nothrow) std::uint64_t[slots]();
    if (index == nullptr)
        return false;
    delete[] mpNameIndex;
    mpNameIndex = index;
    mIndexMask = slots - 1;
    for (int i = 0; i < mMembers.logicalLength(); ++i) {
        const OXCHAR* name = mMembers[i]->name();
        const std::uint32_t hash = hashName(name);
        // A name met before keeps its first member, as the member iterators keep it.
        if (findByName(name, hash) != nullptr)
            continue;
        std::uint32_t slot = hash & mIndexMask;
        while (index[slot] != 0)
            slot = (slot + 1) & mIndexMask;
        index[slot] = (std::uint64_t{hash} << 32) | (static_cast<std::uint32_t>(i) + 1);
    }
    return true;
}

OxRxMember* OxRxMemberCollectionImp::findByName(const OXCHAR* name, std::uint32_t hash) const noexcept
{
    if (mpNameIndex == nullptr) [[unlikely]] {
        for (int i = 0; i < mMembers.logicalLength(); ++i)
            if (sameName(mMembers[i]->name(), name))
                return mMembers[i];
        return nullptr;
    }
    for (std::uint32_t slot = hash & mIndexMask; mpNameIndex[slot] != 0; slot = (slot + 1) & mIndexMask) {
        const std::uint64_t entry = mpNameIndex[slot];
        if (static_cast<std::uint32_t>(entry >> 32) != hash)
            continue;
        OxRxMember* member = mMembers[static_cast<int>(static_cast<std::uint32_t>(entry)) - 1];
        if (sameName(member->name(), name))
            return member;
    }
    return nullptr;
}

OxRxMemberCollection::OxRxMemberCollection(OxRxMemberCollectionImp* imp) noexcept : ApiPart(imp) {}

OxRxMemberCollection::~OxRxMemberCollection() = default;

int OxRxMemberCollection::count() const
{
    return mpImp->mMembers.logicalLength();
}

OxRxMember* OxRxMemberCollection::getAt(int index) const
{
    if (!mpImp->mMembers.isValid(index))
        throw std::out_of_range("OxRxMemberCollection::getAt: index out of range");
    return mpImp->mMembers[index];
}

Orka::ErrorStatus OxRxMemberCollectionBuilder::add(OxRxMember* member)
{
    if (member == nullptr)
        return Orka::eNullArgument;
    return mMembers.append(member) >= 0 ? Orka::eOk : Orka::eInvalidInput;
}

namespace oxreflect {

namespace {

// Deletes the members of a sequence that never became a collection.
class PendingMembers {
public:
    ~PendingMembers()
    {
        for (int i = 0; i < mMembers.logicalLength(); ++i)
            OxRxMember::deleteMember(mMembers[i]);
    }
    OxArray<OxRxMember*> mMembers;
};

} // namespace

OxRxMemberCollection* buildMemberCollection(OxRxClass* rxClass, OxRxClass::MemberBuilder builder,
                                            void* builderData)
{
    PendingMembers pending;
    OxRxMemberCollectionBuilder filler(pending.mMembers, rxClass);
    builder(filler, builderData);
    if (pending.mMembers.isEmpty())
        return nullptr;
    auto* members = new OxRxMemberCollection(new OxRxMemberCollectionImp());
    OxArray<OxRxMember*>& list = members->imp()->mMembers;
    list = pending.mMembers;
    if (list.logicalLength() != pending.mMembers.logicalLength()) {
        delete members;
        throw std::bad_alloc();
    }
    for (int i = 0; i < list.logicalLength(); ++i)
        list[i]->imp()->mpOwner = rxClass;
    pending.mMembers.removeAll(); // the collection holds them now
    members->imp()->buildNameIndex();
    return members;
}

void deleteMemberCollection(OxRxMemberCollection* members)
{
    const OxArray<OxRxMember*>& list = members->imp()->mMembers;
    for (int i = 0; i < list.logicalLength(); ++i)
        OxRxMember::deleteMember(list[i]);
    delete members;
}

} // namespace oxreflect
