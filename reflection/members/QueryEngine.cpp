// reflection/members/QueryEngine.cpp
// The member query engine: which classes contribute members to an object (its class or the
// class itself, the facet providers' classes, their ancestors), the two contexts that merge
// them, the member iterators, the boxed-value facet provider and the reactors.

#include <oxfirst/OxRxProperty.h>

#include "reflection/members/QueryEngineImp.h"

OX_RX_DEFINE_MEMBERS(OxRxMemberQueryContext, u"OxRxMemberQueryContext", u"OxRxObject", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxPromotingQueryContext, u"OxRxPromotingQueryContext", u"OxRxMemberQueryContext",
                     nullptr)
OX_RX_DEFINE_MEMBERS(OxRxFacetProvider, u"OxRxFacetProvider", u"OxRxObject", nullptr)

constinit OxRxMemberQueryEngine* OxRxMemberQueryEngine::gpEngine = nullptr;

// ---------------------------------------------------------------------------------------------
// Member-name order and the iterators' maps.

namespace oxreflect {

int compareMemberNames(const OXCHAR* left, const OXCHAR* right) noexcept
{
    left = left != nullptr ? left : u"";
    right = right != nullptr ? right : u"";
    for (;; ++left, ++right) {
        if (*left != *right)
            return static_cast<std::uint16_t>(*left) < static_cast<std::uint16_t>(*right) ? -1 : 1;
        if (*left == 0)
            return 0;
    }
}

} // namespace oxreflect

OxRxMemberIteratorImp::~OxRxMemberIteratorImp() = default;

int OxRxMemberIteratorImp::lowerBound(const OXCHAR* name, bool& found) const noexcept
{
    int low = 0;
    int high = mSorted.logicalLength();
    while (low < high) {
        const int middle = (low + high) / 2;
        if (oxreflect::compareMemberNames(mSorted[middle].name, name) < 0)
            low = middle + 1;
        else
            high = middle;
    }
    found = low < mSorted.logicalLength() && oxreflect::compareMemberNames(mSorted[low].name, name) == 0;
    return low;
}

void OxRxMemberIteratorImp::enter(const OxRxMember* member)
{
    bool found = false;
    const OXCHAR* name = member->name();
    const int index = lowerBound(name, found);
    if (!found)
        mSorted.insertAt(index, Entry{name, member});
}

void OxRxMemberIteratorImp::add(const OxRxMember* member)
{
    enter(member);
}

const OxRxMember* OxRxMemberIteratorImp::find(const OXCHAR* name) const noexcept
{
    bool found = false;
    const int index = lowerBound(name, found);
    return found ? mSorted[index].member : nullptr;
}

OxRxPromotingPropertyIteratorImp::~OxRxPromotingPropertyIteratorImp() = default;

void OxRxPromotingPropertyIteratorImp::add(const OxRxMember* member)
{
    // A sub-property's one child is the property it stands for, not a promoted part.
    if (OxRxProperty::cast(member) != nullptr && OxRxSubProperty::cast(member) == nullptr) {
        if (const OxArray<const OxRxMember*>* children = member->children()) {
            for (int i = 0; i < children->logicalLength(); ++i)
                add((*children)[i]);
            if (member->attributes().get(OxRxDisplayAsAttribute::desc()) == nullptr)
                return;
        }
    }
    enter(member);
}

OxRxMemberIterator::OxRxMemberIterator(OxRxMemberIteratorImp* imp) noexcept : ApiPart(imp) {}
OxRxMemberIterator::~OxRxMemberIterator() = default;

bool OxRxMemberIterator::done() const
{
    return mpImp->mPosition >= mpImp->mSorted.logicalLength();
}

bool OxRxMemberIterator::next()
{
    if (mpImp->mPosition < mpImp->mSorted.logicalLength())
        ++mpImp->mPosition;
    return done();
}

OxRxMember* OxRxMemberIterator::current() const
{
    return done() ? nullptr : const_cast<OxRxMember*>(mpImp->mSorted[mpImp->mPosition].member);
}

