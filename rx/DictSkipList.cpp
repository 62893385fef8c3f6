// rx/DictSkipList.cpp
// The sorted key index. Heights come from a counter: with c the counter before an insertion,
// the new node's top level is the number of trailing 1-bits of c, so heights run 1, 2, 1, 3,
// 1, 2, 1, 4 ... and the list is balanced for keys in any order without a random source. A
// node taller than the list does not grow the list at once: a new, taller head takes over and
// the new entry gets the old head's block, so the head only ever grows by one allocation.

#include "rx/DictSkipList.h"

#include "rx/DictKeyText.h"

#include <bit>
#include <cstring>
#include <string>

namespace {

const OXCHAR kEmptyText[] = u"";

bool sameText(const OXCHAR* left, const OXCHAR* right) noexcept
{
    if (left == nullptr)
        left = kEmptyText;
    if (right == nullptr)
        right = kEmptyText;
    return std::char_traits<OXCHAR>::compare(left, right, std::char_traits<OXCHAR>::length(left) + 1) == 0;
}

} // namespace

DictSkipListNode* DictSkipList::allocateNode(std::uint32_t height, std::size_t textUnits) noexcept
{
    const std::size_t size =
        sizeof(DictSkipListNode) + height * sizeof(DictSkipListNode*) + textUnits * sizeof(OXCHAR);
    auto* node = static_cast<DictSkipListNode*>(OxHeapOperators::allocRawMem(size));
    if (node == nullptr)
        return nullptr;
    std::memset(static_cast<void*>(node), 0, size);
    node->height = height;
    return node;
}

void DictSkipList::freeNode(DictSkipListNode* node) noexcept
{
    OxHeapOperators::freeRawMem(node);
}

DictSkipList* DictSkipList::create()
{
    DictSkipListNode* head = allocateNode(1, 0);
    if (head == nullptr)
        return nullptr;
    DictSkipList* list = new DictSkipList(head);
    if (list == nullptr)
        freeNode(head);
    return list;
}

DictSkipList::~DictSkipList()
{
    DictSkipListNode* node = mpHead->links()[0];
    while (node != nullptr) {
        DictSkipListNode* following = node->links()[0];
        delete node->key;
        freeNode(node);
        node = following;
    }
    freeNode(mpHead);
}

// Walks from the head on the top level down. At each level the probe is compared with the
// next node: equal is found, less descends, greater steps forward, no next node descends. When
// a descent meets the node just compared, its result is reused rather than compared again.
DictSkipListNode* DictSkipList::search(const OXCHAR* text, DictSkipListNode** predecessors, bool toLevelZero,
                                       std::uint32_t* foundLevel, unsigned* comparisons) const noexcept
{
    // Node texts are never null (an empty key reads ""), so once the probe is not null either,
    // the plain comparison orders the empty text first just as the key comparison does.
    if (text == nullptr)
        text = kEmptyText;
    DictSkipListNode* at = mpHead;
    const DictSkipListNode* lastCompared = nullptr;
    int lastResult = 0;
    DictSkipListNode* found = nullptr;
    for (std::uint32_t level = mTopLevel + 1; level-- > 0;) {
        for (;;) {
            DictSkipListNode* next = at->links()[level];
            if (next == nullptr)
                break;
            if (next != lastCompared) {
                lastCompared = next;
                lastResult = oxtext::compareNoCase(text, next->text);
                if (comparisons != nullptr)
                    ++*comparisons;
            }
            if (lastResult == 0 && found == nullptr) {
                found = next;
                if (foundLevel != nullptr)
                    *foundLevel = level;
            }
            if (lastResult <= 0)
                break;
            at = next;
        }
        if (predecessors != nullptr)
            predecessors[level] = at;
        if (found != nullptr && !toLevelZero)
            return found;
    }
    return found;
}

const DictSkipListNode* DictSkipList::find(const OXCHAR* text) const noexcept
{
    return search(text, nullptr, false, nullptr);
}

unsigned DictSkipList::comparisonsToFind(const OXCHAR* text) const noexcept
{
    unsigned comparisons = 0;
    search(text, nullptr, false, nullptr, &comparisons);
    return comparisons;
}

const DictSkipListNode* DictSkipList::locate(const OXCHAR* text, Position* position) const noexcept
{
    return search(text, position->predecessors, false, nullptr);
}

DictSkipList::InsertResult DictSkipList::insert(OxRxTextString* key, unsigned id, unsigned* previousId)
{
    Position position;
    const OXCHAR* text = oxrx_dict::keyText(key);
    if (DictSkipListNode* existing = search(text, position.predecessors, false, nullptr)) {
        if (previousId != nullptr)
            *previousId = existing->id;
        existing->id = id;
        return InsertResult::kReplacedId;
    }
    return linkAt(key, id, &position);
}

