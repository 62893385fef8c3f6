// rx/LinkedList.cpp
// The doubly linked list of object pointers under every set, its bidirectional iterator, and the
// class members of the iterator interface they share with the sets and dictionaries. The list
// never owns its objects; its nodes come from the library heap.

#include <oxfirst/OxRxSet.h>

#include <new>

// One link. next/previous are null at the ends of the list.
struct OxRxGenLinkedListNode : public OxBaseClassWithNew {
    OxRxGenLinkedListNode(OxRxObject* object, OxRxGenLinkedListNode* previous,
                          OxRxGenLinkedListNode* next) noexcept
        : mpNext(next), mpPrevious(previous), mpObject(object)
    {
    }

    OxRxGenLinkedListNode* mpNext;
    OxRxGenLinkedListNode* mpPrevious;
    OxRxObject* mpObject;
};

namespace {

OxRxObject* makeLinkedList()
{
    return new (std::nothrow) OxRxGenLinkedList();
}

OxRxObject* makeLinkedListIterator()
{
    return new (std::nothrow) OxRxGenLinkedListIterator();
}

} // namespace

OX_RX_DEFINE_MEMBERS(OxRxIterator, u"OxRxIterator", u"OxRxObject", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxGenLinkedList, u"OxRxGenLinkedList", u"OxRxObject", makeLinkedList)
OX_RX_DEFINE_MEMBERS(OxRxGenLinkedListIterator, u"OxRxGenLinkedListIterator", u"OxRxIterator",
                     makeLinkedListIterator)

// ---------------------------------------------------------------------------------------------
// Iterator

OxRxGenLinkedListIterator::OxRxGenLinkedListIterator(const OxRxGenLinkedList* list, int direction) noexcept
    : mpList(list), mDirection(direction)
{
    if (list != nullptr)
        mpNode = direction != 0 ? list->mpFirst : list->mpLast;
}

int OxRxGenLinkedListIterator::done() const
{
    return mpNode == nullptr;
}

int OxRxGenLinkedListIterator::next()
{
    if (mpNode == nullptr)
        return 0;
    mpNode = mDirection != 0 ? mpNode->mpNext : mpNode->mpPrevious;
    return mpNode != nullptr;
}

OxRxObject* OxRxGenLinkedListIterator::object() const
{
    return mpNode != nullptr ? mpNode->mpObject : nullptr;
}

// Iterators recognise each other by their C++ type rather than through the class registry, so
// that the answer is the same before the type system starts and while it shuts down.
int OxRxGenLinkedListIterator::isEqualTo(const OxRxObject* other) const
{
    const auto* that = dynamic_cast<const OxRxGenLinkedListIterator*>(other);
    return that != nullptr && that->mpNode == mpNode;
}

// ---------------------------------------------------------------------------------------------
// List

OxRxGenLinkedList::~OxRxGenLinkedList()
{
    while (OxRxGenLinkedListNode* node = mpFirst) {
        mpFirst = node->mpNext;
        delete node;
    }
    mpLast = nullptr;
    mCount = 0;
}

// A node that cannot be allocated leaves the list unchanged; callers that must know (an owning
// set handing over a clone) compare count() before and after.
void OxRxGenLinkedList::addNewFirstEntry(OxRxObject* object)
{
    auto* node = new OxRxGenLinkedListNode(object, nullptr, mpFirst);
    if (node == nullptr)
        return;
    if (mpFirst != nullptr)
        mpFirst->mpPrevious = node;
    else
        mpLast = node;
    mpFirst = node;
    ++mCount;
}

void OxRxGenLinkedList::addNewLastEntry(OxRxObject* object)
{
    auto* node = new OxRxGenLinkedListNode(object, mpLast, nullptr);
    if (node == nullptr)
        return;
    if (mpLast != nullptr)
        mpLast->mpNext = node;
    else
        mpFirst = node;
    mpLast = node;
    ++mCount;
}

OxRxObject* OxRxGenLinkedList::getFirstEntry() const noexcept
{
    return mpFirst != nullptr ? mpFirst->mpObject : nullptr;
}

// The list test keeps an iterator of another list from unlinking a node of that list while
// fixing up this list's ends and count. An iterator whose node was removed by another path is
// not detected: iterators must not outlive their node.
int OxRxGenLinkedList::removeAtIterator(OxRxGenLinkedListIterator* iterator)
{
    if (iterator == nullptr || iterator->mpNode == nullptr || iterator->mpList != this)
        return 0;
    OxRxGenLinkedListNode* node = iterator->mpNode;
    iterator->next();

    if (node->mpPrevious != nullptr)
        node->mpPrevious->mpNext = node->mpNext;
    else
        mpFirst = node->mpNext;
    if (node->mpNext != nullptr)
        node->mpNext->mpPrevious = node->mpPrevious;
    else
        mpLast = node->mpPrevious;
    --mCount;
    delete node;
    return 1;
}

OxRxGenLinkedListIterator OxRxGenLinkedList::resetIterator(int direction) const noexcept
{
    return OxRxGenLinkedListIterator(this, direction);
}

int OxRxGenLinkedList::isEqualTo(const OxRxObject* other) const
{
    const auto* that = dynamic_cast<const OxRxGenLinkedList*>(other);
    if (that == nullptr || that->mCount != mCount)
        return 0;
    const OxRxGenLinkedListNode* mine = mpFirst;
    const OxRxGenLinkedListNode* theirs = that->mpFirst;
    for (; mine != nullptr && theirs != nullptr; mine = mine->mpNext, theirs = theirs->mpNext) {
        if (mine->mpObject != theirs->mpObject)
            return 0;
    }
    return mine == nullptr && theirs == nullptr;
}

OxRxGenLinkedList* newOxRxGenLinkedList()
{
    return new (std::nothrow) OxRxGenLinkedList();
}
