// tests/rx/CopyOnWriteTest.cpp
// Copy-on-write objects: sharing on copy and assignment, one clone per write of a shared payload,
// a payload whose clone fails, and holders on several threads at once.

#include <oxfirst/OxRxCopyOnWriteObject.h>

#include "support/RxTestSupport.h"

#include <atomic>
#include <thread>
#include <vector>

namespace {

// Exposes the protected access of the class under test.
struct Holder : OxRxCopyOnWriteObject {
    using OxRxCopyOnWriteObject::OxRxCopyOnWriteObject;
    using OxRxCopyOnWriteObject::read, OxRxCopyOnWriteObject::unshare, OxRxCopyOnWriteObject::write;
};

// Counts its live objects from any thread; clones fail while `gCloneable` is false.
struct Payload : OxRxObject {
    Payload() { ++gLive; }
    ~Payload() override { --gLive; }
    OxRxObject* clone() const override { return gCloneable ? new Payload : nullptr; }
    static inline std::atomic<int> gLive{0};
    static inline bool gCloneable = true;
};

// Copies share until one writes; the writer gets one clone and keeps it; an unshared payload is
// written in place; self-assignment keeps the payload; each payload is deleted exactly once. A
// clone that fails leaves the writer without payload and the others untouched.
TEST(CopyOnWrite, CopiesShareUntilOneWrites)
{
    oxtest::TypeSystemScope typeSystem;
    EXPECT_EQ(OxRxObject::desc(), OxRxCopyOnWriteObject::desc()->myParent());
    auto* payload = new Payload;
    {
        Holder first(payload), copy(first);
        EXPECT_EQ(payload, copy.read());
        OxRxObject* written = copy.write();
        EXPECT_TRUE(written != nullptr && written != payload && copy.write() == written);
        EXPECT_EQ(payload, first.write()) << "unshared again: written in place";
        const Holder& self = first;
        first = self;
        copy = first; // the clone goes, the payload is shared again
        EXPECT_TRUE(first.read() == payload && copy.read() == payload && Payload::gLive == 1);
        copy.unshare();
        EXPECT_TRUE(copy.read() != payload && Payload::gLive == 2);

        Payload::gCloneable = false;
        Holder failing(first);
        EXPECT_TRUE(failing.write() == nullptr && failing.read() == nullptr && first.read() == payload);
        Holder empty(failing), none(nullptr);
        EXPECT_TRUE(empty.write() == nullptr && none.read() == nullptr && none.write() == nullptr);
        empty = first;
        EXPECT_EQ(payload, empty.read());
        Payload::gCloneable = true;
    }
    EXPECT_EQ(0, Payload::gLive);
}

// Threads copy one shared object, write some copies and drop them all at once: every clone and
// the original are deleted exactly once.
TEST(CopyOnWrite, ThreadsCopyWriteAndDropAtOnce)
{
    {
        Holder shared(new Payload);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < 500; ++i) {
                    Holder local(shared), other(nullptr);
                    other = local;
                    if ((i + t) % 3 == 0) {
                        EXPECT_NE(nullptr, local.write());
                    }
                }
            });
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_EQ(1, Payload::gLive);
    }
    EXPECT_EQ(0, Payload::gLive);
}

} // namespace
