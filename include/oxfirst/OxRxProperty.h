// oxfirst/OxRxProperty.h
// Properties and methods, the members through which reflection reads, writes and acts on
// objects; the value iterators of collection properties; and member overrules, through which
// other modules intercept property access without subclassing. Concrete properties override the
// protected sub... operations they support; every other one answers eNotApplicable.
#pragma once

#include <oxfirst/OxRxMember.h>
#include <oxfirst/OxRxOverrule.h>
#include <oxfirst/OxRxValue.h>

class OxRxPropertyBaseImp;
class OxRxMethodImp;
class OxRxValueIteratorImp;
class OxRxValueIterator;

/// The base of every property.
class OXFIRST_API OxRxPropertyBase : public OxRxMember {
    OX_RX_DECLARE_MEMBERS(OxRxPropertyBase)
    /// True when the property cannot be written for `object`. A setter that cannot set answers
    /// eNotImplementedYet to the read-only probe (the varies value, index -1, a null key) and
    /// changes nothing; a setter that is not provided at all counts as writable.
    bool isReadOnly(const OxRxObject* object) const;

protected:
    explicit OxRxPropertyBase(OxRxPropertyBaseImp* imp) noexcept;
    ~OxRxPropertyBase() override;
};

/// A property holding one value of an object.
class OXFIRST_API OxRxProperty : public OxRxPropertyBase {
    OX_RX_DECLARE_MEMBERS(OxRxProperty)
    /// Reads the value: the member overrules first, in list order, then subGetValue.
    Orka::ErrorStatus getValue(const OxRxObject* object, OxRxValue& value) const
    {
        if (mpImp->mpOverrules == nullptr) [[likely]]
            return subGetValue(object, value);
        return getValueSlow(object, value);
    }
    /// Writes the value: the member overrules first, in list order, then subSetValue.
    Orka::ErrorStatus setValue(OxRxObject* object, const OxRxValue& value) const
    {
        if (mpImp->mpOverrules == nullptr) [[likely]]
            return subSetValue(object, value);
        return setValueSlow(object, value);
    }

protected:
    OxRxProperty(const OXCHAR* name, const OxRxValueType& type, const OxRxObject* owner);
    explicit OxRxProperty(OxRxPropertyBaseImp* imp) noexcept;
    ~OxRxProperty() override;
    virtual Orka::ErrorStatus subGetValue(const OxRxObject* object, OxRxValue& value) const;
    virtual Orka::ErrorStatus subSetValue(OxRxObject* object, const OxRxValue& value) const;

private:
    friend class OxRxPropertyOverrule;
    // The reads and writes of a property that has member overrules.
    Orka::ErrorStatus getValueSlow(const OxRxObject* object, OxRxValue& value) const;
    Orka::ErrorStatus setValueSlow(OxRxObject* object, const OxRxValue& value) const;
};

/// A property that behaves as OxRxProperty; its class tells callers that it keeps state.
class OXFIRST_API OxRxStatefulProperty : public OxRxProperty {
    OX_RX_DECLARE_MEMBERS(OxRxStatefulProperty)

protected:
    OxRxStatefulProperty(const OXCHAR* name, const OxRxValueType& type, const OxRxObject* owner);
    ~OxRxStatefulProperty() override;
};

// The three properties every object has: the root class's members, so the member query engine
// lists them for any object unless a derived class or facet hides a name. All are read-only and
// answer eInvalidInput for a null object; the final classes add nothing to their bases. The
// interface's names stand written out with the export macro, not only inside the macro below.
class OXFIRST_API OxRxObjectLocalizedNamePropertyBase;
class OXFIRST_API OxRxObjectLocalizedNameProperty;
class OXFIRST_API OxRxObjectIsAPropertyBase;
class OXFIRST_API OxRxObjectIsAProperty;
class OXFIRST_API OxRxObjectClassNamePropertyBase;
class OXFIRST_API OxRxObjectClassNameProperty;
#define OX_RX_OBJECT_PROPERTY(NAME)                                                                          \
    class OXFIRST_API NAME##Base : public OxRxProperty {                                                     \
    public:                                                                                                  \
        NAME##Base();                                                                                        \
        ~NAME##Base() override;                                                                              \
                                                                                                             \
    protected:                                                                                               \
        Orka::ErrorStatus subGetValue(const OxRxObject* object, OxRxValue& value) const override;            \
        Orka::ErrorStatus subSetValue(OxRxObject* object, const OxRxValue& value) const override;            \
    };                                                                                                       \
    class OXFIRST_API NAME final : public NAME##Base {};
