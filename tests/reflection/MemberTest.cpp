// tests/reflection/MemberTest.cpp
// Members and member collections, properties with their overrule chains and read-only probe,
// value iterators, and the member query engine's walk, hiding, facets and reactors.

#include "support/RxTestSupport.h"

#include <oxfirst/OxRxProperty.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace {

std::vector<std::u16string> gCalls; // what properties, overrules, builders and reactors did

// An object that claims any class, holding one int.
class Probe : public OxRxObject {
public:
    explicit Probe(const OxRxClass* rxClass) : mpClass(rxClass) {}
    OxRxClass* isA() const override { return const_cast<OxRxClass*>(mpClass); }
    const OxRxClass* mpClass;
    int mValue = 7;
};

// A property of a Probe's int: read-only on request, throwing from its getter on request.
class IntProperty : public OxRxProperty {
public:
    explicit IntProperty(const OXCHAR* name, bool readOnly = false, const OxRxObject* owner = nullptr)
        : OxRxProperty(name, OxRxValueType::Desc<int>::value(), owner), mReadOnly(readOnly)
    {
    }
    bool mReadOnly;
    bool mThrows = false;

protected:
    Orka::ErrorStatus subGetValue(const OxRxObject* object, OxRxValue& value) const override
    {
        gCalls.push_back(u"get " + std::u16string(name()));
        if (mThrows)
            throw std::runtime_error("getter");
        if (object == nullptr)
            return Orka::eInvalidInput;
        value.set(static_cast<const Probe*>(object)->mValue);
        return Orka::eOk;
    }
    Orka::ErrorStatus subSetValue(OxRxObject* object, const OxRxValue& value) const override
    {
        if (mReadOnly)
            return Orka::eNotImplementedYet;
        if (&value == &OxRxValue::varies())
            return Orka::eOk;
        if (object == nullptr)
            return Orka::eInvalidInput;
        if (value.get<int>() == nullptr)
            return Orka::eWrongObjectType;
        static_cast<Probe*>(object)->mValue = *value.get<int>();
        return Orka::eOk;
    }
};

// A member whose children are computed by subChildren, counting the computations.
class Node : public OxRxMember {
public:
    Node(const OXCHAR* name, std::vector<const OXCHAR*> children)
        : OxRxMember(new OxRxMemberImp(name, OxRxValueType::Desc<int>::value(), nullptr, this)),
          mChildren(std::move(children))
    {
    }
    mutable int mComputed = 0;

protected:
    Orka::ErrorStatus subChildren(OxArray<const OxRxMember*>& children) const override
    {
        ++mComputed;
        for (const OXCHAR* child : mChildren)
            children.append(new Node(child, {}));
        return mChildren.empty() ? Orka::eNotImplementedYet : Orka::eOk;
    }

private:
    std::vector<const OXCHAR*> mChildren;
};

class Reactor : public OxRxMemberReactor {
public:
    void memberDeleted(const OxRxMember* member) override
    {
        gCalls.push_back(u"deleted " + std::u16string(member->name()));
    }
};

// Builds the members a std::function makes; counts its runs in gCalls.
using Build = std::function<void(OxRxMemberCollectionBuilder&)>;
void runBuild(OxRxMemberCollectionBuilder& builder, void* data)
{
    gCalls.push_back(u"build");
    (*static_cast<Build*>(data))(builder);
}

OxRxClass* makeClass(const OXCHAR* name, const OXCHAR* parent, Build* build)
{
    OxRxClass* rxClass = newOxRxClass(name, parent, 0, 0, 0, nullptr, nullptr, nullptr, nullptr,
                                      build != nullptr ? runBuild : nullptr, build);
    oxrxBuildClassHierarchy();
    return rxClass;
}

Build properties(std::vector<const OXCHAR*> names)
{
    return [names](OxRxMemberCollectionBuilder& builder) {
        for (const OXCHAR* name : names)
            builder.add(new IntProperty(name));
    };
}

