// oxfirst/OxRxValue.h
// Typed values: a value type (OxRxValueType) describes one kind of data, its size, text form and
// equality, and is itself a registered class; a value (OxRxValue) holds one instance of any value
// type, inline when it fits in 24 bytes and in a stack-heap block otherwise.
#pragma once

#include <oxfirst/OxHeap.h>
#include <oxfirst/OxRxClass.h>
#include <oxfirst/OxString.h>

#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>

class OxRxValue;
class OxRxEnumTag;

/// How a non-blittable type copies and destroys its instances in place. No virtual
/// destructor: the value type that points at it never deletes it.
class IOxRxNonBlittableType {
public:
    /// Copy-constructs an instance at `destination` from `source` and returns `destination`; a
    /// null destination does nothing and answers null.
    virtual void* construct(void* destination, const void* source) const = 0;
    /// Assigns `source` to the existing instance at `destination`.
    virtual void assign(void* destination, const void* source) const = 0;
    /// Destroys the instance in place without freeing its storage.
    virtual void destruct(void* instance) const = 0;

protected:
    ~IOxRxNonBlittableType() = default;
};

/// The tags of an enumeration type, in enumeration order.
class IOxRxEnumeration {
public:
    virtual int count() const = 0;
    /// The tag at `index` (0 to count() - 1).
    virtual const OxRxEnumTag* getAt(int index) const = 0;
    virtual ~IOxRxEnumeration() = default;
};

/// A type whose instances refer to an object that can be fetched.
class IOxRxReferenceType {
public:
    /// The object `value` refers to, or null. Mode 0: the caller only reads the object; 1: it
    /// writes to it.
    virtual OxRxObject* dereference(const OxRxValue& value, int mode) const = 0;
    /// Gives back an object obtained from dereference; callers ignore the answer.
    virtual bool release(OxRxObject* object) const = 0;
    virtual ~IOxRxReferenceType() = default;
};

/// A type whose instances carry an OxRxObject.
class IOxRxObjectValue {
public:
    virtual const OxRxObject* getRxObject(const OxRxValue& value) const = 0;
    virtual ~IOxRxObjectValue() = default;
};

/// The description of one kind of data a value can hold. Every value type is a class registered
/// under its type name, a child of "OxRxValueType" unless it names another parent, and linked
/// at once; its isA() is OxRxValueType::desc(). Value types are made with new and owned by the
/// class dictionary, which deletes them when the type system ends. A value type never changes
/// after construction, so any thread may use it once it exists.
class OXFIRST_API OxRxValueType : public OxRxClass {
    OX_RX_DECLARE_MEMBERS(OxRxValueType)

    /// Selects a text form. The built-in types have one form and ignore it; it is passed
    /// through unchanged to subToString.
    enum StringFormat { kStringFormatDefault = 0 };

    /// The built-in value type of T: made and registered on the first call, the same object
    /// ever after until the type system ends, then made anew on the first call after a new
    /// start. The first call for a type must not race with another first call for it. Defined
    /// by the library for OXCHAR, unsigned char, bool, char, short, unsigned short, int,
    /// unsigned int, Mira::Int64, float, double, OxRxClass*, const OXCHAR*, const char*, void
    /// and OxString; modules may specialise it for their own types.
    template <class T>
    struct Desc;

    ~OxRxValueType() override;

    unsigned int size() const noexcept { return mSize; }
    bool isBlittable() const noexcept { return mpNonBlittable == nullptr; }
    bool isEnum() const noexcept { return mpEnumeration != nullptr; }
    const IOxRxEnumeration* enumeration() const noexcept { return mpEnumeration; }
    const IOxRxReferenceType* referenceType() const noexcept { return mpReferenceType; }
    const IOxRxNonBlittableType* nonBlittable() const noexcept { return mpNonBlittable; }
    const IOxRxObjectValue* rxObjectValue() const noexcept { return mpObjectValue; }

