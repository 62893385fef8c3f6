// tests/support/RxTestSupport.cpp
// TestObject's class members: registered as "TestObject" under "OxRxObject".

#include "support/RxTestSupport.h"

namespace oxtest {

namespace {
OxRxObject* makeTestObject()
{
    return new TestObject();
}
} // namespace

OX_RX_DEFINE_MEMBERS(TestObject, u"TestObject", u"OxRxObject", makeTestObject)

} // namespace oxtest
