// tests/reflection/ValueTest.cpp
// Value types and values: the built-in types' text forms and equality, module types (registered,
// linked, enumerations), every storage path of OxRxValue with counted non-blittable instances,
// the byte form, the shared void values across a restart, and unboxing.

#include "heap/HeapTestHooks.h"
#include "support/RxTestSupport.h"

#include <oxfirst/OxRxMember.h>
#include <oxfirst/OxRxValue.h>

#include <cmath>
#include <limits>
#include <thread>

namespace {

template <std::size_t N>
struct Bytes {
    unsigned char bytes[N];
    explicit Bytes(unsigned char fill = 0) { std::memset(bytes, fill, N); }
};

// Counts live instances and fails the test when an operation meets storage without one.
inline int gLive = 0;
template <std::size_t N>
struct Counted {
    int magic = 0x5A5A5A5A;
    int value;
    char padding[N - 2 * sizeof(int)];
    explicit Counted(int v = 0) : value(v) { ++gLive; }
    Counted(const Counted& other) : value(other.live().value) { ++gLive; }
    Counted& operator=(const Counted& other) { return live().value = other.live().value, *this; }
    ~Counted() { live().magic = 0, --gLive; }
    Counted& live() const
    {
        if (magic != 0x5A5A5A5A)
            ADD_FAILURE() << "an operation met storage without a live instance";
        return const_cast<Counted&>(*this);
    }
};

// A module's type of T, made on first use; the registry clears the pointer when the type goes.
template <class Type>
const OxRxValueType& moduleType(const OXCHAR* name)
{
    static OxRxClass* gpType = nullptr;
    if (gpType == nullptr) {
        new Type(name);
        oxrxFindClassByName(&gpType, name);
    }
    return *static_cast<const OxRxValueType*>(gpType);
}

// An enumeration whose instances are ints; its tags hold int values, which the search compares
// with the enumeration's own equality. The tags are members: made with the member operator new,
// owned by the type and deleted with deleteMember.
struct Shade {
    int index;
};
class ShadeType : public OxRxValueType, public IOxRxEnumeration {
public:
    explicit ShadeType(const OXCHAR* name) : OxRxValueType(name, *static_cast<IOxRxEnumeration*>(this), 4)
    {
        const OXCHAR* names[3] = {u"Red", u"Crimson", u"Blue"};
        for (int i = 0; i < 3; ++i)
            oxdbImpSetOwnerForEnumTag(this, mTags[i] = new OxRxEnumTag(names[i], OxRxValue(i < 2 ? 1 : 2)));
    }
    ~ShadeType() override
    {
        for (OxRxEnumTag* tag : mTags)
            OxRxMember::deleteMember(tag);
    }
    int subToString(const void*, OXCHAR*, std::size_t, StringFormat) const override { return -1; }
    bool subEqualTo(const void* a, const void* b) const override { return std::memcmp(a, b, 4) == 0; }
    int count() const override { return 3; }
    const OxRxEnumTag* getAt(int index) const override { return mTags[index]; }

private:
    OxRxEnumTag* mTags[3];
};

} // namespace

#define OXTEST_VALUE_TYPE(T, TYPE, NAME)                                                                     \
    template <>                                                                                              \
    struct OxRxValueType::Desc<T> {                                                                          \
        static const OxRxValueType& value() { return moduleType<TYPE>(NAME); }                               \
    };
OXTEST_VALUE_TYPE(Bytes<24>, OxRxValueTypePOD<Bytes<24>>, u"Bytes24")
OXTEST_VALUE_TYPE(Bytes<25>, OxRxValueTypePOD<Bytes<25>>, u"Bytes25")
OXTEST_VALUE_TYPE(Bytes<40>, OxRxValueTypePOD<Bytes<40>>, u"Bytes40")
OXTEST_VALUE_TYPE(Counted<16>, OxRxNonBlittableType<Counted<16>>, u"Counted16")
OXTEST_VALUE_TYPE(Counted<48>, OxRxNonBlittableType<Counted<48>>, u"Counted48")
OXTEST_VALUE_TYPE(Shade, ShadeType, u"Shade")
#undef OXTEST_VALUE_TYPE