OxRxMember* OxRxMemberIterator::find(const OXCHAR* name) const
{
    return const_cast<OxRxMember*>(mpImp->find(name));
}

// ---------------------------------------------------------------------------------------------
// The walk over the classes.

namespace {

// Calls `visit` with each member of `classes` and their ancestors in the engine's order: the
// list from its last entry to its first, each entry up to its root, each class once. Stops
// early, answering true, when `visit` answers true. The collections are read through their
// sequence (the library makes every collection); its length is read again at each step.
template <class Visit>
bool walkMembers(const OxArray<const OxRxClass*>& classes, Visit&& visit)
{
    // One entry (no facets) cannot meet a class twice: a parent chain has no cycles. Only
    // then is the visited list needed, and only then does it allocate.
    const bool single = classes.logicalLength() == 1;
    OxArray<const OxRxClass*> visited;
    for (int entry = classes.logicalLength(); entry-- > 0;) {
        for (const OxRxClass* rxClass = classes[entry]; rxClass != nullptr; rxClass = rxClass->myParent()) {
            if (!single) {
                if (visited.contains(rxClass))
                    continue; // its members are in already; its parents may not be
                visited.append(rxClass);
            }
            const OxRxMemberCollection* members = rxClass->members();
            if (members == nullptr)
                continue;
            const OxArray<OxRxMember*>& list = members->imp()->mMembers;
            for (int i = 0; i < list.logicalLength(); ++i)
                if (visit(list[i]))
                    return true;
        }
    }
    return false;
}

// The class list of one query. Each thread keeps one list for its queries, so a query does not
// allocate; a query made while another runs on the thread (from a facet provider or a member
// builder) uses a list of its own.
class ClassList {
public:
    ClassList() noexcept
    {
        if (!tBusy) {
            tBusy = true;
            mpList = &tList;
            mpList->removeAll();
        }
    }
    ~ClassList()
    {
        if (mpList == &tList)
            tBusy = false;
    }
    ClassList(const ClassList&) = delete;
    ClassList& operator=(const ClassList&) = delete;
    OxArray<const OxRxClass*>& list() noexcept { return *mpList; }

private:
    static thread_local OxArray<const OxRxClass*> tList;
    static thread_local bool tBusy;
    OxArray<const OxRxClass*> mOwn;
    OxArray<const OxRxClass*>* mpList = &mOwn;
};

thread_local OxArray<const OxRxClass*> ClassList::tList;
thread_local bool ClassList::tBusy = false;

} // namespace

namespace oxreflect {

void fillMemberIterator(OxRxMemberIteratorImp& iterator, const OxArray<const OxRxClass*>& classes)
{
    // Room for every member at once rather than growing step by step while the map fills.
    int total = 0;
    walkMembers(classes, [&](const OxRxMember*) { return ++total, false; });
    if (total > iterator.mSorted.physicalLength())
        iterator.mSorted.setPhysicalLength(total);
    walkMembers(classes, [&](const OxRxMember* member) {
        iterator.add(member);
        return false;
    });
    iterator.rewind();
}

} // namespace oxreflect

// ---------------------------------------------------------------------------------------------
// Contexts.

OxRxMemberQueryContextImp::~OxRxMemberQueryContextImp() = default;

OxRxMemberQueryContext::OxRxMemberQueryContext() : ApiPart(new OxRxMemberQueryContextImp(this)) {}
OxRxMemberQueryContext::~OxRxMemberQueryContext() = default;
OxRxPromotingQueryContext::~OxRxPromotingQueryContext() = default;

