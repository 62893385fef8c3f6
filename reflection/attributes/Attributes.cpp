// reflection/attributes/Attributes.cpp
// The attribute classes, the collection every class and member owns, and the lookups that
// interpret attributes on an object (loading their texts through the resource loader).

#include <oxfirst/OxRxAttribute.h>
#include <oxfirst/OxRxMember.h>
#include <oxfirst/OxRxValue.h>

#include "reflection/ReflectionClasses.h"
#include "reflection/attributes/NameLists.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

OX_RX_DEFINE_MEMBERS(OxRxAttribute, u"OxRxAttribute", u"OxRxObject", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxLocalizedNameAttribute, u"OxRxLocalizedNameAttribute", u"OxRxAttribute", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxAlternateLocalizedNameAttribute, u"OxRxAlternateLocalizedNameAttribute",
                     u"OxRxLocalizedNameAttribute", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxDescriptionAttribute, u"OxRxDescriptionAttribute", u"OxRxAttribute", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxUiPlacementAttribute, u"OxRxUiPlacementAttribute", u"OxRxAttribute", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxRefersToAttribute, u"OxRxRefersToAttribute", u"OxRxAttribute", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxDisplayAsAttribute, u"OxRxDisplayAsAttribute", u"OxRxAttribute", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxCOMAttribute, u"OxRxCOMAttribute", u"OxRxAttribute", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxAffinityAttribute, u"OxRxAffinityAttribute", u"OxRxAttribute", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxCumulativeAttribute, u"OxRxCumulativeAttribute", u"OxRxAttribute", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxTypePromotionAttribute, u"OxRxTypePromotionAttribute", u"OxRxAttribute", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxUnitTypeAttribute, u"OxRxUnitTypeAttribute", u"OxRxAttribute", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxDefaultValueAttribute, u"OxRxDefaultValueAttribute", u"OxRxAttribute", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxFilePathAttribute, u"OxRxFilePathAttribute", u"OxRxAttribute", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxFlagsAttribute, u"OxRxFlagsAttribute", u"OxRxAttribute", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxGenerateDynamicPropertiesAttribute, u"OxRxGenerateDynamicPropertiesAttribute",
                     u"OxRxAttribute", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxUseDialogForReferredCollectionAttribute,
                     u"OxRxUseDialogForReferredCollectionAttribute", u"OxRxAttribute", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxUiCascadingContextMenuAttribute, u"OxRxUiCascadingContextMenuAttribute",
                     u"OxRxAttribute", nullptr)

Pimpl::ImpBase::~ImpBase() = default;

OxRxAttributeImp::~OxRxAttributeImp() = default;

OxRxAttribute::OxRxAttribute(OxRxAttributeImp* imp) noexcept : ApiPart(imp) {}

OxRxAttribute::~OxRxAttribute() = default;

namespace {

// The state of an attribute that keeps one text pointer (not a copy).
class TextAttributeImp : public OxRxAttributeImp {
public:
    explicit TextAttributeImp(const OXCHAR* text) noexcept : mpText(text) {}
    const OXCHAR* mpText;
};

const OXCHAR* textOf(const OxRxAttributeImp* imp) noexcept
{
    return static_cast<const TextAttributeImp*>(imp)->mpText;
}

} // namespace