template <class T>
int OxRxValueTypePOD<T>::subToString(const void*, OXCHAR*, std::size_t, StringFormat) const
{
    return -1;
}
template <class T>
bool OxRxValueTypePOD<T>::subEqualTo(const void* first, const void* second) const
{
    return std::memcmp(first, second, sizeof(T)) == 0;
}
template <class T>
int OxRxNonBlittableType<T>::subToString(const void*, OXCHAR*, std::size_t, StringFormat) const
{
    return -1;
}
template <class T>
bool OxRxNonBlittableType<T>::subEqualTo(const void* first, const void* second) const
{
    return static_cast<const T*>(first)->live().value == static_cast<const T*>(second)->live().value;
}

namespace {

std::u16string textOf(const OxRxValue& value)
{
    OXCHAR buffer[64];
    return value.toString(buffer, 64) < 0 ? u"<none>" : std::u16string(buffer);
}

// Wrong widening (sign or zero extension), a wrong conversion or argument per type, and a
// bounded print that writes a cut text or answers a length instead of refusing.
TEST(BuiltInValueTypes, PrintLikeTheirConversionsAndRefuseShortBuffers)
{
    oxtest::TypeSystemScope scope;
    const OXCHAR* text = u"wide";
    const struct {
        OxRxValue value;
        std::u16string expected;
    } rows[] = {
        {42, u"42"},
        {Mira::Int64(255), u"ff"},
        {Mira::Int64(-1), u"ffffffffffffffff"},
        {4294967295u, u"-1"},
        {static_cast<unsigned short>(65535), u"65535"},
        {static_cast<char>(-1), u"-1"},
        {static_cast<unsigned char>(200), u"200"},
        {static_cast<short>(-2), u"-2"},
        {true, u"1"},
        {1.5, u"1.500000"},
        {0.1f, u"0.100000"},
        {u'\u00e9', u"\u00e9"},
        {text, u"wide"},
        {"caf\xc3\xa9 \xff", u"caf\u00e9 \ufffd"},
        {OxString(u"string"), u"string"},
        {OxRxValueType::desc(), u"OxRxValueType"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.value.type().name(), row.value.type().name() + 3));
        const std::size_t length = row.expected.size();
        OXCHAR tight[32] = {u'#'};
        EXPECT_EQ(row.value.toString(nullptr, 0), int(length));
        EXPECT_EQ(row.value.toString(tight, length), -1);
        EXPECT_EQ(tight[0], 0);
        EXPECT_EQ(row.value.toString(tight, length + 1), int(length));
        EXPECT_EQ(std::u16string(tight), row.expected);
    }
    int instance = 1;
    OXCHAR buffer[8];
    const OxRxValueType& intType = OxRxValueType::Desc<int>::value();
    EXPECT_EQ(intType.toString(nullptr, buffer, 8, OxRxValueType::kStringFormatDefault), -1);
    EXPECT_EQ(intType.toString(&instance, nullptr, 3, OxRxValueType::kStringFormatDefault), -1);
    EXPECT_EQ(intType.toString(&instance, buffer, 0, OxRxValueType::kStringFormatDefault), -1);
    EXPECT_EQ(OxRxValue().toString(nullptr, 0), -1); // void has no text form
}

// A plain == on doubles (near values differ), a relative rule that lets opposite signs or NaN
// compare equal, text compared by address, and values of different types compared at all.
TEST(BuiltInValueTypes, CompareDoublesRelativelyAndTextByContents)
{
    oxtest::TypeSystemScope scope;
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double a, b;
        bool equal;
    } pairs[] = {{1.0, 1.0 + 1e-12, true}, {1.0, 1.0001, false}, {1.0, -1.0, false},  {0.0, -0.0, true},
                 {nan, nan, false},        {inf, inf, true},     {inf, 1e308, false}, {-inf, inf, false}};
    for (const auto& pair : pairs)
        EXPECT_EQ(OxRxValue(pair.a) == OxRxValue(pair.b), pair.equal) << pair.a << " " << pair.b;
    const OXCHAR first[] = u"same";
    const OXCHAR second[] = u"same";
    const OXCHAR* none = nullptr;
    EXPECT_TRUE(OxRxValue(first) == OxRxValue(second));
    EXPECT_TRUE(OxRxValue(none) == OxRxValue(none));
    EXPECT_FALSE(OxRxValue(none) == OxRxValue(first));
    EXPECT_TRUE(OxRxValue("abc") == OxRxValue(std::string("abc").c_str()));
    EXPECT_FALSE(OxRxValue(1) == OxRxValue(1u));
}

