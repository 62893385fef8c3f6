// oxfirst/OxRxAttribute.h
// Attributes: small metadata objects attached to a class or a member, and the collection each
// class and each member owns. An attribute never changes after construction.
#pragma once

#include <oxfirst/OxArray.h>
#include <oxfirst/OxRxClass.h>
#include <oxfirst/OxRxPimpl.h>

class OxRxAttribute;

/// The implementation object behind an attribute that holds state.
class OXFIRST_API OxRxAttributeImp : public Pimpl::ImpBase {
public:
    ~OxRxAttributeImp() override;
};

/// The root of the attribute classes. Marker attributes hold no implementation object.
class OXFIRST_API OxRxAttribute : public Pimpl::ApiPart<OxRxObject, OxRxAttributeImp> {
    OX_RX_DECLARE_MEMBERS(OxRxAttribute)
    /// Deletes the implementation object, if any.
    ~OxRxAttribute() override;

protected:
    /// Takes ownership of `imp`, which may be null.
    explicit OxRxAttribute(OxRxAttributeImp* imp) noexcept;
};

/// The attributes of one class or member in insertion order; several of one class may stand in
/// it. The collection owns what it holds when it is destroyed: its destructor deletes every
/// attribute still in it. Not synchronised: filled while classes are described, read after.
class OXFIRST_API OxRxAttributeCollection {
public:
    OxRxAttributeCollection() noexcept = default;
    OxRxAttributeCollection(const OxRxAttributeCollection&) = delete;
    OxRxAttributeCollection& operator=(const OxRxAttributeCollection&) = delete;
    ~OxRxAttributeCollection();

    /// Appends `attribute`; eNullArgument for null, eInvalidInput when memory ran out.
    Orka::ErrorStatus add(const OxRxAttribute* attribute);
    /// Takes out every attribute of exactly the class of `attribute` (without deleting them),
    /// then appends it. eNullArgument for null.
    Orka::ErrorStatus override(const OxRxAttribute* attribute);
    /// Takes the first occurrence of `attribute` out without deleting it: ownership returns to
    /// the caller. eNullArgument for null, eNotFound when it is not here.
    Orka::ErrorStatus remove(const OxRxAttribute* attribute);
    /// The first attribute whose class is exactly `rxClass` (not a class derived from it), or
    /// null; null also for a null class.
    const OxRxAttribute* get(const OxRxClass* rxClass) const noexcept;
    OxRxAttribute* get(const OxRxClass* rxClass) noexcept;
    /// The attribute at `index`; throws std::out_of_range outside 0 to count() - 1.
    const OxRxAttribute* getAt(int index) const;
    OxRxAttribute* getAt(int index);
    int count() const noexcept { return mpImp != nullptr ? mpImp->logicalLength() : 0; }

private:
    // Null until the first add: most classes and members carry no attribute.
    OxArray<const OxRxAttribute*>* mpImp = nullptr;
};
static_assert(sizeof(OxRxAttributeCollection) == sizeof(void*), "a collection is one pointer");

/// Says that a member is shown under a path of its own even when its children stand for it:
/// a promoted property that carries it is listed together with its promoted children.
class OXFIRST_API OxRxDisplayAsAttribute : public OxRxAttribute {
    OX_RX_DECLARE_MEMBERS(OxRxDisplayAsAttribute)
    /// Keeps the pointer, not a copy: the text must outlive the attribute.
    explicit OxRxDisplayAsAttribute(const OXCHAR* path);
    ~OxRxDisplayAsAttribute() override;
    const OXCHAR* path() const noexcept;
};

/// On a value type: the ";"-separated names of the value type's properties that a property of
/// that type shows as its own children. This library does not register the class: its desc()
/// answers null until a module registers "OxRxTypePromotionAttribute" (rxInit()), and until then
/// no property is promoted.
class OXFIRST_API OxRxTypePromotionAttribute : public OxRxAttribute {
    OX_RX_DECLARE_MEMBERS(OxRxTypePromotionAttribute)
    /// Keeps the pointer, not a copy: the text must outlive the attribute.
    explicit OxRxTypePromotionAttribute(const OXCHAR* properties);
    ~OxRxTypePromotionAttribute() override;
    const OXCHAR* properties() const noexcept;
};
