// tests/reflection/AttributeTest.cpp
// Attribute collections, the lookups that read attributes off members and classes, the resource
// loader those lookups load their texts through, and the category tree.

#include "support/RxTestSupport.h"

#include <oxfirst/OxRxMember.h>
#include <oxfirst/OxRxValue.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::u16string text(const OxString& string)
{
    return string.kwszPtr();
}

// Answers the text listed for an id, else "<hint>:<id>".
class Loader : public OxRxResourceLoader {
public:
    std::map<unsigned int, std::u16string> mTexts;

protected:
    Orka::ErrorStatus subLoadString(unsigned int id, unsigned int sourceHint, OxString& result) override
    {
        const std::u16string loaded =
            mTexts.count(id) != 0 ? mTexts[id]
                                  : std::u16string{char16_t(u'0' + sourceHint), u':', char16_t(u'0' + id)};
        result = OxString(loaded.c_str());
        return Orka::eOk;
    }
};

// A member of `owner` with `count` plain children that it owns.
class Group : public OxRxMember {
public:
    Group(const OXCHAR* name, const OxRxObject* owner, int count = 0)
        : OxRxMember(new OxRxMemberImp(name, OxRxValueType::Desc<int>::value(), owner, this)), mCount(count)
    {
    }

protected:
    Orka::ErrorStatus subChildren(OxArray<const OxRxMember*>& children) const override
    {
        for (int i = 0; i < mCount; ++i)
            children.append(new Group(u"child", this));
        return Orka::eOk;
    }
    int mCount;
};

class Attributes : public ::testing::Test {
protected:
    oxtest::TypeSystemScope mScope;
};

// Collections that skip duplicates, match derived classes, delete what override or remove hand
// back, accept null, or index past either end; an alternate name taken for the plain one.
TEST_F(Attributes, CollectionKeepsOrderAndMatchesExactClasses)
{
    OxRxAttributeCollection attributes;
    auto* first = new OxRxDescriptionAttribute(1u);
    auto* second = new OxRxDescriptionAttribute(u"two");
    auto* third = new OxRxDescriptionAttribute(3u, 4u);
    auto* alternate = new OxRxAlternateLocalizedNameAttribute(5u);
    for (const OxRxAttribute* attribute :
         std::initializer_list<const OxRxAttribute*>{first, alternate, second})
        EXPECT_EQ(Orka::eOk, attributes.add(attribute));
    EXPECT_EQ(first, attributes.get(OxRxDescriptionAttribute::desc()));
    EXPECT_EQ(nullptr, attributes.get(OxRxLocalizedNameAttribute::desc()));
    EXPECT_EQ(alternate, attributes.get(OxRxAlternateLocalizedNameAttribute::desc()));

    EXPECT_EQ(Orka::eOk, attributes.override(third));
    ASSERT_EQ(2, attributes.count());
    EXPECT_EQ(alternate, attributes.getAt(0));
    EXPECT_EQ(third, attributes.getAt(1));
    EXPECT_THROW(attributes.getAt(-1), std::out_of_range);
    EXPECT_THROW(attributes.getAt(2), std::out_of_range);

    EXPECT_EQ(Orka::eOk, attributes.remove(alternate));
    EXPECT_EQ(Orka::eNotFound, attributes.remove(alternate));
    for (auto status : {attributes.add(nullptr), attributes.override(nullptr), attributes.remove(nullptr)})
        EXPECT_EQ(Orka::eNullArgument, status);
    delete first; // override and remove gave these back; the collection deletes only `third`
    delete second;
    delete alternate;
}

