// fuzz/ReferencePathFuzz.cpp
// Resolves arbitrary reference paths against a fixed graph of three objects and checks that
// every object the resolution followed to has been given back when it answers, whether it found
// a property or failed, and that what it answers is a property of the graph.
//
// Input: the first byte picks which followed values are rejected (bit i: the i-th), the second
// whether the member query engine or the graph's own lookup finds names; every later byte is one
// character of the path, from a small alphabet of names, "." and "/".

#include <oxfirst/OxHostDefaults.h>
#include <oxfirst/OxRxProperty.h>

#include "fuzz/FuzzCheck.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// A node of the graph; its "next" property refers to the node after it (the last to none).
struct Node : OxRxObject {
    const Node* mpNext = nullptr;
};

Node gNodes[3];
int gOutstanding = 0;  // objects handed out by dereference and not yet released
unsigned gRejects = 0; // bit i: reject the i-th followed value of the current run
int gFollowed = 0;

// The instance of a link value.
struct Link {
    const Node* node;
};

// Refers to a node; counts what it hands out and gets back.
struct LinkType : OxRxValueType, IOxRxReferenceType {
    LinkType() : OxRxValueType(u"FuzzLink", *static_cast<IOxRxReferenceType*>(this), sizeof(const Node*)) {}
    int subToString(const void*, OXCHAR*, std::size_t, StringFormat) const override { return -1; }
    bool subEqualTo(const void* a, const void* b) const override
    {
        return static_cast<const Link*>(a)->node == static_cast<const Link*>(b)->node;
    }
    OxRxObject* dereference(const OxRxValue& value, int) const override
    {
        const void* data = &value.type() == this ? value.data() : nullptr;
        auto* node = data != nullptr ? const_cast<Node*>(static_cast<const Link*>(data)->node) : nullptr;
        gOutstanding += node != nullptr;
        return node;
    }
    bool release(OxRxObject* object) const override
    {
        FUZZ_CHECK(object != nullptr && gOutstanding > 0);
        --gOutstanding;
        return true;
    }
};
LinkType* gLink;

} // namespace

template <>
struct OxRxValueType::Desc<Link> {
    static const OxRxValueType& value() { return *gLink; }
};

namespace {

// "next": a reference to the following node.
struct NextProperty : OxRxProperty {
    NextProperty() : OxRxProperty(u"next", *gLink, nullptr) {}
    Orka::ErrorStatus subGetValue(const OxRxObject* object, OxRxValue& value) const override
    {
        if (object == nullptr)
            return Orka::eInvalidInput;
        value.set(Link{static_cast<const Node*>(object)->mpNext});
        return Orka::eOk;
    }
};

// "part": not a reference; its children "a" and "next" are entered by name.
struct PartProperty : OxRxProperty {
    PartProperty(const OXCHAR* name, const OxRxValueType& type, bool parts)
        : OxRxProperty(name, type, nullptr), mParts(parts)
    {
    }
    Orka::ErrorStatus subChildren(OxArray<const OxRxMember*>& children) const override
    {
        if (mParts) {
            children.append(new PartProperty(u"a", OxRxValueType::Desc<int>::value(), false));
            children.append(new NextProperty());
        }
        return Orka::eOk;
    }
    bool mParts;
};

const OxRxPropertyBase* gProperties[2];

const OxRxPropertyBase* findInGraph(const OxRxObject* object, const OXCHAR* name)
{
    FUZZ_CHECK(object == &gNodes[0] || object == &gNodes[1] || object == &gNodes[2]);
    for (const OxRxPropertyBase* property : gProperties)
        if (std::u16string(property->name()) == name)
            return property;
    return nullptr;
}

bool accept(const OxRxPropertyBase*, OxRxValue&)
{
    return (gRejects >> (gFollowed++ % 8) & 1) == 0;
}

bool ownedByGraph(const OxRxPropertyBase* found)
{
    for (const OxRxPropertyBase* property : gProperties) {
        if (found == property)
            return true;
        const OxArray<const OxRxMember*>* children = property->children();
        for (int i = 0; children != nullptr && i < children->logicalLength(); ++i)
            if (found == (*children)[i])
                return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    OxRxTypeSysCallbacks::setCallback_fmtout(oxHostFormat);
    oxrxInitTypeSystem();
    gLink = new LinkType();
    oxrxBuildClassHierarchy();
    gNodes[0].mpNext = &gNodes[1];
    gNodes[1].mpNext = &gNodes[2];
    gProperties[0] = new NextProperty();
    gProperties[1] = new PartProperty(u"part", OxRxValueType::Desc<double>::value(), true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const char16_t kAlphabet[] = u"/./next/part/a/../x";
    if (size < 2)
        return 0;
    gRejects = data[0];
    gFollowed = 0;
    const bool byEngine = (data[1] & 1) != 0;
    std::u16string path;
    for (std::size_t i = 2; i < size; ++i)
        path += kAlphabet[data[i] % (sizeof kAlphabet / sizeof kAlphabet[0] - 1)];
    const OxRxPropertyBase* found = OxRxRefersToAttribute::parseReference(
        path.c_str(), &gNodes[0], byEngine ? nullptr : findInGraph, (data[0] & 0x80) != 0 ? accept : nullptr);
    FUZZ_CHECK(gOutstanding == 0);
    FUZZ_CHECK(found == nullptr || byEngine || ownedByGraph(found));
    return 0;
}
