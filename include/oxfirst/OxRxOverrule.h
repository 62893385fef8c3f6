// oxfirst/OxRxOverrule.h
// Overrules: objects that intercept an operation for the objects of a class and of every class
// derived from it. Each family of overrulable operations is a class derived from OxRxOverrule;
// this library defines OxRxQueryXOverrule, which intercepts OxRxObject::queryX. For every class
// the overrules of one family form an ordered list, kept in the class's protocol-extension slot
// under the family class: a derived class shares its parent's list until an overrule is added
// at the derived class itself.
//
// Changing overrules must not run while another thread dispatches. An overrule object remembers
// where the call that passes through it stands in its chain, so one overrule object serves one
// dispatching thread at a time; nested dispatches on that thread are fine.
#pragma once

#include <oxfirst/OxArray.h>
#include <oxfirst/OxRxClass.h>

class OxRxOverrule;

namespace oxrx {
// The queryX dispatch of an object through the overrules of its class (the library's own).
OxRxObject* dispatchQueryX(const OxRxObject* object, const OxRxClass* family, const OxRxClass* protocolClass);
} // namespace oxrx

/// Where a dispatch stands in a chain of overrules: the object dispatched (null when its class
/// has no list), the position in the list and the list's end, and whether the first step is
/// still to come.
class OXFIRST_API OxRxOverruleIteratorBase {
public:
    const OxRxObject* mpObject = nullptr;
    OxRxOverrule* const* mpPosition = nullptr;
    OxRxOverrule* const* mpEnd = nullptr;
    int mFirst = 1;
};

/// A dispatcher's walk over the overrules of one family that apply to one object. Lives on the
/// dispatcher's stack; the list it walks must not change while it is in use.
class OXFIRST_API OxRxOverruleIterator : public OxRxOverruleIteratorBase {
public:
    /// Positions before the first overrule of `object`'s class's list for `familyClass`. With a
    /// null object or family, a family never given a list, or a class without one, next()
    /// answers false at once.
    OxRxOverruleIterator(const OxRxObject* object, const OxRxClass* familyClass) noexcept;
    virtual ~OxRxOverruleIterator();

    /// Steps to the next overrule whose appliesTo() accepts the object (the first call stays at
    /// the list's start before testing). False once the list is exhausted.
    bool next();
    /// The overrule at the current position; null before the first next() found one and after
    /// the list is exhausted.
    OxRxOverrule* current() const noexcept;
};

/// The root of every overrule: it carries the position of the dispatch currently passing
/// through it (null outside a dispatch). Copies copy that field as it stands.
class OXFIRST_API OxRxOverruleBase : public OxRxObject {
    OX_RX_DECLARE_MEMBERS(OxRxOverruleBase)

    OxRxOverruleBase() = default;
    OxRxOverruleBase(const OxRxOverruleBase&) = default;
    OxRxOverruleBase& operator=(const OxRxOverruleBase&) = default;
    ~OxRxOverruleBase() override;

private:
    friend class OxRxOverruleInternals;
    OxRxOverruleIteratorBase* mpIterator = nullptr;
};

/// Access to an overrule's current dispatch position, for dispatchers.
class OXFIRST_API OxRxOverruleInternals {
public:
    /// Null for a null overrule.
    static OxRxOverruleIteratorBase* getIterator(const OxRxOverruleBase* overrule) noexcept
    {
        return overrule != nullptr ? overrule->mpIterator : nullptr;
    }
    /// Ignored for a null overrule.
    static void setIterator(OxRxOverruleBase* overrule, OxRxOverruleIteratorBase* iterator) noexcept
    {
        if (overrule != nullptr)
            overrule->mpIterator = iterator;
    }
};

/// Points an overrule's current iterator at a dispatch for the length of one call and gives it
/// its previous value back on every way out, exceptions included. Lives on the dispatcher's
/// stack.
class OxRxOverruleIteratorScope {
public:
    OxRxOverruleIteratorScope(OxRxOverruleBase* overrule, OxRxOverruleIteratorBase* iterator) noexcept
        : mpOverrule(overrule), mpPrevious(OxRxOverruleInternals::getIterator(overrule))
    {
        OxRxOverruleInternals::setIterator(overrule, iterator);
    }
    ~OxRxOverruleIteratorScope() { OxRxOverruleInternals::setIterator(mpOverrule, mpPrevious); }
    OxRxOverruleIteratorScope(const OxRxOverruleIteratorScope&) = delete;
    OxRxOverruleIteratorScope& operator=(const OxRxOverruleIteratorScope&) = delete;

private:
    OxRxOverruleBase* mpOverrule;
    OxRxOverruleIteratorBase* mpPrevious;
};