// Names and descriptions not loaded from the loader of the class ending the owner chain, not
// inherited from a member owner, loaded without any loader, or the text form sent to a loader;
// categories and weights answered for classes, inherited through a display-as owner, or
// children weighed off by one.
TEST_F(Attributes, LookupsReadTheMemberItsOwnerAndTheLoaderOfTheClass)
{
    Loader loader;
    OxRxClass* rxClass =
        newOxRxClass(u"Shape", u"OxRxObject", 0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    oxrxBuildClassHierarchy();
    Group* parent = new Group(u"parent", rxClass, 4);
    Group* shown = new Group(u"shown", nullptr, 1);
    Group* bare = new Group(u"bare", nullptr);
    parent->attributes().add(new OxRxLocalizedNameAttribute(7u, 2u));
    parent->attributes().add(new OxRxDescriptionAttribute(u"about"));
    parent->attributes().add(new OxRxUiPlacementAttribute(u"Geometry", 10));
    shown->attributes().add(new OxRxUiPlacementAttribute(u"Geometry", 10));
    shown->attributes().add(new OxRxDisplayAsAttribute(u"shown"));
    bare->attributes().add(new OxRxDescriptionAttribute(3u));
    rxClass->attributes().add(new OxRxUiPlacementAttribute(u"Class", 3));
    rxClass->attributes().add(new OxRxLocalizedNameAttribute(1u));
    const OxRxMember* third = parent->children()->at(2);

    EXPECT_EQ(u"", text(OxRxLocalizedNameAttribute::getLocalizedName(parent)));
    EXPECT_EQ(nullptr, rxClass->addX(OxRxResourceLoader::desc(), &loader));
    EXPECT_EQ(u"2:7", text(OxRxLocalizedNameAttribute::getLocalizedName(parent)));
    EXPECT_EQ(u"2:7", text(OxRxLocalizedNameAttribute::getLocalizedName(third)));
    EXPECT_EQ(u"0:1", text(OxRxLocalizedNameAttribute::getLocalizedName(rxClass)));
    EXPECT_EQ(u"about", text(OxRxDescriptionAttribute::getDescription(third)));
    EXPECT_EQ(u"", text(OxRxDescriptionAttribute::getDescription(bare)));
    EXPECT_EQ(u"", text(OxRxLocalizedNameAttribute::getLocalizedName(nullptr)));
    EXPECT_EQ(u"2:7", text(parent->localName()));
    EXPECT_EQ(u"", text(third->localName()));
    OxString kept(u"kept");
    EXPECT_EQ(Orka::eNotFound, OxRxResourceLoader::loadString(bare, 1, 0, kept));
    EXPECT_EQ(u"kept", text(kept));

    EXPECT_EQ(std::u16string(u"Geometry"), OxRxUiPlacementAttribute::getCategory(third));
    EXPECT_FLOAT_EQ(10.6f, OxRxUiPlacementAttribute::getWeight(third));
    EXPECT_FLOAT_EQ(10.0f, OxRxUiPlacementAttribute::getWeight(parent));
    for (const OxRxObject* none :
         std::initializer_list<const OxRxObject*>{rxClass, shown->children()->at(0), bare}) {
        EXPECT_EQ(nullptr, OxRxUiPlacementAttribute::getCategory(none));
        EXPECT_EQ(0.0f, OxRxUiPlacementAttribute::getWeight(none));
    }
    rxClass->delX(OxRxResourceLoader::desc());
    for (Group* member : {parent, shown, bare})
        OxRxMember::deleteMember(member);
}

// A name found below a child before a direct child of that name, children listed twice or not
// in order, a removed child still owned (deleted twice) or still naming its old parent.
TEST_F(Attributes, CategoriesSearchDirectChildrenFirstAndGiveUpRemovedOnes)
{
    auto* a = new OxRxCategory(u"A", nullptr);
    auto* b = new OxRxCategory(u"B", a);
    auto* d = new OxRxCategory(u"D", a);
    auto* bd = new OxRxCategory(u"D", b);
    auto* bc = new OxRxCategory(u"C", b);
    new OxRxCategory(u"C", d);
    ASSERT_EQ(2, a->children()->logicalLength());
    EXPECT_EQ(b, a->children()->at(0));
    EXPECT_EQ(d, a->findDescendant(u"D"));
    EXPECT_EQ(bc, a->findDescendant(u"C"));
    EXPECT_EQ(nullptr, a->findDescendant(nullptr));

    EXPECT_EQ(Orka::eNotFound, a->removeChild(bd));
    EXPECT_EQ(Orka::eOk, b->removeChild(bd));
    EXPECT_EQ(nullptr, bd->owner());
    EXPECT_EQ(1, b->children()->logicalLength());
    OxRxMember::deleteMember(a);
    OxRxMember::deleteMember(bd);
}

// An enumeration of five tags whose names its value type lists.
class Colors : public OxRxValueType, public IOxRxEnumeration {
public:
    Colors() : OxRxValueType(u"Colors", *static_cast<IOxRxEnumeration*>(this), 4)
    {
        for (int i = 0; i < 5; ++i)
            oxdbImpSetOwnerForEnumTag(this, mTags[i] = new OxRxEnumTag(u"tag", OxRxValue(i)));
    }
    ~Colors() override
    {
        for (OxRxEnumTag* tag : mTags)
            OxRxMember::deleteMember(tag);
    }
    int subToString(const void*, OXCHAR*, std::size_t, StringFormat) const override { return -1; }
    bool subEqualTo(const void* a, const void* b) const override { return *(const int*)a == *(const int*)b; }
    int count() const override { return 5; }
    const OxRxEnumTag* getAt(int index) const override { return mTags[index]; }
    OxRxEnumTag* mTags[5];
};

// Segments counted per list instead of across lists, an empty segment taken as the name or
// moving the count on, alternate lists read for plain names, a tag's own name not preferred.
TEST_F(Attributes, EnumTagsTakeTheirSegmentOfTheTypesNameLists)
{
    Loader loader;
    loader.mTexts = {{1, u"Red;;Blue"}, {2, u"Cyan"}, {3, u"alt0;alt1;;alt3;alt4"}, {4, u"Own"}};
    auto* colors = new Colors();
    oxrxBuildClassHierarchy();
    colors->addX(OxRxResourceLoader::desc(), &loader);
    colors->attributes().add(new OxRxLocalizedNameAttribute(1));
    colors->attributes().add(new OxRxAlternateLocalizedNameAttribute(3));
    colors->attributes().add(new OxRxLocalizedNameAttribute(2));
    colors->mTags[0]->attributes().add(new OxRxLocalizedNameAttribute(4));
    std::vector<std::u16string> names, alternates;
    for (const OxRxEnumTag* tag : colors->mTags) {
        names.push_back(text(tag->localName()));
        alternates.push_back(text(tag->alternateLocalName()));
    }
    EXPECT_EQ((std::vector<std::u16string>{u"Own", u"", u"Blue", u"Cyan", u""}), names);
    EXPECT_EQ((std::vector<std::u16string>{u"Own", u"alt1", u"Blue", u"Cyan", u"alt4"}), alternates);
    colors->delX(OxRxResourceLoader::desc());
}

} // namespace
