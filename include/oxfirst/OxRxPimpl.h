// oxfirst/OxRxPimpl.h
// The public/implementation split of the reflection classes: a public object holds one owned
// pointer to an implementation object and forwards its virtual operations to it, so the public
// object's layout never changes when the implementation grows.
#pragma once

#include <oxfirst/OxRxObject.h>

namespace Pimpl {

/// The root of every implementation object; deleted through its virtual destructor.
class OXFIRST_API ImpBase {
public:
    ImpBase() = default;
    ImpBase(const ImpBase&) = delete;
    ImpBase& operator=(const ImpBase&) = delete;
    virtual ~ImpBase();
};

/// An implementation object that knows the public object owning it.
template <class T>
class ImpBaseWithSelf : public ImpBase {
public:
    explicit ImpBaseWithSelf(T* self) noexcept : mpSelf(self) {}
    T* self() const noexcept { return mpSelf; }

protected:
    T* mpSelf;
};

/// The public side: `Base` (OxRxObject, or nothing for void) plus the owned implementation.
template <class Base, class Imp>
class ApiPart : public Base {
public:
    ApiPart(const ApiPart&) = delete;
    ApiPart& operator=(const ApiPart&) = delete;
    Imp* imp() const noexcept { return mpImp; }

protected:
    explicit ApiPart(Imp* imp) noexcept : mpImp(imp) {}
    ~ApiPart() override { delete mpImp; }

    Imp* mpImp;
};

template <class Imp>
class ApiPart<void, Imp> {
public:
    ApiPart(const ApiPart&) = delete;
    ApiPart& operator=(const ApiPart&) = delete;
    Imp* imp() const noexcept { return mpImp; }

protected:
    explicit ApiPart(Imp* imp = nullptr) noexcept : mpImp(imp) {}
    virtual ~ApiPart() { delete mpImp; }

    Imp* mpImp;
};

} // namespace Pimpl
