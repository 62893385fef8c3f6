// reflection/values/EnumTag.cpp
// Enumeration tags: the members naming the values of an enumeration type. A tag without a name
// of its own takes its segment of the ";"-separated name lists its value type carries.

#include <oxfirst/OxRxMember.h>
#include <oxfirst/OxRxValue.h>

#include <string>
#include <string_view>

OX_RX_DEFINE_MEMBERS(OxRxEnumTag, u"OxRxEnumTag", u"OxRxMember", nullptr)

namespace {

// Segment `index` of the name lists of `type` held by its attributes of exactly `listClass`, in
// collection order. The segments are numbered on across the lists; an empty segment is a name
// missing from that list, so the next list is asked for the same number.
OxString segmentOf(const OxRxValueType& type, const OxRxClass* listClass, int index)
{
    const OxRxAttributeCollection& attributes = type.attributes();
    int first = 0; // the number of the first segment of the current list
    for (int i = 0; i < attributes.count(); ++i) {
        const OxRxAttribute* attribute = attributes.getAt(i);
        if (attribute->isA() != listClass)
            continue;
        const auto* list = static_cast<const OxRxLocalizedNameAttribute*>(attribute);
        OxString loaded;
        (void)OxRxResourceLoader::loadString(&type, list->id(), list->sourceHint(), loaded);
        std::u16string_view rest = loaded.kwszPtr();
        int number = first;
        for (;;) {
            const std::size_t end = rest.find(u';');
            const std::u16string_view segment = rest.substr(0, end);
            if (number == index) {
                if (!segment.empty())
                    return OxString(std::u16string(segment).c_str());
                break; // missing here: the next list is asked for the same number
            }
            if (end == std::u16string_view::npos) {
                first = number + 1;
                break;
            }
            rest.remove_prefix(end + 1);
            ++number;
        }
    }
    return OxString();
}

} // namespace

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
                return segmentOf(*type, listClass, index);
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
    tag->imp()->mpOwner = owner;
}
