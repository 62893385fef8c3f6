// oxfirst/OxRxSet.h
// The small containers of the class system: a doubly linked list of object pointers with its
// bidirectional iterator, the unordered set built on it, and the typed set that may own its
// elements. OxRxIterator is the iterator interface they share with the dictionaries.
#pragma once

#include <oxfirst/OxHeap.h>
#include <oxfirst/OxRxObject.h>

/// The common iterator interface.
class OXFIRST_API OxRxIterator : public OxRxObject {
    OX_RX_DECLARE_MEMBERS(OxRxIterator)

    /// Nonzero when no element is current.
    virtual int done() const = 0;
    /// Steps once; nonzero while an element is current after the step.
    virtual int next() = 0;
    /// The current element, or null when done.
    virtual OxRxObject* object() const = 0;
};

class OxRxGenLinkedList;
struct OxRxGenLinkedListNode;

/// Iterator of OxRxGenLinkedList. A value type: copies share the list and stand on the same node.
class OXFIRST_API OxRxGenLinkedListIterator : public OxRxIterator {
    OX_RX_DECLARE_MEMBERS(OxRxGenLinkedListIterator)

    /// No list, no node, direction 1 (towards the end): done at once.
    OxRxGenLinkedListIterator() noexcept = default;
    /// Starts at the first node when `direction` is nonzero, at the last node otherwise.
    OxRxGenLinkedListIterator(const OxRxGenLinkedList* list, int direction) noexcept;
    OxRxGenLinkedListIterator(const OxRxGenLinkedListIterator&) noexcept = default;
    OxRxGenLinkedListIterator& operator=(const OxRxGenLinkedListIterator&) noexcept = default;

    int done() const override;
    /// Moves to the next node (direction nonzero) or the previous one.
    int next() override;
    OxRxObject* object() const override;
    /// True when `other` is a list iterator standing on the same node (two done iterators are
    /// equal).
    int isEqualTo(const OxRxObject* other) const override;

private:
    friend class OxRxGenLinkedList;
    OxRxGenLinkedListNode* mpNode = nullptr; // null = done
    const OxRxGenLinkedList* mpList = nullptr;
    int mDirection = 1; // nonzero = towards the end
};

/// A doubly linked list of object pointers (null pointers are stored like any other). It does
/// not own its objects; its nodes come from the library heap.
class OXFIRST_API OxRxGenLinkedList : public OxRxObject {
    OX_RX_DECLARE_MEMBERS(OxRxGenLinkedList)

    OxRxGenLinkedList() noexcept = default;
    OxRxGenLinkedList(const OxRxGenLinkedList&) = delete;
    OxRxGenLinkedList& operator=(const OxRxGenLinkedList&) = delete;
    /// Frees every node; the objects are untouched.
    ~OxRxGenLinkedList() override;

    void addNewFirstEntry(OxRxObject* object);
    void addNewLastEntry(OxRxObject* object);
    /// The first object, or null when the list is empty.
    OxRxObject* getFirstEntry() const noexcept;
    /// Removes the node the iterator stands on after stepping the iterator once in its own
    /// direction. Returns 0 for a null or done iterator, or one of another list.
    int removeAtIterator(OxRxGenLinkedListIterator* iterator);
    /// An iterator at the first node (direction nonzero) or the last node.
    OxRxGenLinkedListIterator resetIterator(int direction) const noexcept;
    int count() const noexcept { return mCount; }

    /// True when `other` is a list with the same object pointers in the same order.
    int isEqualTo(const OxRxObject* other) const override;

private:
    friend class OxRxGenLinkedListIterator;
    OxRxGenLinkedListNode* mpFirst = nullptr;
    OxRxGenLinkedListNode* mpLast = nullptr;
    int mCount = 0;
};

/// An unordered collection of object pointers without duplicates (by the probe's isEqualTo).
class OXFIRST_API OxRxSet : public OxRxObject {
    OX_RX_DECLARE_MEMBERS(OxRxSet)

    /// Adds `object` unless it is null or already contained.
    virtual void add(OxRxObject* object) = 0;
    /// Removes the first element that `object` isEqualTo.
    virtual void remove(OxRxObject* object) = 0;
    virtual void clear() = 0;
    virtual int contains(OxRxObject* object) const = 0;
    virtual int count() const = 0;
    /// Keeps only the elements that `other` contains; a null `other` clears the set.
    virtual void retain(OxRxSet* other) = 0;
    /// Adds every element of `other`.
    virtual void addAll(OxRxSet* other) = 0;
    /// A new heap iterator over the elements in insertion order; delete it when done.
    virtual OxRxIterator* makeIterator() const = 0;
    /// The same iterator built in `storage`, which must hold kOxRxSetIteratorStorage bytes
    /// aligned for a pointer. Destroy it with its destructor, not delete.
    virtual OxRxIterator* placeIterator(void* storage) const = 0;
    /// Adds `object` at the end without the duplicate test; null is ignored.
    virtual void append(OxRxObject* object) = 0;
    /// Removes the element `iterator` stands on and moves the iterator to the following one.
    /// An iterator that is not one of this set's changes nothing.
    virtual void removeAt(OxRxIterator* iterator) = 0;