// Singletons that survive a restart (a deleted type handed out), module types not registered or
// not linked under "OxRxValueType", a taken name not reported, and a tag search that passes over
// the first equal tag or matches a type without enumeration.
TEST(ValueTypes, AreRegisteredLinkedClassesRenewedWithTheTypeSystem)
{
    OxRxValue early(7); // before any type system: an unregistered type that stays valid
    {
        oxtest::TypeSystemScope scope;
        const OxRxValueType& intType = OxRxValueType::Desc<int>::value();
        EXPECT_EQ(&intType, &OxRxValueType::Desc<int>::value());
        EXPECT_EQ(oxrxFindClassByName(nullptr, u"int"), &intType);
        EXPECT_EQ(intType.isA(), OxRxValueType::desc());
        EXPECT_EQ(intType.myParent(), OxRxValueType::desc());
        EXPECT_EQ(OxRxValueType::desc()->myParent(), OxRxClass::desc());
        EXPECT_FALSE(early == OxRxValue(7));

        const OxRxValue crimson(Shade{1});
        EXPECT_TRUE(crimson.type().isEnum() && crimson.type().isDerivedFrom(OxRxValueType::desc()));
        EXPECT_EQ(std::u16string(crimson.getEnumTag()->name()), u"Red");
        EXPECT_EQ(OxRxValue(Shade{3}).getEnumTag(), nullptr);
        EXPECT_EQ(OxRxValue(1).getEnumTag(), nullptr);

        new OxRxNonBlittableType<OxString>(u"Memo");
        new OxRxNonBlittableType<OxString>(u"Memo");
        EXPECT_EQ(scope.reports().last(), u"Attempt to register class 'Memo' twice.");
        EXPECT_EQ(oxrxFindClassByName(nullptr, u"Memo")->myParent(), OxRxValueType::desc());
    }
    oxtest::TypeSystemScope again;
    EXPECT_EQ(oxrxFindClassByName(nullptr, u"int"), &OxRxValueType::Desc<int>::value());
    EXPECT_EQ(textOf(early), u"7");
}

// One value of each storage kind: void, blittable inline, non-blittable inline (OxString and a
// counted record), blittable heap-held of two sizes, non-blittable heap-held twice.
std::vector<OxRxValue> everyKind()
{
    return {OxRxValue(),
            OxRxValue(5),
            OxRxValue(OxString(u"text")),
            OxRxValue(Counted<16>(3)),
            OxRxValue(Bytes<25>(7)),
            OxRxValue(Bytes<40>(9)),
            OxRxValue(Counted<48>(4)),
            OxRxValue(Counted<48>(6))};
}

// A destruction missed or doubled on some path (the counts and the instance checks), an
// assignment into storage holding no instance, a heap block leaked or freed twice (ASan), and a
// copy that shares its instance with its source.
TEST(Values, EveryCopyAndAssignmentPathKeepsOneLiveInstancePerValue)
{
    oxtest::TypeSystemScope scope;
    {
        const std::vector<OxRxValue> kinds = everyKind();
        for (const OxRxValue& from : kinds) {
            for (const OxRxValue& to : kinds) {
                OxRxValue target(to);
                EXPECT_TRUE(target == to);
                target = from;
                EXPECT_TRUE(target == from);
                target = *&target; // self-assignment changes nothing
                OxRxValue copy(target);
                copy = to;
            }
        }
        EXPECT_EQ(gLive, 3);
        // set() replaces whatever the value held, inline or heap-held, by one new instance.
        OxRxValue target(Counted<48>(1));
        target.set(Counted<16>(2));
        target.set(Counted<48>(3));
        EXPECT_EQ(target.get<Counted<48>>()->value, 3);
        target.set(Bytes<40>(5));
        target.set(42);
        EXPECT_EQ(*target.get<int>(), 42);
        EXPECT_EQ(gLive, 3);
    }
    EXPECT_EQ(gLive, 0);
    OxRxValue first(OxString(u"one"));
    OxRxValue second(first);
    second.get<OxString>()->append(u" more");
    EXPECT_EQ(first.get<OxString>()->compare(u"one"), 0);
    EXPECT_EQ(second.get<int>(), nullptr);
}