    /// Writes the text form of the instance at `instance`. With a null buffer and size 0,
    /// answers the characters the text needs (terminator excluded); with a buffer, the
    /// characters written. -1 for a null instance, for a buffer without size or a size without
    /// buffer, for a buffer too short for the text and its terminator (the buffer then holds the
    /// empty text), and for a type without text form.
    int toString(const void* instance, OXCHAR* buffer, std::size_t size, StringFormat format) const;

    /// The text form, behind toString's argument checks.
    virtual int subToString(const void* instance, OXCHAR* buffer, std::size_t size,
                            StringFormat format) const = 0;
    /// Whether two instances of this type are equal; neither pointer may be null.
    virtual bool subEqualTo(const void* first, const void* second) const = 0;

protected:
    // Each constructor registers the type under `name` and links it to its parent before it
    // fills the fields; fields not given are null. The class keeps the member builder and its
    // data as newOxRxClass keeps them. A name registered before is a fatal report and the new
    // type takes the old one's place.
    OxRxValueType(const OXCHAR* name, unsigned int size, MemberBuilder builder = nullptr,
                  void* builderData = nullptr);
    OxRxValueType(const OXCHAR* name, const IOxRxReferenceType& referenceType, unsigned int size,
                  MemberBuilder builder = nullptr, void* builderData = nullptr);
    OxRxValueType(const OXCHAR* name, const IOxRxNonBlittableType& nonBlittable, unsigned int size,
                  MemberBuilder builder = nullptr, void* builderData = nullptr);
    OxRxValueType(const OXCHAR* name, const IOxRxEnumeration& enumeration, unsigned int size,
                  MemberBuilder builder = nullptr, void* builderData = nullptr);
    OxRxValueType(const OXCHAR* name, const IOxRxEnumeration& enumeration,
                  const IOxRxNonBlittableType& nonBlittable, unsigned int size,
                  MemberBuilder builder = nullptr, void* builderData = nullptr);
    OxRxValueType(const OXCHAR* name, const IOxRxEnumeration* enumeration,
                  const IOxRxNonBlittableType* nonBlittable, unsigned int size,
                  MemberBuilder builder = nullptr, void* builderData = nullptr);
    OxRxValueType(const OXCHAR* name, const IOxRxObjectValue& objectValue,
                  const IOxRxNonBlittableType& nonBlittable, unsigned int size,
                  MemberBuilder builder = nullptr, void* builderData = nullptr);
    /// As the non-blittable constructor, with the class named `parentName` as parent.
    OxRxValueType(const OXCHAR* name, const OXCHAR* parentName, const IOxRxNonBlittableType& nonBlittable,
                  unsigned int size, MemberBuilder builder = nullptr, void* builderData = nullptr);

private:
    const IOxRxNonBlittableType* mpNonBlittable = nullptr;
    const IOxRxEnumeration* mpEnumeration = nullptr;
    const IOxRxReferenceType* mpReferenceType = nullptr;
    const IOxRxObjectValue* mpObjectValue = nullptr;
    unsigned int mSize = 0; // bytes of one instance; 0 for void
};
static_assert(sizeof(OxRxValueType) == sizeof(OxRxClass) + 5 * sizeof(void*),
              "a value type is its class part, four interface pointers and its size");

#define OX_RX_BUILT_IN_VALUE_TYPE(TYPE)                                                                      \
    template <>                                                                                              \
    struct OxRxValueType::Desc<TYPE> {                                                                       \
        OXFIRST_API static const OxRxValueType& value();                                                     \
    };
