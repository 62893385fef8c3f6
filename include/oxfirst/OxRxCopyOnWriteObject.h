// oxfirst/OxRxCopyOnWriteObject.h
// Objects that share one payload object cheaply and copy it only when a holder is about to
// change it. Host classes derive from OxRxCopyOnWriteObject and reach their payload through
// read() and write().
#pragma once

#include <oxfirst/OxRxClass.h>

class OxRxObjectSharedPtrWrapper;

/// Copying shares the payload; write() clones it first while anyone else still shares it. The
/// payload's use count changes atomically, so objects sharing one payload may be copied,
/// assigned and destroyed on different threads; one object must not be written from two threads
/// at once. The holder of the payload (a small block of the stack heap) lives in the arena of
/// the creating thread when the object lives on that thread's stack, else on the C heap.
class OXFIRST_API OxRxCopyOnWriteObject : public OxRxObject {
    OX_RX_DECLARE_MEMBERS(OxRxCopyOnWriteObject)

    /// Owns `payload` from now on (it may be null). When the payload's share count cannot be
    /// allocated, the payload is deleted and std::bad_alloc propagates; when its holder cannot
    /// be allocated, the payload is deleted and the object holds none.
    explicit OxRxCopyOnWriteObject(OxRxObject* payload);
    /// Shares `other`'s payload.
    OxRxCopyOnWriteObject(const OxRxCopyOnWriteObject& other);
    /// Shares `other`'s payload: its count rises before this object's previous payload is let
    /// go (and deleted when nobody else holds it), so assigning an object to itself is safe.
    const OxRxCopyOnWriteObject& operator=(const OxRxCopyOnWriteObject& other);
    /// Lets the payload go, deleting it when this was its last holder.
    ~OxRxCopyOnWriteObject() override;

protected:
    /// The shared payload; null when the object holds none.
    const OxRxObject* read() const noexcept;
    /// A payload only this object holds: the shared one cloned first when others share it. When
    /// the clone fails (clone() answers null) the object lets the shared payload go and holds
    /// none: the answer is then null, as it is for an object without payload.
    OxRxObject* write();
    /// As write(), without the answer.
    void unshare();

private:
    OxRxObjectSharedPtrWrapper* mpWrapper = nullptr; // owned; null only when it could not be allocated
};
static_assert(sizeof(OxRxCopyOnWriteObject) == 2 * sizeof(void*), "a table and the payload's holder");
