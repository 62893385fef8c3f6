// tests/support/RxTestSupport.h
// The world the class-system tests build (with the headers they all use): a running type system,
// fatal reports captured as text instead of ending the process, and TestObject, a plain registered
// class whose instances are equal by value and count their destructions.
#pragma once

#include <oxfirst/OxHostDefaults.h> // and the callbacks
#include <oxfirst/OxRxClass.h>
#include <oxfirst/OxRxDictionary.h> // and the sets

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace oxtest {

/// Records every fatal report (without the leading '!') while alive; formats through liboxhost.
class FatalReports {
public:
    FatalReports()
        : mPreviousFormat(OxRxTypeSysCallbacks::fmtout()), mPreviousFatal(OxRxTypeSysCallbacks::fatalError())
    {
        gReports.clear();
        OxRxTypeSysCallbacks::setCallback_fmtout(oxHostFormat);
        OxRxTypeSysCallbacks::setCallback_fatalError(
            [](const OXCHAR* message) { gReports.emplace_back(message + (message[0] == u'!' ? 1 : 0)); });
    }
    ~FatalReports()
    {
        OxRxTypeSysCallbacks::setCallback_fmtout(mPreviousFormat);
        OxRxTypeSysCallbacks::setCallback_fatalError(mPreviousFatal);
    }
    FatalReports(const FatalReports&) = delete;
    FatalReports& operator=(const FatalReports&) = delete;

    const std::vector<std::u16string>& all() const { return gReports; }
    std::size_t count() const { return gReports.size(); }
    std::u16string last() const { return gReports.empty() ? std::u16string() : gReports.back(); }
    void clear() { gReports.clear(); }

private:
    static inline std::vector<std::u16string> gReports;
    OxRxTypeSysCallbacks::FmtOutCallback mPreviousFormat;
    OxRxTypeSysCallbacks::FatalErrorCallback mPreviousFatal;
};

/// Equal by value, copied through copyFrom (so clone() takes the root's path through the class's
/// pseudo-constructor), counts its destructions.
class TestObject : public OxRxObject {
    OX_RX_DECLARE_MEMBERS(TestObject)

    explicit TestObject(int value = 0) : mValue(value) {}
    ~TestObject() override { ++gDestroyed; }

    Orka::ErrorStatus copyFrom(const OxRxObject* other) override
    {
        const TestObject* source = TestObject::cast(other);
        mValue = source != nullptr ? source->mValue : mValue;
        return source != nullptr ? Orka::eOk : Orka::eWrongObjectType;
    }
    int isEqualTo(const OxRxObject* other) const override
    {
        const TestObject* that = TestObject::cast(other);
        return that != nullptr && that->mValue == mValue;
    }

    int value() const { return mValue; }
    static inline int gDestroyed = 0;

private:
    int mValue;
};

/// Starts the type system with TestObject registered and linked, capturing fatal reports; ends it.
class TypeSystemScope {
public:
    TypeSystemScope()
    {
        oxrxInitTypeSystem();
        TestObject::rxInit();
        oxrxBuildClassHierarchy();
    }
    ~TypeSystemScope() { oxrxTerminateTypeSystem(); }
    TypeSystemScope(const TypeSystemScope&) = delete;
    TypeSystemScope& operator=(const TypeSystemScope&) = delete;

    FatalReports& reports() { return mReports; }

private:
    FatalReports mReports; // first in, last out: reports of the terminate are captured too
};

} // namespace oxtest