    /// Removes the first element that is this very pointer. The element is only unlinked, never
    /// deleted, even by a set that owns its elements: ownership goes back to the caller.
    void removeByPointer(const OxRxObject* object);

protected:
    virtual void subRemoveByPointer(const OxRxObject* object) = 0;
};

/// The set behind newOxRxSet: a linked list in insertion order.
class OXFIRST_API OxRxImpSet : public OxRxSet, public OxBaseClassWithNew {
    OX_RX_DECLARE_MEMBERS(OxRxImpSet)

    using OxBaseClassWithNew::operator new;
    using OxBaseClassWithNew::operator delete;

    OxRxImpSet() noexcept = default;
    ~OxRxImpSet() override;

    void add(OxRxObject* object) override;
    void remove(OxRxObject* object) override;
    void clear() override;
    int contains(OxRxObject* object) const override;
    int count() const override;
    void retain(OxRxSet* other) override;
    void addAll(OxRxSet* other) override;
    OxRxIterator* makeIterator() const override;
    OxRxIterator* placeIterator(void* storage) const override;
    void append(OxRxObject* object) override;
    void removeAt(OxRxIterator* iterator) override;

    /// A new OxRxImpSet holding the same elements in the same order.
    OxRxObject* clone() const override;
    /// True when `other` is an OxRxImpSet (or derived) with the same count that contains every
    /// element of this set.
    int isEqualTo(const OxRxObject* other) const override;

protected:
    void subRemoveByPointer(const OxRxObject* object) override;
    /// Unlinks the element `iterator` stands on, moves the iterator to the following one and
    /// returns the element; null (and nothing changed) for an iterator that is done or is not an
    /// OxRxImpSetIterator over this set.
    OxRxObject* unlinkAt(OxRxIterator* iterator);

    OxRxGenLinkedList mList;
};

/// Iterator of OxRxImpSet; delegates to a forward list iterator.
class OXFIRST_API OxRxImpSetIterator : public OxRxIterator {
    OX_RX_DECLARE_MEMBERS(OxRxImpSetIterator)

    explicit OxRxImpSetIterator(const OxRxGenLinkedList* list) noexcept : mIterator(list, 1) {}

    int done() const override;
    int next() override;
    OxRxObject* object() const override;
    /// True when `other` is a set iterator standing on the same node.
    int isEqualTo(const OxRxObject* other) const override;

private:
    friend class OxRxImpSet;
    OxRxGenLinkedListIterator mIterator;
};

/// Bytes of caller storage that OxRxSet::placeIterator needs.
inline constexpr std::size_t kOxRxSetIteratorStorage = sizeof(OxRxImpSetIterator);

/// A set restricted to objects of one element class (or derived), which may own its elements.
/// Its class "OxRxGenTypedSet" is not registered by the library: isA() answers null unless the
/// host registers a class of that name.
class OXFIRST_API OxRxGenTypedSet : public OxRxImpSet {
    OX_RX_DECLARE_MEMBERS(OxRxGenTypedSet)

    OxRxGenTypedSet(int ownsElements, const OxRxClass* elementClass) noexcept
        : mOwnsElements(ownsElements), mpElementClass(elementClass)
    {
    }
    /// Deletes every element when owning.
    ~OxRxGenTypedSet() override;

    /// Ignores objects that accepts() rejects, and in an owning set a pointer it already holds.
    void add(OxRxObject* object) override;
    /// As add, but without the isEqualTo test.
    void append(OxRxObject* object) override;
    /// Unlinks the element and then deletes it when owning.
    void removeAt(OxRxIterator* iterator) override;
    /// Adds the elements of `other` when it is an OxRxImpSet (or derived). An owning set takes
    /// clone()s of the elements of another owning typed set (skipping those it contains), so the
    /// two never share an element; otherwise the elements themselves.
    void addAll(OxRxSet* other) override;
    /// True when `object` is of the element class or a class derived from it.
    virtual int accepts(OxRxObject* object) const;

    /// A typed set with the same ownership and element class holding the elements, or their
    /// clone()s when owning.
    OxRxObject* clone() const override;
    /// True when `other` is a typed set with the same ownership and element class, and equal as
    /// an OxRxImpSet.
    int isEqualTo(const OxRxObject* other) const override;

    int ownsElements() const noexcept { return mOwnsElements; }
    const OxRxClass* elementClass() const noexcept { return mpElementClass; }

private:
    int mOwnsElements;
    const OxRxClass* mpElementClass;
};

/// An empty OxRxImpSet from the library heap.
OXFIRST_API OxRxSet* newOxRxSet();
/// An OxRxGenTypedSet whose element class is the class of OxRxObject.
OXFIRST_API OxRxSet* newRxOpaqueSet(int ownsElements);
/// An OxRxGenTypedSet of `elementClass`.
OXFIRST_API OxRxSet* newRxTypedOpaqueSet(int ownsElements, const OxRxClass* elementClass);
/// An empty list.
OXFIRST_API OxRxGenLinkedList* newOxRxGenLinkedList();
