// reflection/values/Value.cpp
// OxRxValue's storage paths: construction, copy, assignment between any two types, inline or in
// a stack-heap block, and destruction; then equality, text, enumeration tags, the byte form and
// the two shared void values. The inline blittable cases are handled in the header.

#include <oxfirst/OxRxMember.h>
#include <oxfirst/OxRxValue.h>

OxRxValue::OxRxValue() noexcept : mpType(&OxRxValueType::Desc<void>::value())
{
    std::memset(mStorage, 0, kInlineBytes);
}

OxRxValue::OxRxValue(const OxString& text) : mpType(&OxRxValueType::Desc<OxString>::value())
{
    constructFrom(&text);
}

void* OxRxValue::allocate(std::size_t size) const
{
    return oxStackHeapAlloc(size, this);
}

void* OxRxValue::reallocate(std::size_t size, void* block) const
{
    return oxStackHeapRealloc(block, size);
}

void OxRxValue::deallocate(void* block) const
{
    oxStackHeapFree(block);
}

namespace {

// A copy of the instance at `source` made at `target`, storage of type.size() bytes.
void constructCopy(const OxRxValueType& type, void* target, const void* source)
{
    if (type.isBlittable())
        std::memcpy(target, source, type.size());
    else
        type.nonBlittable()->construct(target, source);
}

} // namespace

void OxRxValue::constructFrom(const void* source)
{
    std::memset(mStorage, 0, kInlineBytes);
    const OxRxValueType& type = *mpType;
    void* target = mStorage;
    if (!isInline(type)) {
        target = allocate(type.size());
        setHeapBlock(target);
        if (target == nullptr)
            return;
    }
    constructCopy(type, target, source);
}

void OxRxValue::copyInstance(const OxRxValue& other, bool reuseBlock)
{
    const OxRxValueType& type = *mpType;
    if (isInline(type)) {
        if (type.isBlittable())
            std::memcpy(mStorage, other.mStorage, kInlineBytes);
        else
            type.nonBlittable()->construct(mStorage, other.mStorage);
        return;
    }
    void* oldBlock = reuseBlock ? heapBlock() : nullptr;
    const void* source = other.heapBlock();
    void* block = nullptr;
    if (source != nullptr)
        block = reuseBlock ? reallocate(type.size(), oldBlock) : allocate(type.size());
    // A source without instance, or a failed reallocation, leaves this value without one too;
    // the old block must not outlive either.
    if (block == nullptr && oldBlock != nullptr)
        deallocate(oldBlock);
    setHeapBlock(block);
    if (block == nullptr)
        return;
    constructCopy(type, block, source);
}

void OxRxValue::assignSlow(const OxRxValue& other)
{
    if (&other == this)
        return;
    const OxRxValueType& oldType = *mpType;
    const OxRxValueType& newType = *other.mpType;
    if (&oldType != &newType) {
        const bool oldOnHeap = !isInline(oldType);
        const bool newOnHeap = !isInline(newType);
        void* instance = data();
        if (!oldType.isBlittable() && instance != nullptr)
            oldType.nonBlittable()->destruct(instance);
        if (oldOnHeap && !newOnHeap)
            deallocate(heapBlock());
        mpType = &newType;
        copyInstance(other, oldOnHeap && newOnHeap);
        return;
    }
    if (isInline(newType)) {
        if (newType.isBlittable())
            std::memcpy(mStorage, other.mStorage, kInlineBytes);
        else
            newType.nonBlittable()->assign(mStorage, other.mStorage);
        return;
    }
    void* block = heapBlock();
    const void* source = other.heapBlock();
    if (source == nullptr || block == nullptr) {
        // One side holds no instance: this value ends up holding a copy of the other's or none.
        destroyInstance();
        copyInstance(other, false);
        return;
    }
    if (newType.isBlittable()) {
        // Same size: the block comes back in place or, should it move, is filled completely.
        void* moved = reallocate(newType.size(), block);
        setHeapBlock(moved);
        if (moved != nullptr)
            std::memcpy(moved, source, newType.size());
        else
            deallocate(block);
    } else {
        // A live object is never carried to another address by a reallocation, which would copy
        // it without its copy constructor: it is assigned where it stands.
        newType.nonBlittable()->assign(block, source);
    }
}

