// examples/oxdemo/BrowserTour.cpp
// A property browser in the terminal, as a host's inspector shows an object: the members of a
// circle grouped by category and ordered by weight, their names and descriptions loaded through
// a resource loader, the coordinates of its centre indented under the centre, its line colour
// shown by name, and a reference path followed from the circle through its layer.

#include "Tours.h"

#include <oxfirst/oxfirst.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Point {
    double x;
    double y;
};
enum class LineColor { kRed, kGreen, kBlue };
// The layer a shape is drawn on, by its index among the drawing's layers.
struct LayerLink {
    int index;
};

} // namespace

template <>
struct OxRxValueType::Desc<Point> {
    static const OxRxValueType& value();
};
template <>
struct OxRxValueType::Desc<LineColor> {
    static const OxRxValueType& value();
};
template <>
struct OxRxValueType::Desc<LayerLink> {
    static const OxRxValueType& value();
};

namespace {

// The ids of the texts a host would keep in its resource file. A member's description follows
// its name.
enum Text { kCenter = 0, kRadius = 2, kColor = 4, kLayer = 6, kX = 8, kY, kTags, kTitle, kRound, kTexts };

class Texts : public OxRxResourceLoader {
protected:
    Orka::ErrorStatus subLoadString(unsigned int id, unsigned int, OxString& result) override
    {
        static const OXCHAR* const texts[kTexts] = {u"Centre",         u"Where the circle stands",
                                                    u"Radius",         u"Distance from the centre to the rim",
                                                    u"Line colour",    u"Colour the rim is drawn in",
                                                    u"Layer",          u"Layer the shape is drawn on",
                                                    u"Centre X",       u"Centre Y",
                                                    u"Red;Green;Blue", u"Title",
                                                    u"Round shape"};
        if (id >= kTexts)
            return Orka::eNotFound;
        result = OxString(texts[id]);
        return Orka::eOk;
    }
};

// One loader serves every class of the tour; it lives as long as the process.
Texts gTexts;

// The objects the browser looks at: a circle on a layer.
struct Layer : OxRxObject {
    OxRxClass* isA() const override { return gpClass; }
    static inline OxRxClass* gpClass = nullptr;
    const OXCHAR* title = u"Outlines";
};

struct Shape : OxRxObject {
    static inline OxRxClass* gpClass = nullptr;
    LineColor color = LineColor::kBlue;
    LayerLink layer{0};
};

struct Circle : Shape {
    OxRxClass* isA() const override { return gpClass; }
    static inline OxRxClass* gpClass = nullptr;
    Point center{4, 3};
    double radius = 1.5;
};

Layer gLayer;

// The instance of O an object stands for: the object itself when its class derives from O's, or
// for a Point the value in a box.
template <class O>
const O* objectOf(const OxRxObject* object)
{
    const bool isO = object != nullptr && object->isA()->isDerivedFrom(O::gpClass);
    return isO ? static_cast<const O*>(object) : nullptr;
}
template <>
const Point* objectOf<Point>(const OxRxObject* object)
{
    const OxRxValue* box = OxRxValue::unbox(object);
    return box != nullptr ? box->get<Point>() : nullptr;
}

// A read-only property of an O, reading one field of it.
template <class O, class T>
class Field : public OxRxProperty {
public:
    Field(const OXCHAR* name, T O::*field)
        : OxRxProperty(name, OxRxValueType::Desc<T>::value(), nullptr), mpField(field)
    {
    }

protected:
    Orka::ErrorStatus subGetValue(const OxRxObject* object, OxRxValue& value) const override
    {
        const O* owner = objectOf<O>(object);
        if (owner == nullptr)
            return Orka::eInvalidInput;
        value.set(owner->*mpField);
        return Orka::eOk;
    }

private:
    T O::*mpField;
};

// The centre shows its coordinates as children, each read through the centre.
class CenterField : public Field<Circle, Point> {
public:
    CenterField() : Field(u"Center", &Circle::center) {}

protected:
    Orka::ErrorStatus subChildren(OxArray<const OxRxMember*>& children) const override
    {
        for (const OXCHAR* coordinate : {u"X", u"Y"})
            children.append(makeSubProperty(this, u"Point", coordinate, nullptr, nullptr));
        return Orka::eOk;
    }
};

// Places a member under a category with a weight, with a loaded name and description.
OxRxMember* placed(OxRxMember* member, const OXCHAR* category, unsigned int weight, Text name)
{
    member->attributes().add(new OxRxUiPlacementAttribute(category, weight));
    member->attributes().add(new OxRxLocalizedNameAttribute(name));
    member->attributes().add(new OxRxDescriptionAttribute(name + 1u));
    return member;
}

// Added in the order the weights undo: a browser lists the layer first.
void describeShape(OxRxMemberCollectionBuilder& builder, void*)
{
    builder.add(placed(new Field(u"Color", &Shape::color), u"Appearance", 2, kColor));
    OxRxMember* layer = placed(new Field(u"Layer", &Shape::layer), u"Appearance", 1, kLayer);
    layer->attributes().add(new OxRxRefersToAttribute(u"Layer/Title")); // what a browser shows for it
    builder.add(layer);
}

void describeCircle(OxRxMemberCollectionBuilder& builder, void*)
{
    builder.add(placed(new Field(u"Radius", &Circle::radius), u"Geometry", 2, kRadius));
    builder.add(placed(new CenterField(), u"Geometry", 1, kCenter));
}

void describeLayer(OxRxMemberCollectionBuilder& builder, void*)
{
    OxRxMember* title = new Field(u"Title", &Layer::title);
    title->attributes().add(new OxRxLocalizedNameAttribute(kTitle));
    builder.add(title);
}

// The text of a value: an enumeration's by its tag's name, a reference by what it refers to.
std::string textOf(const OxRxValue& value)
{
    if (const OxRxEnumTag* tag = value.getEnumTag())
        return narrowForPrint(tag->alternateLocalName().kwszPtr());
    if (const LayerLink* link = value.get<LayerLink>())
        return "layer #" + std::to_string(link->index);
    OXCHAR buffer[64];
    if (value.toString(buffer, 64) < 0)
        return "-";
    return *buffer != 0 ? narrowForPrint(buffer) : "\"\"";
}

// The name a browser shows: the localized one, else the member's own.
std::string shownName(const OxRxMember* member)
{
    const OxString local = member->localName();
    return narrowForPrint(*local.kwszPtr() != 0 ? local.kwszPtr() : member->name());
}

// One line per member: weight, name, value and (for a top-level member) its description; then
// the sub-properties under it. A sub-property's own child is the value type's member, which reads
// a boxed value rather than this object, so the walk stops at sub-properties.
void printMember(const OxRxMember* member, const OxRxObject& object, int depth)
{
    OxRxValue value;
    const OxRxProperty* property = OxRxProperty::cast(member);
    const bool read = property != nullptr && property->getValue(&object, value) == Orka::eOk;
    char line[160];
    std::snprintf(line, sizeof line, "    %5.2f %*s%-*s %-12s", OxRxUiPlacementAttribute::getWeight(member),
                  2 * depth, "", 14 - 2 * depth, shownName(member).c_str(),
                  read ? textOf(value).c_str() : "-");
    std::string text = line;
    if (depth == 0)
        text += narrowForPrint(OxRxDescriptionAttribute::getDescription(member).kwszPtr());
    std::printf("%s\n", text.erase(text.find_last_not_of(' ') + 1).c_str());
    if (const OxArray<const OxRxMember*>* children = member->children())
        for (int i = 0; i < children->logicalLength(); ++i)
            if (OxRxSubProperty::cast(children->at(i)) != nullptr)
                printMember(children->at(i), object, depth + 1);
}

// Members grouped by category (the uncategorized last), each group ordered by weight.
void browse(const OxRxObject& object)
{
    struct Entry {
        std::string category;
        float weight;
        const OxRxMember* member;
    };
    std::vector<Entry> entries;
    OxRxMemberIterator* members = OxRxMemberQueryEngine::theEngine()->newMemberIterator(&object, nullptr);
    for (; !members->done(); members->next()) {
        const OXCHAR* category = OxRxUiPlacementAttribute::getCategory(members->current());
        entries.push_back({category != nullptr ? narrowForPrint(category) : "",
                           OxRxUiPlacementAttribute::getWeight(members->current()), members->current()});
    }
    delete members;
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.category.empty() != b.category.empty())
            return b.category.empty();
        return a.category != b.category ? a.category < b.category : a.weight < b.weight;
    });
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i == 0 || entries[i].category != entries[i - 1].category)
            std::printf("  [%s]\n", entries[i].category.empty() ? "Other" : entries[i].category.c_str());
        printMember(entries[i].member, object, 0);
    }
}