// One implementation class for each text attribute, so that each owns a class of its own.
#define OX_RX_TEXT_ATTRIBUTE(CLASS, ACCESSOR)                                                                \
    class CLASS##Imp final : public TextAttributeImp {                                                       \
    public:                                                                                                  \
        using TextAttributeImp::TextAttributeImp;                                                            \
    };                                                                                                       \
    CLASS::CLASS(const OXCHAR* text) : OxRxAttribute(new CLASS##Imp(text)) {}                                \
    CLASS::~CLASS() = default;                                                                               \
    const OXCHAR* CLASS::ACCESSOR() const noexcept                                                           \
    {                                                                                                        \
        return textOf(mpImp);                                                                                \
    }
OX_RX_TEXT_ATTRIBUTE(OxRxRefersToAttribute, path)
OX_RX_TEXT_ATTRIBUTE(OxRxDisplayAsAttribute, path)
OX_RX_TEXT_ATTRIBUTE(OxRxCOMAttribute, name)
OX_RX_TEXT_ATTRIBUTE(OxRxAffinityAttribute, name)
OX_RX_TEXT_ATTRIBUTE(OxRxCumulativeAttribute, type)
OX_RX_TEXT_ATTRIBUTE(OxRxTypePromotionAttribute, properties)
#undef OX_RX_TEXT_ATTRIBUTE

#define OX_RX_MARKER_ATTRIBUTE(CLASS)                                                                        \
    CLASS::CLASS() noexcept : OxRxAttribute(nullptr) {}                                                      \
    CLASS::~CLASS() = default;
OX_RX_MARKER_ATTRIBUTE(OxRxFilePathAttribute)
OX_RX_MARKER_ATTRIBUTE(OxRxFlagsAttribute)
OX_RX_MARKER_ATTRIBUTE(OxRxGenerateDynamicPropertiesAttribute)
OX_RX_MARKER_ATTRIBUTE(OxRxUseDialogForReferredCollectionAttribute)
OX_RX_MARKER_ATTRIBUTE(OxRxUiCascadingContextMenuAttribute)
#undef OX_RX_MARKER_ATTRIBUTE

// Shared by the alternate form, which holds the same state.
class OxRxLocalizedNameAttributeImp final : public OxRxAttributeImp {
public:
    OxRxLocalizedNameAttributeImp(unsigned int id, unsigned int sourceHint) noexcept
        : mId(id), mSourceHint(sourceHint)
    {
    }
    unsigned int mId;
    unsigned int mSourceHint;
};

OxRxLocalizedNameAttribute::OxRxLocalizedNameAttribute(unsigned int id) : OxRxLocalizedNameAttribute(id, 0) {}
OxRxLocalizedNameAttribute::OxRxLocalizedNameAttribute(unsigned int id, unsigned int sourceHint)
    : OxRxAttribute(new OxRxLocalizedNameAttributeImp(id, sourceHint))
{
}
OxRxLocalizedNameAttribute::~OxRxLocalizedNameAttribute() = default;
unsigned int OxRxLocalizedNameAttribute::id() const noexcept
{
    return static_cast<const OxRxLocalizedNameAttributeImp*>(mpImp)->mId;
}
unsigned int OxRxLocalizedNameAttribute::sourceHint() const noexcept
{
    return static_cast<const OxRxLocalizedNameAttributeImp*>(mpImp)->mSourceHint;
}

OxRxAlternateLocalizedNameAttribute::OxRxAlternateLocalizedNameAttribute(unsigned int id)
    : OxRxLocalizedNameAttribute(id, 0)
{
}
OxRxAlternateLocalizedNameAttribute::OxRxAlternateLocalizedNameAttribute(unsigned int id,
                                                                         unsigned int sourceHint)
    : OxRxLocalizedNameAttribute(id, sourceHint)
{
}
OxRxAlternateLocalizedNameAttribute::~OxRxAlternateLocalizedNameAttribute() = default;

// The first slot holds the resource id in its low 32 bits, or (text form, hint kTextHint) the
// owned text. Which form it is comes from the constructor, not from the hint: an id form wrongly
// given kTextHint must not have its id read, or freed, as a text.
class OxRxDescriptionAttributeImp final : public OxRxAttributeImp {
public:
    OxRxDescriptionAttributeImp(std::uint64_t slot, unsigned int sourceHint, bool ownsText) noexcept
        : mSlot(slot), mSourceHint(sourceHint), mOwnsText(ownsText)
    {
    }
    ~OxRxDescriptionAttributeImp() override { delete[] text(); }
    // Null for the id form.
    const OXCHAR* text() const noexcept
    {
        return mOwnsText ? reinterpret_cast<const OXCHAR*>(static_cast<std::uintptr_t>(mSlot)) : nullptr;
    }

    std::uint64_t mSlot;
    unsigned int mSourceHint;
    bool mOwnsText;
};

namespace {

std::uint64_t copyOf(const OXCHAR* text)
{
    if (text == nullptr)
        return 0;
    const std::size_t length = std::char_traits<OXCHAR>::length(text);
    auto* copy = new OXCHAR[length + 1];
    std::memcpy(copy, text, (length + 1) * sizeof(OXCHAR));
    return reinterpret_cast<std::uintptr_t>(copy);
}

} // namespace

OxRxDescriptionAttribute::OxRxDescriptionAttribute(unsigned int id) : OxRxDescriptionAttribute(id, 0) {}
OxRxDescriptionAttribute::OxRxDescriptionAttribute(unsigned int id, unsigned int sourceHint)
    : OxRxAttribute(new OxRxDescriptionAttributeImp(id, sourceHint, false))
{
}
OxRxDescriptionAttribute::OxRxDescriptionAttribute(const OXCHAR* text)
    : OxRxAttribute(new OxRxDescriptionAttributeImp(copyOf(text), kTextHint, true))
{
}
OxRxDescriptionAttribute::~OxRxDescriptionAttribute() = default;
unsigned int OxRxDescriptionAttribute::id() const noexcept
{
    return static_cast<unsigned int>(static_cast<const OxRxDescriptionAttributeImp*>(mpImp)->mSlot);
}
unsigned int OxRxDescriptionAttribute::sourceHint() const noexcept
{
    return static_cast<const OxRxDescriptionAttributeImp*>(mpImp)->mSourceHint;
}

class OxRxUiPlacementAttributeImp final : public OxRxAttributeImp {
public:
    OxRxUiPlacementAttributeImp(const OXCHAR* category, unsigned int weight) noexcept
        : mpCategory(category), mWeight(weight)
    {
    }
    const OXCHAR* mpCategory;
    unsigned int mWeight;
};

OxRxUiPlacementAttribute::OxRxUiPlacementAttribute(const OXCHAR* category, unsigned int weight)
    : OxRxAttribute(new OxRxUiPlacementAttributeImp(category, weight))
{
}
OxRxUiPlacementAttribute::~OxRxUiPlacementAttribute() = default;

class OxRxUnitTypeAttributeImp final : public OxRxAttributeImp {
public:
    explicit OxRxUnitTypeAttributeImp(OxRxUnitTypeAttribute::UnitType unitType) noexcept : mUnitType(unitType)
    {
    }
    OxRxUnitTypeAttribute::UnitType mUnitType;
};

OxRxUnitTypeAttribute::OxRxUnitTypeAttribute(UnitType unitType)
    : OxRxAttribute(new OxRxUnitTypeAttributeImp(unitType))
{
}
OxRxUnitTypeAttribute::~OxRxUnitTypeAttribute() = default;
OxRxUnitTypeAttribute::UnitType OxRxUnitTypeAttribute::unitType() const noexcept
{
    return static_cast<const OxRxUnitTypeAttributeImp*>(mpImp)->mUnitType;
}

class OxRxDefaultValueAttributeImp final : public OxRxAttributeImp {
public:
    explicit OxRxDefaultValueAttributeImp(const OxRxValue& value) : mValue(value) {}
    OxRxValue mValue;
};

OxRxDefaultValueAttribute::OxRxDefaultValueAttribute(const OxRxValue& value)
    : OxRxAttribute(new OxRxDefaultValueAttributeImp(value))
{
}
OxRxDefaultValueAttribute::~OxRxDefaultValueAttribute() = default;
const OxRxValue& OxRxDefaultValueAttribute::value() const noexcept
{
    return static_cast<const OxRxDefaultValueAttributeImp*>(mpImp)->mValue;
}

namespace {

// The attribute of exactly `rxClass` on a member or class; for a member owned by a member that
// has none, the owner's (one level only).
const OxRxAttribute* findOn(const OxRxObject* object, const OxRxClass* rxClass)
{
    if (const OxRxMember* member = OxRxMember::cast(object)) {
        if (const OxRxAttribute* found = member->attributes().get(rxClass))
            return found;
        const OxRxMember* owner = OxRxMember::cast(member->owner());
        return owner != nullptr ? owner->attributes().get(rxClass) : nullptr;
    }
    if (const OxRxClass* rxObjectClass = OxRxClass::cast(object))
        return rxObjectClass->attributes().get(rxClass);
    return nullptr;
}

OxString loaded(const OxRxObject* object, unsigned int id, unsigned int sourceHint)
{
    OxString result;
    (void)OxRxResourceLoader::loadString(object, id, sourceHint, result);
    return result;
}

// The placement that files `member`: its own, or its owner's when the owner is a member that
// is not shown as itself (then `owner` is set). Null for anything but a member.
const OxRxUiPlacementAttributeImp* placementOf(const OxRxObject* object, const OxRxMember*& owner)
{
    owner = nullptr;
    const OxRxMember* member = OxRxMember::cast(object);
    if (member == nullptr)
        return nullptr;
    if (const OxRxAttribute* own = member->attributes().get(OxRxUiPlacementAttribute::desc()))
        return static_cast<const OxRxUiPlacementAttributeImp*>(own->imp());
    owner = OxRxMember::cast(member->owner());
    if (owner == nullptr || owner->attributes().get(OxRxDisplayAsAttribute::desc()) != nullptr)
        return nullptr;
    const OxRxAttribute* inherited = owner->attributes().get(OxRxUiPlacementAttribute::desc());
    return inherited != nullptr ? static_cast<const OxRxUiPlacementAttributeImp*>(inherited->imp()) : nullptr;
}

} // namespace

OxString OxRxLocalizedNameAttribute::getLocalizedName(const OxRxObject* object)
{
    const auto* name = static_cast<const OxRxLocalizedNameAttribute*>(findOn(object, desc()));
    return name != nullptr ? loaded(object, name->id(), name->sourceHint()) : OxString();
}

OxString OxRxDescriptionAttribute::getDescription(const OxRxObject* object)
{
    const auto* description = static_cast<const OxRxDescriptionAttribute*>(findOn(object, desc()));
    if (description == nullptr)
        return OxString();
    if (description->sourceHint() != kTextHint)
        return loaded(object, description->id(), description->sourceHint());
    return OxString(static_cast<const OxRxDescriptionAttributeImp*>(description->mpImp)->text());
}

const OXCHAR* OxRxUiPlacementAttribute::getCategory(const OxRxObject* object)
{
    const OxRxMember* owner;
    const OxRxUiPlacementAttributeImp* placement = placementOf(object, owner);
    return placement != nullptr ? placement->mpCategory : nullptr;
}

float OxRxUiPlacementAttribute::getWeight(const OxRxObject* object)
{
    const OxRxMember* owner;
    const OxRxUiPlacementAttributeImp* placement = placementOf(object, owner);
    if (placement == nullptr)
        return 0.0f;
    if (owner == nullptr)
        return static_cast<float>(placement->mWeight);
    const OxArray<const OxRxMember*>* children = owner->children();
    const int index = children != nullptr ? children->find(static_cast<const OxRxMember*>(object)) : -1;
    if (index < 0)
        return 0.0f;
    const float n = static_cast<float>(children->logicalLength());
    return (static_cast<float>(index) + 1.0f) / (n + 1.0f) + static_cast<float>(placement->mWeight);
}

OxRxAttributeCollection::~OxRxAttributeCollection()
{
    if (mpImp == nullptr)
        return;
    for (int i = 0; i < mpImp->logicalLength(); ++i)
        delete (*mpImp)[i];
    delete mpImp;
}

Orka::ErrorStatus OxRxAttributeCollection::add(const OxRxAttribute* attribute)
{
    if (attribute == nullptr)
        return Orka::eNullArgument;
    if (mpImp == nullptr && (mpImp = new (std::nothrow) OxArray<const OxRxAttribute*>()) == nullptr)
        return Orka::eInvalidInput;
    return mpImp->append(attribute) >= 0 ? Orka::eOk : Orka::eInvalidInput;
}

Orka::ErrorStatus OxRxAttributeCollection::override(const OxRxAttribute* attribute)
{
    if (attribute == nullptr)
        return Orka::eNullArgument;
    const OxRxClass* rxClass = attribute->isA();
    for (int i = count(); i-- > 0;)
        if ((*mpImp)[i]->isA() == rxClass)
            mpImp->removeAt(i);
    return add(attribute);
}

Orka::ErrorStatus OxRxAttributeCollection::remove(const OxRxAttribute* attribute)
{
    if (attribute == nullptr)
        return Orka::eNullArgument;
    const int index = mpImp != nullptr ? mpImp->find(attribute) : -1;
    if (index < 0)
        return Orka::eNotFound;
    mpImp->removeAt(index);
    return Orka::eOk;
}

const OxRxAttribute* OxRxAttributeCollection::get(const OxRxClass* rxClass) const noexcept
{
    if (rxClass == nullptr)
        return nullptr;
    for (int i = 0; i < count(); ++i)
        if ((*mpImp)[i]->isA() == rxClass)
            return (*mpImp)[i];
    return nullptr;
}

OxRxAttribute* OxRxAttributeCollection::get(const OxRxClass* rxClass) noexcept
{
    return const_cast<OxRxAttribute*>(static_cast<const OxRxAttributeCollection*>(this)->get(rxClass));
}

const OxRxAttribute* OxRxAttributeCollection::getAt(int index) const
{
    if (index < 0 || index >= count())
        throw std::out_of_range("OxRxAttributeCollection::getAt: index out of range");
    return (*mpImp)[index];
}

OxRxAttribute* OxRxAttributeCollection::getAt(int index)
{
    return const_cast<OxRxAttribute*>(static_cast<const OxRxAttributeCollection*>(this)->getAt(index));
}

namespace oxreflect {

OxString segmentOf(const OxRxAttributeCollection& attributes, const OxRxObject* loadFor,
                   const OxRxClass* listClass, int index)
{
    int first = 0; // the number of the first segment of the current list
    for (int i = 0; i < attributes.count(); ++i) {
        const OxRxAttribute* attribute = attributes.getAt(i);
        if (attribute->isA() != listClass)
            continue;
        const auto* list = static_cast<const OxRxLocalizedNameAttribute*>(attribute);
        OxString loaded;
        (void)OxRxResourceLoader::loadString(loadFor, list->id(), list->sourceHint(), loaded);
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

OxRxAttributeCollection* newAttributeCollection()
{
    return new OxRxAttributeCollection();
}

void deleteAttributeCollection(OxRxAttributeCollection* attributes)
{
    delete attributes;
}

} // namespace oxreflect
