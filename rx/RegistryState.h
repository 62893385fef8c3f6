// rx/RegistryState.h
// The process-wide state of the class system, shared by the registry, the class records and
// the protocol extensions. Plain globals without locks: they change only while one thread
// starts, changes or ends the type system.
#pragma once

#include <oxfirst/OxArray.h>
#include <oxfirst/OxRxClass.h>
#include <oxfirst/OxRxDictionary.h>

namespace oxrx {

struct RegistryState {
    OxRxDictionary* systemRegistry = nullptr;       // unsorted, not owning; holds the class dictionary
    OxRxDictionary* classDictionary = nullptr;      // sorted, owning: erasing a class deletes it
    OxArray<OxRxClass*>* protocolClasses = nullptr; // protocol index -> owning protocol class or null
    bool terminating = false;                       // only while the class dictionary is torn down
};

extern constinit RegistryState gRegistry;

/// The class registered as `name`, or null (also when the type system is not running).
OxRxClass* findClass(const OXCHAR* name) noexcept;

} // namespace oxrx
