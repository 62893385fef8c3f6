// examples/oxdemo/MemberTour.cpp
// Members as a host meets them: a class described by a member builder (a writable, a read-only,
// an indexed and a keyed property, one whose value type promotes its coordinates, and a method),
// listed through the member query engine in the default and the promoting context, a property
// read and written by name, a method invoked, and a read intercepted by a member overrule.

#include "Tours.h"

#include <oxfirst/oxfirst.h>

#include <cstdio>
#include <string>

namespace {

std::string textOf(const OxRxValue& value)
{
    OXCHAR buffer[64];
    return value.toString(buffer, 64) < 0 ? std::string("(no text)") : narrowForPrint(buffer);
}

// A host's own value type: a point whose coordinates are properties of the type.
struct Point2d {
    double x;
    double y;
};

class Point2dType : public OxRxValueType {
public:
    Point2dType(MemberBuilder builder) : OxRxValueType(u"Point2d", sizeof(Point2d), builder) {}
    int subToString(const void* instance, OXCHAR* buffer, std::size_t size, StringFormat) const override
    {
        const auto* point = static_cast<const Point2d*>(instance);
        char text[64];
        const int length = std::snprintf(text, sizeof text, "(%g, %g)", point->x, point->y);
        if (buffer == nullptr)
            return length;
        if (static_cast<std::size_t>(length) >= size)
            return buffer[0] = 0, -1;
        for (int i = 0; i <= length; ++i)
            buffer[i] = static_cast<unsigned char>(text[i]);
        return length;
    }
    bool subEqualTo(const void* first, const void* second) const override
    {
        const auto* a = static_cast<const Point2d*>(first);
        const auto* b = static_cast<const Point2d*>(second);
        return a->x == b->x && a->y == b->y;
    }
};

} // namespace

template <>
struct OxRxValueType::Desc<Point2d> {
    static const OxRxValueType& value();
};