DictSkipList::InsertResult DictSkipList::linkAt(OxRxTextString* key, unsigned id, Position* position)
{
    DictSkipListNode** predecessors = position->predecessors;
    const OXCHAR* text = oxrx_dict::keyText(key);
    // The one allocation comes first, so running out of memory changes nothing. The block has
    // room for a copy of the key's text behind its links: a search then reads each text from
    // the node it has already loaded instead of from the key's buffer elsewhere.
    const std::uint32_t level = static_cast<std::uint32_t>(std::countr_one(mLevelCounter));
    const std::size_t textUnits = text != nullptr ? std::char_traits<OXCHAR>::length(text) + 1 : 0;
    DictSkipListNode* block = allocateNode(level + 1, textUnits);
    if (block == nullptr)
        return InsertResult::kOutOfMemory;
    mLevelCounter = (mLevelCounter + 1u) & 0x7FFFFFFFu;
    ++mCount;

    DictSkipListNode* node = block;
    if (level > mTopLevel) {
        // The block becomes the head; the old head, one level taller than any node, carries
        // the new entry.
        DictSkipListNode* oldHead = mpHead;
        for (std::uint32_t l = 0; l <= mTopLevel; ++l) {
            block->links()[l] = oldHead->links()[l];
            if (predecessors[l] == oldHead)
                predecessors[l] = block;
        }
        mpHead = block;
        mTopLevel = level;
        node = oldHead;
    }
    node->id = id;
    node->key = key;
    node->text = text != nullptr ? text : kEmptyText;
    if (node == block && textUnits != 0) {
        // An old head taking the entry has no room for the text and keeps reading the key's.
        auto* copy = reinterpret_cast<OXCHAR*>(block->links() + block->height);
        std::memcpy(copy, text, textUnits * sizeof(OXCHAR));
        node->text = copy;
    }
    for (std::uint32_t l = 0; l < node->height; ++l) {
        node->links()[l] = predecessors[l]->links()[l];
        predecessors[l]->links()[l] = node;
    }
    return InsertResult::kLinked;
}

unsigned DictSkipList::remove(const OXCHAR* text)
{
    DictSkipListNode* predecessors[kMaxLevels];
    std::uint32_t foundLevel = 0;
    DictSkipListNode* node = search(text, predecessors, true, &foundLevel);
    if (node == nullptr)
        return 0;
    for (std::uint32_t l = 0; l <= foundLevel; ++l)
        predecessors[l]->links()[l] = node->links()[l];
    --mCount;
    const unsigned id = node->id;
    delete node->key;
    freeNode(node);
    return id;
}

bool DictSkipList::replaceEqualKey(const OXCHAR* oldText, OxRxTextString* newKey)
{
    DictSkipListNode* node = search(oldText, nullptr, false, nullptr);
    const OXCHAR* newText = oxrx_dict::keyText(newKey);
    if (node == nullptr || !oxrx_dict::keyTextsEqual(node->text, newText))
        return false;
    OxRxTextString* oldKey = node->key;
    node->key = newKey;
    node->text = newText != nullptr ? newText : kEmptyText;
    delete oldKey;
    return true;
}

bool DictSkipList::validate() const noexcept
{
    if (mpHead == nullptr || mpHead->height != mTopLevel + 1 || mTopLevel >= kMaxLevels ||
        mLevelCounter > 0x7FFFFFFFu)
        return false;
    int count = 0;
    for (const DictSkipListNode* node = mpHead->links()[0]; node != nullptr; node = node->links()[0]) {
        ++count;
        if (node->key == nullptr || node->height == 0 || node->height > mTopLevel + 1 ||
            !sameText(node->text, node->key->constText()))
            return false;
        const DictSkipListNode* next = node->links()[0];
        if (next != nullptr && oxrx_dict::compareKeyTexts(node->text, next->text) >= 0)
            return false;
    }
    if (count != mCount)
        return false;
    for (std::uint32_t level = 1; level <= mTopLevel; ++level) {
        // Every node of this level appears, in the same order, on the level below.
        const DictSkipListNode* below = mpHead->links()[level - 1];
        for (const DictSkipListNode* node = mpHead->links()[level]; node != nullptr;
             node = node->links()[level]) {
            if (node->height <= level)
                return false;
            while (below != nullptr && below != node)
                below = below->links()[level - 1];
            if (below == nullptr)
                return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// DictSkipListIterator

int DictSkipListIterator::done() const
{
    return mpNode == nullptr ? 1 : 0;
}

int DictSkipListIterator::next()
{
    if (mpNode != nullptr)
        mpNode = mpNode->links()[0];
    return mpNode != nullptr ? 1 : 0;
}

OxRxObject* DictSkipListIterator::object() const
{
    return nullptr;
}

const OXCHAR* DictSkipListIterator::key() const
{
    if (mpNode == nullptr)
        return nullptr;
    return mpNode->text != nullptr ? mpNode->text : kEmptyText;
}

unsigned DictSkipListIterator::id() const
{
    return mpNode != nullptr ? mpNode->id : 0u;
}
