// oxfirst/OxRxMember.h
// Members: the named, typed elements of a class that reflection sees (properties, methods, enum
// tags, categories), the member collection a class builds once through its member builder, and
// the member query engine, which merges the members of an object's classes into one list.
#pragma once

#include <oxfirst/OxArray.h>
#include <oxfirst/OxRxAttribute.h>
#include <oxfirst/OxRxClass.h>
#include <oxfirst/OxRxPimpl.h>
#include <oxfirst/OxString.h>

#include <cstddef>
#include <cstdint>

class OxRxMember;
class OxRxMemberOverrule;
class OxRxValue;
class OxRxValueType;

/// The state every member has. Members of the library's own classes use subclasses of it that
/// add virtual operations after these.
class OXFIRST_API OxRxMemberImp : public Pimpl::ImpBaseWithSelf<OxRxMember> {
public:
    /// A member named `name` (copied) of value type `type`, belonging to `owner` (may be null);
    /// no children computed, no overrules, no attributes.
    OxRxMemberImp(const OXCHAR* name, const OxRxValueType& type, const OxRxObject* owner, OxRxMember* self);
    /// Deletes the cached children (each through OxRxMember::deleteMember, in order), then the
    /// overrules still on the member, then the attributes.
    ~OxRxMemberImp() override;

    /// The localized name: the text that the responsible resource loader gives for the member's
    /// own localized-name attribute; empty without one or when nothing loads it.
    virtual OxString localName() const;
    /// Appends the member's children; the default adds nothing and answers eNotImplementedYet.
    virtual Orka::ErrorStatus children(OxArray<const OxRxMember*>& children) const;
    /// Points `children` at an array the member keeps itself; the default sets it to null and
    /// answers eNotImplementedYet.
    virtual Orka::ErrorStatus childrenEx(OxArray<const OxRxMember*>*& children) const;

    /// The value of a children cache that says "computed: no children".
    static OxArray<const OxRxMember*>* noChildren() noexcept
    {
        return reinterpret_cast<OxArray<const OxRxMember*>*>(~std::uintptr_t{0});
    }

    OxString mName;
    const OxRxObject* mpOwner; // the class once the member joins a class's collection
    OxRxAttributeCollection mAttributes;
    const OxRxValueType* mpType;
    // Null until children() is first asked; then an owned array or noChildren().
    OxArray<const OxRxMember*>* mpChildren = nullptr;
    // Null until the first member overrule; the array and the overrules in it are owned.
    OxArray<OxRxMemberOverrule*>* mpOverrules = nullptr;
};

/// The common base of members. Members are made with this class's operator new (on heap 0) and
/// destroyed with deleteMember.
class OXFIRST_API OxRxMember : public Pimpl::ApiPart<OxRxObject, OxRxMemberImp> {
    OX_RX_DECLARE_MEMBERS(OxRxMember)

    const OXCHAR* name() const noexcept { return mpImp->mName.kwszPtr(); }
    OxString localName() const { return subLocalName(); }
    const OxRxObject* owner() const noexcept { return mpImp->mpOwner; }
    const OxRxValueType& type() const noexcept { return *mpImp->mpType; }
    OxRxAttributeCollection& attributes() noexcept { return mpImp->mAttributes; }
    const OxRxAttributeCollection& attributes() const noexcept { return mpImp->mAttributes; }
    /// The child members, computed on the first call and kept: null when there are none. The
    /// array and the children in it belong to this member.
    const OxArray<const OxRxMember*>* children() const;

    /// Tells every registered member reactor, in registration order, that `member` goes away,
    /// then destroys it. Null does nothing.
    static void deleteMember(const OxRxMember* member);

