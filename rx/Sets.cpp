// rx/Sets.cpp
// The set interface, the list-backed set with its iterator, and the typed set that may own its
// elements. Every set keeps its elements in an OxRxGenLinkedList (LinkedList.cpp) in insertion
// order; membership is the probe's isEqualTo, so every search is a walk from the front.
//
// The sets recognise their own kinds (their iterators, other sets, typed sets) by C++ type, not
// through the class registry: the typed set's class is not registered by the library, so a
// registry test would never recognise it, and sets must work before the type system starts and
// while it shuts down (the registry's own children sets are torn down then).

#include <oxfirst/OxRxSet.h>

#include <new>

namespace {

OxRxObject* makeImpSet()
{
    return new OxRxImpSet();
}

// Calls `visit` with each element of `set` in the set's own order, through an iterator built on
// the stack.
template <class Visit>
void forEachElement(const OxRxSet& set, Visit visit)
{
    alignas(OxRxImpSetIterator) unsigned char storage[kOxRxSetIteratorStorage];
    OxRxIterator* iterator = set.placeIterator(storage);
    if (iterator == nullptr)
        return;
    for (; !iterator->done(); iterator->next())
        visit(iterator->object());
    iterator->~OxRxIterator();
}

// Hands `copy`, a fresh clone, to an owning set. When the set does not take it (a class it does
// not accept, an equal element already there, no memory for the node), nobody else holds it, so
// it is deleted here.
void adoptCopy(OxRxSet& set, OxRxObject* copy)
{
    if (copy == nullptr)
        return;
    const int before = set.count();
    set.add(copy);
    if (set.count() == before)
        delete copy;
}

bool holdsPointer(const OxRxGenLinkedList& list, const OxRxObject* object)
{
    for (OxRxGenLinkedListIterator it = list.resetIterator(1); !it.done(); it.next()) {
        if (it.object() == object)
            return true;
    }
    return false;
}

} // namespace

OX_RX_DEFINE_MEMBERS(OxRxSet, u"OxRxSet", u"OxRxObject", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxImpSet, u"OxRxImpSet", u"OxRxSet", makeImpSet)
OX_RX_DEFINE_MEMBERS(OxRxImpSetIterator, u"OxRxImpSetIterator", u"OxRxIterator", nullptr)
// Defined like every other class, but the library never runs this rxInit: the class stays
// unregistered unless the host registers a class of this name.
OX_RX_DEFINE_MEMBERS(OxRxGenTypedSet, u"OxRxGenTypedSet", u"OxRxImpSet", nullptr)

void OxRxSet::removeByPointer(const OxRxObject* object)
{
    subRemoveByPointer(object);
}

// ---------------------------------------------------------------------------------------------
// OxRxImpSetIterator

int OxRxImpSetIterator::done() const
{
    return mIterator.done();
}

int OxRxImpSetIterator::next()
{
    return mIterator.next();
}

OxRxObject* OxRxImpSetIterator::object() const
{
    return mIterator.object();
}

int OxRxImpSetIterator::isEqualTo(const OxRxObject* other) const
{
    const auto* that = dynamic_cast<const OxRxImpSetIterator*>(other);
    return that != nullptr && mIterator.isEqualTo(&that->mIterator);
}

// ---------------------------------------------------------------------------------------------
// OxRxImpSet

OxRxImpSet::~OxRxImpSet() = default;

void OxRxImpSet::add(OxRxObject* object)
{
    if (object == nullptr || contains(object))
        return;
    mList.addNewLastEntry(object);
}

// Removal goes through the virtual removeAt, so an owning set deletes what it gives up.
void OxRxImpSet::remove(OxRxObject* object)
{
    if (object == nullptr)
        return;
    OxRxImpSetIterator it(&mList);
    for (; !it.done(); it.next()) {
        if (object->isEqualTo(it.object())) {
            removeAt(&it);
            return;
        }
    }
}

// Each round takes a fresh iterator at the front, so an element whose destruction (in an owning
// set) removes other elements cannot leave the loop on a freed node.
void OxRxImpSet::clear()
{
    while (mList.count() > 0) {
        OxRxImpSetIterator front(&mList);
        const int before = mList.count();
        removeAt(&front);
        if (mList.count() == before)
            return; // an override of removeAt that removes nothing must not hang the loop
    }
}

int OxRxImpSet::contains(OxRxObject* object) const
{
    if (object == nullptr)
        return 0;
    for (OxRxGenLinkedListIterator it = mList.resetIterator(1); !it.done(); it.next()) {
        if (object->isEqualTo(it.object()))
            return 1;
    }
    return 0;
}

int OxRxImpSet::count() const
{
    return mList.count();
}

// removeAt leaves the iterator on the element after the removed one, which is the next to test.
void OxRxImpSet::retain(OxRxSet* other)
{
    if (other == nullptr) {
        clear();
        return;
    }
    if (other == this)
        return;
    OxRxImpSetIterator it(&mList);
    while (!it.done()) {
        if (other->contains(it.object()))
            it.next();
        else
            removeAt(&it);
    }
}

// Adding a set to itself changes nothing; returning early also keeps an element whose
// isEqualTo never answers true from being appended behind the walk forever.
void OxRxImpSet::addAll(OxRxSet* other)
{
    if (other == nullptr || other == this)
        return;
    forEachElement(*other, [this](OxRxObject* element) { add(element); });
}

OxRxIterator* OxRxImpSet::makeIterator() const
{
    return new (std::nothrow) OxRxImpSetIterator(&mList);
}