void OxRxValue::destroyInstance() noexcept
{
    const OxRxValueType& type = *mpType;
    void* instance = data();
    if (!type.isBlittable() && instance != nullptr)
        type.nonBlittable()->destruct(instance);
    if (!isInline(type)) {
        deallocate(heapBlock());
        setHeapBlock(nullptr);
    }
}

bool OxRxValue::operator==(const OxRxValue& other) const
{
    if (mpType != other.mpType)
        return false;
    const void* first = data();
    const void* second = other.data();
    if (first == nullptr || second == nullptr)
        return false;
    return mpType->subEqualTo(first, second);
}

int OxRxValue::toString(OXCHAR* buffer, std::size_t size, OxRxValueType::StringFormat format) const
{
    return mpType->toString(data(), buffer, size, format);
}

const OxRxEnumTag* OxRxValue::getEnumTag() const
{
    const IOxRxEnumeration* enumeration = mpType->enumeration();
    const void* instance = data();
    if (enumeration == nullptr || instance == nullptr)
        return nullptr;
    // The count is asked again at each step: an enumeration may change while it is searched.
    for (int index = 0; index < enumeration->count(); ++index) {
        const OxRxEnumTag* tag = enumeration->getAt(index);
        if (tag == nullptr)
            continue;
        const void* tagInstance = tag->value().data();
        if (tagInstance != nullptr && mpType->subEqualTo(instance, tagInstance))
            return tag;
    }
    return nullptr;
}

std::size_t OxRxValue::serializeIn(const void* buffer, std::size_t length)
{
    const OxRxValueType& type = *mpType;
    const std::size_t size = type.size();
    if (!type.isBlittable() || length != size || (buffer == nullptr && size != 0))
        return 0;
    void* target = mStorage;
    if (!isInline(type)) {
        void* block = heapBlock();
        if (block == nullptr)
            return 0;
        target = reallocate(size, block);
        setHeapBlock(target);
        if (target == nullptr) {
            deallocate(block);
            return 0;
        }
    }
    if (size != 0)
        std::memcpy(target, buffer, size);
    return size;
}

std::size_t OxRxValue::serializeOut(void* buffer, std::size_t& length) const
{
    const OxRxValueType& type = *mpType;
    const std::size_t size = type.size();
    if (!type.isBlittable())
        return 0;
    if (length < size) {
        length = size;
        return 0;
    }
    const void* instance = data();
    if (instance == nullptr || (buffer == nullptr && size != 0))
        return 0;
    if (size != 0)
        std::memcpy(buffer, instance, size);
    return size;
}

// Made on first use and never destroyed. Their type is void, which the type system deletes at
// its end: on every use they take the void type in force, so a shared value never carries a
// deleted type into a new start (a void instance needs no copy, so only the pointer changes).
const OxRxValue& OxRxValue::sharedVoidValue(OxRxValue*& shared, std::int32_t marker)
{
    const OxRxValueType& voidType = OxRxValueType::Desc<void>::value();
    if (shared == nullptr) {
        shared = new OxRxValue;
        std::memcpy(shared->mStorage, &marker, sizeof marker);
    }
    shared->mpType = &voidType;
    return *shared;
}

namespace {
OxRxValue* gpEmpty = nullptr;
OxRxValue* gpVaries = nullptr;
} // namespace

const OxRxValue& OxRxValue::empty()
{
    return sharedVoidValue(gpEmpty, 0);
}

const OxRxValue& OxRxValue::varies()
{
    return sharedVoidValue(gpVaries, 1);
}

OxRxValue* OxRxValue::unbox(OxRxObject* object)
{
    OxRxBoxedValue* box = OxRxBoxedValue::cast(object);
    return box != nullptr ? box->value() : nullptr;
}

const OxRxValue* OxRxValue::unbox(const OxRxObject* object)
{
    const OxRxBoxedValue* box = OxRxBoxedValue::cast(object);
    return box != nullptr ? box->value() : nullptr;
}