OX_RX_BUILT_IN_VALUE_TYPE(OXCHAR)
OX_RX_BUILT_IN_VALUE_TYPE(unsigned char)
OX_RX_BUILT_IN_VALUE_TYPE(bool)
OX_RX_BUILT_IN_VALUE_TYPE(char)
OX_RX_BUILT_IN_VALUE_TYPE(short)
OX_RX_BUILT_IN_VALUE_TYPE(unsigned short)
OX_RX_BUILT_IN_VALUE_TYPE(int)
OX_RX_BUILT_IN_VALUE_TYPE(unsigned int)
OX_RX_BUILT_IN_VALUE_TYPE(Mira::Int64)
OX_RX_BUILT_IN_VALUE_TYPE(float)
OX_RX_BUILT_IN_VALUE_TYPE(double)
OX_RX_BUILT_IN_VALUE_TYPE(OxRxClass*)
OX_RX_BUILT_IN_VALUE_TYPE(const OXCHAR*)
OX_RX_BUILT_IN_VALUE_TYPE(const char*)
OX_RX_BUILT_IN_VALUE_TYPE(void)
OX_RX_BUILT_IN_VALUE_TYPE(OxString)
#undef OX_RX_BUILT_IN_VALUE_TYPE

// Bytes of one instance of T; void has none.
template <class T>
inline constexpr unsigned int kInstanceSize = sizeof(T);
template <>
inline constexpr unsigned int kInstanceSize<void> = 0;

/// A blittable value type of the plain type T (void: size 0). The library defines subToString
/// and subEqualTo for its built-in types; a module that makes one for its own T defines both
/// for that T.
template <class T>
class OXFIRST_API OxRxValueTypePOD : public OxRxValueType {
public:
    explicit OxRxValueTypePOD(const OXCHAR* name, MemberBuilder builder = nullptr,
                              void* builderData = nullptr)
        : OxRxValueType(name, kSize, builder, builderData)
    {
    }
    int subToString(const void* instance, OXCHAR* buffer, std::size_t size,
                    StringFormat format) const override;
    bool subEqualTo(const void* first, const void* second) const override;

private:
    static constexpr unsigned int kSize = kInstanceSize<T>;
};

/// A value type of the class type T, copied and destroyed with T's own copy constructor,
/// assignment and destructor through the embedded NonBlittable. The library defines it for
/// OxString; a module that makes one for its own T defines subToString and subEqualTo.
template <class T>
class OXFIRST_API OxRxNonBlittableType : public OxRxValueType {
public:
    class NonBlittable : public IOxRxNonBlittableType {
    public:
        void* construct(void* destination, const void* source) const override
        {
            return destination == nullptr ? nullptr : new (destination) T(*static_cast<const T*>(source));
        }
        void assign(void* destination, const void* source) const override
        {
            *static_cast<T*>(destination) = *static_cast<const T*>(source);
        }
        void destruct(void* instance) const override { static_cast<T*>(instance)->~T(); }
    };

    explicit OxRxNonBlittableType(const OXCHAR* name, MemberBuilder builder = nullptr,
                                  void* builderData = nullptr)
        : OxRxValueType(name, mNonBlittable, static_cast<unsigned>(sizeof(T)), builder, builderData)
    {
    }
    int subToString(const void* instance, OXCHAR* buffer, std::size_t size,
                    StringFormat format) const override;
    bool subEqualTo(const void* first, const void* second) const override;

private:
    NonBlittable mNonBlittable; // directly after the OxRxValueType part; the type points at it
};

// The text forms and equalities of the built-in types, defined by the library.
#define OX_RX_BUILT_IN_OPERATIONS(CLASS)                                                                     \
    template <>                                                                                              \
    int CLASS::subToString(const void*, OXCHAR*, std::size_t, StringFormat) const;                           \
    template <>                                                                                              \
    bool CLASS::subEqualTo(const void*, const void*) const;