// The names listed, without the root class's properties that every object has.
std::vector<std::u16string> namesOf(OxRxMemberIterator* iterator)
{
    std::vector<std::u16string> names;
    for (; !iterator->done(); iterator->next())
        if (iterator->current()->owner() != OxRxObject::desc())
            names.emplace_back(iterator->current()->name());
    delete iterator;
    return names;
}

class Members : public ::testing::Test {
protected:
    void SetUp() override { gCalls.clear(); }
    oxtest::TypeSystemScope mScope;
    OxRxMemberQueryEngine& engine() { return *OxRxMemberQueryEngine::theEngine(); }
};

// An object without the root's properties, or with them in another order, writable, reading
// something else than its class, or reading a null object.
TEST_F(Members, EveryObjectHasReadOnlyLocalizedNameIsAAndClassName)
{
    const OxRxMemberCollection* root = OxRxObject::desc()->members();
    ASSERT_EQ(3, root->count());
    const oxtest::TestObject object;
    const OxRxValue expected[] = {OxRxValue(OxString()), OxRxValue(oxtest::TestObject::desc()),
                                  OxRxValue(OxString())};
    for (int i = 0; i < 3; ++i) {
        const auto* property = OxRxProperty::cast(root->getAt(i));
        EXPECT_EQ(property, engine().find(&object, property->name()));
        OxRxValue value;
        EXPECT_EQ(Orka::eOk, property->getValue(&object, value));
        EXPECT_TRUE(value == expected[i]) << i;
        EXPECT_EQ(Orka::eInvalidInput, property->getValue(nullptr, value));
        EXPECT_TRUE(property->isReadOnly(&object));
    }
}

// A collection built more than once, in another order, with a null entry, or with members that
// keep the owner they were made with; a builder run again after it added nothing; a builder
// that threw and was cleared anyway (or leaked what it had added).
TEST_F(Members, CollectionIsBuiltOnceInBuilderOrderOwnedByTheClass)
{
    OxRxClass* unrelated = makeClass(u"Unrelated", u"OxRxObject", nullptr);
    Build build = [&](OxRxMemberCollectionBuilder& builder) {
        builder.add(new IntProperty(u"A"));
        EXPECT_EQ(Orka::eNullArgument, builder.add(nullptr));
        builder.add(new IntProperty(u"B", false, unrelated));
        builder.add(new IntProperty(u"C"));
    };
    Build nothing = [](OxRxMemberCollectionBuilder&) {};
    int throwsLeft = 1;
    Build throwing = [&](OxRxMemberCollectionBuilder& builder) {
        builder.add(new IntProperty(u"T"));
        if (throwsLeft-- > 0)
            throw std::runtime_error("builder");
    };
    OxRxClass* built = makeClass(u"Built", u"OxRxObject", &build);
    OxRxClass* empty = makeClass(u"Empty", u"OxRxObject", &nothing);
    OxRxClass* flaky = makeClass(u"Flaky", u"OxRxObject", &throwing);

    OxRxMemberCollection* members = built->members();
    ASSERT_NE(nullptr, members);
    EXPECT_EQ(members, built->members());
    ASSERT_EQ(3, members->count());
    EXPECT_EQ(std::u16string(u"B"), members->getAt(1)->name());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(built, members->getAt(i)->owner());
    EXPECT_THROW(members->getAt(3), std::out_of_range);
    EXPECT_EQ(nullptr, empty->members());
    EXPECT_EQ(nullptr, empty->members());
    EXPECT_EQ(nullptr, unrelated->members());
    EXPECT_EQ(2, std::count(gCalls.begin(), gCalls.end(), u"build"));

    EXPECT_THROW(flaky->members(), std::runtime_error);
    ASSERT_NE(nullptr, flaky->members());
    EXPECT_EQ(1, flaky->members()->count());
}

