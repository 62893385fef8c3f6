// rx/CopyOnWriteObject.cpp
// Copy-on-write objects. The payload is held by a std::shared_ptr inside a small holder that
// lives in the stack heap, owned by the copy-on-write object's address: objects on a thread's
// stack then take their holder from that thread's arena without locking.

#include <oxfirst/OxRxCopyOnWriteObject.h>

#include <oxfirst/OxHeap.h>

#include <memory>
#include <utility>

class OxRxObjectSharedPtrWrapper : public OxStackAllocator {
public:
    explicit OxRxObjectSharedPtrWrapper(std::shared_ptr<OxRxObject> payload) noexcept
        : mPayload(std::move(payload))
    {
    }
    ~OxRxObjectSharedPtrWrapper() override = default;

    std::shared_ptr<OxRxObject> mPayload;
};

OX_RX_DEFINE_MEMBERS(OxRxCopyOnWriteObject, u"OxRxCopyOnWriteObject", u"OxRxObject", nullptr)

OxRxCopyOnWriteObject::OxRxCopyOnWriteObject(OxRxObject* payload)
{
    std::shared_ptr<OxRxObject> shared(payload); // deletes the payload itself when it throws
    mpWrapper = new (this) OxRxObjectSharedPtrWrapper(std::move(shared));
}

OxRxCopyOnWriteObject::OxRxCopyOnWriteObject(const OxRxCopyOnWriteObject& other) : OxRxObject(other)
{
    if (other.mpWrapper != nullptr)
        mpWrapper = new (this) OxRxObjectSharedPtrWrapper(other.mpWrapper->mPayload);
}

const OxRxCopyOnWriteObject& OxRxCopyOnWriteObject::operator=(const OxRxCopyOnWriteObject& other)
{
    std::shared_ptr<OxRxObject> payload = other.mpWrapper != nullptr ? other.mpWrapper->mPayload : nullptr;
    if (mpWrapper == nullptr)
        mpWrapper = new (this) OxRxObjectSharedPtrWrapper(nullptr);
    if (mpWrapper != nullptr)
        mpWrapper->mPayload = std::move(payload);
    return *this;
}

OxRxCopyOnWriteObject::~OxRxCopyOnWriteObject()
{
    delete mpWrapper;
}

const OxRxObject* OxRxCopyOnWriteObject::read() const noexcept
{
    return mpWrapper != nullptr ? mpWrapper->mPayload.get() : nullptr;
}

// A use count of 1 means no other holder can appear meanwhile: only this object could copy
// its payload, and it is not being copied while it is written.
OxRxObject* OxRxCopyOnWriteObject::write()
{
    if (mpWrapper == nullptr || mpWrapper->mPayload == nullptr)
        return nullptr;
    std::shared_ptr<OxRxObject>& payload = mpWrapper->mPayload;
    if (payload.use_count() == 1)
        return payload.get();
    OxRxObject* copy = payload->clone();
    if (copy == nullptr) {
        payload.reset();
        return nullptr;
    }
    payload = std::shared_ptr<OxRxObject>(copy);
    return copy;
}

void OxRxCopyOnWriteObject::unshare()
{
    write();
}
