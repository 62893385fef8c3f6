// rx/ImpClass.h
// The record behind every class object: names, parent and children, pseudo-constructor,
// registration data, the protocol-extension slots and the member builder. A class object and
// its record are created and destroyed together; the registry (ClassRegistry.cpp) fills the
// record, and the record's destructor unhooks the class from the hierarchy and the protocol
// tables, deletes the members and attributes, and clears the class pointers that still hold it.
#pragma once

#include <oxfirst/OxArray.h>
#include <oxfirst/OxHeap.h>
#include <oxfirst/OxRxClass.h>
#include <oxfirst/OxRxSet.h>

#include <cstdint>

class OxRxImpClass : public OxBaseClassWithNew {
public:
    /// Room for this many protocols per class before the slot array grows.
    static constexpr int kInitialProtocolSlots = 21;

    /// Copies every string; a null pseudo-constructor is replaced by one that makes nothing.
    /// Reports the class's creation to the performance event provider.
    OxRxImpClass(OxRxClass* owner, const OXCHAR* name, const OXCHAR* parentName, int firstVersion,
                 int secondVersion, int proxyFlags, OxRxClass::PseudoConstructor pseudoConstructor,
                 const OXCHAR* dxfName, const OXCHAR* appName, OxRxClass::AppNameCallback appNameCallback,
                 OxRxClass::MemberBuilder memberBuilder, void* memberBuilderData);
    OxRxImpClass(const OxRxImpClass&) = delete;
    OxRxImpClass& operator=(const OxRxImpClass&) = delete;
    /// Reports the end, unhooks the class (unless the type system is terminating), clears the
    /// class pointers that still hold it and frees what the record owns.
    virtual ~OxRxImpClass();
    /// True when `other` is a class object whose name equals this class's name.
    virtual bool isEqualTo(const OxRxObject* other) const;

    /// False when a copied string could not be allocated: the record is then unusable.
    bool isComplete() const noexcept { return mpName != nullptr; }

    OXCHAR* mpName = nullptr;       // owned; the key of the class in the class dictionary
    OXCHAR* mpParentName = nullptr; // owned; null once linked (or registered without parent)
    OxRxClass* mpParent = nullptr;  // null for a root and before linking
    OxRxSet* mpChildren = nullptr;  // direct children, not owned by the set; null until the first links
    OxRxClass::PseudoConstructor mpPseudoConstructor;
    OXCHAR* mpAppName = nullptr; // owned or null
    OXCHAR* mpDxfName = nullptr; // owned or null
    int mProxyFlags;
    int mFirstVersion;
    int mSecondVersion;
    int mProtocolIndex = -1; // this class's slot number when used as a protocol class
    OxArray<OxRxObject*> mProtocolSlots{kInitialProtocolSlots, 8}; // extension in effect, by protocol index
    OxRxClass::AppNameCallback mpAppNameCallback;
    OxRxMemberCollection* mpMembers = nullptr;       // owned; null until built, or when empty
    OxRxAttributeCollection* mpAttributes = nullptr; // owned; null until first asked for
    OxRxClass* mpOwner;
    // Run by the first members() and then cleared; stays set when it throws, so the next
    // members() tries again.
    OxRxClass::MemberBuilder mpMemberBuilder;
    void* mpMemberBuilderData;
    std::uint16_t mClassId = 0; // host-assigned; 0 = none
    // Every class pointer (a gpDesc or a host's) that registration or a lookup by name filled
    // with this class. The destructor clears those that still hold it, so no pointer outlives
    // the class object. A pointer that was given another class since is left alone.
    OxArray<OxRxClass**> mClassPointers{0, 2};
};

namespace oxrx {

/// What the reflection layer, which sits above this one, lends the class records: building and
/// deleting member collections, making and deleting attribute collections. Filled when the type
/// system starts, before the first class exists.
struct ReflectionHooks {
    /// The collection `builder` fills for `rxClass`, or null when it adds nothing; may throw.
    OxRxMemberCollection* (*buildMembers)(OxRxClass* rxClass, OxRxClass::MemberBuilder builder,
                                          void* builderData) = nullptr;
    /// Deletes every member of `members`, then the collection.
    void (*deleteMembers)(OxRxMemberCollection* members) = nullptr;
    /// A new empty collection; throws std::bad_alloc when memory ran out.
    OxRxAttributeCollection* (*newAttributes)() = nullptr;
    void (*deleteAttributes)(OxRxAttributeCollection* attributes) = nullptr;
    /// The member builder of the root class "OxRxObject".
    OxRxClass::MemberBuilder rootMembers = nullptr;
};
extern constinit ReflectionHooks gReflectionHooks;

/// The extension in effect for `rxClass` under protocol `index`; null beyond its slots.
OxRxObject* protocolSlot(const OxRxImpClass* rxClass, int index) noexcept;
/// Writes slot `index`, lengthening the slot array with nulls first. False when memory ran out.
bool setProtocolSlot(OxRxImpClass* rxClass, int index, OxRxObject* value) noexcept;
/// At `root` and through its whole subtree: a slot `index` that is null or holds `previous`
/// takes `value`.
void propagateProtocolSlot(OxRxClass* root, int index, OxRxObject* value, OxRxObject* previous) noexcept;
/// Makes every class whose slot `index` holds `extension` take the value of its nearest ancestor
/// that holds something else (null when none does), wherever in the class tree it stands.
void forgetExtension(int index, const OxRxObject* extension) noexcept;
/// Calls `visit` with every direct child of `rxClass` (null or without record included: the
/// caller decides what such a child means).
template <class Visit>
void forEachChild(const OxRxImpClass* rxClass, Visit&& visit)
{
    if (rxClass == nullptr || rxClass->mpChildren == nullptr)
        return;
    OxRxIterator* it = rxClass->mpChildren->makeIterator();
    for (; it != nullptr && !it->done(); it->next())
        visit(static_cast<OxRxClass*>(it->object()));
    delete it;
}
/// Gives the protocol index of a destroyed protocol class back: every class's slot at it is
/// cleared, and so is the table entry.
void releaseProtocolIndex(OxRxImpClass* protocolClass) noexcept;
/// The fatal report of getX and x: "Protocol Extension '%s' not found." with the protocol
/// class's name (empty for null).
void reportMissingExtension(const OxRxClass* protocolClass);
/// Stores `rxClass` in `*slot` and notes the slot in the class's record, whose destructor
/// clears it again. When the slot cannot be noted (out of memory) `*slot` becomes null instead:
/// desc() then looks the class up on every call, which is slow but never reads a freed class.
void fillClassPointer(OxRxClass** slot, OxRxClass* rxClass) noexcept;

} // namespace oxrx
