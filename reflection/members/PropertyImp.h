// reflection/members/PropertyImp.h
// The implementation objects behind properties and methods. Each public sub... operation
// forwards to the same-named operation here; a concrete property overrides the public one, so
// what is left here are the answers of an operation that no class provides.
#pragma once

#include <oxfirst/OxRxProperty.h>

class OxRxPropertyBaseImp : public OxRxMemberImp {
public:
    using OxRxMemberImp::OxRxMemberImp;
    ~OxRxPropertyBaseImp() override;
    virtual bool isReadOnly(const OxRxObject* object) const;
};

class OxRxPropertyImp : public OxRxPropertyBaseImp {
public:
    using OxRxPropertyBaseImp::OxRxPropertyBaseImp;
    ~OxRxPropertyImp() override;
    /// The write probe through the whole pipeline, overrules included.
    bool isReadOnly(const OxRxObject* object) const override;
    /// The sub-properties that the value type's promotion attribute names, in its order.
    Orka::ErrorStatus children(OxArray<const OxRxMember*>& children) const override;
    virtual Orka::ErrorStatus getValue(const OxRxObject* object, OxRxValue& value) const;
    virtual Orka::ErrorStatus setValue(OxRxObject* object, const OxRxValue& value) const;
};

class OxRxStatefulPropertyImp : public OxRxPropertyImp {
public:
    using OxRxPropertyImp::OxRxPropertyImp;
    ~OxRxStatefulPropertyImp() override;
};

class OxRxCollectionPropertyImp : public OxRxPropertyBaseImp {
public:
    using OxRxPropertyBaseImp::OxRxPropertyBaseImp;
    ~OxRxCollectionPropertyImp() override;
    bool isReadOnly(const OxRxObject* object) const override;
    virtual OxRxValueIterator* newValueIterator(const OxRxObject* object) const;
    virtual Orka::ErrorStatus tryGetCount(const OxRxObject* object, int& count) const;
};

class OxRxIndexedPropertyImp : public OxRxCollectionPropertyImp {
public:
    using OxRxCollectionPropertyImp::OxRxCollectionPropertyImp;
    ~OxRxIndexedPropertyImp() override;
    bool isReadOnly(const OxRxObject* object) const override;
    virtual Orka::ErrorStatus getValue(const OxRxObject* object, int index, OxRxValue& value) const;
    virtual Orka::ErrorStatus setValue(OxRxObject* object, int index, const OxRxValue& value) const;
    virtual Orka::ErrorStatus insertValue(OxRxObject* object, int index, const OxRxValue& value) const;
    virtual Orka::ErrorStatus removeValue(OxRxObject* object, int index) const;
};

class OxRxDictionaryPropertyImp : public OxRxCollectionPropertyImp {
public:
    using OxRxCollectionPropertyImp::OxRxCollectionPropertyImp;
    ~OxRxDictionaryPropertyImp() override;
    bool isReadOnly(const OxRxObject* object) const override;
    virtual Orka::ErrorStatus getValue(const OxRxObject* object, const OXCHAR* key, OxRxValue& value) const;
    virtual Orka::ErrorStatus setValue(OxRxObject* object, const OXCHAR* key, const OxRxValue& value) const;
};

class OxRxMethodImp : public OxRxMemberImp {
public:
    using OxRxMemberImp::OxRxMemberImp;
    ~OxRxMethodImp() override;
    virtual Orka::ErrorStatus invoke(OxRxObject* object, OxRxValue& value) const;
    virtual Orka::ErrorStatus isExecutable(const OxRxObject* object, const OxRxValue& value) const;
};

namespace oxreflect {

/// The sub-property of `parent` that stands for the property `memberName` of the value type
/// named `typeName`, or null when there is none (see makeSubProperty).
OxRxPropertyBase* makePromotedProperty(const OxRxPropertyBase* parent, const OXCHAR* typeName,
                                       const OXCHAR* memberName);

} // namespace oxreflect
