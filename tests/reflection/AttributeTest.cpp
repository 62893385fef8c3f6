// tests/reflection/AttributeTest.cpp
// Attribute collections, the lookups that read attributes off members and classes, the resource
// loader those lookups load their texts through, and the category tree.

#include "support/RxTestSupport.h"

#include <oxfirst/OxRxMember.h>
#include <oxfirst/OxRxProperty.h>
#include <oxfirst/OxRxValue.h>

#include <algorithm>
#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

std::u16string text(const OxString& string)
{
    return string.kwszPtr();
}

// Answers the text listed for an id, else "<hint>:<id>".
struct Loader : OxRxResourceLoader {
    std::map<unsigned int, std::u16string> mTexts;
    Orka::ErrorStatus subLoadString(unsigned int id, unsigned int sourceHint, OxString& result) override
    {
        const std::u16string fallback{char16_t(u'0' + sourceHint), u':', char16_t(u'0' + id)};
        result = OxString((mTexts.count(id) != 0 ? mTexts[id] : fallback).c_str());
        return Orka::eOk;
    }
};

// A property of `owner` with children of its type named by the letters of `children`.
struct Named : OxRxProperty {
    Named(const OXCHAR* name, const OxRxValueType& type, const OxRxObject* owner = nullptr,
          std::u16string children = u"")
        : OxRxProperty(name, type, owner), mChildren(children)
    {
    }
    Orka::ErrorStatus subChildren(OxArray<const OxRxMember*>& children) const override
    {
        for (char16_t child : mChildren)
            children.append(new Named(std::u16string(1, child).c_str(), type(), this));
        return Orka::eOk;
    }
    std::u16string mChildren;
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

// Names not loaded through the class ending the owner chain or not inherited from a member owner,
// the text form sent to a loader, an id form given the text form's hint read as a text (or freed
// as one); categories and weights answered for classes, inherited through a display-as owner, or
// children weighed off by one; lookups that fail on null, plain objects or classes and members
// without attributes.
TEST_F(Attributes, LookupsReadTheMemberItsOwnerAndTheLoaderOfTheClass)
{
    Loader loader;
    OxRxClass* rxClass =
        newOxRxClass(u"Shape", u"OxRxObject", 0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    oxrxBuildClassHierarchy();
    const OxRxValueType& type = OxRxValueType::Desc<int>::value();
    auto* parent = new Named(u"parent", type, rxClass, u"abcd");
    auto* shown = new Named(u"shown", type, nullptr, u"a");
    auto* bare = new Named(u"bare", type);
    parent->attributes().add(new OxRxLocalizedNameAttribute(7u, 2u));
    parent->attributes().add(new OxRxDescriptionAttribute(u"about"));
    parent->attributes().add(new OxRxUiPlacementAttribute(u"Geometry", 10));
    shown->attributes().add(new OxRxUiPlacementAttribute(u"Geometry", 10));
    shown->attributes().add(new OxRxDisplayAsAttribute(u"shown"));
    shown->attributes().add(new OxRxDescriptionAttribute(3u, OxRxDescriptionAttribute::kTextHint));
    bare->attributes().add(new OxRxDescriptionAttribute(3u));
    rxClass->attributes().add(new OxRxUiPlacementAttribute(u"Class", 3));
    rxClass->attributes().add(new OxRxLocalizedNameAttribute(1u));
    const OxRxMember* third = parent->children()->at(2);

    EXPECT_EQ(nullptr, rxClass->addX(OxRxResourceLoader::desc(), &loader));
    EXPECT_EQ(u"2:7", text(OxRxLocalizedNameAttribute::getLocalizedName(parent)));
    EXPECT_EQ(u"2:7", text(OxRxLocalizedNameAttribute::getLocalizedName(third)));
    EXPECT_EQ(u"0:1", text(OxRxLocalizedNameAttribute::getLocalizedName(rxClass)));
    EXPECT_EQ(u"about", text(OxRxDescriptionAttribute::getDescription(third)));
    EXPECT_EQ(u"", text(OxRxDescriptionAttribute::getDescription(bare)));
    EXPECT_EQ(u"2:7", text(parent->localName()));
    EXPECT_EQ(u"", text(third->localName()));
    OxString kept(u"kept");
    EXPECT_EQ(Orka::eNotFound, OxRxResourceLoader::loadString(bare, 1, 0, kept));
    EXPECT_EQ(Orka::eNotFound, OxRxResourceLoader::loadString(nullptr, 1, 0, kept));
    EXPECT_EQ(u"kept", text(kept));

    EXPECT_EQ(std::u16string(u"Geometry"), OxRxUiPlacementAttribute::getCategory(third));
    EXPECT_FLOAT_EQ(10.6f, OxRxUiPlacementAttribute::getWeight(third));
    EXPECT_FLOAT_EQ(10.0f, OxRxUiPlacementAttribute::getWeight(parent));
    const oxtest::TestObject object;
    for (const OxRxObject* none : std::initializer_list<const OxRxObject*>{
             rxClass, shown->children()->at(0), bare, oxtest::TestObject::desc(), &object, nullptr}) {
        EXPECT_EQ(nullptr, OxRxUiPlacementAttribute::getCategory(none));
        EXPECT_EQ(0.0f, OxRxUiPlacementAttribute::getWeight(none));
        if (none != rxClass) {
            EXPECT_EQ(u"", text(OxRxLocalizedNameAttribute::getLocalizedName(none)) +
                               text(OxRxDescriptionAttribute::getDescription(none)));
        }
    }
    for (Named* member : {parent, shown, bare})
        OxRxMember::deleteMember(member);
}

// A name found below a child before a direct child of that name, children listed twice or not
// in order, a removed child still owned (deleted twice) or still naming its old parent; a legacy
// id left unset, null categories, names and children read through.
TEST_F(Attributes, CategoriesSearchDirectChildrenFirstAndGiveUpRemovedOnes)
{
    auto* a = new OxRxCategory(u"A", nullptr);
    auto* b = new OxRxCategory(u"B", a);
    auto* d = new OxRxCategory(u"D", a);
    auto* bd = new OxRxCategory(u"D", b);
    auto* bc = new OxRxCategory(u"C", b);
    new OxRxCategory(u"C", d);
    ASSERT_EQ(std::pair(2, (const OxRxMember*)b),
              std::pair(a->children()->logicalLength(), a->children()->at(0)));
    EXPECT_EQ(d, a->findDescendant(u"D"));
    EXPECT_EQ(bc, a->findDescendant(u"C"));
    EXPECT_EQ(nullptr, a->findDescendant(nullptr));

    int id = -1;
    EXPECT_EQ(std::pair(Orka::eOk, 0), std::pair(oxdbGetLegacyCategoryId(bc, id), id));
    EXPECT_EQ(Orka::eNullArgument, oxdbGetLegacyCategoryId(nullptr, id));
    EXPECT_EQ(Orka::eNullArgument, oxdbSetLegacyCategoryId(nullptr, 7));
    EXPECT_EQ(Orka::eNotFound, bc->removeChild(nullptr));
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
    ~Colors() override { std::for_each(mTags, mTags + 5, OxRxMember::deleteMember); }
    int subToString(const void*, OXCHAR*, std::size_t, StringFormat) const override { return -1; }
    bool subEqualTo(const void* a, const void* b) const override { return *(const int*)a == *(const int*)b; }
    int count() const override { return 5; }
    const OxRxEnumTag* getAt(int index) const override { return mTags[index]; }
    OxRxEnumTag* mTags[5];
};

// Segments counted per list instead of across lists, an empty segment taken as the name or
// moving the count on, alternate lists read for plain names, a tag's own name not preferred, a
// tag without owner read as listed.
TEST_F(Attributes, EnumTagsTakeTheirSegmentOfTheTypesNameLists)
{
    Loader loader;
    loader.mTexts = {{1, u"Red;;Blue"}, {2, u"Cyan"}, {3, u"alt0;alt1;;alt3;alt4"}, {4, u"Own"}};
    auto* colors = new Colors();
    oxrxBuildClassHierarchy();
    colors->addX(OxRxResourceLoader::desc(), &loader);
    for (OxRxAttribute* list : std::initializer_list<OxRxAttribute*>{
             new OxRxLocalizedNameAttribute(1), new OxRxAlternateLocalizedNameAttribute(3),
             new OxRxLocalizedNameAttribute(2)})
        colors->attributes().add(list);
    colors->mTags[0]->attributes().add(new OxRxLocalizedNameAttribute(4));
    auto* stray = new OxRxEnumTag(u"stray", OxRxValue(9)); // no owner
    std::vector<std::u16string> names;                     // "localName|alternateLocalName"
    for (const OxRxEnumTag* tag :
         {colors->mTags[0], colors->mTags[1], colors->mTags[2], colors->mTags[3], colors->mTags[4], stray})
        names.push_back(text(tag->localName()) + u"|" + text(tag->alternateLocalName()));
    EXPECT_EQ((std::vector<std::u16string>{u"Own|Own", u"|alt1", u"Blue|Blue", u"Cyan|Cyan", u"|alt4", u"|"}),
              names);
    OxRxMember::deleteMember(stray);
}

// A reference type whose every value refers to one object, counting what it hands out and back.
struct Link : OxRxValueType, IOxRxReferenceType {
    Link() : OxRxValueType(u"Link", *static_cast<IOxRxReferenceType*>(this), 4) {}
    int subToString(const void*, OXCHAR*, std::size_t, StringFormat) const override { return -1; }
    bool subEqualTo(const void*, const void*) const override { return true; }
    OxRxObject* dereference(const OxRxValue&, int) const override { return ++out, &target; }
    bool release(OxRxObject*) const override { return ++back > 0; }
    mutable int out = 0, back = 0;
    mutable oxtest::TestObject target;
};

// Empty and "." segments taken as names, the last property followed, an object kept or released
// twice, a rejected value still followed, a child looked up on the object instead of the property,
// a null path or start read through.
TEST_F(Attributes, ReferencePathsFollowReferencesAndEnterChildren)
{
    Link* link = new Link();
    const Named p(u"p", *link), q(u"q", OxRxValueType::Desc<int>::value(), nullptr, u"bc");
    static const Named* graph[2]; // p on the start, q on the target
    static const OxRxObject* target;
    std::tie(graph[0], graph[1], target) = std::tuple(&p, &q, &link->target);
    auto find = [](const OxRxObject* object, const OXCHAR* name) -> const OxRxPropertyBase* {
        const Named* here = graph[object == target];
        return here->name() == std::u16string(name) ? here : nullptr;
    };
    oxtest::TestObject start;
    auto parse = [&](const OXCHAR* path, OxRxRefersToAttribute::AcceptValue accept = nullptr) {
        const OxRxPropertyBase* found = OxRxRefersToAttribute::parseReference(path, &start, find, accept);
        return found != nullptr ? std::u16string(found->name()) : u"-";
    };
    for (const OXCHAR* path : {u"p", u"/p", u"./p", u"p/"})
        EXPECT_EQ(u"p", parse(path));
    EXPECT_EQ(0, link->out);
    for (const OXCHAR* path : {u"", u"//", u"./.", u"p/q/x", u"p/p"})
        EXPECT_EQ(u"-", parse(path));
    EXPECT_EQ(nullptr, OxRxRefersToAttribute::parseReference(nullptr, &start, find, nullptr));
    EXPECT_EQ(nullptr, OxRxRefersToAttribute::parseReference(u"p", nullptr, find, nullptr));
    EXPECT_EQ(u"q", parse(u"p/./q/"));
    EXPECT_EQ(u"c", parse(u"p/q/c"));
    EXPECT_EQ(u"-", parse(u"p/q", [](const OxRxPropertyBase*, OxRxValue&) { return false; }));
    EXPECT_EQ(std::pair(4, 4), std::pair(link->out, link->back));
}

} // namespace
