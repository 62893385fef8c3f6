// diagnostics/PerfProvider.h
// The library's registration as the performance provider, and the little state the writers
// share: the class-list callback protocol and the host's preview-or-plotting gate. The writers
// themselves are in PerfLogWriters.cpp.
#pragma once

#include "platform/win.h"

namespace oxperf {

/// The provider's registration handle. 0 until registerProvider() ran at load (and forever when
/// it failed): writers then pass 0 and the system drops their events. Written once, before any
/// thread but the loading one exists, and only read afterwards.
extern win::REGHANDLE OxPerfProvider;

/// Registers the provider with its enable callback. Called once, at load. The provider stays
/// registered until the process ends.
void registerProvider();

} // namespace oxperf
