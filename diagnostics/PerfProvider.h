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

/// The first two steps of every class-based writer: false when no session enables `start` (the
/// Start event of the writer's pair); otherwise runs the class-list callback when an enable has
/// armed it since it last ran, and answers true.
bool prepareClassEvent(const win::EVENT_DESCRIPTOR& start);

/// Whether the host core module, when loaded, reports a preview or plot in progress. Its export
/// is looked up once the module is loaded and kept for the rest of the process.
bool isPreviewingOrPlotting();

} // namespace oxperf