/// "LocalizedName": the localized name of the object's class.
OX_RX_OBJECT_PROPERTY(OxRxObjectLocalizedNameProperty)
/// "IsA": the object's class.
OX_RX_OBJECT_PROPERTY(OxRxObjectIsAProperty)
/// "ClassName": the empty string.
OX_RX_OBJECT_PROPERTY(OxRxObjectClassNameProperty)
#undef OX_RX_OBJECT_PROPERTY

/// A class this library registers and gives no behaviour; modules use it as a protocol class.
class OXFIRST_API OxRxPropagatePropertyChange : public OxRxObject {
    OX_RX_DECLARE_MEMBERS(OxRxPropagatePropertyChange)
};

/// A value type's property shown as a property of the objects whose property `parent` holds a
/// value of that type. Named "parent/member"; its owner is the parent, its one child the value
/// type's property (not owned), its attributes that property's own (shared, not copied; one
/// added to the sub-property afterwards is the sub-property's and goes with it). Reading
/// reads the parent's value, then the member from it; writing changes the member in the parent's
/// value and writes the value back (a value of a reference type is written in place instead).
class OXFIRST_API OxRxSubProperty : public OxRxProperty {
    OX_RX_DECLARE_MEMBERS(OxRxSubProperty)
    using Test = bool (*)(const OxRxObject*);
    ~OxRxSubProperty() override;

protected:
    /// The name its shared attributes give, else its segment (by its place among the parent's
    /// children) of the name lists in the parent's own localized-name attributes, loaded for the
    /// parent's owner.
    OxString subLocalName() const override;
    /// eNotImplementedYet when the availability test says no or the value cannot be reached;
    /// else the status of the parent's read or of the member's.
    Orka::ErrorStatus subGetValue(const OxRxObject* object, OxRxValue& value) const override;
    /// eNotImplementedYet to the read-only probe when the read-only test says so, and when the
    /// value cannot be reached; else the status of the parent's or the member's operation.
    Orka::ErrorStatus subSetValue(OxRxObject* object, const OxRxValue& value) const override;

private:
    friend OXFIRST_API OxRxPropertyBase* makeSubProperty(const OxRxPropertyBase*, const OXCHAR*,
                                                         const OXCHAR*, OxRxSubProperty::Test,
                                                         OxRxSubProperty::Test);
    OxRxSubProperty(const OxRxProperty* parent, const OxRxProperty* member, Test available, Test readOnly);
    const OxRxProperty* member() const noexcept;

    Test mpAvailable; // null: always available
    Test mpReadOnly;  // null: as writable as the parent and the member
};

/// A new sub-property of `parent` for the property `memberName` (exact name) of the class named
/// `typeName`, owned by the caller (deleteMember); null when the parent is not an OxRxProperty,
/// the name names no class, or the class's first property of that name is not an OxRxProperty.
OXFIRST_API OxRxPropertyBase* makeSubProperty(const OxRxPropertyBase* parent, const OXCHAR* typeName,
                                              const OXCHAR* memberName, OxRxSubProperty::Test available,
                                              OxRxSubProperty::Test readOnly);

/// A property holding a collection of values that can be iterated.
class OXFIRST_API OxRxCollectionProperty : public OxRxPropertyBase {
    OX_RX_DECLARE_MEMBERS(OxRxCollectionProperty)
    /// A new iterator over the values (owned by the caller), or null when the collection cannot
    /// be iterated: the member overrules first, then subNewValueIterator.
    OxRxValueIterator* newValueIterator(const OxRxObject* object) const;
    /// The number of values: the member overrules first, then subTryGetCount.
    Orka::ErrorStatus tryGetCount(const OxRxObject* object, int& count) const;

protected:
    OxRxCollectionProperty(const OXCHAR* name, const OxRxValueType& type, const OxRxObject* owner);
    explicit OxRxCollectionProperty(OxRxPropertyBaseImp* imp) noexcept;
    ~OxRxCollectionProperty() override;
    /// The default iterates an indexed property whose count can be had; null otherwise.
    virtual OxRxValueIterator* subNewValueIterator(const OxRxObject* object) const;
    virtual Orka::ErrorStatus subTryGetCount(const OxRxObject* object, int& count) const;

private:
    friend class OxRxCollectionPropertyOverrule;
};

