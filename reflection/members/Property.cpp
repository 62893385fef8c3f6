// reflection/members/Property.cpp
// Properties and methods: construction, the forwarding of every sub... operation to the
// implementation object, the read-only probe, the default value iterator of an indexed
// property, and the promoted children of a property.

#include <oxfirst/OxRxProperty.h>

#include "reflection/members/PropertyImp.h"

#include <string>

OX_RX_DEFINE_MEMBERS(OxRxPropertyBase, u"OxRxPropertyBase", u"OxRxMember", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxProperty, u"OxRxProperty", u"OxRxPropertyBase", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxStatefulProperty, u"OxRxStatefulProperty", u"OxRxProperty", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxCollectionProperty, u"OxRxCollectionProperty", u"OxRxPropertyBase", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxIndexedProperty, u"OxRxIndexedProperty", u"OxRxCollectionProperty", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxDictionaryProperty, u"OxRxDictionaryProperty", u"OxRxCollectionProperty", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxMethod, u"OxRxMethod", u"OxRxMember", nullptr)

namespace {

template <class Imp>
const Imp* impOf(const OxRxMember* member) noexcept
{
    return static_cast<const Imp*>(member->imp());
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Implementation objects: the answers of operations no concrete class provides.

OxRxPropertyBaseImp::~OxRxPropertyBaseImp() = default;

bool OxRxPropertyBaseImp::isReadOnly(const OxRxObject*) const
{
    return false;
}

OxRxPropertyImp::~OxRxPropertyImp() = default;

bool OxRxPropertyImp::isReadOnly(const OxRxObject* object) const
{
    const auto* property = static_cast<const OxRxProperty*>(self());
    return property->setValue(const_cast<OxRxObject*>(object), OxRxValue::varies()) ==
           Orka::eNotImplementedYet;
}

Orka::ErrorStatus OxRxPropertyImp::children(OxArray<const OxRxMember*>& children) const
{
    const auto* promotion = static_cast<const OxRxTypePromotionAttribute*>(
        static_cast<const OxRxClass*>(mpType)->attributes().get(OxRxTypePromotionAttribute::desc()));
    if (promotion == nullptr || promotion->properties() == nullptr)
        return Orka::eOk;
    const auto* parent = static_cast<const OxRxPropertyBase*>(self());
    const OXCHAR* text = promotion->properties();
    while (*text != 0) {
        const OXCHAR* end = text;
        while (*end != 0 && *end != u';')
            ++end;
        if (end != text) {
            const std::u16string piece(text, end);
            if (OxRxPropertyBase* child =
                    oxreflect::makePromotedProperty(parent, mpType->name(), piece.c_str())) {
                if (children.append(child) < 0)
                    OxRxMember::deleteMember(child);
            }
        }
        text = *end != 0 ? end + 1 : end;
    }
    return Orka::eOk;
}

Orka::ErrorStatus OxRxPropertyImp::getValue(const OxRxObject*, OxRxValue&) const
{
    return Orka::eNotApplicable;
}

Orka::ErrorStatus OxRxPropertyImp::setValue(OxRxObject*, const OxRxValue&) const
{
    return Orka::eNotApplicable;
}

OxRxStatefulPropertyImp::~OxRxStatefulPropertyImp() = default;

OxRxCollectionPropertyImp::~OxRxCollectionPropertyImp() = default;

bool OxRxCollectionPropertyImp::isReadOnly(const OxRxObject*) const
{
    return true;
}

OxRxValueIterator* OxRxCollectionPropertyImp::newValueIterator(const OxRxObject* object) const
{
    const OxRxIndexedProperty* indexed = OxRxIndexedProperty::cast(self());
    int count = 0;
    if (indexed == nullptr || indexed->tryGetCount(object, count) != Orka::eOk)
        return nullptr;
    return new OxRxValueIterator(new OxRxIndexedPropertyValueIterator(object, indexed));
}

Orka::ErrorStatus OxRxCollectionPropertyImp::tryGetCount(const OxRxObject*, int&) const
{
    return Orka::eNotApplicable;
}

OxRxIndexedPropertyImp::~OxRxIndexedPropertyImp() = default;

bool OxRxIndexedPropertyImp::isReadOnly(const OxRxObject* object) const
{
    const auto* property = static_cast<const OxRxIndexedProperty*>(self());
    return property->subSetValue(const_cast<OxRxObject*>(object), -1, OxRxValue::varies()) ==
           Orka::eNotImplementedYet;
}

Orka::ErrorStatus OxRxIndexedPropertyImp::getValue(const OxRxObject*, int, OxRxValue&) const
{
    return Orka::eNotApplicable;
}

Orka::ErrorStatus OxRxIndexedPropertyImp::setValue(OxRxObject*, int, const OxRxValue&) const
{
    return Orka::eNotApplicable;
}

Orka::ErrorStatus OxRxIndexedPropertyImp::insertValue(OxRxObject*, int, const OxRxValue&) const
{
    return Orka::eNotApplicable;
}

Orka::ErrorStatus OxRxIndexedPropertyImp::removeValue(OxRxObject*, int) const
{
    return Orka::eNotApplicable;
}

OxRxDictionaryPropertyImp::~OxRxDictionaryPropertyImp() = default;

bool OxRxDictionaryPropertyImp::isReadOnly(const OxRxObject* object) const
{
    const auto* property = static_cast<const OxRxDictionaryProperty*>(self());
    return property->subSetValue(const_cast<OxRxObject*>(object), nullptr, OxRxValue::varies()) ==
           Orka::eNotImplementedYet;
}

Orka::ErrorStatus OxRxDictionaryPropertyImp::getValue(const OxRxObject*, const OXCHAR*, OxRxValue&) const
{
    return Orka::eNotApplicable;
}

Orka::ErrorStatus OxRxDictionaryPropertyImp::setValue(OxRxObject*, const OXCHAR*, const OxRxValue&) const
{
    return Orka::eNotApplicable;
}

OxRxMethodImp::~OxRxMethodImp() = default;

Orka::ErrorStatus OxRxMethodImp::invoke(OxRxObject*, OxRxValue&) const
{
    return Orka::eNotApplicable;
}

Orka::ErrorStatus OxRxMethodImp::isExecutable(const OxRxObject*, const OxRxValue&) const
{
    return Orka::eNotApplicable;
}

// ---------------------------------------------------------------------------------------------
// Public classes: constructors and the forwarding sub... operations.

OxRxPropertyBase::OxRxPropertyBase(OxRxPropertyBaseImp* imp) noexcept : OxRxMember(imp) {}
OxRxPropertyBase::~OxRxPropertyBase() = default;

bool OxRxPropertyBase::isReadOnly(const OxRxObject* object) const
{
    return impOf<OxRxPropertyBaseImp>(this)->isReadOnly(object);
}

OxRxProperty::OxRxProperty(const OXCHAR* name, const OxRxValueType& type, const OxRxObject* owner)
    : OxRxPropertyBase(new OxRxPropertyImp(name, type, owner, this))
{
}
OxRxProperty::OxRxProperty(OxRxPropertyBaseImp* imp) noexcept : OxRxPropertyBase(imp) {}
OxRxProperty::~OxRxProperty() = default;

Orka::ErrorStatus OxRxProperty::subGetValue(const OxRxObject* object, OxRxValue& value) const
{
    return impOf<OxRxPropertyImp>(this)->getValue(object, value);
}

Orka::ErrorStatus OxRxProperty::subSetValue(OxRxObject* object, const OxRxValue& value) const
{
    return impOf<OxRxPropertyImp>(this)->setValue(object, value);
}

OxRxStatefulProperty::OxRxStatefulProperty(const OXCHAR* name, const OxRxValueType& type,
                                           const OxRxObject* owner)
    : OxRxProperty(new OxRxStatefulPropertyImp(name, type, owner, this))
{
}
OxRxStatefulProperty::~OxRxStatefulProperty() = default;

OxRxCollectionProperty::OxRxCollectionProperty(const OXCHAR* name, const OxRxValueType& type,
                                               const OxRxObject* owner)
    : OxRxPropertyBase(new OxRxCollectionPropertyImp(name, type, owner, this))
{
}
OxRxCollectionProperty::OxRxCollectionProperty(OxRxPropertyBaseImp* imp) noexcept : OxRxPropertyBase(imp) {}
OxRxCollectionProperty::~OxRxCollectionProperty() = default;

OxRxValueIterator* OxRxCollectionProperty::subNewValueIterator(const OxRxObject* object) const
{
    return impOf<OxRxCollectionPropertyImp>(this)->newValueIterator(object);
}

Orka::ErrorStatus OxRxCollectionProperty::subTryGetCount(const OxRxObject* object, int& count) const
{
    return impOf<OxRxCollectionPropertyImp>(this)->tryGetCount(object, count);
}

OxRxIndexedProperty::OxRxIndexedProperty(const OXCHAR* name, const OxRxValueType& type,
                                         const OxRxObject* owner)
    : OxRxCollectionProperty(new OxRxIndexedPropertyImp(name, type, owner, this))
{
}
OxRxIndexedProperty::~OxRxIndexedProperty() = default;

Orka::ErrorStatus OxRxIndexedProperty::subGetValue(const OxRxObject* object, int index,
                                                   OxRxValue& value) const
{
    return impOf<OxRxIndexedPropertyImp>(this)->getValue(object, index, value);
}

Orka::ErrorStatus OxRxIndexedProperty::subSetValue(OxRxObject* object, int index,
                                                   const OxRxValue& value) const
{
    return impOf<OxRxIndexedPropertyImp>(this)->setValue(object, index, value);
}

Orka::ErrorStatus OxRxIndexedProperty::subInsertValue(OxRxObject* object, int index,
                                                      const OxRxValue& value) const
{
    return impOf<OxRxIndexedPropertyImp>(this)->insertValue(object, index, value);
}

Orka::ErrorStatus OxRxIndexedProperty::subRemoveValue(OxRxObject* object, int index) const
{
    return impOf<OxRxIndexedPropertyImp>(this)->removeValue(object, index);
}

OxRxDictionaryProperty::OxRxDictionaryProperty(const OXCHAR* name, const OxRxValueType& type,
                                               const OxRxObject* owner)
    : OxRxCollectionProperty(new OxRxDictionaryPropertyImp(name, type, owner, this))
{
}
OxRxDictionaryProperty::~OxRxDictionaryProperty() = default;

Orka::ErrorStatus OxRxDictionaryProperty::subGetValue(const OxRxObject* object, const OXCHAR* key,
                                                      OxRxValue& value) const
{
    return impOf<OxRxDictionaryPropertyImp>(this)->getValue(object, key, value);
}

Orka::ErrorStatus OxRxDictionaryProperty::subSetValue(OxRxObject* object, const OXCHAR* key,
                                                      const OxRxValue& value) const
{
    return impOf<OxRxDictionaryPropertyImp>(this)->setValue(object, key, value);
}

OxRxMethod::OxRxMethod(const OXCHAR* name, const OxRxValueType& type)
    : OxRxMember(new OxRxMethodImp(name, type, nullptr, this))
{
}
OxRxMethod::OxRxMethod(OxRxMethodImp* imp) noexcept : OxRxMember(imp) {}
OxRxMethod::~OxRxMethod() = default;

Orka::ErrorStatus OxRxMethod::subInvoke(OxRxObject* object, OxRxValue& value) const
{
    return impOf<OxRxMethodImp>(this)->invoke(object, value);
}

Orka::ErrorStatus OxRxMethod::subIsExecutable(const OxRxObject* object, const OxRxValue& value) const
{
    return impOf<OxRxMethodImp>(this)->isExecutable(object, value);
}

// ---------------------------------------------------------------------------------------------
// Value iterators.

OxRxValueIteratorImp::~OxRxValueIteratorImp() = default;

OxRxValueIterator::OxRxValueIterator(OxRxValueIteratorImp* imp) noexcept : ApiPart(imp) {}
OxRxValueIterator::~OxRxValueIterator() = default;

bool OxRxValueIterator::done() const
{
    return mpImp->done();
}

bool OxRxValueIterator::next()
{
    return mpImp->next();
}

OxRxValue OxRxValueIterator::current() const
{
    return mpImp->current();
}

OxRxIndexedPropertyValueIterator::OxRxIndexedPropertyValueIterator(const OxRxObject* object,
                                                                   const OxRxIndexedProperty* property)
    : mpProperty(property), mpObject(object)
{
    if (property == nullptr || property->tryGetCount(object, mCount) != Orka::eOk || mCount < 0)
        mCount = 0;
}

OxRxIndexedPropertyValueIterator::~OxRxIndexedPropertyValueIterator() = default;

OxRxValue OxRxIndexedPropertyValueIterator::current() const
{
    OxRxValue value;
    if (mpProperty != nullptr)
        mpProperty->subGetValue(mpObject, mIndex, value);
    return value;
}
