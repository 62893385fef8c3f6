// oxfirst/OxRxObject.h
// The root of the runtime class system. Every object of the system derives from OxRxObject and
// names its class at run time through isA(); OX_RX_DECLARE_MEMBERS and OX_RX_DEFINE_MEMBERS give
// a class the desc(), cast(), rxInit() and gpDesc that the class system relies on.
#pragma once

#include <oxfirst/OxTypes.h>

class OxRxClass;

/// The root class. It holds no data beyond its virtual table; its seven virtual operations are
/// the first seven slots of every class of the system.
class OXFIRST_API OxRxObject {
public:
    /// The root's class object: set by oxrxInitTypeSystem, null again when that object is deleted.
    static OxRxClass* gpDesc;
    /// The root's class pointer as it stands; never looks anything up.
    static OxRxClass* desc() noexcept { return gpDesc; }
    /// Every object is an OxRxObject: returns `object` unchanged.
    static OxRxObject* cast(const OxRxObject* object) noexcept { return const_cast<OxRxObject*>(object); }
    /// Registers the root class when the running type system lacks it (oxrxInitTypeSystem
    /// registers it first of all, so this is rarely needed).
    static void rxInit();

    OxRxObject() = default;
    OxRxObject(const OxRxObject&) = default;
    OxRxObject& operator=(const OxRxObject&) = default;
    virtual ~OxRxObject();

    /// The object's class; null when that class is not registered.
    virtual OxRxClass* isA() const;
    /// A new object equal to this one: isA()->create(), then copyFrom(this). Null when the class
    /// makes no objects or the copy fails (the new object is then deleted).
    virtual OxRxObject* clone() const;
    /// Makes this object equal to `other`. The root version is a fatal report
    /// ("Unimplemented %s::copyFrom() function invoked.\n") and answers eNotImplementedYet.
    virtual Orka::ErrorStatus copyFrom(const OxRxObject* other);
    /// Nonzero when `other` equals this object; the root version tests identity.
    virtual int isEqualTo(const OxRxObject* other) const;
    /// How this object sorts against `other`; the root version answers kOrderNone.
    virtual OxRx::Ordering comparedTo(const OxRxObject* other) const;

    /// The extension of `protocolClass` for this object: the first queryX overrule of its
    /// class that applies to it answers (OxRxQueryXOverrule); without one, subQueryX.
    OxRxObject* queryX(const OxRxClass* protocolClass) const
    {
        if (!gQueryXOverruled) [[likely]]
            return subQueryX(protocolClass);
        return queryXSlow(protocolClass);
    }
    /// As queryX through the class's getX: a missing extension is a fatal report.
    OxRxObject* x(const OxRxClass* protocolClass) const;

protected:
    /// The default extension lookup: isA()->queryX(protocolClass).
    virtual OxRxObject* subQueryX(const OxRxClass* protocolClass) const;

private:
    friend class OxRxQueryXOverrule; // ends a chain of queryX overrules with subQueryX
    friend class OxRxOverrule;       // sets gQueryXOverruled
    friend void oxrxTerminateTypeSystem();

    // True once a queryX overrule list may exist somewhere (set by addOverrule, cleared when
    // the type system ends): until then queryX costs one load and a test more than subQueryX.
    static bool gQueryXOverruled;
    // queryX while overrules may exist: asks those of this object's class first.
    OxRxObject* queryXSlow(const OxRxClass* protocolClass) const;
};

/// The class-membership test used wherever an object is cast: `object` is not null, its class is
/// known and derives from `rxClass`. The exact class is answered without a call.
OXFIRST_API bool oxrxIsKindOfSlow(const OxRxClass* objectClass, const OxRxClass* rxClass) noexcept;
inline bool oxrxIsKindOf(const OxRxObject* object, const OxRxClass* rxClass) noexcept
{
    if (object == nullptr || rxClass == nullptr)
        return false;
    const OxRxClass* objectClass = object->isA();
    return objectClass == rxClass || (objectClass != nullptr && oxrxIsKindOfSlow(objectClass, rxClass));
}

/// Finds the class registered as `name` in the class dictionary and stores it in `*slot`; null
/// (and `*slot` untouched) when the type system is not running or no such class is registered.
/// A slot filled here or by oxrxRegisterClass is set to null again when its class object is
/// deleted (deleteOxRxClass, a second registration of the name, oxrxTerminateTypeSystem), so
/// it must stay valid as long as that class: a static class pointer such as gpDesc.
OXFIRST_API OxRxClass* oxrxFindClassByName(OxRxClass** slot, const OXCHAR* name) noexcept;
/// The registration function behind every rxInit(): keeps `*slot` when the class dictionary
/// holds that very object under `name`, and otherwise registers the class anew (a different
/// object under the name is first reported as "Class mismatch") and stores it in `*slot`, which
/// is then cleared with its class as for oxrxFindClassByName.
OXFIRST_API void oxrxRegisterClass(OxRxClass** slot, const OXCHAR* name, const OXCHAR* parentName,
                                   OxRxObject* (*pseudoConstructor)()) noexcept;

/// Declares, inside the body of class `CLASS`, the members every class of the system has:
/// the class pointer `gpDesc`, `desc()` (found by registered name while the pointer is null,
/// then one load; the pointer is cleared when its class object is deleted), `cast()` (the
/// object as a CLASS when its class derives from CLASS, else null), `rxInit()` and the `isA()`
/// override. Leaves the class body in its public section.
#define OX_RX_DECLARE_MEMBERS(CLASS)                                                                         \
public:                                                                                                      \
    static OxRxClass* gpDesc;                                                                                \
    static OxRxClass* desc() noexcept                                                                        \
    {                                                                                                        \
        if (gpDesc != nullptr) [[likely]]                                                                    \
            return gpDesc;                                                                                   \
        return descSlow();                                                                                   \
    }                                                                                                        \
    static CLASS* cast(const OxRxObject* object) noexcept                                                    \
    {                                                                                                        \
        return oxrxIsKindOf(object, desc()) ? static_cast<CLASS*>(const_cast<OxRxObject*>(object))           \
                                            : nullptr;                                                       \
    }                                                                                                        \
    static void rxInit();                                                                                    \
    OxRxClass* isA() const override;                                                                         \
                                                                                                             \
private:                                                                                                     \
    static OxRxClass* descSlow() noexcept;                                                                   \
                                                                                                             \
public:

/// Defines, at namespace scope in one source file, what OX_RX_DECLARE_MEMBERS declared. `NAME`
/// and `PARENT` are the registered class name and parent name (UTF-16 literals); `MAKE` is the
/// pseudo-constructor (`OxRxObject* ()`) or nullptr.
#define OX_RX_DEFINE_MEMBERS(CLASS, NAME, PARENT, MAKE)                                                      \
    constinit OxRxClass* CLASS::gpDesc = nullptr;                                                            \
    OxRxClass* CLASS::descSlow() noexcept                                                                    \
    {                                                                                                        \
        return oxrxFindClassByName(&CLASS::gpDesc, NAME);                                                    \
    }                                                                                                        \
    void CLASS::rxInit()                                                                                     \
    {                                                                                                        \
        oxrxRegisterClass(&CLASS::gpDesc, NAME, PARENT, MAKE);                                               \
    }                                                                                                        \
    OxRxClass* CLASS::isA() const                                                                            \
    {                                                                                                        \
        return CLASS::desc();                                                                                \
    }
