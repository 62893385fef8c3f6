// rx/DictSkipList.h
// The key index of a sorted dictionary: a skip list over the keys whose node heights come from
// a counter, not from a random source, so the same insertions always build the same list.
// Nodes own their keys; the dictionary's DictArray slot of the same id points at that key too.
#pragma once

#include <oxfirst/OxRxDictionary.h>
#include <oxfirst/OxRxTextString.h>

#include <cstdint>

/// One node, allocated from the library heap in one block with its links (links() follows the
/// node). The head has no key and id 0.
struct DictSkipListNode {
    unsigned id;
    std::uint32_t height; // number of links: levels 0 .. height-1
    OxRxTextString* key;  // owned; null in the head
    const OXCHAR* text;   // the key's text: a copy behind the links, or key->constText() in a
                          // node that was once the head; a stored key's text never changes
    DictSkipListNode** links() noexcept { return reinterpret_cast<DictSkipListNode**>(this + 1); }
    DictSkipListNode* const* links() const noexcept
    {
        return reinterpret_cast<DictSkipListNode* const*>(this + 1);
    }
};

/// Where a key not in a list goes: its predecessor on every level. Valid until the list changes.
struct DictSkipListPosition {
    DictSkipListNode* predecessors[32];
};

class DictSkipList : public OxBaseClassWithNew {
public:
    static constexpr std::uint32_t kMaxLevels = 32;
    static_assert(sizeof(DictSkipListPosition) == kMaxLevels * sizeof(DictSkipListNode*));

    /// An empty list with a head of one level; null when memory runs out.
    static DictSkipList* create();
    /// Deletes every node with its key, in level-0 order, then the head.
    ~DictSkipList();
    DictSkipList(const DictSkipList&) = delete;
    DictSkipList& operator=(const DictSkipList&) = delete;

    /// The node whose key equals `text` (ignoring ASCII letter case; null = empty), or null.
    const DictSkipListNode* find(const OXCHAR* text) const noexcept;
    unsigned findId(const OXCHAR* text) const noexcept
    {
        const DictSkipListNode* node = find(text);
        return node != nullptr ? node->id : 0u;
    }

    enum class InsertResult { kLinked, kReplacedId, kOutOfMemory };
    using Position = DictSkipListPosition;
    /// The node whose key equals `text`, or null with `*position` filled for linkAt.
    const DictSkipListNode* locate(const OXCHAR* text, Position* position) const noexcept;
    /// Links `key` (not null, equal to the text given to locate) under `id` at `position`;
    /// the list then owns the key. kOutOfMemory changes nothing.
    InsertResult linkAt(OxRxTextString* key, unsigned id, Position* position);
    /// Links `key` (not null) under `id`; the list then owns the key. When an equal key is
    /// present, that node takes `id` instead, the previous id is written to `*previousId` and
    /// `key` stays the caller's. kOutOfMemory changes nothing, not even the level counter.
    InsertResult insert(OxRxTextString* key, unsigned id, unsigned* previousId = nullptr);
    /// Unlinks the node of `text`, deletes it and its key, and returns its id; 0 when absent.
    unsigned remove(const OXCHAR* text);
    /// Gives the node of the key `oldText` the key `newKey`, which must compare equal to it (a
    /// change of letter case only): the node keeps its place and id. Deletes the old key. False,
    /// with nothing changed, when there is no such node or the keys differ.
    bool replaceEqualKey(const OXCHAR* oldText, OxRxTextString* newKey);

    const DictSkipListNode* first() const noexcept { return mpHead->links()[0]; }
    int count() const noexcept { return mCount; }
    /// The index of the highest level of the head (the list's top level).
    std::uint32_t topLevel() const noexcept { return mTopLevel; }

    // Observation for tests and checked builds.
    /// True when the list is well formed: level 0 strictly ascending with mCount nodes, every
    /// higher level a sub-sequence of the one below made of nodes tall enough for it, no node
    /// taller than the head, every cached text equal to the key's text.
    bool validate() const noexcept;
    std::uint32_t levelCounter() const noexcept { return mLevelCounter; }
    void setLevelCounter(std::uint32_t counter) noexcept { mLevelCounter = counter & 0x7FFFFFFFu; }
    /// The key comparisons a find of `text` makes (the list keeps no counter: lookups may run
    /// on several threads at once).
    unsigned comparisonsToFind(const OXCHAR* text) const noexcept;

private:
    explicit DictSkipList(DictSkipListNode* head) noexcept : mpHead(head) {}
    /// A zeroed block for a node of `height` links followed by `textUnits` units of text.
    static DictSkipListNode* allocateNode(std::uint32_t height, std::size_t textUnits) noexcept;
    static void freeNode(DictSkipListNode* node) noexcept;
    /// Searches for `text`; fills `predecessors[level]` for levels top .. the level reached.
    /// Stops at the first level that finds the key unless `toLevelZero`. Returns the node found
    /// and the level where it was found first.
    /// `comparisons`, when not null, counts the key comparisons made.
    DictSkipListNode* search(const OXCHAR* text, DictSkipListNode** predecessors, bool toLevelZero,
                             std::uint32_t* foundLevel, unsigned* comparisons = nullptr) const noexcept;

    std::uint32_t mTopLevel = 0;     // mpHead->height == mTopLevel + 1
    int mCount = 0;                  // nodes besides the head
    std::uint32_t mLevelCounter = 0; // kept below 2^31
    DictSkipListNode* mpHead;
};

/// Walks a skip list's level 0: ascending key order. Gives keys and ids; object() is always null
/// (the owner looks the object up by id).
class DictSkipListIterator : public OxRxDictionaryIterator, public OxBaseClassWithNew {
public:
    using OxBaseClassWithNew::operator new;
    using OxBaseClassWithNew::operator delete;

    explicit DictSkipListIterator(const DictSkipList* list) noexcept : mpNode(list->first()) {}

    int done() const override;
    int next() override;
    OxRxObject* object() const override;
    /// The key's text; an empty key reads as "".
    const OXCHAR* key() const override;
    unsigned id() const override;

private:
    const DictSkipListNode* mpNode; // null when done
};