OX_RX_BUILT_IN_OPERATIONS(OxRxValueTypePOD<OXCHAR>)
OX_RX_BUILT_IN_OPERATIONS(OxRxValueTypePOD<unsigned char>)
OX_RX_BUILT_IN_OPERATIONS(OxRxValueTypePOD<bool>)
OX_RX_BUILT_IN_OPERATIONS(OxRxValueTypePOD<char>)
OX_RX_BUILT_IN_OPERATIONS(OxRxValueTypePOD<short>)
OX_RX_BUILT_IN_OPERATIONS(OxRxValueTypePOD<unsigned short>)
OX_RX_BUILT_IN_OPERATIONS(OxRxValueTypePOD<int>)
OX_RX_BUILT_IN_OPERATIONS(OxRxValueTypePOD<unsigned int>)
OX_RX_BUILT_IN_OPERATIONS(OxRxValueTypePOD<Mira::Int64>)
OX_RX_BUILT_IN_OPERATIONS(OxRxValueTypePOD<float>)
OX_RX_BUILT_IN_OPERATIONS(OxRxValueTypePOD<double>)
OX_RX_BUILT_IN_OPERATIONS(OxRxValueTypePOD<OxRxClass*>)
OX_RX_BUILT_IN_OPERATIONS(OxRxValueTypePOD<const OXCHAR*>)
OX_RX_BUILT_IN_OPERATIONS(OxRxValueTypePOD<const char*>)
OX_RX_BUILT_IN_OPERATIONS(OxRxValueTypePOD<void>)
OX_RX_BUILT_IN_OPERATIONS(OxRxNonBlittableType<OxString>)
#undef OX_RX_BUILT_IN_OPERATIONS

/// Holds an object obtained from a reference type's dereference and gives it back (release)
/// when reset or destroyed. Not copyable.
class ReferenceTypePointer {
public:
    ReferenceTypePointer() = default;
    ReferenceTypePointer(const IOxRxReferenceType* referenceType, OxRxObject* object) noexcept
        : mpReferenceType(referenceType), mpObject(object)
    {
    }
    ReferenceTypePointer(const ReferenceTypePointer&) = delete;
    ReferenceTypePointer& operator=(const ReferenceTypePointer&) = delete;
    virtual ~ReferenceTypePointer() { reset(); }

    /// Releases the object held, if any, then holds `object` from `referenceType`.
    void reset(const IOxRxReferenceType* referenceType = nullptr, OxRxObject* object = nullptr)
    {
        if (mpObject != nullptr && mpReferenceType != nullptr)
            mpReferenceType->release(mpObject);
        mpReferenceType = referenceType;
        mpObject = object;
    }
    OxRxObject* object() const noexcept { return mpObject; }
    const IOxRxReferenceType* referenceType() const noexcept { return mpReferenceType; }

private:
    const IOxRxReferenceType* mpReferenceType = nullptr;
    OxRxObject* mpObject = nullptr;
};

/// The abstract box that wraps a value in an object, so that a value goes where an object is
/// expected; OxRxValue::unbox finds the value of any object of this class or a class derived
/// from it. Two boxes are equal only when they refer to the very same value object.
class OXFIRST_API OxRxBoxedValue : public OxRxObject {
    OX_RX_DECLARE_MEMBERS(OxRxBoxedValue)
    /// A new heap box owning a copy of `value`; the caller owns the box.
    static OxRxBoxedValue* newBoxedValueOnHeap(const OxRxValue& value);

    /// A heap box of a copy of the value; null when there is no value.
    OxRxObject* clone() const override;
    /// Assigns the other box's value to this one's. eWrongObjectType when `other` is no box,
    /// eInvalidInput when only one side has a value.
    Orka::ErrorStatus copyFrom(const OxRxObject* other) override;
    int isEqualTo(const OxRxObject* other) const override;
    OxRx::Ordering comparedTo(const OxRxObject* other) const override;

    virtual OxRxValue* value() = 0;
    virtual const OxRxValue* value() const = 0;

    /// What the value stands for: its data for a type derived from another class than
    /// "OxRxValueType", the carried object of an object-value type, else the box itself (also
    /// when there is no value).
    OxRxObject* rxObject();
    /// As rxObject(), from the const value().
    const OxRxObject* rxObject() const;
};

/// A box of a value that lives elsewhere (typically on the caller's stack) and must outlive it.
class OXFIRST_API OxRxBoxedValueOnStack : public OxRxBoxedValue {
    OX_RX_DECLARE_MEMBERS(OxRxBoxedValueOnStack)
    /// Keeps the address of `value`, not a copy.
    explicit OxRxBoxedValueOnStack(const OxRxValue& value) noexcept : mpValue(const_cast<OxRxValue*>(&value))
    {
    }
    OxRxValue* value() override { return mpValue; }
    const OxRxValue* value() const override { return mpValue; }

protected:
    OxRxValue* mpValue;
};

