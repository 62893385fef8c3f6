// oxfirst/OxRxClass.h
// Class objects, class ids, protocol extensions and the class registry: registration, linking
// to parents, deletion, and the start and end of the type system.
#pragma once

#include <oxfirst/OxRxObject.h>

class OxRxImpClass;
class OxRxSet;
class OxRxDictionary;
class OxRxMemberCollection;
class OxRxMemberCollectionBuilder;
class OxRxAttributeCollection;

/// One object per registered class. It holds only its record; the class dictionary owns it.
/// Class objects compare by name (comparedTo) and by identity (isEqualTo).
class OXFIRST_API OxRxClass : public OxRxObject {
    OX_RX_DECLARE_MEMBERS(OxRxClass)

    using PseudoConstructor = OxRxObject* (*)();
    using AppNameCallback = void (*)(const OxRxClass*, OXCHAR*&, int);
    using MemberBuilder = void (*)(OxRxMemberCollectionBuilder&, void*);

    /// A class object without record; the registry gives it one. Value types derive from this.
    OxRxClass() = default;
    OxRxClass(const OxRxClass&) = delete;
    OxRxClass& operator=(const OxRxClass&) = delete;
    /// Deletes the record, which unhooks the class from the hierarchy and the protocol tables.
    ~OxRxClass() override;

    /// The registered name; empty text for a class without record.
    const OXCHAR* name() const noexcept;
    /// The parent class: null before linking and for a root.
    OxRxClass* myParent() const noexcept;
    /// True when `other` is this class or one of its ancestors (compares class-object pointers).
    bool isDerivedFrom(const OxRxClass* other) const noexcept;
    /// The exchange name given at registration, or null.
    const OXCHAR* dxfName() const noexcept;
    /// The app name given at registration, or null.
    const OXCHAR* appName() const noexcept;
    AppNameCallback appNameCallbackPtr() const noexcept;
    int proxyFlags() const noexcept;
    /// Writes the two version numbers given at registration (0 and 0 without them).
    void getClassVersion(int& first, int& second) const noexcept;
    /// A new default object made by the pseudo-constructor, or null when the class has none.
    OxRxObject* create() const;
    /// The member collection, owned by the class. The first call runs the member builder given
    /// at registration and clears it; null when there is none or it added no member. A builder
    /// that throws stays set, and the exception passes on.
    OxRxMemberCollection* members() const;
    /// The class's attributes, owned by the class (made on first use). For a class without
    /// record, one collection that all such classes share.
    OxRxAttributeCollection& attributes();
    const OxRxAttributeCollection& attributes() const;
    /// The direct children (not owned by the set), or null while no child has been linked.
    const OxRxSet* descendants() const noexcept;

    /// Attaches `extension` to this class under `protocolClass` and, where they inherit, to its
    /// descendants. Returns the extension in effect for this class before. A null extension
    /// detaches (as delX); a null protocol class changes nothing and answers null.
    OxRxObject* addX(OxRxClass* protocolClass, OxRxObject* extension);
    /// Detaches this class's own extension so that it inherits its parent's again; returns the
    /// extension that was in effect before.
    OxRxObject* delX(OxRxClass* protocolClass);
    /// The extension in effect for this class, or null (also for a null protocol class or one
    /// never used as a protocol class).
    OxRxObject* queryX(const OxRxClass* protocolClass) const;
    /// As queryX; a missing extension is the fatal report "Protocol Extension '%s' not found.".
    OxRxObject* getX(const OxRxClass* protocolClass) const;

    /// Compares names by UTF-16 code unit. A `other` that is not a class object, or a class
    /// without record on either side, answers kOrderNone.
    OxRx::Ordering comparedTo(const OxRxObject* other) const override;

    /// The record; null for a class object the registry has not filled. For the library.
    OxRxImpClass* imp() const noexcept { return mpImp; }
    void setImp(OxRxImpClass* imp) noexcept { mpImp = imp; }

protected:
    /// Registers this class object, which a subclass supplies, under `name` with the parent
    /// `parentName` (null: none) and the member builder, then links it to its parent at once.
    /// The class dictionary owns it from then on and deletes it, so it must be made with new.
    /// Registration answers as newOxRxClass does: a name registered before is a fatal report and
    /// this object takes the old one's place. When registration fails (the type system is not
    /// running, a sealed parent, no memory) the object stays without record and unowned. The
    /// new-class callback sees the object before the subclass's constructor has run.
    OxRxClass(const OXCHAR* name, const OXCHAR* parentName, MemberBuilder memberBuilder,
              void* memberBuilderData);

private:
    OxRxImpClass* mpImp = nullptr;
};
static_assert(sizeof(OxRxClass) == 2 * sizeof(void*), "a class object is its table and its record");

/// The host-assigned id of a class: 0 for a null class, a class without record, or none set.
OXFIRST_API unsigned short oxrxGetClassId(const OxRxClass* rxClass) noexcept;
/// Stores `id` only when the class has a record whose id is still 0: the first id set stays.
/// A class with a nonzero id is never deleted by deleteOxRxClass.
OXFIRST_API void oxrxSetClassId(OxRxClass* rxClass, unsigned short id) noexcept;

/// Creates the system registry and the class dictionary and registers the library's classes.
/// A second call while the type system runs does nothing.
OXFIRST_API void oxrxInitTypeSystem();
/// Deletes every class object, the class dictionary and the system registry. Does nothing when
/// the type system is not running.
OXFIRST_API void oxrxTerminateTypeSystem();
/// Links every registered class that is not yet linked to its parent, in ascending name order.
OXFIRST_API void oxrxBuildClassHierarchy();
/// The system registry (it holds the class dictionary under "ClassDictionary"); null before
/// oxrxInitTypeSystem and after oxrxTerminateTypeSystem.
OXFIRST_API OxRxDictionary* oxrxSysRegistry() noexcept;

/// Registers a class. Strings are copied; the parent name, exchange name, app name and
/// pseudo-constructor may be null. The class is not linked to its parent until
/// oxrxBuildClassHierarchy. Returns null for a sealed parent name (a fatal report, nothing
/// allocated), when the type system is not running, or when memory runs out. A name already
/// registered is a fatal report; the new class replaces the old one, which is unlinked from the
/// hierarchy and deleted.
OXFIRST_API OxRxClass* newOxRxClass(const OXCHAR* name, const OXCHAR* parentName, int proxyFlags,
                                    OxRxClass::PseudoConstructor pseudoConstructor, const OXCHAR* dxfName,
                                    const OXCHAR* appName);
OXFIRST_API OxRxClass* newOxRxClass(const OXCHAR* name, const OXCHAR* parentName, int firstVersion,
                                    int secondVersion, int proxyFlags,
                                    OxRxClass::PseudoConstructor pseudoConstructor, const OXCHAR* dxfName,
                                    const OXCHAR* appName, OxRxClass::AppNameCallback appNameCallback);
OXFIRST_API OxRxClass* newOxRxClass(const OXCHAR* name, const OXCHAR* parentName, int firstVersion,
                                    int secondVersion, int proxyFlags,
                                    OxRxClass::PseudoConstructor pseudoConstructor, const OXCHAR* dxfName,
                                    const OXCHAR* appName, OxRxClass::AppNameCallback appNameCallback,
                                    OxRxClass::MemberBuilder memberBuilder, void* memberBuilderData);
/// Unregisters and deletes `rxClass`. Nothing happens for a null class, a class with a nonzero
/// class id, or when the delete-class callback answers false. Children of a deleted class lose
/// their parent and become roots.
OXFIRST_API void deleteOxRxClass(OxRxClass* rxClass);
