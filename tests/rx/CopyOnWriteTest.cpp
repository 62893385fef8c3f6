// tests/rx/CopyOnWriteTest.cpp
// Copy-on-write objects: sharing on copy and assignment, one clone per write of a shared
// payload, a payload whose clone fails, and holders on several threads at once.

#include <oxfirst/OxRxCopyOnWriteObject.h>

#include "support/RxTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using oxtest::TestObject;

// Exposes the protected access of the class under test.
class Holder : public OxRxCopyOnWriteObject {
public:
    using OxRxCopyOnWriteObject::OxRxCopyOnWriteObject;
    using OxRxCopyOnWriteObject::read;
    using OxRxCopyOnWriteObject::unshare;
    using OxRxCopyOnWriteObject::write;
};

// A payload whose class makes no objects: clone() answers null.
class Uncloneable : public OxRxObject {};

// Counts its live objects from any thread.
class CountedPayload : public OxRxObject {
public:
    CountedPayload() { ++gLive; }
    ~CountedPayload() override { --gLive; }
    OxRxObject* clone() const override { return new CountedPayload; }
    static inline std::atomic<int> gLive{0};
};

// Copies share until one writes; the writer gets one clone, later writes reuse it; an unshared
// payload is never cloned; self-assignment keeps the payload; the last holder deletes it once.
TEST(CopyOnWrite, CopiesShareUntilOneWrites)
{
    oxtest::TypeSystemScope typeSystem;
    EXPECT_EQ(OxRxObject::desc(), OxRxCopyOnWriteObject::desc()->myParent());
    const int destroyedBefore = TestObject::gDestroyed;
    auto* payload = new TestObject(5);
    {
        Holder first(payload);
        EXPECT_EQ(payload, first.write()) << "an unshared payload is written in place";
        Holder copy(first);
        EXPECT_EQ(payload, copy.read());
        OxRxObject* written = copy.write();
        ASSERT_TRUE(written != nullptr && written != payload);
        EXPECT_TRUE(written->isEqualTo(payload));
        EXPECT_EQ(written, copy.write());
        EXPECT_EQ(payload, first.read());
        first = first;
        EXPECT_EQ(payload, first.read());
        copy = first; // the clone goes, the payload is shared again
        EXPECT_EQ(destroyedBefore + 1, TestObject::gDestroyed);
        copy.unshare();
        EXPECT_NE(payload, copy.read());
        EXPECT_EQ(payload, first.read());
    }
    EXPECT_EQ(destroyedBefore + 3, TestObject::gDestroyed);
}

// A shared payload that cannot be cloned: write() answers null and the writer holds nothing,
// while the other holder keeps the payload; copying, assigning and destroying stay safe.
TEST(CopyOnWrite, FailedCloneLeavesTheWriterEmpty)
{
    oxtest::TypeSystemScope typeSystem;
    auto* payload = new Uncloneable;
    Holder first(payload);
    Holder second(first);
    EXPECT_EQ(nullptr, second.write());
    EXPECT_EQ(nullptr, second.read());
    EXPECT_EQ(payload, first.read());
    Holder third(second);
    EXPECT_EQ(nullptr, third.write());
    third = first;
    second = third;
    EXPECT_EQ(payload, second.read());
    Holder empty(nullptr);
    EXPECT_TRUE(empty.read() == nullptr && empty.write() == nullptr);
}

// Threads copy one shared object, write some copies and drop them all at once: every clone and
// the original are deleted exactly once.
TEST(CopyOnWrite, ThreadsCopyWriteAndDropAtOnce)
{
    {
        Holder shared(new CountedPayload);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < 500; ++i) {
                    Holder local(shared);
                    Holder other(nullptr);
                    other = local;
                    if ((i + t) % 3 == 0) {
                        EXPECT_NE(nullptr, local.write());
                    }
                }
            });
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_EQ(1, CountedPayload::gLive);
    }
    EXPECT_EQ(0, CountedPayload::gLive);
}

} // namespace