// Children computed again on every call, a plain member's "none" not remembered, children not
// deleted with their parent, or reactors told in the wrong order, twice, or not at all.
TEST_F(Members, ChildrenAreCachedAndDeletedWithTheirParentThroughTheReactors)
{
    Reactor reactor;
    engine().addReactor(&reactor);
    engine().addReactor(&reactor);
    engine().addReactor(nullptr);
    auto* parent = new Node(u"P", {u"X", u"Y"});
    auto* plain = new Node(u"Q", {});
    const OxArray<const OxRxMember*>* children = parent->children();
    ASSERT_NE(nullptr, children);
    EXPECT_EQ(children, parent->children());
    EXPECT_EQ(2, children->logicalLength());
    EXPECT_EQ(nullptr, plain->children());
    EXPECT_EQ(nullptr, plain->children());
    EXPECT_EQ(1, parent->mComputed);
    EXPECT_EQ(1, plain->mComputed);
    EXPECT_TRUE(plain->localName().isEmpty());

    OxRxMember::deleteMember(nullptr);
    OxRxMember::deleteMember(parent);
    OxRxMember::deleteMember(plain);
    EXPECT_EQ((std::vector<std::u16string>{u"deleted P", u"deleted X", u"deleted Y", u"deleted Q"}), gCalls);

    // Deleting a class deletes its members through the reactors too.
    Build build = properties({u"M"});
    OxRxClass* rxClass = makeClass(u"Doomed", u"OxRxObject", &build);
    rxClass->members();
    gCalls.clear();
    deleteOxRxClass(rxClass);
    engine().removeReactor(&reactor);
    EXPECT_EQ(std::vector<std::u16string>{u"deleted M"}, gCalls);
}

// Records the order of the chain and whether its current iterator is set while it runs.
class Overrule : public OxRxPropertyOverrule {
public:
    Overrule(const char16_t* name, bool passOn = true) : mName(name), mPassOn(passOn) {}
    Orka::ErrorStatus getValue(const OxRxProperty* property, const OxRxObject* object,
                               OxRxValue& value) override
    {
        gCalls.push_back(mName +
                         (OxRxOverruleInternals::getIterator(this) != nullptr ? u" in chain" : u" loose"));
        return mPassOn ? OxRxPropertyOverrule::getValue(property, object, value) : Orka::eOk;
    }
    Orka::ErrorStatus setValue(const OxRxProperty* property, OxRxObject* object,
                               const OxRxValue& value) override
    {
        if (mWritable && &value == &OxRxValue::varies())
            return Orka::eOk;
        return OxRxPropertyOverrule::setValue(property, object, value);
    }
    std::u16string mName;
    bool mPassOn;
    bool mWritable = false;
};