namespace {

// The wall the tour describes; its class object is "Wall".
struct Wall : OxRxObject {
    OxRxClass* isA() const override { return gpClass; }
    static inline OxRxClass* gpClass = nullptr;
    double height = 2.5;
    Point2d base{1, 2};
    double layers[3] = {0.1, 0.24, 0.02};
};

const Wall* wallOf(const OxRxObject* object)
{
    return object != nullptr && object->isA() == Wall::gpClass ? static_cast<const Wall*>(object) : nullptr;
}

// A coordinate of the Point2d a boxed value holds.
class Coordinate : public OxRxProperty {
public:
    Coordinate(const OXCHAR* name, double Point2d::*field)
        : OxRxProperty(name, OxRxValueType::Desc<double>::value(), nullptr), mpField(field)
    {
    }

protected:
    Orka::ErrorStatus subGetValue(const OxRxObject* object, OxRxValue& value) const override
    {
        const OxRxValue* box = OxRxValue::unbox(object);
        if (box == nullptr || box->get<Point2d>() == nullptr)
            return Orka::eInvalidInput;
        value.set(box->get<Point2d>()->*mpField);
        return Orka::eOk;
    }
    Orka::ErrorStatus subSetValue(OxRxObject* object, const OxRxValue& value) const override
    {
        OxRxValue* box = OxRxValue::unbox(object);
        if (box == nullptr || box->get<Point2d>() == nullptr)
            return Orka::eInvalidInput;
        if (&value == &OxRxValue::varies())
            return Orka::eOk; // the read-only probe: writable
        if (value.get<double>() == nullptr)
            return Orka::eWrongObjectType;
        box->get<Point2d>()->*mpField = *value.get<double>();
        return Orka::eOk;
    }

private:
    double Point2d::*mpField;
};

// A property of a wall, reading and writing through two functions.
template <class T>
class WallProperty : public OxRxProperty {
public:
    using Read = T (*)(const Wall&);
    using Write = void (*)(Wall&, const T&);
    WallProperty(const OXCHAR* name, Read read, Write write)
        : OxRxProperty(name, OxRxValueType::Desc<T>::value(), nullptr), mpRead(read), mpWrite(write)
    {
    }

protected:
    Orka::ErrorStatus subGetValue(const OxRxObject* object, OxRxValue& value) const override
    {
        const Wall* wall = wallOf(object);
        if (wall == nullptr)
            return Orka::eInvalidInput;
        value.set(mpRead(*wall));
        return Orka::eOk;
    }
    Orka::ErrorStatus subSetValue(OxRxObject* object, const OxRxValue& value) const override
    {
        if (mpWrite == nullptr)
            return Orka::eNotImplementedYet; // read-only, the probe included
        Wall* wall = const_cast<Wall*>(wallOf(object));
        if (wall == nullptr)
            return Orka::eInvalidInput;
        if (&value == &OxRxValue::varies())
            return Orka::eOk;
        if (value.get<T>() == nullptr)
            return Orka::eWrongObjectType;
        mpWrite(*wall, *value.get<T>());
        return Orka::eOk;
    }

private:
    Read mpRead;
    Write mpWrite;
};

// The thicknesses of the wall's layers, by position.
class LayersProperty : public OxRxIndexedProperty {
public:
    LayersProperty() : OxRxIndexedProperty(u"Layers", OxRxValueType::Desc<double>::value(), nullptr) {}

protected:
    Orka::ErrorStatus subTryGetCount(const OxRxObject* object, int& count) const override
    {
        return wallOf(object) != nullptr ? (count = 3, Orka::eOk) : Orka::eInvalidInput;
    }
    Orka::ErrorStatus subGetValue(const OxRxObject* object, int index, OxRxValue& value) const override
    {
        const Wall* wall = wallOf(object);
        if (wall == nullptr || index < 0 || index >= 3)
            return Orka::eInvalidInput;
        value.set(wall->layers[index]);
        return Orka::eOk;
    }
};

// Tags of the wall by key: only "fire" is known.
class TagsProperty : public OxRxDictionaryProperty {
public:
    TagsProperty() : OxRxDictionaryProperty(u"Tags", OxRxValueType::Desc<OxString>::value(), nullptr) {}

protected:
    Orka::ErrorStatus subGetValue(const OxRxObject* object, const OXCHAR* key,
                                  OxRxValue& value) const override
    {
        if (wallOf(object) == nullptr || key == nullptr || std::u16string_view(key) != u"fire")
            return Orka::eInvalidInput;
        value.set(OxString(u"90 minutes"));
        return Orka::eOk;
    }
};

// Raises the wall by the double it is given and answers the new height.
class RaiseMethod : public OxRxMethod {
public:
    RaiseMethod() : OxRxMethod(u"Raise", OxRxValueType::Desc<double>::value()) {}

protected:
    Orka::ErrorStatus subInvoke(OxRxObject* object, OxRxValue& value) const override
    {
        Wall* wall = const_cast<Wall*>(wallOf(object));
        if (wall == nullptr || value.get<double>() == nullptr)
            return Orka::eInvalidInput;
        wall->height += *value.get<double>();
        value.set(wall->height);
        return Orka::eOk;
    }
};

void describeWall(OxRxMemberCollectionBuilder& builder, void*)
{
    builder.add(new WallProperty<double>(
        u"Height", [](const Wall& wall) { return wall.height; },
        [](Wall& wall, const double& h) { wall.height = h; }));
    builder.add(new WallProperty<OxString>(
        u"Name", [](const Wall&) { return OxString(u"north wall"); }, nullptr));
    builder.add(new WallProperty<Point2d>(
        u"Base", [](const Wall& wall) { return wall.base; },
        [](Wall& wall, const Point2d& p) { wall.base = p; }));
    builder.add(new LayersProperty());
    builder.add(new TagsProperty());
    builder.add(new RaiseMethod());
}

// Reports every read of the property it is put on, then lets the read go on.
class ReadLogger : public OxRxPropertyOverrule {
public:
    Orka::ErrorStatus getValue(const OxRxProperty* property, const OxRxObject* object,
                               OxRxValue& value) override
    {
        const Orka::ErrorStatus status = OxRxPropertyOverrule::getValue(property, object, value);
        std::printf("      (overrule saw a read of %s: %s)\n", narrowForPrint(property->name()).c_str(),
                    textOf(value).c_str());
        return status;
    }
};

void listMembers(const char* label, const OxRxObject& object, const OxRxMemberQueryContext* context)
{
    std::printf("    members, %s:", label);
    OxRxMemberIterator* members = OxRxMemberQueryEngine::theEngine()->newMemberIterator(&object, context);
    for (; !members->done(); members->next())
        std::printf(" %s", narrowForPrint(members->current()->name()).c_str());
    std::printf("\n");
    delete members;
}

OxRxProperty* propertyNamed(const OxRxObject& object, const OXCHAR* name,
                            const OxRxMemberQueryContext* context = nullptr)
{
    return OxRxProperty::cast(OxRxMemberQueryEngine::theEngine()->find(&object, name, context));
}

// Every value it makes is gone before the type system ends.
void showMembers()
{
    OxRxMemberQueryEngine* engine = OxRxMemberQueryEngine::theEngine();
    Wall wall;
    listMembers("default context", wall, nullptr);
    listMembers("promoting context", wall, engine->promotingContext());

    OxRxValue value;
    OxRxProperty* height = propertyNamed(wall, u"Height");
    height->getValue(&wall, value);
    std::printf("    Height reads %s; ", textOf(value).c_str());
    height->setValue(&wall, OxRxValue(3.0));
    height->getValue(&wall, value);
    std::printf("after writing 3 it reads %s\n", textOf(value).c_str());
    std::printf("    Name is read-only: %s; Height is: %s\n",
                propertyNamed(wall, u"Name")->isReadOnly(&wall) ? "yes" : "no",
                height->isReadOnly(&wall) ? "yes" : "no");

    OxRxProperty* baseY = propertyNamed(wall, u"Base/Y", engine->promotingContext());
    baseY->setValue(&wall, OxRxValue(5.5));
    propertyNamed(wall, u"Base")->getValue(&wall, value);
    std::printf("    after writing Base/Y = 5.5, Base reads %s\n", textOf(value).c_str());

    auto* layers = OxRxIndexedProperty::cast(engine->find(&wall, u"Layers"));
    std::printf("    Layers:");
    OxRxValueIterator* values = layers->newValueIterator(&wall);
    for (; !values->done(); values->next())
        std::printf(" %s", textOf(values->current()).c_str());
    delete values;
    auto* tags = OxRxDictionaryProperty::cast(engine->find(&wall, u"Tags"));
    tags->getValue(&wall, u"fire", value);
    std::printf("; Tags[fire] = %s\n", textOf(value).c_str());

    auto* raise = OxRxMethod::cast(engine->find(&wall, u"Raise"));
    OxRxValue amount(0.5);
    raise->invoke(&wall, amount);
    std::printf("    Raise(0.5) answers %s\n", textOf(amount).c_str());

    OxRxMemberOverrule::addOverrule(height, new ReadLogger(), true); // the property owns it now
    std::printf("    reading Height with an overrule on it:\n");
    height->getValue(&wall, value);
}

} // namespace

const OxRxValueType& OxRxValueType::Desc<Point2d>::value()
{
    static OxRxClass* gpType = nullptr; // cleared by the class registry when the type goes
    if (gpType == nullptr) {
        auto* type = new Point2dType([](OxRxMemberCollectionBuilder& builder, void*) {
            builder.add(new Coordinate(u"X", &Point2d::x));
            builder.add(new Coordinate(u"Y", &Point2d::y));
        });
        type->attributes().add(new OxRxTypePromotionAttribute(u"X;Y"));
        oxrxFindClassByName(&gpType, u"Point2d");
    }
    return *static_cast<const OxRxValueType*>(gpType);
}

void memberTour()
{
    std::printf("Members and the member query engine\n");
    oxrxInitTypeSystem();
    // This library leaves the promotion attribute's class to the modules that promote.
    OxRxTypePromotionAttribute::rxInit();
    Wall::gpClass = newOxRxClass(u"Wall", u"OxRxObject", 0, 0, 0, nullptr, nullptr, nullptr, nullptr,
                                 describeWall, nullptr);
    oxrxBuildClassHierarchy();
    showMembers();
    oxrxTerminateTypeSystem();
}
