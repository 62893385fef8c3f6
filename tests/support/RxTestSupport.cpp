// tests/support/RxTestSupport.cpp
// TestObject's class members: registered as "TestObject" under "OxRxObject".

#include "support/RxTestSupport.h"

namespace oxtest {

OX_RX_DEFINE_MEMBERS(TestObject, u"TestObject", u"OxRxObject",
                     []() -> OxRxObject* { return new TestObject(); })

} // namespace oxtest