// Overrules run in the wrong order, skipped, left pointing at a dead chain position after a
// return or an exception, or not owned by the member (leaked or deleted on removal).
TEST_F(Members, OverrulesRunInListOrderAndRestoreTheirIteratorOnEveryPath)
{
    auto* property = new IntProperty(u"P");
    Probe probe(OxRxObject::desc());
    OxRxValue value;
    EXPECT_EQ(Orka::eOk, property->getValue(&probe, value));
    EXPECT_EQ(std::vector<std::u16string>{u"get P"}, gCalls);

    auto* a = new Overrule(u"A");
    auto* b = new Overrule(u"B");
    auto* stray = new Overrule(u"S");
    EXPECT_EQ(Orka::eOk, OxRxMemberOverrule::addOverrule(property, a, true));
    EXPECT_EQ(Orka::eOk, OxRxMemberOverrule::addOverrule(property, b, false));
    EXPECT_EQ(Orka::eInvalidInput, OxRxMemberOverrule::addOverrule(property, nullptr, true));
    EXPECT_EQ(Orka::eInvalidInput, OxRxMemberOverrule::addOverrule(nullptr, a, true));
    gCalls.clear();
    EXPECT_EQ(Orka::eOk, property->getValue(&probe, value));
    EXPECT_EQ((std::vector<std::u16string>{u"B in chain", u"A in chain", u"get P"}), gCalls);
    EXPECT_EQ(7, *value.get<int>());

    property->mThrows = true;
    EXPECT_THROW(property->getValue(&probe, value), std::runtime_error);
    EXPECT_EQ(nullptr, OxRxOverruleInternals::getIterator(a));
    EXPECT_EQ(nullptr, OxRxOverruleInternals::getIterator(b));
    property->mThrows = false;

    // Outside a chain the default goes straight to the property.
    gCalls.clear();
    EXPECT_EQ(Orka::eOk, a->getValue(property, &probe, value));
    EXPECT_EQ((std::vector<std::u16string>{u"A loose", u"get P"}), gCalls);

    OxArray<OxRxMemberOverrule::Record, OxArrayObjectCopyReallocator<OxRxMemberOverrule::Record>> records;
    records.append({property, stray});
    records.append({property, nullptr});
    records.append({property, b});
    EXPECT_EQ(Orka::eInvalidInput, OxRxMemberOverrule::removeOverrules(records));
    gCalls.clear();
    property->getValue(&probe, value);
    EXPECT_EQ((std::vector<std::u16string>{u"A in chain", u"get P"}), gCalls);
    delete b; // handed back by the removal
    delete stray;
    OxRxMember::deleteMember(property); // deletes a
}

// A read-only probe that writes, ignores the overrules, or reads the wrong setter; and the
// statuses of bad reads and writes.
TEST_F(Members, ReadOnlyProbeAndBadArgumentsAnswerByStatus)
{
    auto* writable = new IntProperty(u"W");
    auto* readOnly = new IntProperty(u"R", true);
    Probe probe(OxRxObject::desc());
    EXPECT_FALSE(writable->isReadOnly(&probe));
    EXPECT_TRUE(readOnly->isReadOnly(&probe));
    EXPECT_EQ(7, probe.mValue);
    auto* overrule = new Overrule(u"O");
    overrule->mWritable = true;
    OxRxMemberOverrule::addOverrule(readOnly, overrule, true);
    EXPECT_FALSE(readOnly->isReadOnly(&probe));

    OxRxValue value;
    EXPECT_EQ(Orka::eInvalidInput, writable->getValue(nullptr, value));
    EXPECT_EQ(Orka::eInvalidInput, writable->setValue(nullptr, OxRxValue(1)));
    EXPECT_EQ(Orka::eWrongObjectType, writable->setValue(&probe, OxRxValue(1.5)));
    EXPECT_EQ(Orka::eOk, writable->setValue(&probe, OxRxValue(9)));
    EXPECT_EQ(9, probe.mValue);
    OxRxMember::deleteMember(writable);
    OxRxMember::deleteMember(readOnly);
}

// An indexed property with three values, read-only, whose count or reads go wrong; a
// dictionary property that cannot be iterated.
class Indexed : public OxRxIndexedProperty {
public:
    Indexed() : OxRxIndexedProperty(u"I", OxRxValueType::Desc<int>::value(), nullptr) {}

protected:
    Orka::ErrorStatus subTryGetCount(const OxRxObject*, int& count) const override
    {
        return count = 3, Orka::eOk;
    }
    Orka::ErrorStatus subGetValue(const OxRxObject*, int index, OxRxValue& value) const override
    {
        if (index < 0 || index >= 3)
            return Orka::eInvalidInput;
        return value = OxRxValue(index * 10), Orka::eOk;
    }
    Orka::ErrorStatus subSetValue(OxRxObject*, int, const OxRxValue&) const override
    {
        return Orka::eNotImplementedYet;
    }
};
class Keyed : public OxRxDictionaryProperty {
public:
    Keyed() : OxRxDictionaryProperty(u"K", OxRxValueType::Desc<int>::value(), nullptr) {}
};