/// A collection property whose values are reached by position. No member overrules apply to
/// the positional operations.
class OXFIRST_API OxRxIndexedProperty : public OxRxCollectionProperty {
    OX_RX_DECLARE_MEMBERS(OxRxIndexedProperty)
    Orka::ErrorStatus getValue(const OxRxObject* object, int index, OxRxValue& value) const
    {
        return subGetValue(object, index, value);
    }
    Orka::ErrorStatus setValue(OxRxObject* object, int index, const OxRxValue& value) const
    {
        return subSetValue(object, index, value);
    }
    Orka::ErrorStatus insertValue(OxRxObject* object, int index, const OxRxValue& value) const
    {
        return subInsertValue(object, index, value);
    }
    Orka::ErrorStatus removeValue(OxRxObject* object, int index) const
    {
        return subRemoveValue(object, index);
    }

protected:
    OxRxIndexedProperty(const OXCHAR* name, const OxRxValueType& type, const OxRxObject* owner);
    ~OxRxIndexedProperty() override;
    virtual Orka::ErrorStatus subGetValue(const OxRxObject* object, int index, OxRxValue& value) const;
    virtual Orka::ErrorStatus subSetValue(OxRxObject* object, int index, const OxRxValue& value) const;
    virtual Orka::ErrorStatus subInsertValue(OxRxObject* object, int index, const OxRxValue& value) const;
    virtual Orka::ErrorStatus subRemoveValue(OxRxObject* object, int index) const;

private:
    friend class OxRxIndexedPropertyValueIterator;
    friend class OxRxIndexedPropertyImp;
};

/// A collection property whose values are reached by key. No member overrules apply.
class OXFIRST_API OxRxDictionaryProperty : public OxRxCollectionProperty {
    OX_RX_DECLARE_MEMBERS(OxRxDictionaryProperty)
    Orka::ErrorStatus getValue(const OxRxObject* object, const OXCHAR* key, OxRxValue& value) const
    {
        return subGetValue(object, key, value);
    }
    Orka::ErrorStatus setValue(OxRxObject* object, const OXCHAR* key, const OxRxValue& value) const
    {
        return subSetValue(object, key, value);
    }

protected:
    OxRxDictionaryProperty(const OXCHAR* name, const OxRxValueType& type, const OxRxObject* owner);
    ~OxRxDictionaryProperty() override;
    virtual Orka::ErrorStatus subGetValue(const OxRxObject* object, const OXCHAR* key,
                                          OxRxValue& value) const;
    virtual Orka::ErrorStatus subSetValue(OxRxObject* object, const OXCHAR* key,
                                          const OxRxValue& value) const;

private:
    friend class OxRxDictionaryPropertyImp;
};

/// An operation that can be invoked on an object. No member overrules apply.
class OXFIRST_API OxRxMethod : public OxRxMember {
    OX_RX_DECLARE_MEMBERS(OxRxMethod)
    /// Runs the method on `object`; `value` carries the argument in and the result out.
    Orka::ErrorStatus invoke(OxRxObject* object, OxRxValue& value) const { return subInvoke(object, value); }
    Orka::ErrorStatus isExecutable(const OxRxObject* object, const OxRxValue& value) const
    {
        return subIsExecutable(object, value);
    }

protected:
    /// A method named `name` whose values are of `type`, without owner.
    OxRxMethod(const OXCHAR* name, const OxRxValueType& type);
    explicit OxRxMethod(OxRxMethodImp* imp) noexcept;
    ~OxRxMethod() override;
    virtual Orka::ErrorStatus subInvoke(OxRxObject* object, OxRxValue& value) const;
    virtual Orka::ErrorStatus subIsExecutable(const OxRxObject* object, const OxRxValue& value) const;
};

/// The implementation behind a value iterator.
class OXFIRST_API OxRxValueIteratorImp : public Pimpl::ImpBase {
public:
    ~OxRxValueIteratorImp() override;
    virtual bool done() const = 0;
    virtual bool next() = 0;
    virtual OxRxValue current() const = 0;
};

/// Walks the values of a collection property; made on request and deleted by the caller.
class OXFIRST_API OxRxValueIterator : public Pimpl::ApiPart<void, OxRxValueIteratorImp> {
public:
    /// Takes ownership of `imp`.
    explicit OxRxValueIterator(OxRxValueIteratorImp* imp) noexcept;
    ~OxRxValueIterator() override;
    /// True when there is no current value.
    virtual bool done() const;
    /// Moves one step; answers done().
    virtual bool next();
    virtual OxRxValue current() const;

protected:
    /// For subclasses that override every operation: no implementation object.
    OxRxValueIterator() noexcept = default;
};

