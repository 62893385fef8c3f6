// reflection/members/SubProperty.cpp
// Sub-properties: a value type's property shown under a property of that type, which is how a
// property's promoted children are made. A read goes through the parent's value: a reference
// is followed to its object, any other value is boxed for the member to read from.

#include "reflection/attributes/NameLists.h"
#include "reflection/members/PropertyImp.h"

#include <string>
#include <string_view>

OX_RX_DEFINE_MEMBERS(OxRxSubProperty, u"OxRxSubProperty", u"OxRxProperty", nullptr)

namespace {

// The probe is recognised by its marker, not by its address: a copy of varies() is a probe too.
bool isProbe(const OxRxValue& value)
{
    return value == OxRxValue::varies();
}

// Remembers which attributes the sub-property shares with its member, so that it gives back
// exactly those: attributes added to the sub-property itself stay its own and go with it.
class SubPropertyImp final : public OxRxPropertyImp {
public:
    using OxRxPropertyImp::OxRxPropertyImp;
    OxArray<const OxRxAttribute*> mShared;
};

} // namespace

OxRxSubProperty::OxRxSubProperty(const OxRxProperty* parent, const OxRxProperty* member, Test available,
                                 Test readOnly)
    : OxRxProperty(new SubPropertyImp((std::u16string(parent->name()) + u"/" + member->name()).c_str(),
                                      member->type(), parent, this)),
      mpAvailable(available), mpReadOnly(readOnly)
{
    mpImp->mpChildren = new OxArray<const OxRxMember*>(1);
    mpImp->mpChildren->append(member);
    const OxRxAttributeCollection& shared = member->attributes();
    OxArray<const OxRxAttribute*>& remembered = static_cast<SubPropertyImp*>(mpImp)->mShared;
    for (int i = 0; i < shared.count(); ++i) {
        mpImp->mAttributes.add(shared.getAt(i));
        remembered.append(shared.getAt(i));
    }
}

OxRxSubProperty::~OxRxSubProperty()
{
    // The shared attributes and the child belong to the value type's property, which may be gone
    // already: they are compared as pointers only, never read.
    const OxArray<const OxRxAttribute*>& shared = static_cast<SubPropertyImp*>(mpImp)->mShared;
    for (int i = shared.logicalLength(); i-- > 0;)
        mpImp->mAttributes.remove(shared[i]);
    mpImp->mpChildren->removeAll();
}

const OxRxProperty* OxRxSubProperty::member() const noexcept
{
    return static_cast<const OxRxProperty*>((*mpImp->mpChildren)[0]);
}

OxString OxRxSubProperty::subLocalName() const
{
    OxString own = OxRxMember::subLocalName();
    if (!own.isEmpty())
        return own;
    const auto* parent = static_cast<const OxRxMember*>(owner());
    const OxArray<const OxRxMember*>* siblings = parent->children();
    const int index = siblings != nullptr ? siblings->find(this) : -1;
    if (index < 0)
        return OxString();
    return oxreflect::segmentOf(parent->attributes(), parent->owner(), OxRxLocalizedNameAttribute::desc(),
                                index);
}

namespace {

// Reads `parent`'s value of `object` and calls `act` with the object the member works on: the
// referenced object for a reference type (dereferenced with `mode`, released after `act`), else
// a box of the value, which `act` may change; `act` also gets the value and which case it is.
// A failed read of a non-null object answers its status; no object to work on, eNotImplementedYet.
template <class Act>
Orka::ErrorStatus throughParent(const OxRxProperty* parent, const OxRxObject* object, int mode, Act act)
{
    OxRxValue whole;
    const Orka::ErrorStatus status = parent->getValue(object, whole);
    if (status != Orka::eOk && object != nullptr)
        return status;
    const IOxRxReferenceType* reference = parent->type().referenceType();
    ReferenceTypePointer referenced;
    OxRxBoxedValueOnStack box(whole);
    OxRxObject* target = nullptr;
    if (reference != nullptr) {
        referenced.reset(reference, reference->dereference(whole, mode));
        target = referenced.object();
    } else {
        target = box.rxObject();
    }
    if (target == nullptr && object != nullptr)
        return Orka::eNotImplementedYet;
    return act(target, whole, reference != nullptr);
}

} // namespace

Orka::ErrorStatus OxRxSubProperty::subGetValue(const OxRxObject* object, OxRxValue& value) const
{
    if (mpAvailable != nullptr && !mpAvailable(object))
        return Orka::eNotImplementedYet;
    return throughParent(
        static_cast<const OxRxProperty*>(owner()), object, 0,
        [&](OxRxObject* target, OxRxValue&, bool) { return member()->getValue(target, value); });
}

Orka::ErrorStatus OxRxSubProperty::subSetValue(OxRxObject* object, const OxRxValue& value) const
{
    const bool probe = isProbe(value);
    if (object != nullptr && probe && mpReadOnly != nullptr && mpReadOnly(object))
        return Orka::eNotImplementedYet;
    const auto* parent = static_cast<const OxRxProperty*>(owner());
    return throughParent(parent, object, 1, [&](OxRxObject* target, OxRxValue& whole, bool referenced) {
        const Orka::ErrorStatus status = member()->setValue(target, value);
        if (referenced)
            return status; // written in place: the parent keeps its reference
        // Under the probe the parent decides: its own setter sees the probe too.
        if (status == Orka::eOk || object == nullptr || probe)
            return parent->setValue(object, probe ? OxRxValue::varies() : whole);
        return status;
    });
}

OxRxPropertyBase* makeSubProperty(const OxRxPropertyBase* parent, const OXCHAR* typeName,
                                  const OXCHAR* memberName, OxRxSubProperty::Test available,
                                  OxRxSubProperty::Test readOnly)
{
    const OxRxProperty* parentProperty = OxRxProperty::cast(parent);
    if (parentProperty == nullptr)
        return nullptr; // before the type's members are built
    const OxRxClass* type = OxRxClass::cast(oxrxFindClassByName(nullptr, typeName));
    const OxRxMemberCollection* members = type != nullptr ? type->members() : nullptr;
    if (members == nullptr)
        return nullptr;
    const std::u16string_view wanted = memberName != nullptr ? memberName : u"";
    for (int i = 0; i < members->count(); ++i) {
        const OxRxMember* member = members->getAt(i);
        if (OxRxPropertyBase::cast(member) == nullptr || member->name() != wanted)
            continue;
        const OxRxProperty* property = OxRxProperty::cast(member);
        return property != nullptr ? new OxRxSubProperty(parentProperty, property, available, readOnly)
                                   : nullptr;
    }
    return nullptr;
}

namespace oxreflect {

OxRxPropertyBase* makePromotedProperty(const OxRxPropertyBase* parent, const OXCHAR* typeName,
                                       const OXCHAR* memberName)
{
    return makeSubProperty(parent, typeName, memberName, nullptr, nullptr);
}

} // namespace oxreflect
