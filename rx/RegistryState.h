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

/// The class system's part of the type system's start: the system registry, the class
/// dictionary, the protocol table, the root and the classes of this layer, all linked. False
/// when it was running already or its dictionaries could not be made.
bool startClassSystem();
/// Lets a trace session that starts later learn of the classes alive at its start.
void announceClasses();
/// Deletes every class, the class dictionary and the system registry; false when the type
/// system was not running. Classes go in passes by `rank` (0, 1, 2, then anything else), each
/// ranked before any goes, so that classes whose records or objects hold values are deleted
/// before the types of those values. Without a rank, or should memory for the passes run out,
/// they go in the class dictionary's order.
bool endClassSystem(int (*rank)(const OxRxClass*));

} // namespace oxrx