/// A box owning a heap copy of its value; its class is "OxRxBoxedValueOnStack".
class OXFIRST_API OxRxBoxedValueOnHeap : public OxRxBoxedValueOnStack {
public:
    explicit OxRxBoxedValueOnHeap(const OxRxValue& value);
    ~OxRxBoxedValueOnHeap() override;
};

/// A typed value: a value type and one instance of it. Instances of up to kInlineBytes bytes
/// are held inside the value, larger ones in a block of exactly size() bytes from the stack
/// heap (oxStackHeapAlloc with the value's address as owner hint), which the value owns. A value
/// whose block could not be allocated holds no instance: its data() is null, it equals nothing,
/// prints nothing and copies as another value without instance. No virtual operations, no
/// synchronisation: one writer at a time. A value holds its type, which the end of the type
/// system deletes: every value is destroyed before then (empty() and varies() excepted).
class OXFIRST_API OxRxValue {
public:
    static constexpr std::size_t kInlineBytes = 24;

    /// The empty value: type void, every storage byte 0.
    OxRxValue() noexcept;
    /// A value of T's value type holding a copy of `value`. An array is held as a pointer to its
    /// first element (a text literal as const OXCHAR*).
    template <class T>
    OxRxValue(const T& value);
    template <class T, std::size_t N>
    OxRxValue(const T (&array)[N]) : OxRxValue(static_cast<const T*>(array))
    {
    }
    /// A value holding a copy of `text` (held inline).
    OxRxValue(const OxString& text);
    OxRxValue(const OxRxValue& other) : mpType(other.mpType)
    {
        if (isPlainInline(*mpType))
            std::memcpy(mStorage, other.mStorage, kInlineBytes);
        else
            copyInstance(other, false);
    }
    OxRxValue& operator=(const OxRxValue& other)
    {
        if (other.mpType == mpType && isPlainInline(*mpType))
            std::memcpy(mStorage, other.mStorage, kInlineBytes);
        else
            assignSlow(other);
        return *this;
    }
    ~OxRxValue()
    {
        if (!isPlainInline(*mpType))
            destroyInstance();
    }

    /// Makes this value hold a copy of `value`, of T's value type, copied once straight into
    /// this value's storage (assigning OxRxValue(value) would copy it twice). `value` must not be
    /// the instance this value holds. When T's copy constructor throws, the value is left empty.
    template <class T>
    void set(const T& value);

    const OxRxValueType& type() const noexcept { return *mpType; }
    /// The held instance: the storage for inline types, the block for the others (null when
    /// its allocation failed).
    const void* data() const noexcept { return isInline(*mpType) ? mStorage : heapBlock(); }
    void* data() noexcept { return isInline(*mpType) ? mStorage : heapBlock(); }
    /// The instance as a T when the value's type is T's built-in or module type, else null.
    template <class T>
    const T* get() const
    {
        return mpType == &OxRxValueType::Desc<T>::value() ? static_cast<const T*>(data()) : nullptr;
    }
    template <class T>
    T* get()
    {
        return mpType == &OxRxValueType::Desc<T>::value() ? static_cast<T*>(data()) : nullptr;
    }

    /// Same type object and equal instances (the type's subEqualTo); false when either value
    /// holds no instance.
    bool operator==(const OxRxValue& other) const;
    bool operator!=(const OxRxValue& other) const { return !(*this == other); }

