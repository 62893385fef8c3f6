// diagnostics/PerfProvider.cpp
// The provider's registration, its enable callback and the two pieces of state the writers keep:
// the class-list callback, armed by every enable and run by the first class-based writer after
// it, and the cached answer of where the host's preview-or-plotting export is.

#include "diagnostics/PerfProvider.h"

#include "diagnostics/PerfManifest.h"

#include <oxfirst/PerfLog.h>

#include <atomic>

namespace oxperf {

constinit win::REGHANDLE OxPerfProvider = 0;

namespace {

using ClassListCallback = void (*)();

// The class registry's function that writes a lifetime event for every class alive, and its
// armed copy. Every enable copies the first into the second; the first class-based writer to
// find the second set clears it and runs it, so a session that starts late still learns of the
// classes created before it, before the first class event it receives.
constinit std::atomic<ClassListCallback> gRegisteredClassListCallback{nullptr};
constinit std::atomic<ClassListCallback> pendingClassListCallback{nullptr};

void enableCallback(win::LPCGUID, win::ULONG isEnabled, win::UCHAR, win::ULONGLONG, win::ULONGLONG,
                    win::EVENT_FILTER_DESCRIPTOR*, win::PVOID)
{
    // A disable leaves an armed callback armed: it is harmless, the class-based writers test
    // EventEnabled before they look at it.
    if (isEnabled != 0)
        pendingClassListCallback.store(gRegisteredClassListCallback.load());
}

constexpr win::EVENT_DESCRIPTOR kClassLifetimeStart = descriptorOf(37);

// The host's preview-or-plotting export, looked up once the host core module is loaded. The
// lookup's result stays for the rest of the process, even when the export is missing: the host
// core module is never unloaded before the process ends.
using PreviewOrPlotting = bool (*)();
constinit std::atomic<bool> gGateResolved{false};
constinit std::atomic<PreviewOrPlotting> gPreviewOrPlotting{nullptr};

[[gnu::noinline]] bool resolveGateAndAsk()
{
    win::HMODULE core = win::GetModuleHandleW(u"OxCore.dll");
    if (core == nullptr)
        return false; // nothing is cached: the host may load it later
    auto export_ = reinterpret_cast<PreviewOrPlotting>(win::GetProcAddress(core, "oxPreviewOrPlotting"));
    gPreviewOrPlotting.store(export_, std::memory_order_relaxed);
    gGateResolved.store(true, std::memory_order_release);
    return export_ != nullptr && export_();
}

} // namespace

void registerProvider()
{
    // A failed registration leaves the handle 0; every writer then writes nothing.
    win::EventRegister(&kProviderId, &enableCallback, nullptr, &OxPerfProvider);
}

bool prepareClassEvent(const win::EVENT_DESCRIPTOR& start)
{
    if (!win::EventEnabled(OxPerfProvider, &start))
        return false;
    if (pendingClassListCallback.load(std::memory_order_relaxed) != nullptr) [[unlikely]] {
        // Exchange rather than load-and-clear: of two threads that find it armed, one runs it.
        if (ClassListCallback callback = pendingClassListCallback.exchange(nullptr))
            callback();
    }
    return true;
}

bool isPreviewingOrPlotting()
{
    if (gGateResolved.load(std::memory_order_acquire)) [[likely]] {
        PreviewOrPlotting export_ = gPreviewOrPlotting.load(std::memory_order_relaxed);
        return export_ != nullptr && export_();
    }
    return resolveGateAndAsk();
}

} // namespace oxperf

void PerfLog_RegisterOxRxClassListCallback(void (*classListCallback)())
{
    using namespace oxperf;
    // Ignored while a session enables the lifetime events: the function registered before stays,
    // and it is what the next enable arms.
    if (win::EventEnabled(OxPerfProvider, &kClassLifetimeStart))
        return;
    gRegisteredClassListCallback.store(classListCallback);
    pendingClassListCallback.store(classListCallback);
}
