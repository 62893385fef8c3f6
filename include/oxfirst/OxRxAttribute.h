// oxfirst/OxRxAttribute.h
// Attributes: small metadata objects attached to a class or a member, and the collection each
// class and each member owns. An attribute never changes after construction.
#pragma once

#include <oxfirst/OxArray.h>
#include <oxfirst/OxRxClass.h>
#include <oxfirst/OxRxPimpl.h>
#include <oxfirst/OxString.h>

class OxRxPropertyBase;
class OxRxValue;

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

/// A resource id (and a hint where to look for it) for the localized name of a class or member;
/// the text comes from the resource loader responsible for the object.
class OXFIRST_API OxRxLocalizedNameAttribute : public OxRxAttribute {
    OX_RX_DECLARE_MEMBERS(OxRxLocalizedNameAttribute)
    /// Source hint 0.
    explicit OxRxLocalizedNameAttribute(unsigned int id);
    OxRxLocalizedNameAttribute(unsigned int id, unsigned int sourceHint);
    ~OxRxLocalizedNameAttribute() override;
    unsigned int id() const noexcept;
    unsigned int sourceHint() const noexcept;
    /// The loaded name of a member or class: its own attribute, else (for a member owned by a
    /// member) its owner's. Empty when there is none or no loader delivers it. Only this exact
    /// class counts, never the alternate form.
    static OxString getLocalizedName(const OxRxObject* object);
};

/// On an enumeration's value type: ";"-separated names of its tags in tag order, possibly spread
/// over several attributes.
class OXFIRST_API OxRxAlternateLocalizedNameAttribute : public OxRxLocalizedNameAttribute {
    OX_RX_DECLARE_MEMBERS(OxRxAlternateLocalizedNameAttribute)
    /// Source hint 0.
    explicit OxRxAlternateLocalizedNameAttribute(unsigned int id);
    OxRxAlternateLocalizedNameAttribute(unsigned int id, unsigned int sourceHint);
    ~OxRxAlternateLocalizedNameAttribute() override;
};

/// A description, either as a resource id with a source hint or as a text of its own (copied).
class OXFIRST_API OxRxDescriptionAttribute : public OxRxAttribute {
    OX_RX_DECLARE_MEMBERS(OxRxDescriptionAttribute)
    /// The hint that marks the text form; the id form is never given it.
    static constexpr unsigned int kTextHint = 0xFFFFFFFFu;
    /// Source hint 0.
    explicit OxRxDescriptionAttribute(unsigned int id);
    /// `sourceHint` is not to be kTextHint, which marks the text form; an id form given it
    /// holds no text, and its description is empty.
    OxRxDescriptionAttribute(unsigned int id, unsigned int sourceHint);
    /// Copies `text` (null keeps no text).
    explicit OxRxDescriptionAttribute(const OXCHAR* text);
    ~OxRxDescriptionAttribute() override;
    /// The resource id; for the text form the low 32 bits of the text pointer.
    unsigned int id() const noexcept;
    /// kTextHint for the text form.
    unsigned int sourceHint() const noexcept;
    /// The description of a member or class found as getLocalizedName finds names: the own text,
    /// or the loaded text; empty when there is none.
    static OxString getDescription(const OxRxObject* object);
};

/// Files a member under a category with a weight that orders it there.
class OXFIRST_API OxRxUiPlacementAttribute : public OxRxAttribute {
    OX_RX_DECLARE_MEMBERS(OxRxUiPlacementAttribute)
    /// Keeps the category pointer, not a copy: the text must outlive the attribute.
    OxRxUiPlacementAttribute(const OXCHAR* category, unsigned int weight);
    ~OxRxUiPlacementAttribute() override;
    /// The category of a member: its own placement, else the placement of the member owning it
    /// unless that owner is shown as itself (display-as). Null for anything but a member.
    static const OXCHAR* getCategory(const OxRxObject* object);
    /// The weight of a member: its own, else for the i-th of the n children of a placed owner
    /// (not shown as itself) the owner's weight plus (i + 1) / (n + 1), so children sort in
    /// order between the owner and the next whole weight. 0 when none applies.
    static float getWeight(const OxRxObject* object);
};

// The attributes below keep the caller's text pointer, not a copy: the text must outlive them.

/// The path of the property a member refers to: names separated by "/", each a property of the
/// object the path has reached. A property whose type is a reference type is followed to the
/// object it refers to; any other property is entered by naming one of its children.
class OXFIRST_API OxRxRefersToAttribute : public OxRxAttribute {
    OX_RX_DECLARE_MEMBERS(OxRxRefersToAttribute)
    using FindProperty = const OxRxPropertyBase* (*)(const OxRxObject* object, const OXCHAR* name);
    using AcceptValue = bool (*)(const OxRxPropertyBase* property, OxRxValue& value);
    explicit OxRxRefersToAttribute(const OXCHAR* path);
    ~OxRxRefersToAttribute() override;
    const OXCHAR* path() const noexcept;