OxRxIterator* OxRxImpSet::placeIterator(void* storage) const
{
    if (storage == nullptr)
        return nullptr;
    return new (storage) OxRxImpSetIterator(&mList);
}

void OxRxImpSet::append(OxRxObject* object)
{
    if (object == nullptr)
        return;
    mList.addNewLastEntry(object);
}

void OxRxImpSet::removeAt(OxRxIterator* iterator)
{
    unlinkAt(iterator);
}

// Only an OxRxImpSetIterator can name a node, and removeAtIterator refuses one that walks
// another list: a foreign iterator changes nothing.
OxRxObject* OxRxImpSet::unlinkAt(OxRxIterator* iterator)
{
    auto* setIterator = dynamic_cast<OxRxImpSetIterator*>(iterator);
    if (setIterator == nullptr)
        return nullptr;
    OxRxObject* object = setIterator->mIterator.object();
    return mList.removeAtIterator(&setIterator->mIterator) != 0 ? object : nullptr;
}

OxRxObject* OxRxImpSet::clone() const
{
    auto* copy = new OxRxImpSet();
    if (copy == nullptr)
        return nullptr;
    for (OxRxGenLinkedListIterator it = mList.resetIterator(1); !it.done(); it.next())
        copy->add(it.object());
    return copy;
}

int OxRxImpSet::isEqualTo(const OxRxObject* other) const
{
    const auto* that = dynamic_cast<const OxRxImpSet*>(other);
    if (that == nullptr || that->count() != count())
        return 0;
    for (OxRxGenLinkedListIterator it = mList.resetIterator(1); !it.done(); it.next()) {
        if (!that->contains(it.object()))
            return 0;
    }
    return 1;
}

void OxRxImpSet::subRemoveByPointer(const OxRxObject* object)
{
    for (OxRxGenLinkedListIterator it = mList.resetIterator(1); !it.done(); it.next()) {
        if (it.object() == object) {
            mList.removeAtIterator(&it);
            return;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// OxRxGenTypedSet

// Elements are unlinked before they are deleted, one at a time from the front: an element whose
// destructor calls removeByPointer on this set finds itself gone and changes nothing.
OxRxGenTypedSet::~OxRxGenTypedSet()
{
    if (mOwnsElements == 0)
        return;
    while (mList.count() > 0) {
        OxRxImpSetIterator front(&mList);
        delete unlinkAt(&front);
    }
}

// An owning set never holds one pointer twice, whatever the element's isEqualTo says: it would
// delete it twice.
void OxRxGenTypedSet::add(OxRxObject* object)
{
    if (!accepts(object) || (mOwnsElements != 0 && holdsPointer(mList, object)))
        return;
    OxRxImpSet::add(object);
}

void OxRxGenTypedSet::append(OxRxObject* object)
{
    if (!accepts(object) || (mOwnsElements != 0 && holdsPointer(mList, object)))
        return;
    OxRxImpSet::append(object);
}

// Unlinked first, then deleted (see the destructor).
void OxRxGenTypedSet::removeAt(OxRxIterator* iterator)
{
    OxRxObject* removed = unlinkAt(iterator);
    if (mOwnsElements != 0)
        delete removed;
}

// Two owning sets never share an element: one that comes from an owning typed set is copied.
void OxRxGenTypedSet::addAll(OxRxSet* other)
{
    const auto* source = dynamic_cast<const OxRxImpSet*>(other);
    if (source == nullptr || source == this)
        return;
    const auto* typedSource = dynamic_cast<const OxRxGenTypedSet*>(source);
    const bool copyEach = mOwnsElements != 0 && typedSource != nullptr && typedSource->mOwnsElements != 0;
    forEachElement(*source, [this, copyEach](OxRxObject* element) {
        if (!copyEach)
            add(element);
        else if (!contains(element))
            adoptCopy(*this, element->clone());
    });
}

int OxRxGenTypedSet::accepts(OxRxObject* object) const
{
    return oxrxIsKindOf(object, mpElementClass);
}

OxRxObject* OxRxGenTypedSet::clone() const
{
    OxRxSet* copy = newRxTypedOpaqueSet(mOwnsElements, mpElementClass);
    if (copy == nullptr)
        return nullptr;
    for (OxRxGenLinkedListIterator it = mList.resetIterator(1); !it.done(); it.next()) {
        if (mOwnsElements != 0)
            adoptCopy(*copy, it.object()->clone());
        else
            copy->add(it.object());
    }
    return copy;
}

int OxRxGenTypedSet::isEqualTo(const OxRxObject* other) const
{
    const auto* that = dynamic_cast<const OxRxGenTypedSet*>(other);
    if (that == nullptr || (that->mOwnsElements != 0) != (mOwnsElements != 0) ||
        that->mpElementClass != mpElementClass)
        return 0;
    return OxRxImpSet::isEqualTo(other);
}

// ---------------------------------------------------------------------------------------------
// Factories: sets from the library heap (the classes' own operator new), null when it refuses.

OxRxSet* newOxRxSet()
{
    return new OxRxImpSet();
}

OxRxSet* newRxOpaqueSet(int ownsElements)
{
    return new OxRxGenTypedSet(ownsElements, OxRxObject::desc());
}

OxRxSet* newRxTypedOpaqueSet(int ownsElements, const OxRxClass* elementClass)
{
    return new OxRxGenTypedSet(ownsElements, elementClass);
}