    static void* operator new(std::size_t size);
    static void* operator new(std::size_t size, const char* file, int line);
    static void operator delete(void* block) noexcept;
    static void operator delete(void* block, const char* file, int line) noexcept;
    static void* operator new[](std::size_t size);
    static void* operator new[](std::size_t size, const char* file, int line);
    static void operator delete[](void* block) noexcept;
    static void operator delete[](void* block, const char* file, int line) noexcept;

protected:
    /// Takes ownership of `imp`, whose self is this member.
    explicit OxRxMember(OxRxMemberImp* imp) noexcept;
    ~OxRxMember() override;

    virtual OxString subLocalName() const;
    virtual Orka::ErrorStatus subChildren(OxArray<const OxRxMember*>& children) const;

private:
    virtual Orka::ErrorStatus subChildrenEx(OxArray<const OxRxMember*>*& children) const;
    const OxArray<const OxRxMember*>* computeChildren() const;
};

/// The members of one class in the order its builder added them, with an index by name that
/// the query engine's find reads.
class OXFIRST_API OxRxMemberCollectionImp : public Pimpl::ImpBase {
public:
    ~OxRxMemberCollectionImp() override;

    /// The hash of a member name that findByName expects; null counts as empty.
    static std::uint32_t hashName(const OXCHAR* name) noexcept;
    /// Indexes the members as they stand; false when memory ran out (findByName then scans).
    bool buildNameIndex() noexcept;
    /// The first member in collection order named exactly `name`, whose hashName is `hash`.
    OxRxMember* findByName(const OXCHAR* name, std::uint32_t hash) const noexcept;

    OxArray<OxRxMember*> mMembers;

private:
    // Open addressing over mIndexMask + 1 slots, at least twice the members. A slot holds the
    // name's hash in its high half and member index + 1 in its low half (0: empty), so a probe
    // passes over other names without reading their members. Null when not built.
    std::uint64_t* mpNameIndex = nullptr;
    std::uint32_t mIndexMask = 0;
};

/// A class's member collection. Its destructor frees the sequence, not the members: the class
/// deletes those first.
class OXFIRST_API OxRxMemberCollection : public Pimpl::ApiPart<void, OxRxMemberCollectionImp> {
public:
    /// Takes ownership of `imp`.
    explicit OxRxMemberCollection(OxRxMemberCollectionImp* imp) noexcept;
    ~OxRxMemberCollection() override;
    virtual int count() const;
    /// The member at `index`; throws std::out_of_range outside 0 to count() - 1.
    virtual OxRxMember* getAt(int index) const;
};

/// What a member builder fills: it exists while one class's collection is built.
class OXFIRST_API OxRxMemberCollectionBuilder {
public:
    OxRxMemberCollectionBuilder(OxArray<OxRxMember*>& members, const OxRxClass* owner) noexcept
        : mMembers(members), mpOwner(owner)
    {
    }
    /// Appends `member`, which the collection then owns. eNullArgument for null (nothing
    /// added); eInvalidInput when memory ran out.
    Orka::ErrorStatus add(OxRxMember* member);
    const OxRxClass* owner() const noexcept { return mpOwner; }

private:
    OxArray<OxRxMember*>& mMembers;
    const OxRxClass* mpOwner;
};

class OxRxMemberIteratorImp;
class OxRxMemberQueryContextImp;

/// Hears of members going away. Registered with the engine, not owned by it.
class OXFIRST_API OxRxMemberReactor {
public:
    virtual ~OxRxMemberReactor();
    /// Called just before `member` is destroyed.
    virtual void memberDeleted(const OxRxMember* member);
};

/// One object's merged members in member-name order, each name once. Holds pointers to the
/// members: it must not outlive them.
class OXFIRST_API OxRxMemberIterator : public Pimpl::ApiPart<void, OxRxMemberIteratorImp> {
public:
    /// Takes ownership of `imp`, whose position is at its first member.
    explicit OxRxMemberIterator(OxRxMemberIteratorImp* imp) noexcept;
    ~OxRxMemberIterator() override;
    /// True when the position is past the last member.
    virtual bool done() const;
    /// Moves one step; answers done().
    virtual bool next();
    /// The member at the position; only while done() is false.
    virtual OxRxMember* current() const;
    /// The member named exactly `name` (case-sensitive), or null; the position stays.
    virtual OxRxMember* find(const OXCHAR* name) const;

protected:
    /// For subclasses that override every operation: no implementation object.
    OxRxMemberIterator() noexcept = default;
};

