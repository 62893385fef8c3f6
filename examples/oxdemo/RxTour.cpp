// examples/oxdemo/RxTour.cpp
// The runtime class system as a host uses it: a few shape classes of its own, registered with the
// class macros and linked into the hierarchy, class tests, a protocol extension inherited down the
// tree and replaced on one class, two overrules that intercept queryX for circles, a sorted
// dictionary walked by key and by id, and a restart of the type system after which every class is
// a new object.

#include "Tours.h"

#include <oxfirst/oxfirst.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

class Shape : public OxRxObject {
    OX_RX_DECLARE_MEMBERS(Shape)
};
class Curve : public Shape {
    OX_RX_DECLARE_MEMBERS(Curve)
};
class Circle : public Curve {
    OX_RX_DECLARE_MEMBERS(Circle)
};
class Arc : public Curve {
    OX_RX_DECLARE_MEMBERS(Arc)
};
class Polygon : public Shape {
    OX_RX_DECLARE_MEMBERS(Polygon)
};
class Triangle : public Polygon {
    OX_RX_DECLARE_MEMBERS(Triangle)
};

OX_RX_DEFINE_MEMBERS(Shape, u"Shape", u"OxRxObject", nullptr)
OX_RX_DEFINE_MEMBERS(Curve, u"Curve", u"Shape", nullptr)
OX_RX_DEFINE_MEMBERS(Circle, u"Circle", u"Curve", nullptr)
OX_RX_DEFINE_MEMBERS(Arc, u"Arc", u"Curve", nullptr)
OX_RX_DEFINE_MEMBERS(Polygon, u"Polygon", u"Shape", nullptr)
OX_RX_DEFINE_MEMBERS(Triangle, u"Triangle", u"Polygon", nullptr)

void registerShapes()
{
    Shape::rxInit();
    Curve::rxInit();
    Circle::rxInit();
    Arc::rxInit();
    Polygon::rxInit();
    Triangle::rxInit();
}

// The tour's texts are ASCII; a real host would convert with its own UTF-16 tools.
std::string narrow(const OXCHAR* text)
{
    std::string out;
    for (; text != nullptr && *text != 0; ++text)
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

const char* yesNo(bool answer)
{
    return answer ? "yes" : "no";
}

OxRxDictionary* classDictionary()
{
    OxRxDictionary* registry = oxrxSysRegistry();
    return registry != nullptr ? static_cast<OxRxDictionary*>(registry->lookup(u"ClassDictionary")) : nullptr;
}

// descendants() holds the direct children only, so the tree is a walk down through each set.
void printTree(const OxRxClass* rxClass, int depth)
{
    std::printf("    %*s%s\n", 2 * depth, "", narrow(rxClass->name()).c_str());
    const OxRxSet* children = rxClass->descendants();
    if (children == nullptr)
        return;
    OxRxIterator* it = children->makeIterator();
    for (; !it->done(); it->next())
        printTree(static_cast<const OxRxClass*>(it->object()), depth + 1);
    delete it;
}

void printWalk(const OxRxDictionary* dictionary, OxRx::DictIterType order, const char* label)
{
    std::printf("  %s:", label);
    OxRxDictionaryIterator* it = dictionary->makeIterator(order);
    for (const char* separator = " "; !it->done(); it->next(), separator = ", ")
        std::printf("%s%s #%u (%s)", separator, narrow(it->key()).c_str(), it->id(),
                    narrow(it->object()->isA()->name()).c_str());
    std::printf("\n");
    delete it;
}

int gClassesMade = 0;
void countClass(OxRxClass*)
{
    ++gClassesMade;
}

void showClassTests()
{
    Circle circle;
    const OxRxObject* object = &circle;
    std::printf("  Curve::cast(circle) gives %s, Polygon::cast(circle) gives %s\n",
                Curve::cast(object) == &circle ? "the circle" : "null",
                Polygon::cast(object) != nullptr ? "an object" : "null");
    std::printf("  circle.isA()->isDerivedFrom(Shape::desc()): %s; Triangle derives from Curve: %s\n",
                yesNo(object->isA()->isDerivedFrom(Shape::desc())),
                yesNo(Triangle::desc()->isDerivedFrom(Curve::desc())));
}

void showSortedDictionary()
{
    Circle wheel;
    Triangle roof, sail;
    Arc bridge;
    // Not owning: the shapes live on this stack frame.
    OxRxDictionary* shapes = newRxSortDictionary(true, false);
    shapes->insert(u"wheel", &wheel);
    shapes->insert(u"Roof", &roof);
    shapes->insert(u"Bridge", &bridge);
    shapes->insert(u"sail", &sail);
    std::printf("  Sorted dictionary of four shapes, keys compared without regard to letter case\n");
    printWalk(shapes, OxRx::kIterateByKey, "by key");
    printWalk(shapes, OxRx::kIterateById, "by id ");
    std::printf("  lookup(\"ROOF\") finds the roof: %s\n", yesNo(shapes->lookup(u"ROOF") == &roof));
    delete shapes;
}

// A protocol: how a shape is drawn. Its class serves as the protocol class; the extension
// attached under it names the drawing style.
class Renderer : public OxRxObject {
    OX_RX_DECLARE_MEMBERS(Renderer)

    explicit Renderer(const char* style = "") : mStyle(style) {}
    const char* style() const { return mStyle; }

private:
    const char* mStyle;
};
OX_RX_DEFINE_MEMBERS(Renderer, u"Renderer", u"OxRxObject", nullptr)

const char* styleOf(const OxRxObject& shape)
{
    const auto* renderer = static_cast<const Renderer*>(shape.queryX(Renderer::desc()));
    return renderer != nullptr ? renderer->style() : "(none)";
}

// A circle that may be selected; the overrules below look at that.
class SelectableCircle : public Circle {
public:
    bool mSelected = false;
};

// Answers a highlighting renderer for selected circles only.
class HighlightOverrule : public OxRxQueryXOverrule {
public:
    bool appliesTo(const OxRxObject* object) const override
    {
        return static_cast<const SelectableCircle*>(object)->mSelected;
    }
    OxRxObject* queryX(const OxRxObject* object, const OxRxClass* protocolClass) override
    {
        if (protocolClass == Renderer::desc())
            return &mHighlight;
        return OxRxQueryXOverrule::queryX(object, protocolClass);
    }

private:
    Renderer mHighlight{"highlighted outline"};
};

// Counts the queries for every circle and passes them on down the chain.
class CountingOverrule : public OxRxQueryXOverrule {
public:
    bool appliesTo(const OxRxObject*) const override { return true; }
    OxRxObject* queryX(const OxRxObject* object, const OxRxClass* protocolClass) override
    {
        ++mCalls;
        return OxRxQueryXOverrule::queryX(object, protocolClass);
    }
    int mCalls = 0;
};

void showExtensionsAndOverrules()
{
    Renderer::rxInit();
    oxrxBuildClassHierarchy();
    Renderer filled("filled"), wireframe("wireframe");
    Shape::desc()->addX(Renderer::desc(), &filled);
    Circle circle;
    Arc arc;
    Triangle triangle;
    std::printf("  Renderer attached to Shape: circle %s, arc %s, triangle %s\n", styleOf(circle),
                styleOf(arc), styleOf(triangle));
    Triangle::desc()->addX(Renderer::desc(), &wireframe);
    std::printf("  Triangle's own Renderer: circle %s, arc %s, triangle %s\n", styleOf(circle), styleOf(arc),
                styleOf(triangle));

    HighlightOverrule highlight;
    CountingOverrule counting;
    OxRxOverrule::addOverrule(Circle::desc(), &counting, true);
    OxRxOverrule::addOverrule(Circle::desc(), &highlight, false);
    SelectableCircle plain, selected;
    selected.mSelected = true;
    for (const SelectableCircle* c : {&plain, &selected}) {
        std::printf("  %s circle, chain:", c->mSelected ? "selected" : "plain   ");
        OxRxOverruleIterator it(c, OxRxQueryXOverrule::desc());
        for (const char* separator = " "; it.next(); separator = " -> ")
            std::printf("%s%s", separator, it.current() == &highlight ? "highlight" : "counting");
        std::printf(" -> own answer; queryX(Renderer) gives %s\n", styleOf(*c));
    }
    std::printf("  arc, outside Circle's overrules: %s; the counting overrule saw %d quer%s\n", styleOf(arc),
                counting.mCalls, counting.mCalls == 1 ? "y" : "ies");
    OxRxOverrule::removeOverrule(Circle::desc(), &highlight);
    OxRxOverrule::removeOverrule(Circle::desc(), &counting);
    Shape::desc()->delX(Renderer::desc());
    Triangle::desc()->delX(Renderer::desc());
}

} // namespace