TEST_F(Members, CollectionPropertiesIterateByIndexAndProbeTheirSetters)
{
    auto* indexed = new Indexed();
    auto* keyed = new Keyed();
    Probe probe(OxRxObject::desc());
    OxRxValueIterator* iterator = indexed->newValueIterator(&probe);
    ASSERT_NE(nullptr, iterator);
    std::vector<int> seen;
    for (bool end = iterator->done(); !end; end = iterator->next())
        seen.push_back(*iterator->current().get<int>());
    EXPECT_EQ((std::vector<int>{0, 10, 20}), seen);
    EXPECT_TRUE(iterator->done());
    delete iterator;
    OxRxValue value;
    EXPECT_EQ(Orka::eInvalidInput, indexed->getValue(&probe, 3, value));
    EXPECT_TRUE(indexed->isReadOnly(&probe));
    EXPECT_FALSE(keyed->isReadOnly(&probe));
    EXPECT_EQ(nullptr, keyed->newValueIterator(&probe));
    EXPECT_EQ(Orka::eNotApplicable, keyed->getValue(&probe, u"k", value));
    EXPECT_EQ(Orka::eNotApplicable, indexed->insertValue(&probe, 0, value));
    OxRxMember::deleteMember(indexed);
    OxRxMember::deleteMember(keyed);
}

// Adds a fixed class, counting its calls.
class Facets : public OxRxFacetProvider {
public:
    explicit Facets(const OxRxClass* rxClass) : mpClass(rxClass) {}
    OxRxClass* isA() const override { return OxRxFacetProvider::desc(); }
    void getFacets(const OxRxObject*, const OxRxMemberQueryContext*,
                   OxArray<const OxRxClass*>& classes) const override
    {
        gCalls.push_back(u"facets");
        classes.append(mpClass);
    }
    const OxRxClass* mpClass;
};

// A wrong walk (a base member hiding a derived one, a facet hidden by the object's class), an
// order other than by UTF-16 unit, names listed twice, a class object answered as the class
// of classes, or a find that disagrees with the iterator.
TEST_F(Members, EngineMergesClassesFacetsFirstDerivedFirstInNameOrder)
{
    Build forB = properties({u"a", u"b"});
    Build forC = properties({u"b", u"A"});
    Build forF = properties({u"a", u"Z"});
    OxRxClass* b = makeClass(u"B", u"OxRxObject", &forB);
    OxRxClass* c = makeClass(u"C", u"B", &forC);
    OxRxClass* f = makeClass(u"F", u"OxRxObject", &forF);
    Probe object(c);

    EXPECT_EQ((std::vector<std::u16string>{u"A", u"a", u"b"}), namesOf(engine().newMemberIterator(&object)));
    EXPECT_EQ(c->members()->getAt(0), engine().find(&object, u"b"));
    OxRxMemberIterator* iterator = engine().newMemberIterator(&object, engine().defaultContext());
    EXPECT_EQ(engine().find(&object, u"a"), iterator->find(u"a"));
    EXPECT_EQ(nullptr, iterator->find(u"B"));
    EXPECT_EQ(u'A', iterator->current()->name()[0]); // find does not move
    delete iterator;
    EXPECT_EQ(nullptr, engine().find(&object, u"B"));
    EXPECT_EQ(nullptr, engine().find(nullptr, u"a"));
    EXPECT_EQ(nullptr, engine().newMemberIterator(nullptr));
    EXPECT_EQ((std::vector<std::u16string>{u"a", u"b"}), namesOf(engine().newMemberIterator(b)));
    Probe plain(OxRxObject::desc());
    EXPECT_TRUE(namesOf(engine().newMemberIterator(&plain)).empty());

    Facets facets(f);
    Facets ancestor(b); // already among the object's classes: adds nothing twice
    EXPECT_EQ(Orka::eInvalidInput, engine().addFacetProvider(nullptr));
    engine().addFacetProvider(&ancestor);
    engine().addFacetProvider(&ancestor);
    engine().addFacetProvider(&facets);
    gCalls.clear();
    EXPECT_EQ((std::vector<std::u16string>{u"A", u"Z", u"a", u"b"}),
              namesOf(engine().newMemberIterator(&object)));
    EXPECT_EQ(3, std::count(gCalls.begin(), gCalls.end(), u"facets"));
    // Facet classes are walked before the object's own, the last provider's first.
    EXPECT_EQ(f->members()->getAt(0), engine().find(&object, u"a"));
    EXPECT_EQ(b->members()->getAt(1), engine().find(&object, u"b"));
    EXPECT_EQ(Orka::eOk, engine().removeFacetProvider(&facets));
    EXPECT_EQ(Orka::eOk, engine().removeFacetProvider(&facets));
    engine().removeFacetProvider(&ancestor);
    engine().removeFacetProvider(&ancestor);
    EXPECT_EQ(b->members()->getAt(0), engine().find(&object, u"a"));
}

} // namespace

