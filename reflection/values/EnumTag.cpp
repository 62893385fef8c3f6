// reflection/values/EnumTag.cpp
// Enumeration tags: the members naming the values of an enumeration type. A tag without a name
// of its own takes its segment of the ";"-separated name lists its value type carries.

#include <oxfirst/OxRxMember.h>
#include <oxfirst/OxRxValue.h>

#include "reflection/attributes/NameLists.h"

OX_RX_DEFINE_MEMBERS(OxRxEnumTag, u"OxRxEnumTag", u"OxRxMember", nullptr)

// The tag's value after the member fields; the tag's member type is the value's type.
class OxRxEnumTagImp final : public OxRxMemberImp {
public:
    OxRxEnumTagImp(const OXCHAR* name, const OxRxValue& value, OxRxEnumTag* self)
        : OxRxMemberImp(name, value.type(), nullptr, self), mValue(value)
    {
    }

    OxString localName() const override
    {
        OxString own = OxRxMemberImp::localName();
        return !own.isEmpty() ? own : listedName(OxRxLocalizedNameAttribute::desc());
    }

    // This tag's name in the owner type's lists of `listClass`; empty when the owner is not a
    // value type or does not enumerate this tag.
    OxString listedName(const OxRxClass* listClass) const
    {
        const OxRxValueType* type = OxRxValueType::cast(mpOwner);
        const IOxRxEnumeration* enumeration = type != nullptr ? type->enumeration() : nullptr;
        if (enumeration == nullptr)
            return OxString();
        for (int index = 0; index < enumeration->count(); ++index)
            if (enumeration->getAt(index) == mpSelf)
                return oxreflect::segmentOf(type->attributes(), type, listClass, index);
        return OxString();
    }

    OxRxValue mValue;
};

OxRxEnumTag::OxRxEnumTag(const OXCHAR* name, const OxRxValue& value)
    : OxRxMember(new OxRxEnumTagImp(name, value, this))
{
}

OxRxEnumTag::~OxRxEnumTag() = default;

const OxRxValue& OxRxEnumTag::value() const noexcept
{
    return static_cast<const OxRxEnumTagImp*>(mpImp)->mValue;
}

OxString OxRxEnumTag::subAlternateLocalName() const
{
    OxString own = localName();
    if (!own.isEmpty())
        return own;
    return static_cast<const OxRxEnumTagImp*>(mpImp)->listedName(OxRxAlternateLocalizedNameAttribute::desc());
}

void oxdbImpSetOwnerForEnumTag(const OxRxClass* owner, OxRxEnumTag* tag)
{
    if (tag != nullptr)
        tag->imp()->mpOwner = owner;
}