// 24 bytes sent to the heap or 25 kept inline (overflow), a block taken outside the caller's
// arena, a block not reused when both types are heap-held, an old block kept for an inline one.
TEST(Values, HeapBlocksComeFromTheStackHeapAndAreReusedOrFreed)
{
    oxtest::TypeSystemScope scope;
    const void* base = nullptr;
    std::uint32_t top = 0;
    OxRxValue inline24(Bytes<24>(1));
    EXPECT_EQ(inline24.data(), static_cast<const void*>(reinterpret_cast<const char*>(&inline24) + 8));
    OxRxValue source(Bytes<40>(2));
    ASSERT_TRUE(oxheap::test::stackArenaOfCaller(&base, &top));
    const std::uint32_t belowTarget = top;
    OxRxValue target(Bytes<25>(3));
    const auto* block = static_cast<const char*>(target.data());
    EXPECT_TRUE(block >= static_cast<const char*>(base) && block < static_cast<const char*>(base) + 16384);
    target = source; // the topmost block is given back and taken again in place
    EXPECT_EQ(target.data(), block);
    EXPECT_TRUE(target == source);
    target = OxRxValue(1);
    oxheap::test::stackArenaOfCaller(&base, &top);
    EXPECT_EQ(top, belowTarget);
}

// Values a heap object holds, made on one thread and destroyed on another: their blocks come from
// the C runtime and must go back there, not to the second thread's arena.
TEST(Values, ThreadsDestroyValuesMadeOnOtherThreads)
{
    oxtest::TypeSystemScope scope;
    std::vector<OxRxValue>* values = nullptr;
    std::thread([&] { values = new std::vector<OxRxValue>(everyKind()); }).join();
    std::thread([&] { delete values; }).join();
    EXPECT_EQ(gLive, 0);
}

// A short length that reads past the buffer or a long one accepted, a size query that writes,
// and a non-blittable instance copied as bytes.
TEST(Values, SerializeOnlyWholeBlittableInstances)
{
    oxtest::TypeSystemScope scope;
    OxRxValue number(0x01020304);
    unsigned char bytes[8] = {};
    std::size_t length = 2;
    EXPECT_EQ(number.serializeOut(bytes, length), 0u);
    EXPECT_EQ(length, 4u);
    length = 8;
    EXPECT_EQ(number.serializeOut(bytes, length), 4u);
    EXPECT_TRUE(length == 8 && bytes[0] == 0x04);
    const unsigned char input[8] = {9, 0, 0, 0, 7, 7, 7, 7};
    EXPECT_EQ(number.serializeIn(input, 8) + number.serializeIn(input, 2), 0u);
    EXPECT_EQ(*number.get<int>(), 0x01020304);
    EXPECT_EQ(number.serializeIn(input, 4), 4u);
    EXPECT_EQ(*number.get<int>(), 9);
    OxRxValue big(Bytes<40>(0));
    const Bytes<40> pattern(0xAB);
    EXPECT_EQ(big.serializeIn(&pattern, 40), 40u);
    EXPECT_TRUE(big == OxRxValue(pattern));
    OxRxValue text(OxString(u"x"));
    EXPECT_EQ(text.serializeOut(bytes, length) + text.serializeIn(bytes, 16), 0u);
    EXPECT_EQ(length, 8u);
}