void rxTour()
{
    std::printf("Runtime classes:\n");
    oxrxInitTypeSystem();
    registerShapes();
    std::printf("  registered Shape, Curve, Circle, Arc, Polygon, Triangle; not linked yet, "
                "Circle derives from Shape: %s\n",
                yesNo(Circle::desc()->isDerivedFrom(Shape::desc())));
    oxrxBuildClassHierarchy();
    std::printf("  after oxrxBuildClassHierarchy, the tree below Shape:\n");
    printTree(Shape::desc(), 0);
    showClassTests();
    showExtensionsAndOverrules();
    showSortedDictionary();

    // The class pointers of host classes keep their values across the restart; each rxInit sees
    // that the new class dictionary lacks its class and registers a new one.
    const auto before = reinterpret_cast<std::uintptr_t>(Circle::desc());
    oxrxTerminateTypeSystem();
    std::printf("  terminated: the system registry is %s\n",
                oxrxSysRegistry() != nullptr ? "still there" : "gone");
    OxRxTypeSysCallbacks::NewClassCallback previous = OxRxTypeSysCallbacks::newClassCallback();
    OxRxTypeSysCallbacks::setCallback_newClassCallback(&countClass);
    oxrxInitTypeSystem();
    const int libraryClasses = gClassesMade;
    std::printf("  started again with %d library classes; Circle registered: %s\n", libraryClasses,
                yesNo(classDictionary()->lookup(u"Circle") != nullptr));
    registerShapes();
    oxrxBuildClassHierarchy();
    OxRxTypeSysCallbacks::setCallback_newClassCallback(previous);
    const auto after = reinterpret_cast<std::uintptr_t>(Circle::desc());
    std::printf("  the shapes registered again: %d new class objects; Circle's class %#llx before, "
                "%#llx now, below %s\n",
                gClassesMade - libraryClasses, static_cast<unsigned long long>(before),
                static_cast<unsigned long long>(after), narrow(Circle::desc()->myParent()->name()).c_str());
    oxrxTerminateTypeSystem();
}