    /// The property the last name of `path` names, starting at `object`; null when a name is
    /// missing, a segment can be neither followed nor entered, or `acceptValue` (given the
    /// reference property and the value read from it, which it may change) rejects a value.
    /// Empty and "." segments are dropped; ".." is a name. `findProperty` null: the member query
    /// engine finds the names. Every object followed to is released before the answer.
    static const OxRxPropertyBase* parseReference(const OXCHAR* path, const OxRxObject* object,
                                                  FindProperty findProperty, AcceptValue acceptValue);
};

/// Says that a member is shown under a path of its own even when its children stand for it:
/// a promoted property that carries it is listed together with its promoted children.
class OXFIRST_API OxRxDisplayAsAttribute : public OxRxAttribute {
    OX_RX_DECLARE_MEMBERS(OxRxDisplayAsAttribute)
    explicit OxRxDisplayAsAttribute(const OXCHAR* path);
    ~OxRxDisplayAsAttribute() override;
    const OXCHAR* path() const noexcept;
};

/// A component-object name that the modules reading it interpret.
class OXFIRST_API OxRxCOMAttribute : public OxRxAttribute {
    OX_RX_DECLARE_MEMBERS(OxRxCOMAttribute)
    explicit OxRxCOMAttribute(const OXCHAR* name);
    ~OxRxCOMAttribute() override;
    const OXCHAR* name() const noexcept;
};

/// An affinity name that the modules reading it interpret.
class OXFIRST_API OxRxAffinityAttribute : public OxRxAttribute {
    OX_RX_DECLARE_MEMBERS(OxRxAffinityAttribute)
    explicit OxRxAffinityAttribute(const OXCHAR* name);
    ~OxRxAffinityAttribute() override;
    const OXCHAR* name() const noexcept;
};

/// A cumulation type that the modules reading it interpret.
class OXFIRST_API OxRxCumulativeAttribute : public OxRxAttribute {
    OX_RX_DECLARE_MEMBERS(OxRxCumulativeAttribute)
    explicit OxRxCumulativeAttribute(const OXCHAR* type);
    ~OxRxCumulativeAttribute() override;
    const OXCHAR* type() const noexcept;
};

/// On a value type: the ";"-separated names of the value type's properties that a property of
/// that type shows as its own children. This library does not register the class: its desc()
/// answers null until a module registers "OxRxTypePromotionAttribute" (rxInit()), and until then
/// no property is promoted.
class OXFIRST_API OxRxTypePromotionAttribute : public OxRxAttribute {
    OX_RX_DECLARE_MEMBERS(OxRxTypePromotionAttribute)
    explicit OxRxTypePromotionAttribute(const OXCHAR* properties);
    ~OxRxTypePromotionAttribute() override;
    const OXCHAR* properties() const noexcept;
};

/// The unit of a member's values. The enumerators belong to the modules that use unit types;
/// the library stores and returns the number only.
class OXFIRST_API OxRxUnitTypeAttribute : public OxRxAttribute {
    OX_RX_DECLARE_MEMBERS(OxRxUnitTypeAttribute)
    enum UnitType : std::int32_t {};
    explicit OxRxUnitTypeAttribute(UnitType unitType);
    ~OxRxUnitTypeAttribute() override;
    UnitType unitType() const noexcept;
};

/// The default value of a member, kept as a copy.
class OXFIRST_API OxRxDefaultValueAttribute : public OxRxAttribute {
    OX_RX_DECLARE_MEMBERS(OxRxDefaultValueAttribute)
    explicit OxRxDefaultValueAttribute(const OxRxValue& value);
    ~OxRxDefaultValueAttribute() override;
    const OxRxValue& value() const noexcept;
};

// Marker attributes: they say something by being present and hold no state. The interface's
// names stand written out with the export macro, not only inside the macro below.
class OXFIRST_API OxRxFilePathAttribute;
class OXFIRST_API OxRxFlagsAttribute;
class OXFIRST_API OxRxGenerateDynamicPropertiesAttribute;
class OXFIRST_API OxRxUseDialogForReferredCollectionAttribute;
class OXFIRST_API OxRxUiCascadingContextMenuAttribute;
#define OX_RX_MARKER_ATTRIBUTE(CLASS)                                                                        \
    class OXFIRST_API CLASS : public OxRxAttribute {                                                         \
        OX_RX_DECLARE_MEMBERS(CLASS)                                                                         \
        CLASS() noexcept;                                                                                    \
        ~CLASS() override;                                                                                   \
    };
OX_RX_MARKER_ATTRIBUTE(OxRxFilePathAttribute)
OX_RX_MARKER_ATTRIBUTE(OxRxFlagsAttribute)
OX_RX_MARKER_ATTRIBUTE(OxRxGenerateDynamicPropertiesAttribute)
OX_RX_MARKER_ATTRIBUTE(OxRxUseDialogForReferredCollectionAttribute)
OX_RX_MARKER_ATTRIBUTE(OxRxUiCascadingContextMenuAttribute)
#undef OX_RX_MARKER_ATTRIBUTE
