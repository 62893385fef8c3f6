// reflection/attributes/ReferencePath.cpp
// Resolving the path of a refers-to attribute against an object. At most one followed object
// is held at a time, in a holder that gives it back when the next one is taken and on every way
// out, exceptions from the callbacks included.

#include <oxfirst/OxRxProperty.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

// The names of `path`: its "/"-separated segments without the empty ones and ".".
std::vector<std::u16string> namesOf(std::u16string_view path)
{
    std::vector<std::u16string> names;
    while (!path.empty()) {
        const std::size_t end = path.find(u'/');
        const std::u16string_view segment = path.substr(0, end);
        if (!segment.empty() && segment != u".")
            names.emplace_back(segment);
        path.remove_prefix(end == std::u16string_view::npos ? path.size() : end + 1);
    }
    return names;
}

const OxRxPropertyBase* findByEngine(const OxRxObject* object, const OXCHAR* name)
{
    OxRxMemberQueryEngine* engine = OxRxMemberQueryEngine::theEngine();
    return engine != nullptr ? OxRxPropertyBase::cast(engine->find(object, name, nullptr)) : nullptr;
}

// The first child of `property` named `name`, when it is a property.
const OxRxPropertyBase* childOf(const OxRxProperty* property, const std::u16string& name)
{
    const OxArray<const OxRxMember*>* children = property->children();
    for (int i = 0; children != nullptr && i < children->logicalLength(); ++i)
        if (OxString((*children)[i]->name()).compare(name.c_str()) == 0)
            return OxRxPropertyBase::cast((*children)[i]);
    return nullptr;
}

} // namespace

const OxRxPropertyBase* OxRxRefersToAttribute::parseReference(const OXCHAR* path, const OxRxObject* object,
                                                              FindProperty findProperty,
                                                              AcceptValue acceptValue)
{
    if (path == nullptr || object == nullptr)
        return nullptr;
    const std::vector<std::u16string> names = namesOf(path);
    if (names.empty())
        return nullptr;
    const FindProperty find = findProperty != nullptr ? findProperty : findByEngine;
    ReferenceTypePointer held; // the object the path was last followed to
    const OxRxPropertyBase* found = find(object, names[0].c_str());
    for (std::size_t next = 1; found != nullptr && next < names.size(); ++next) {
        const OxRxProperty* property = OxRxProperty::cast(found);
        if (property == nullptr)
            return nullptr;
        const IOxRxReferenceType* reference = property->type().referenceType();
        if (reference == nullptr) {
            found = childOf(property, names[next]);
            continue;
        }
        OxRxValue value;
        (void)property->getValue(held.object() != nullptr ? held.object() : object, value);
        if (acceptValue != nullptr && !acceptValue(found, value))
            return nullptr;
        OxRxObject* target = reference->dereference(value, 0);
        if (target == nullptr)
            return nullptr;
        held.reset(reference, target);
        found = find(target, names[next].c_str());
    }
    return found;
}