// An object given back twice, or not at all, when the holder is reset or destroyed.
TEST(Values, ReferenceTypePointerGivesItsObjectBackOnce)
{
    struct Counter : IOxRxReferenceType {
        OxRxObject* dereference(const OxRxValue&, int) const override { return nullptr; }
        bool release(OxRxObject*) const override { return ++releases > 0; }
        mutable int releases = 0;
    } references;
    oxtest::TestObject object;
    {
        ReferenceTypePointer holder(&references, &object);
        holder.reset(&references, &object);
        EXPECT_EQ(references.releases, 1);
    }
    EXPECT_EQ(references.releases, 2);
}

// The shared void values told apart by their marker, carrying a deleted void type into a new
// start (ASan), and unbox answering for objects that hold no value.
TEST(Values, SharedVoidValuesAndUnboxing)
{
    {
        oxtest::TypeSystemScope scope;
        EXPECT_TRUE(OxRxValue() == OxRxValue::empty());
        EXPECT_FALSE(OxRxValue() == OxRxValue::varies());
        EXPECT_TRUE(OxRxValue::varies() == OxRxValue::varies());
        OxRxValue five(5);
        OxRxBoxedValueOnStack box(five);
        const oxtest::TestObject object;
        EXPECT_EQ(OxRxValue::unbox(&box), &five);
        EXPECT_EQ(OxRxValue::unbox(static_cast<const OxRxObject*>(&box)), &five);
        EXPECT_EQ(OxRxValue::unbox(&object), nullptr);
        EXPECT_EQ(OxRxValue::unbox(static_cast<OxRxObject*>(nullptr)), nullptr);
    }
    oxtest::TypeSystemScope again;
    const OxRxValue copy(OxRxValue::varies());
    EXPECT_EQ(&copy.type(), &OxRxValueType::Desc<void>::value());
    EXPECT_TRUE(copy == OxRxValue::varies());
    EXPECT_EQ(&OxRxValue::empty().type(), &OxRxValue::varies().type());
}

// Boxes equal by value instead of by identity, clones sharing the boxed value, copyFrom taking
// objects that are not boxes or keeping the target's type, rxObject answering a plain int; and a
// box without value read through (clone, copyFrom on either side, rxObject).
TEST(Values, BoxesCloneCopyAndCompareByIdentity)
{
    oxtest::TypeSystemScope scope;
    OxRxValue number(5), text(OxString(u"x"));
    OxRxBoxedValueOnStack box(number);
    std::unique_ptr<OxRxObject> copy(box.clone());
    const OxRxValue* copied = OxRxValue::unbox(copy.get());
    ASSERT_TRUE(copied != nullptr && copied != &number && *copied == number);
    EXPECT_EQ(copy->isA(), OxRxBoxedValueOnStack::desc());
    EXPECT_EQ(box.isEqualTo(copy.get()) + copy->isEqualTo(&box), 0);
    EXPECT_EQ(box.isEqualTo(&box) + copy->isEqualTo(copy.get()), 2);
    const oxtest::TestObject object;
    EXPECT_EQ(std::pair(Orka::eWrongObjectType, Orka::eWrongObjectType),
              std::pair(box.copyFrom(&object), box.copyFrom(nullptr)));
    OxRxBoxedValueOnStack textBox(text);
    EXPECT_EQ(box.copyFrom(&textBox), Orka::eOk);
    EXPECT_TRUE(number == text);
    EXPECT_EQ(box.rxObject(), &box);

    struct Empty : OxRxBoxedValue {
        OxRxValue* value() override { return nullptr; }
        const OxRxValue* value() const override { return nullptr; }
    } empty, other;
    EXPECT_EQ(empty.clone(), nullptr);
    EXPECT_EQ(static_cast<const OxRxBoxedValue&>(empty).rxObject(), &empty);
    EXPECT_EQ(empty.copyFrom(&other), Orka::eOk);
    EXPECT_EQ(std::pair(Orka::eInvalidInput, Orka::eInvalidInput),
              std::pair(empty.copyFrom(&box), box.copyFrom(&empty)));
}

} // namespace
