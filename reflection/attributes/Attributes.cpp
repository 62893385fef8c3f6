// reflection/attributes/Attributes.cpp
// The attribute base class, the collection every class and member owns, and the attributes
// the member layer reads: display-as and type promotion.

#include <oxfirst/OxRxAttribute.h>

#include "reflection/ReflectionClasses.h"

#include <stdexcept>

OX_RX_DEFINE_MEMBERS(OxRxAttribute, u"OxRxAttribute", u"OxRxObject", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxDisplayAsAttribute, u"OxRxDisplayAsAttribute", u"OxRxAttribute", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxTypePromotionAttribute, u"OxRxTypePromotionAttribute", u"OxRxAttribute", nullptr)

Pimpl::ImpBase::~ImpBase() = default;

OxRxAttributeImp::~OxRxAttributeImp() = default;

OxRxAttribute::OxRxAttribute(OxRxAttributeImp* imp) noexcept : ApiPart(imp) {}

OxRxAttribute::~OxRxAttribute() = default;

namespace {

// The state of the attributes that keep one text pointer (not a copy).
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

OxRxDisplayAsAttribute::OxRxDisplayAsAttribute(const OXCHAR* path) : OxRxAttribute(new TextAttributeImp(path))
{
}
OxRxDisplayAsAttribute::~OxRxDisplayAsAttribute() = default;
const OXCHAR* OxRxDisplayAsAttribute::path() const noexcept
{
    return textOf(mpImp);
}

OxRxTypePromotionAttribute::OxRxTypePromotionAttribute(const OXCHAR* properties)
    : OxRxAttribute(new TextAttributeImp(properties))
{
}
OxRxTypePromotionAttribute::~OxRxTypePromotionAttribute() = default;
const OXCHAR* OxRxTypePromotionAttribute::properties() const noexcept
{
    return textOf(mpImp);
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

OxRxAttributeCollection* newAttributeCollection()
{
    return new OxRxAttributeCollection();
}

void deleteAttributeCollection(OxRxAttributeCollection* attributes)
{
    delete attributes;
}

} // namespace oxreflect