namespace {

struct Pt {
    int x;
    int y;
};
class PtType : public OxRxValueType {
public:
    PtType(MemberBuilder builder, void* data) : OxRxValueType(u"Pt", sizeof(Pt), builder, data) {}
    int subToString(const void*, OXCHAR*, std::size_t, StringFormat) const override { return -1; }
    bool subEqualTo(const void* a, const void* b) const override
    {
        return std::memcmp(a, b, sizeof(Pt)) == 0;
    }
};
OxRxClass* gpPtType = nullptr; // cleared by the registry when the type goes

// A coordinate of the Pt held by a boxed value.
class Coordinate : public OxRxProperty {
public:
    explicit Coordinate(const OXCHAR* name) : OxRxProperty(name, OxRxValueType::Desc<int>::value(), nullptr)
    {
    }

protected:
    int Pt::*field() const { return name()[0] == u'X' ? &Pt::x : &Pt::y; }
    Orka::ErrorStatus subGetValue(const OxRxObject* object, OxRxValue& value) const override
    {
        const OxRxValue* box = OxRxValue::unbox(object);
        return box != nullptr ? (value = OxRxValue(static_cast<const Pt*>(box->data())->*field()), Orka::eOk)
                              : Orka::eInvalidInput;
    }
    Orka::ErrorStatus subSetValue(OxRxObject* object, const OxRxValue& value) const override
    {
        OxRxValue* box = OxRxValue::unbox(object);
        if (box == nullptr || &value == &OxRxValue::varies())
            return box != nullptr ? Orka::eOk : Orka::eInvalidInput;
        static_cast<Pt*>(box->data())->*field() = *value.get<int>();
        return Orka::eOk;
    }
};

} // namespace

template <>
struct OxRxValueType::Desc<Pt> {
    static const OxRxValueType& value()
    {
        if (gpPtType == nullptr) {
            new PtType(
                [](OxRxMemberCollectionBuilder& builder, void*) {
                    builder.add(new Coordinate(u"X"));
                    builder.add(new Coordinate(u"Y"));
                },
                nullptr);
            oxrxFindClassByName(&gpPtType, u"Pt");
        }
        return *static_cast<const OxRxValueType*>(gpPtType);
    }
};