// Follows `path` from the circle; what it names is a property of the layer, read there.
void followReference(const OxRxObject& circle, const OXCHAR* path)
{
    const OxRxPropertyBase* found = OxRxRefersToAttribute::parseReference(path, &circle, nullptr, nullptr);
    std::printf("  following \"%s\": ", narrowForPrint(path).c_str());
    const OxRxProperty* property = OxRxProperty::cast(found);
    OxRxValue value;
    if (property == nullptr || property->getValue(&gLayer, value) != Orka::eOk)
        std::printf("no property there\n");
    else
        std::printf("%s of the layer, which reads %s\n", shownName(property).c_str(), textOf(value).c_str());
}

// A value type of the tour, made and registered on first use after each start of the type system.
template <class Type, class... Args>
const OxRxValueType& tourType(const OXCHAR* name, Args... args)
{
    static OxRxClass* gpType = nullptr; // cleared by the class registry when the type goes
    if (gpType == nullptr) {
        (new Type(name, args...))->addX(OxRxResourceLoader::desc(), &gTexts);
        oxrxFindClassByName(&gpType, name);
    }
    return *static_cast<const OxRxValueType*>(gpType);
}

// A type whose instances are ints, given its meaning by Interface.
template <class Interface>
class IntType : public OxRxValueType, public Interface {
public:
    explicit IntType(const OXCHAR* name) : OxRxValueType(name, *static_cast<Interface*>(this), sizeof(int)) {}
    int subToString(const void*, OXCHAR*, std::size_t, StringFormat) const override { return -1; }
    bool subEqualTo(const void* a, const void* b) const override
    {
        return *static_cast<const int*>(a) == *static_cast<const int*>(b);
    }
};