/// Walks an indexed property from index 0 to its count, taken once at construction.
class OXFIRST_API OxRxIndexedPropertyValueIterator : public OxRxValueIteratorImp {
public:
    OxRxIndexedPropertyValueIterator(const OxRxObject* object, const OxRxIndexedProperty* property);
    ~OxRxIndexedPropertyValueIterator() override;
    bool done() const override { return mIndex >= mCount; }
    bool next() override { return ++mIndex, done(); }
    /// The value at the index (the empty value when the read fails).
    OxRxValue current() const override;

private:
    const OxRxIndexedProperty* mpProperty;
    const OxRxObject* mpObject;
    int mIndex = 0;
    int mCount = 0;
};

/// Where a member-overrule call stands: the member's overrule list and the index of the
/// overrule running (-1 before the first).
class OXFIRST_API OxRxMemberOverruleIterator : public OxRxOverruleIteratorBase {
public:
    explicit OxRxMemberOverruleIterator(OxArray<OxRxMemberOverrule*>* list) noexcept : mpList(list) {}
    /// Steps on; the next overrule, or null at the end of the list.
    OxRxMemberOverrule* advance() noexcept
    {
        if (mpList == nullptr || ++mIndex >= mpList->logicalLength())
            return nullptr;
        return (*mpList)[mIndex];
    }

    OxArray<OxRxMemberOverrule*>* mpList;
    int mIndex = -1;
};

/// Intercepts operations of one member. The member owns the overrules added to it. A member's
/// overrules are of the family that fits it: OxRxPropertyOverrule on an OxRxProperty,
/// OxRxCollectionPropertyOverrule on an OxRxCollectionProperty.
class OXFIRST_API OxRxMemberOverrule : public OxRxOverruleBase {
    OX_RX_DECLARE_MEMBERS(OxRxMemberOverrule)

    struct Record {
        OxRxMember* member = nullptr;
        OxRxMemberOverrule* overrule = nullptr;
    };

    ~OxRxMemberOverrule() override;

    /// Puts `overrule` into `member`'s list, at the end when `addAtLast`, else at the front; the
    /// member owns it from then on. Adding one twice lists it twice. eInvalidInput for a null
    /// member or overrule or when memory ran out.
    static Orka::ErrorStatus addOverrule(OxRxMember* member, OxRxMemberOverrule* overrule, bool addAtLast);
    /// Takes the first occurrence out, if there is one; ownership returns to the caller.
    /// eInvalidInput for a null member or overrule; eOk otherwise.
    static Orka::ErrorStatus removeOverrule(OxRxMember* member, OxRxMemberOverrule* overrule);
    /// removeOverrule for every record, in order, carrying on after failures: eInvalidInput
    /// when any failed.
    static Orka::ErrorStatus
    removeOverrules(const OxArray<Record, OxArrayObjectCopyReallocator<Record>>& records);

protected:
    OxRxMemberOverrule() = default;
};

/// Intercepts getValue and setValue of a property. An override that wants the call to go on
/// calls the base version, which runs the next overrule of the chain or, after the last, the
/// property's own operation.
class OXFIRST_API OxRxPropertyOverrule : public OxRxMemberOverrule {
    OX_RX_DECLARE_MEMBERS(OxRxPropertyOverrule)
    ~OxRxPropertyOverrule() override;
    virtual Orka::ErrorStatus getValue(const OxRxProperty* property, const OxRxObject* object,
                                       OxRxValue& value);
    virtual Orka::ErrorStatus setValue(const OxRxProperty* property, OxRxObject* object,
                                       const OxRxValue& value);
};

/// Intercepts newValueIterator and tryGetCount of a collection property, as
/// OxRxPropertyOverrule does for properties.
class OXFIRST_API OxRxCollectionPropertyOverrule : public OxRxMemberOverrule {
    OX_RX_DECLARE_MEMBERS(OxRxCollectionPropertyOverrule)
    ~OxRxCollectionPropertyOverrule() override;
    virtual OxRxValueIterator* newValueIterator(const OxRxCollectionProperty* property,
                                                const OxRxObject* object);
    virtual Orka::ErrorStatus tryGetCount(const OxRxCollectionProperty* property, const OxRxObject* object,
                                          int& count);
};