    /// The type's toString for the held instance.
    int toString(OXCHAR* buffer, std::size_t size,
                 OxRxValueType::StringFormat format = OxRxValueType::kStringFormatDefault) const;
    /// The first tag of the type's enumeration whose value equals this value; null for a type
    /// without enumeration or when none does.
    const OxRxEnumTag* getEnumTag() const;
    /// Reads exactly size() bytes of a blittable instance from `buffer`. Answers size(), or 0
    /// without change for a non-blittable type, a length other than size() (more would be
    /// ignored, less would read past the buffer) and a value without instance.
    std::size_t serializeIn(const void* buffer, std::size_t length);
    /// Writes the size() bytes of a blittable instance when `length` is at least size() and
    /// answers size(). A shorter `length` becomes size() and the answer is 0; a non-blittable
    /// type answers 0 and leaves `length` alone.
    std::size_t serializeOut(void* buffer, std::size_t& length) const;

    /// The shared empty and varies values (void; first four storage bytes 0 and 1). Made on
    /// first use and never destroyed; after the type system starts again they carry the new
    /// void type. The first calls must not race.
    static const OxRxValue& empty();
    static const OxRxValue& varies();

    /// The value held by a boxed value (an object of OxRxBoxedValue or a class derived from it);
    /// null for any other object and for null.
    static OxRxValue* unbox(OxRxObject* object);
    static const OxRxValue* unbox(const OxRxObject* object);

private:
    // Blittable and inline: copying the 32 bytes of the value is a copy of the instance.
    static bool isPlainInline(const OxRxValueType& type) noexcept
    {
        return type.isBlittable() && type.size() <= kInlineBytes;
    }
    static bool isInline(const OxRxValueType& type) noexcept { return type.size() <= kInlineBytes; }
    void* heapBlock() const noexcept
    {
        void* block;
        std::memcpy(&block, mStorage, sizeof block);
        return block;
    }
    void setHeapBlock(void* block) noexcept { std::memcpy(mStorage, &block, sizeof block); }

    void* allocate(std::size_t size) const;
    void* reallocate(std::size_t size, void* block) const;
    void deallocate(void* block) const;

    // Takes a copy of the instance at `source` (of this value's type) into fresh storage.
    void constructFrom(const void* source);
    // The construction path of a copy: the instance of `other`, whose type this value has
    // taken, into this value's storage, reusing this value's heap block when `reuseBlock`.
    void copyInstance(const OxRxValue& other, bool reuseBlock);
    void assignSlow(const OxRxValue& other);
    void destroyInstance() noexcept;
    // empty() and varies(): made once with `marker` in the first four bytes, then given the
    // void type in force on every call.
    static const OxRxValue& sharedVoidValue(OxRxValue*& shared, std::int32_t marker);

    const OxRxValueType* mpType; // never null
    alignas(8) unsigned char mStorage[kInlineBytes];
};
static_assert(sizeof(OxRxValue) == 32 && alignof(OxRxValue) == 8,
              "a value is its type pointer and 24 bytes of storage aligned for pointers and doubles");

template <class T>
inline OxRxValue::OxRxValue(const T& value) : mpType(&OxRxValueType::Desc<T>::value())
{
    if constexpr (std::is_trivially_copyable_v<T> && sizeof(T) <= kInlineBytes) {
        if (isPlainInline(*mpType) && mpType->size() == sizeof(T)) {
            std::memset(mStorage, 0, kInlineBytes);
            std::memcpy(mStorage, &value, sizeof(T));
            return;
        }
    }
    constructFrom(&value);
}

template <class T>
inline void OxRxValue::set(const T& value)
{
    const OxRxValueType* type = &OxRxValueType::Desc<T>::value();
    if (!isPlainInline(*mpType))
        destroyInstance();
    mpType = type;
    if constexpr (std::is_trivially_copyable_v<T> && sizeof(T) <= kInlineBytes) {
        if (isPlainInline(*type) && type->size() == sizeof(T)) {
            std::memset(mStorage, 0, kInlineBytes);
            std::memcpy(mStorage, &value, sizeof(T));
            return;
        }
    }
    try {
        constructFrom(&value);
    } catch (...) {
        // constructFrom zeroed the storage first; a heap block it took is given back.
        if (!isInline(*type))
            deallocate(heapBlock());
        mpType = &OxRxValueType::Desc<void>::value();
        std::memset(mStorage, 0, kInlineBytes);
        throw;
    }
}