/// How the engine merges the members of an object's classes.
class OXFIRST_API OxRxMemberQueryContext : public Pimpl::ApiPart<OxRxObject, OxRxMemberQueryContextImp> {
    OX_RX_DECLARE_MEMBERS(OxRxMemberQueryContext)
    /// A new iterator (owned by the caller) over the members of `classes` and their ancestors.
    OxRxMemberIterator* newMemberIterator(const OxArray<const OxRxClass*>& classes) const
    {
        return subNewMemberIterator(classes);
    }
    ~OxRxMemberQueryContext() override;

protected:
    OxRxMemberQueryContext();
    virtual OxRxMemberIterator* subNewMemberIterator(const OxArray<const OxRxClass*>& classes) const = 0;
};

/// The context that lists a promoted property's children in its place. Its class is not
/// registered by this library: desc() and isA() answer null until a module registers
/// "OxRxPromotingQueryContext".
class OXFIRST_API OxRxPromotingQueryContext : public OxRxMemberQueryContext {
    OX_RX_DECLARE_MEMBERS(OxRxPromotingQueryContext)
    ~OxRxPromotingQueryContext() override;

protected:
    OxRxPromotingQueryContext() = default;
};

/// Adds classes whose members an object shows besides those of its own class.
class OXFIRST_API OxRxFacetProvider : public OxRxObject {
    OX_RX_DECLARE_MEMBERS(OxRxFacetProvider)
    ~OxRxFacetProvider() override;
    /// May append classes to `classes` for `object`.
    virtual void getFacets(const OxRxObject* object, const OxRxMemberQueryContext* context,
                           OxArray<const OxRxClass*>& classes) const = 0;
};

class OxRxMemberQueryEngineImp;

/// Answers which members an object has: those of its class (or of the class itself when the
/// object is a class), of the classes facet providers add, and of all their ancestors; a member
/// of a derived class or of a facet hides a same-named one further up. One engine per process,
/// from the type system's start to its end. Keeps no cache: every query walks the classes again.
/// Not synchronised: providers and reactors are registered during start-up.
class OXFIRST_API OxRxMemberQueryEngine {
public:
    /// The engine; null outside the type system's life.
    static OxRxMemberQueryEngine* theEngine() noexcept { return gpEngine; }

    /// A new iterator over `object`'s members, owned by the caller; null for a null object. A
    /// null context is the default context.
    OxRxMemberIterator* newMemberIterator(const OxRxObject* object,
                                          const OxRxMemberQueryContext* context = nullptr) const;
    /// The member of `object` named exactly `name` under `context`, or null (also for a null
    /// object). Answers as newMemberIterator(...)->find(name) would.
    OxRxMember* find(const OxRxObject* object, const OXCHAR* name,
                     const OxRxMemberQueryContext* context = nullptr) const;
    /// The engine's contexts, made on first request and kept until the engine ends.
    const OxRxMemberQueryContext* defaultContext();
    const OxRxPromotingQueryContext* promotingContext();
    /// Appends `provider` (not owned; no duplicate check). eInvalidInput for null.
    Orka::ErrorStatus addFacetProvider(OxRxFacetProvider* provider);
    /// Removes the first occurrence if any. eInvalidInput for null, else eOk.
    Orka::ErrorStatus removeFacetProvider(OxRxFacetProvider* provider);
    /// Appends `reactor` (not owned) unless null or registered already.
    void addReactor(OxRxMemberReactor* reactor);
    /// Removes `reactor`; null and unregistered reactors are ignored.
    void removeReactor(OxRxMemberReactor* reactor);