namespace {

// A property of an object's Pt.
class PtProperty : public OxRxProperty {
public:
    PtProperty() : OxRxProperty(u"P", OxRxValueType::Desc<Pt>::value(), nullptr) {}
    static inline Pt gStored{1, 2};
    static inline Orka::ErrorStatus gReadStatus = Orka::eOk; // what a read answers when not eOk

protected:
    Orka::ErrorStatus subGetValue(const OxRxObject*, OxRxValue& value) const override
    {
        gCalls.push_back(u"get P");
        if (gReadStatus != Orka::eOk)
            return gReadStatus;
        return value = OxRxValue(gStored), Orka::eOk;
    }
    Orka::ErrorStatus subSetValue(OxRxObject*, const OxRxValue& value) const override
    {
        gCalls.push_back(u"set P");
        if (value.get<Pt>() != nullptr)
            gStored = *value.get<Pt>();
        return Orka::eOk;
    }
};

// Answers the same name list for every id.
struct Lists : OxRxResourceLoader {
    Orka::ErrorStatus subLoadString(unsigned int, unsigned int, OxString& result) override
    {
        return result = OxString(u"Why;Ex"), Orka::eOk;
    }
};

class Box : public OxRxBoxedValue {
public:
    explicit Box(OxRxValue* value) : mpValue(value) {}
    OxRxValue* value() override { return mpValue; }
    const OxRxValue* value() const override { return mpValue; }
    OxRxValue* mpValue;
};

// Promoted names in the wrong order, empty or unknown pieces made into children, the promoted
// property listed without a display-as attribute (or hidden with one), promotion under the
// default context, a sub-property that reads or writes the wrong part of the value, a
// sub-property's name taken from its place in the value type rather than among the parent's
// children, or a box whose type's members are not listed.
TEST_F(Members, PromotingContextListsSubPropertiesThatReadAndWriteThroughTheParent)
{
    OxRxTypePromotionAttribute::rxInit();
    oxrxBuildClassHierarchy();
    const OxRxValueType& ptType = OxRxValueType::Desc<Pt>::value();
    const_cast<OxRxValueType&>(ptType).attributes().add(new OxRxTypePromotionAttribute(u"Y;;W;X"));
    Build build = [](OxRxMemberCollectionBuilder& builder) { builder.add(new PtProperty()); };
    OxRxClass* holder = makeClass(u"Holder", u"OxRxObject", &build);
    Probe object(holder);
    const OxRxPromotingQueryContext* promoting = engine().promotingContext();

    EXPECT_EQ(std::vector<std::u16string>{u"P"}, namesOf(engine().newMemberIterator(&object)));
    EXPECT_EQ((std::vector<std::u16string>{u"P/X", u"P/Y"}),
              namesOf(engine().newMemberIterator(&object, promoting)));
    OxRxProperty* x = OxRxProperty::cast(engine().find(&object, u"P/X", promoting));
    ASSERT_NE(nullptr, x);
    const OxArray<const OxRxMember*>* promoted = engine().find(&object, u"P")->children();
    ASSERT_EQ(2, promoted->logicalLength());
    EXPECT_EQ(x, (*promoted)[1]); // Y;;W;X: the empty piece and the unknown W give no child
    EXPECT_EQ(engine().find(&object, u"P"), x->owner());
    OxRxValue value;
    EXPECT_EQ(Orka::eOk, x->getValue(&object, value));
    EXPECT_EQ(1, *value.get<int>());
    EXPECT_EQ(Orka::eOk, x->setValue(&object, OxRxValue(5)));
    EXPECT_EQ(5, PtProperty::gStored.x);
    EXPECT_EQ(2, PtProperty::gStored.y);
    EXPECT_FALSE(x->isReadOnly(&object));

    Lists lists; // the parent's list, loaded for the parent's owner: Y is child 0, X child 1
    holder->addX(OxRxResourceLoader::desc(), &lists);
    engine().find(&object, u"P")->attributes().add(new OxRxLocalizedNameAttribute(1u));
    EXPECT_EQ(u"Why|Ex",
              std::u16string((*promoted)[0]->localName().kwszPtr()) + u"|" + x->localName().kwszPtr());

    engine().find(&object, u"P")->attributes().add(new OxRxDisplayAsAttribute(u"P"));
    EXPECT_EQ((std::vector<std::u16string>{u"P", u"P/X", u"P/Y"}),
              namesOf(engine().newMemberIterator(&object, promoting)));

    OxRxValue point(Pt{3, 4});
    Box box(&point);
    EXPECT_EQ((std::vector<std::u16string>{u"X", u"Y"}), namesOf(engine().newMemberIterator(&box)));
    EXPECT_EQ(nullptr, makeSubProperty(x, u"Nowhere", u"X", nullptr, nullptr));
    EXPECT_EQ(nullptr, makeSubProperty(x, u"Pt", u"x", nullptr, nullptr));
}

// Sub-properties made directly: a parent that is no OxRxProperty accepted (or the type's members
// built for it), null names read through; the availability and read-only tests ignored, or the
// parent read under a probe the read-only test answers, a copied probe taken for a value, a
// failed read of the parent passed over; shared attributes deleted with a sub-property, read
// after their member went first, or an attribute of the sub-property's own left undeleted (ASan).
TEST_F(Members, SubPropertiesKeepTheirTestsAndShareOnlyTheMembersAttributes)
{
    Build build = [](OxRxMemberCollectionBuilder& builder) {
        auto* z = new IntProperty(u"Z");
        z->attributes().add(new OxRxDescriptionAttribute(u"zed"));
        builder.add(z);
    };
    OxRxClass* zed = makeClass(u"Zed", u"OxRxObject", &build);
    auto* parent = new PtProperty();
    auto* indexed = new Indexed();
    EXPECT_EQ(nullptr, makeSubProperty(indexed, u"Zed", u"Z", nullptr, nullptr));
    EXPECT_TRUE(gCalls.empty());
    for (auto [owner, type, name] :
         {std::tuple<OxRxPropertyBase*, const OXCHAR*, const OXCHAR*>{nullptr, u"Zed", u"Z"},
          {parent, nullptr, u"Z"},
          {parent, u"Zed", nullptr}})
        EXPECT_EQ(nullptr, makeSubProperty(owner, type, name, nullptr, nullptr));

    OxRxPropertyBase* guarded = makeSubProperty(
        parent, u"Zed", u"Z", [](const OxRxObject*) { return false; },
        [](const OxRxObject*) { return true; });
    OxRxPropertyBase* open = makeSubProperty(parent, u"Zed", u"Z", nullptr, nullptr);
    ASSERT_TRUE(guarded != nullptr && open != nullptr);
    Probe object(zed);
    OxRxValue value;
    gCalls.clear();
    EXPECT_EQ(Orka::eNotImplementedYet, OxRxProperty::cast(guarded)->getValue(&object, value));
    EXPECT_TRUE(guarded->isReadOnly(&object));
    const OxRxValue probe(OxRxValue::varies());
    EXPECT_EQ(Orka::eNotImplementedYet, OxRxProperty::cast(guarded)->setValue(&object, probe));
    EXPECT_TRUE(gCalls.empty());                    // neither the parent nor the member was asked
    PtProperty::gReadStatus = Orka::eNotApplicable; // the parent's failure is the answer
    EXPECT_EQ(Orka::eNotApplicable, OxRxProperty::cast(open)->getValue(&object, value));
    PtProperty::gReadStatus = Orka::eOk;

    const OxRxMember* z = zed->members()->getAt(0);
    open->attributes().add(new OxRxUiPlacementAttribute(u"own", 1));
    EXPECT_EQ(u"zed", std::u16string(OxRxDescriptionAttribute::getDescription(open).kwszPtr()));
    OxRxMember::deleteMember(open); // before its member
    EXPECT_EQ(u"zed", std::u16string(OxRxDescriptionAttribute::getDescription(z).kwszPtr()));
    deleteOxRxClass(zed); // the member and its attributes go before the other sub-property
    OxRxMember::deleteMember(guarded);
    OxRxMember::deleteMember(parent);
    OxRxMember::deleteMember(indexed);
}

} // namespace