namespace {

template <class IteratorImp>
OxRxMemberIterator* newFilledIterator(const OxArray<const OxRxClass*>& classes)
{
    auto* imp = new IteratorImp();
    auto* iterator = new OxRxMemberIterator(imp);
    oxreflect::fillMemberIterator(*imp, classes);
    return iterator;
}

class DefaultContext final : public OxRxMemberQueryContext {
protected:
    OxRxMemberIterator* subNewMemberIterator(const OxArray<const OxRxClass*>& classes) const override
    {
        return newFilledIterator<OxRxMemberIteratorImp>(classes);
    }
};

class PromotingContext final : public OxRxPromotingQueryContext {
protected:
    OxRxMemberIterator* subNewMemberIterator(const OxArray<const OxRxClass*>& classes) const override
    {
        return newFilledIterator<OxRxPromotingPropertyIteratorImp>(classes);
    }
};

// Adds the value type of a boxed value, so the members its type defines are the box's members.
class BoxedValueFacetProvider final : public OxRxFacetProvider {
    OX_RX_DECLARE_MEMBERS(BoxedValueFacetProvider)
    void getFacets(const OxRxObject* object, const OxRxMemberQueryContext*,
                   OxArray<const OxRxClass*>& classes) const override
    {
        if (const OxRxValue* value = OxRxValue::unbox(object))
            classes.append(&value->type());
    }
};

BoxedValueFacetProvider gBoxedValueFacetProvider;

} // namespace

OX_RX_DEFINE_MEMBERS(BoxedValueFacetProvider, u"BoxedValueFacetProvider", u"OxRxFacetProvider", nullptr)

OxRxFacetProvider::~OxRxFacetProvider() = default;

OxRxMemberReactor::~OxRxMemberReactor() = default;
void OxRxMemberReactor::memberDeleted(const OxRxMember*) {}

// ---------------------------------------------------------------------------------------------
// The engine.

OxRxMemberQueryEngine::OxRxMemberQueryEngine() : mpImp(new OxRxMemberQueryEngineImp()) {}

OxRxMemberQueryEngine::~OxRxMemberQueryEngine()
{
    delete mpImp->mpDefaultContext;
    delete mpImp->mpPromotingContext;
    delete mpImp;
}

namespace {

// The first member named `name` (hashed `hash`) of `rxClass` or, failing that, of its nearest
// ancestor that has one.
OxRxMember* findInChain(const OxRxClass* rxClass, const OXCHAR* name, std::uint32_t hash)
{
    for (; rxClass != nullptr; rxClass = rxClass->myParent())
        if (const OxRxMemberCollection* members = rxClass->members())
            if (OxRxMember* member = members->imp()->findByName(name, hash))
                return member;
    return nullptr;
}

// The classes whose members `object` shows: its own (the class itself for a class object),
// then what each provider adds. The provider count is read again at each step.
void collectClasses(const OxRxMemberQueryEngineImp& engine, const OxRxObject* object,
                    const OxRxMemberQueryContext* context, OxArray<const OxRxClass*>& classes)
{
    const OxRxClass* asClass = OxRxClass::cast(object);
    classes.append(asClass != nullptr ? asClass : object->isA());
    for (int i = 0; i < engine.mFacetProviders.logicalLength(); ++i)
        engine.mFacetProviders[i]->getFacets(object, context, classes);
}

} // namespace

OxRxMemberIterator* OxRxMemberQueryEngine::newMemberIterator(const OxRxObject* object,
                                                             const OxRxMemberQueryContext* context) const
{
    if (object == nullptr)
        return nullptr;
    if (context == nullptr)
        context = const_cast<OxRxMemberQueryEngine*>(this)->defaultContext();
    ClassList classes;
    collectClasses(*mpImp, object, context, classes.list());
    return context->newMemberIterator(classes.list());
}