    /// Made and ended by the type system.
    OxRxMemberQueryEngine();
    ~OxRxMemberQueryEngine();
    OxRxMemberQueryEngine(const OxRxMemberQueryEngine&) = delete;
    OxRxMemberQueryEngine& operator=(const OxRxMemberQueryEngine&) = delete;

    OxRxMemberQueryEngineImp* imp() const noexcept { return mpImp; }

private:
    friend class OxRxMemberQueryEngineImp;
    static OxRxMemberQueryEngine* gpEngine;
    OxRxMemberQueryEngineImp* mpImp;
};

/// The protocol extension that turns resource ids into text. A module attaches a loader to a
/// class (OxRxClass::addX under OxRxResourceLoader::desc()); loadString finds the one
/// responsible for an object.
class OXFIRST_API OxRxResourceLoader : public OxRxObject {
    OX_RX_DECLARE_MEMBERS(OxRxResourceLoader)
    /// Asks the loader responsible for `object` for the text of `id`: the first member on the
    /// owner chain that has a loader, else the class ending the chain (its own extension) or the
    /// non-member object there. eNotFound, result untouched, when none is responsible.
    static Orka::ErrorStatus loadString(const OxRxObject* object, unsigned int id, unsigned int sourceHint,
                                        OxString& result);

protected:
    /// Loads the text of `id` (with `sourceHint` as the loader reads it) into `result`.
    virtual Orka::ErrorStatus subLoadString(unsigned int id, unsigned int sourceHint, OxString& result) = 0;
};

/// A named group in a tree under which members are filed. Its owner is its parent category (null
/// for a root) and its children() are its child categories, which it owns: deleting a category
/// deletes them, in order. A category does not take itself out of its parent when deleted:
/// removeChild comes first.
class OXFIRST_API OxRxCategory : public OxRxMember {
    OX_RX_DECLARE_MEMBERS(OxRxCategory)
    /// A category named `name` (copied), appended to `parent`'s children unless listed there.
    OxRxCategory(const OXCHAR* name, OxRxCategory* parent);
    ~OxRxCategory() override;

    /// The root of the library's tree, "OxRxCategoryRoot", made on first call and never deleted.
    static OxRxCategory* rootCategory();
    /// The direct child named exactly `name`, else the first match of each child's own search
    /// in child order; null for a null name or none.
    OxRxCategory* findDescendant(const OXCHAR* name) const;
    /// Takes the first occurrence of `child` out, without deleting it, and clears its owner:
    /// it becomes the caller's. eNotFound when it is not a child.
    Orka::ErrorStatus removeChild(OxRxCategory* child);
};

/// The number a category keeps for older callers (0 at creation). eNullArgument for null.
OXFIRST_API Orka::ErrorStatus oxdbGetLegacyCategoryId(const OxRxCategory* category, int& id);
OXFIRST_API Orka::ErrorStatus oxdbSetLegacyCategoryId(OxRxCategory* category, int id);

/// One named value of an enumeration type; IOxRxEnumeration hands the tags out and
/// OxRxValue::getEnumTag finds the tag of a value. Its owner is the enumeration's value type once
/// the module building the enumeration sets it (oxdbImpSetOwnerForEnumTag).
class OXFIRST_API OxRxEnumTag : public OxRxMember {
    OX_RX_DECLARE_MEMBERS(OxRxEnumTag)
    /// A tag named `name` (copied) of `value`'s type, holding a copy of `value`; no owner.
    OxRxEnumTag(const OXCHAR* name, const OxRxValue& value);
    ~OxRxEnumTag() override;
    const OxRxValue& value() const noexcept;
    /// The localized name, else the segment for this tag of the owner type's alternate name lists.
    OxString alternateLocalName() const { return subAlternateLocalName(); }

protected:
    virtual OxString subAlternateLocalName() const;
};

/// Sets the owner of `tag` to the value type `owner` without checking what `owner` is; a null
/// tag is ignored.
OXFIRST_API void oxdbImpSetOwnerForEnumTag(const OxRxClass* owner, OxRxEnumTag* tag);