// The line colours: tags named by the segments of the type's name list. A tag holds an int (the
// type is still being made); the tag search compares it with this type's equality.
class LineColorType : public IntType<IOxRxEnumeration> {
public:
    explicit LineColorType(const OXCHAR* name) : IntType(name)
    {
        for (int i = 0; i < 3; ++i)
            oxdbImpSetOwnerForEnumTag(this, mTags[i] = new OxRxEnumTag(u"tag", OxRxValue(i)));
        attributes().add(new OxRxLocalizedNameAttribute(kTags));
    }
    ~LineColorType() override { std::for_each(mTags, mTags + 3, OxRxMember::deleteMember); }
    int count() const override { return 3; }
    const OxRxEnumTag* getAt(int index) const override { return mTags[index]; }

private:
    OxRxEnumTag* mTags[3];
};

// A layer link refers to the layer it names. The layers live as long as the process, so a
// release has nothing to give back.
class LayerLinkType : public IntType<IOxRxReferenceType> {
public:
    using IntType::IntType;
    OxRxObject* dereference(const OxRxValue& value, int) const override
    {
        const LayerLink* link = value.get<LayerLink>();
        return link != nullptr && link->index == 0 ? &gLayer : nullptr;
    }
    bool release(OxRxObject*) const override { return true; }
};

void describePoint(OxRxMemberCollectionBuilder& builder, void*)
{
    OxRxMember* x = new Field(u"X", &Point::x);
    OxRxMember* y = new Field(u"Y", &Point::y);
    x->attributes().add(new OxRxLocalizedNameAttribute(kX));
    y->attributes().add(new OxRxLocalizedNameAttribute(kY));
    builder.add(x);
    builder.add(y);
}

} // namespace

template <>
int OxRxValueTypePOD<Point>::subToString(const void* instance, OXCHAR* buffer, std::size_t size,
                                         StringFormat) const
{
    const auto* point = static_cast<const Point*>(instance);
    char text[64];
    const int length = std::snprintf(text, sizeof text, "(%g, %g)", point->x, point->y);
    if (buffer == nullptr)
        return length;
    if (static_cast<std::size_t>(length) >= size)
        return buffer[0] = 0, -1;
    std::copy(text, text + length + 1, buffer);
    return length;
}
template <>
bool OxRxValueTypePOD<Point>::subEqualTo(const void* a, const void* b) const
{
    const auto* p = static_cast<const Point*>(a);
    const auto* q = static_cast<const Point*>(b);
    return p->x == q->x && p->y == q->y;
}

const OxRxValueType& OxRxValueType::Desc<Point>::value()
{
    return tourType<OxRxValueTypePOD<Point>>(u"Point", &describePoint);
}
const OxRxValueType& OxRxValueType::Desc<LineColor>::value()
{
    return tourType<LineColorType>(u"LineColor");
}
const OxRxValueType& OxRxValueType::Desc<LayerLink>::value()
{
    return tourType<LayerLinkType>(u"LayerLink");
}

void browserTour()
{
    std::printf("A property browser, showing a circle\n");
    oxrxInitTypeSystem();
    Shape::gpClass = newOxRxClass(u"Shape", u"OxRxObject", 0, 0, 0, nullptr, nullptr, nullptr, nullptr,
                                  describeShape, nullptr);
    Circle::gpClass = newOxRxClass(u"Circle", u"Shape", 0, 0, 0, nullptr, nullptr, nullptr, nullptr,
                                   describeCircle, nullptr);
    Layer::gpClass = newOxRxClass(u"Layer", u"OxRxObject", 0, 0, 0, nullptr, nullptr, nullptr, nullptr,
                                  describeLayer, nullptr);
    oxrxBuildClassHierarchy();
    Circle::gpClass->attributes().add(new OxRxLocalizedNameAttribute(kRound));
    for (OxRxClass* rxClass : {Shape::gpClass, Layer::gpClass}) // Circle's members find Shape's loader
        rxClass->addX(OxRxResourceLoader::desc(), &gTexts);
    {
        Circle circle;
        browse(circle);
        const OxRxMember* layer = OxRxMemberQueryEngine::theEngine()->find(&circle, u"Layer");
        const OxRxAttribute* refersTo = layer->attributes().get(OxRxRefersToAttribute::desc());
        followReference(circle, static_cast<const OxRxRefersToAttribute*>(refersTo)->path());
        followReference(circle, u"Center/Z"); // the centre has no child named Z
    }
    oxrxTerminateTypeSystem();
}