OxRxMember* OxRxMemberQueryEngine::find(const OxRxObject* object, const OXCHAR* name,
                                        const OxRxMemberQueryContext* context) const
{
    if (object == nullptr)
        return nullptr;
    if (context != nullptr && context != mpImp->mpDefaultContext) {
        OxRxMemberIterator* iterator = newMemberIterator(object, context);
        OxRxMember* member = iterator != nullptr ? iterator->find(name) : nullptr;
        delete iterator;
        return member;
    }
    // The default context keeps the first member met under a name in the walk order, so the
    // first one met with this name is the answer: no map needs building. Meeting a class again
    // cannot change that answer, so no visited list is kept either.
    if (name == nullptr)
        name = u"";
    const std::uint32_t hash = OxRxMemberCollectionImp::hashName(name); // once for every collection
    const OxArray<OxRxFacetProvider*>& providers = mpImp->mFacetProviders;
    if (providers.logicalLength() == 1 && providers[0] == &gBoxedValueFacetProvider) [[likely]] {
        // Only the library's provider: what it would add is known after one walk up the
        // object's class, without a class list.
        const OxRxClass* classClass = OxRxClass::desc();
        const OxRxClass* boxClass = OxRxBoxedValue::desc();
        const OxRxClass* own = object->isA();
        const OxRxClass* boxedValueType = nullptr;
        for (const OxRxClass* rxClass = own; rxClass != nullptr; rxClass = rxClass->myParent()) {
            if (rxClass == classClass) {
                own = static_cast<const OxRxClass*>(object);
                break;
            }
            if (rxClass == boxClass) {
                const OxRxValue* value = static_cast<const OxRxBoxedValue*>(object)->value();
                boxedValueType = value != nullptr ? &value->type() : nullptr;
                break;
            }
        }
        if (OxRxMember* member = findInChain(boxedValueType, name, hash))
            return member;
        return findInChain(own, name, hash);
    }
    ClassList classes;
    collectClasses(*mpImp, object, context != nullptr ? context : mpImp->mpDefaultContext, classes.list());
    const OxArray<const OxRxClass*>& list = classes.list();
    for (int entry = list.logicalLength(); entry-- > 0;)
        if (OxRxMember* member = findInChain(list[entry], name, hash))
            return member;
    return nullptr;
}

const OxRxMemberQueryContext* OxRxMemberQueryEngine::defaultContext()
{
    if (mpImp->mpDefaultContext == nullptr)
        mpImp->mpDefaultContext = new DefaultContext();
    return mpImp->mpDefaultContext;
}

const OxRxPromotingQueryContext* OxRxMemberQueryEngine::promotingContext()
{
    if (mpImp->mpPromotingContext == nullptr)
        mpImp->mpPromotingContext = new PromotingContext();
    return mpImp->mpPromotingContext;
}

Orka::ErrorStatus OxRxMemberQueryEngine::addFacetProvider(OxRxFacetProvider* provider)
{
    if (provider == nullptr)
        return Orka::eInvalidInput;
    return mpImp->mFacetProviders.append(provider) >= 0 ? Orka::eOk : Orka::eInvalidInput;
}

Orka::ErrorStatus OxRxMemberQueryEngine::removeFacetProvider(OxRxFacetProvider* provider)
{
    if (provider == nullptr)
        return Orka::eInvalidInput;
    mpImp->mFacetProviders.removeAt(mpImp->mFacetProviders.find(provider));
    return Orka::eOk;
}

void OxRxMemberQueryEngine::addReactor(OxRxMemberReactor* reactor)
{
    if (reactor != nullptr && !mpImp->mReactors.contains(reactor))
        mpImp->mReactors.append(reactor);
}

void OxRxMemberQueryEngine::removeReactor(OxRxMemberReactor* reactor)
{
    mpImp->mReactors.removeAt(mpImp->mReactors.find(reactor));
}

namespace oxreflect {

void startMemberQueryEngine()
{
    OxRxMemberQueryEngineImp::start(&gBoxedValueFacetProvider);
}

void endMemberQueryEngine()
{
    OxRxMemberQueryEngineImp::end();
}

void registerBoxedValueFacetProvider()
{
    BoxedValueFacetProvider::rxInit();
}

} // namespace oxreflect

void OxRxMemberQueryEngineImp::start(OxRxFacetProvider* firstProvider)
{
    if (OxRxMemberQueryEngine::gpEngine != nullptr)
        return;
    OxRxMemberQueryEngine::gpEngine = new OxRxMemberQueryEngine();
    OxRxMemberQueryEngine::gpEngine->addFacetProvider(firstProvider);
}

void OxRxMemberQueryEngineImp::end()
{
    delete OxRxMemberQueryEngine::gpEngine;
    OxRxMemberQueryEngine::gpEngine = nullptr;
}
