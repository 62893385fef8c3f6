// reflection/members/Category.cpp
// Categories, a tree of named groups that members are filed under, and the resource loader that
// turns the resource ids of localized-name attributes into text for a member or object.

#include <oxfirst/OxRxMember.h>
#include <oxfirst/OxRxValue.h>

#include <string_view>

OX_RX_DEFINE_MEMBERS(OxRxCategory, u"OxRxCategory", u"OxRxMember", nullptr)
OX_RX_DEFINE_MEMBERS(OxRxResourceLoader, u"OxRxResourceLoader", u"OxRxObject", nullptr)

namespace {

// The children array is the category's own, answered as its children() and never cached by the
// member layer, so adding or removing a child shows at once.
class OxRxCategoryImp final : public OxRxMemberImp {
public:
    OxRxCategoryImp(const OXCHAR* name, OxRxCategory* parent, OxRxCategory* self)
        : OxRxMemberImp(name, OxRxValueType::Desc<void>::value(), parent, self)
    {
    }
    ~OxRxCategoryImp() override
    {
        if (mpCategories == nullptr)
            return;
        for (int i = 0; i < mpCategories->logicalLength(); ++i)
            OxRxMember::deleteMember((*mpCategories)[i]);
        delete mpCategories;
    }
    Orka::ErrorStatus childrenEx(OxArray<const OxRxMember*>*& children) const override
    {
        children = mpCategories;
        return Orka::eOk;
    }

    // Null until the first child; every entry is an OxRxCategory owned here.
    OxArray<const OxRxMember*>* mpCategories = nullptr;
    int mLegacyId = 0;
};

OxRxCategoryImp* categoryImp(const OxRxCategory* category)
{
    return static_cast<OxRxCategoryImp*>(category->imp());
}

} // namespace

OxRxCategory::OxRxCategory(const OXCHAR* name, OxRxCategory* parent)
    : OxRxMember(new OxRxCategoryImp(name, parent, this))
{
    if (parent == nullptr)
        return;
    OxArray<const OxRxMember*>*& siblings = categoryImp(parent)->mpCategories;
    if (siblings == nullptr)
        siblings = new OxArray<const OxRxMember*>(0, 8);
    if (!siblings->contains(this))
        siblings->append(this);
}

OxRxCategory::~OxRxCategory() = default;

OxRxCategory* OxRxCategory::rootCategory()
{
    static OxRxCategory* root = new OxRxCategory(u"OxRxCategoryRoot", nullptr);
    // The root outlives the type system, whose end deletes the value types: after a restart it
    // carries the void type of the running system, never the deleted one.
    root->imp()->mpType = &OxRxValueType::Desc<void>::value();
    return root;
}

OxRxCategory* OxRxCategory::findDescendant(const OXCHAR* name) const
{
    const OxArray<const OxRxMember*>* children = categoryImp(this)->mpCategories;
    if (children == nullptr || name == nullptr)
        return nullptr;
    for (int i = 0; i < children->logicalLength(); ++i) {
        const OxRxMember* child = (*children)[i];
        if (child != nullptr && std::u16string_view(child->name()) == name)
            return static_cast<OxRxCategory*>(const_cast<OxRxMember*>(child));
    }
    for (int i = 0; i < children->logicalLength(); ++i) {
        const OxRxMember* child = (*children)[i];
        if (OxRxCategory* found =
                child != nullptr ? static_cast<const OxRxCategory*>(child)->findDescendant(name) : nullptr)
            return found;
    }
    return nullptr;
}

Orka::ErrorStatus OxRxCategory::removeChild(OxRxCategory* child)
{
    OxArray<const OxRxMember*>* children = categoryImp(this)->mpCategories;
    const int index = children != nullptr ? children->find(child) : -1;
    if (index < 0)
        return Orka::eNotFound;
    children->removeAt(index);
    child->imp()->mpOwner = nullptr;
    return Orka::eOk;
}

Orka::ErrorStatus oxdbGetLegacyCategoryId(const OxRxCategory* category, int& id)
{
    if (category == nullptr)
        return Orka::eNullArgument;
    id = categoryImp(category)->mLegacyId;
    return Orka::eOk;
}

Orka::ErrorStatus oxdbSetLegacyCategoryId(OxRxCategory* category, int id)
{
    if (category == nullptr)
        return Orka::eNullArgument;
    categoryImp(category)->mLegacyId = id;
    return Orka::eOk;
}

Orka::ErrorStatus OxRxResourceLoader::loadString(const OxRxObject* object, unsigned int id,
                                                 unsigned int sourceHint, OxString& result)
{
    while (const OxRxMember* member = OxRxMember::cast(object)) {
        if (auto* loader = static_cast<OxRxResourceLoader*>(member->queryX(desc())))
            return loader->subLoadString(id, sourceHint, result);
        object = member->owner();
    }
    if (object == nullptr)
        return Orka::eNotFound;
    const OxRxClass* rxClass = OxRxClass::cast(object);
    auto* loader = static_cast<OxRxResourceLoader*>(rxClass != nullptr ? rxClass->queryX(desc())
                                                                       : object->queryX(desc()));
    return loader != nullptr ? loader->subLoadString(id, sourceHint, result) : Orka::eNotFound;
}