/// Base of the overrule families. The family of an overrule is the class just below
/// "OxRxOverrule" on the way up from the overrule's class ("OxRxOverrule" itself for an object
/// of that class); its lists live under that class.
class OXFIRST_API OxRxOverrule : public OxRxOverruleBase {
    OX_RX_DECLARE_MEMBERS(OxRxOverrule)

    OxRxOverrule() = default;
    OxRxOverrule(const OxRxOverrule&) = default;
    OxRxOverrule& operator=(const OxRxOverrule&) = default;
    ~OxRxOverrule() override;

    /// Whether this overrule wants to handle calls for `object`.
    virtual bool appliesTo(const OxRxObject* object) const = 0;

    /// Puts `overrule` into `rxClass`'s list of its family, at the end when `addAtLast`, else at
    /// the front, and into the own lists of all descendants of `rxClass`. The class gets a list
    /// of its own (a copy of the inherited one) when it only shared its parent's. The overrule
    /// is not owned: remove it before destroying it. eInvalidInput for a null class or
    /// overrule, an overrule whose class is unknown or not linked below "OxRxOverrule", or when
    /// memory runs out (nothing changes then); eDuplicateKey when the class's list already
    /// holds it (descendants' own lists that lacked it still receive it); eOk otherwise.
    static Orka::ErrorStatus addOverrule(OxRxClass* rxClass, OxRxOverrule* overrule, bool addAtLast);
    /// Takes `overrule` out of `rxClass`'s list of its family and out of the lists of all its
    /// descendants. A list that becomes empty is dropped: the classes that held it share their
    /// parent's list again. A list that `rxClass` shares with its ancestors is theirs too, so
    /// the removal reaches them. Removing an overrule that is in no list changes nothing.
    /// eInvalidInput for a null class or overrule or an overrule without a family; else eOk.
    static Orka::ErrorStatus removeOverrule(OxRxClass* rxClass, OxRxOverrule* overrule);
    /// Whether some overrule of `familyClass` in the list of `object`'s class applies to it.
    /// False when either is null.
    static bool hasOverrule(const OxRxObject* object, OxRxClass* familyClass);
    /// Overruling is always on: true.
    static bool isOverruling() noexcept { return true; }
    /// Overruling cannot be switched off: does nothing.
    static void setIsOverruling(bool) noexcept {}
};

/// The family that intercepts OxRxObject::queryX: the first overrule in an object's chain that
/// applies answers the query.
class OXFIRST_API OxRxQueryXOverrule : public OxRxOverrule {
    OX_RX_DECLARE_MEMBERS(OxRxQueryXOverrule)

    OxRxQueryXOverrule() = default;
    OxRxQueryXOverrule(const OxRxQueryXOverrule&) = default;
    OxRxQueryXOverrule& operator=(const OxRxQueryXOverrule&) = default;
    ~OxRxQueryXOverrule() override;

    using OxRxObject::queryX;
    /// The answer for `object` under `protocolClass`. The base version hands the call to the
    /// next overrule of the chain that applies to the object, and after the last one to the
    /// object's own subQueryX. Called outside a dispatch it answers the object's own subQueryX
    /// (null for a null object).
    virtual OxRxObject* queryX(const OxRxObject* object, const OxRxClass* protocolClass);

private:
    friend OxRxObject* oxrx::dispatchQueryX(const OxRxObject*, const OxRxClass*, const OxRxClass*);
    // Calls the overrule `it` stands on when `found`, else the object's own subQueryX.
    static OxRxObject* callChain(OxRxOverruleIterator& it, bool found, const OxRxObject* object,
                                 const OxRxClass* protocolClass);
};

/// One family's ordered list of overrules for one class and the descendants that share it.
/// The list does not own its overrules. Its class is that of OxRxObject.
class OXFIRST_API OxRxOverruleEntry : public OxRxObject, public OxBaseClassWithNew {
public:
    using OxBaseClassWithNew::operator new;
    using OxBaseClassWithNew::operator delete;

    OxRxOverruleEntry() = default;
    OxRxOverruleEntry(const OxRxOverruleEntry&) = default;
    OxRxOverruleEntry& operator=(const OxRxOverruleEntry&) = default;
    ~OxRxOverruleEntry() override;

    /// eDuplicateKey when `overrule` is in the list already, eInvalidInput when memory runs out,
    /// else eOk with the overrule appended (`atLast`) or put in front.
    Orka::ErrorStatus add(OxRxOverrule* overrule, bool atLast);
    /// Takes out the one occurrence of `overrule`; false when it was not in the list.
    bool remove(const OxRxOverrule* overrule) noexcept;
    int count() const noexcept { return mOverrules.logicalLength(); }
    OxRxOverrule* const* begin() const noexcept { return mOverrules.asArrayPtr(); }
    OxRxOverrule* const* end() const noexcept { return begin() + count(); }

private:
    OxArray<OxRxOverrule*> mOverrules{0, 4};
};
