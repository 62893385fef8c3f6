// diagnostics/PerfLogWriters.cpp
// The exported writers, one per event or Start/End pair. Each builds its data descriptors on the
// stack in the payload's order and makes one EventWrite with the event's descriptor, taken at
// compile time from the manifest (PerfManifest.h); the result is ignored, and the system drops
// what no session wants. Only the class-based writers ask EventEnabled first (the class-list
// callback may have to run), and only the Nimbus writers ask the host whether to write at all.

#include <oxfirst/PerfLog.h>

#include "diagnostics/PerfManifest.h"
#include "diagnostics/PerfProvider.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

using oxperf::OxPerfProvider;
using win::EVENT_DESCRIPTOR;

template <std::uint16_t Id>
constexpr EVENT_DESCRIPTOR kEvent = oxperf::descriptorOf(Id);

// The Start event when `begin`, else the End event.
template <std::uint16_t Start, std::uint16_t End>
const EVENT_DESCRIPTOR& pick(bool begin)
{
    return begin ? kEvent<Start> : kEvent<End>;
}

// One payload field: `size` bytes at `data`. Fields point into the writer's arguments and the
// caller's strings, which outlive the EventWrite call.
struct Field {
    const void* data;
    std::size_t size;
};

// Texts are measured in place. A text too long for a 32-bit size gets the largest one, which
// the system refuses as it refuses every event beyond 64 KB.
win::ULONG clampedSize(std::size_t size)
{
    return static_cast<win::ULONG>(std::min<std::size_t>(size, UINT32_MAX));
}

Field wide(const OXCHAR* text)
{
    if (text == nullptr)
        text = u"";
    return {text, (std::char_traits<OXCHAR>::length(text) + 1) * sizeof(OXCHAR)};
}

Field narrow(const char* text)
{
    if (text == nullptr)
        text = "";
    return {text, std::strlen(text) + 1};
}

// A 32-bit integer, a one-byte bool or the 8-byte value of a pointer, as stored in `value`.
template <typename T>
Field value(const T& value)
{
    static_assert(sizeof(T) == 4 || sizeof(T) == 1 || sizeof(T) == 8);
    return {&value, sizeof value};
}

template <std::size_t N>
void writeEvent(const EVENT_DESCRIPTOR& event, const Field (&fields)[N])
{
    win::EVENT_DATA_DESCRIPTOR data[N];
    for (std::size_t i = 0; i < N; ++i)
        data[i] = {reinterpret_cast<std::uintptr_t>(fields[i].data), clampedSize(fields[i].size), 0};
    win::EventWrite(OxPerfProvider, &event, N, data);
}

void writeEvent(const EVENT_DESCRIPTOR& event)
{
    win::EventWrite(OxPerfProvider, &event, 0, nullptr);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Start-up, documents and commands

void PerfLog_WriteReadDrawingEvent(const OXCHAR* fileName, bool begin)
{
    writeEvent(pick<1, 2>(begin), {wide(fileName)});
}

void PerfLog_WriteOxApAppInitEvent(bool begin)
{
    writeEvent(pick<3, 4>(begin));
}

void PerfLog_WriteOrkaAppInitInstanceEvent(bool begin)
{
    writeEvent(pick<5, 6>(begin));
}

void PerfLog_WriteLoadModuleEvent(const OXCHAR* moduleName, bool begin)
{
    writeEvent(pick<11, 12>(begin), {wide(moduleName)});
}

void PerfLog_WriteOpenDocumentEvent(const OXCHAR* fileName, bool begin)
{
    writeEvent(pick<13, 14>(begin), {wide(fileName)});
}

void PerfLog_WriteStartCommandEvent(const OXCHAR* command)
{
    writeEvent(kEvent<15>, {wide(command)});
}

void PerfLog_WriteEndCommandEvent(const OXCHAR* command)
{
    writeEvent(kEvent<16>, {wide(command)});
}

void PerfLog_WriteBindToCLREvent(bool begin)
{
    writeEvent(pick<17, 18>(begin));
}

void PerfLog_WriteInitFontCacheEvent(bool begin)
{
    writeEvent(pick<19, 20>(begin));
}

void PerfLog_WriteMdApplicationFrameInitializeEvent(bool begin)
{
    writeEvent(pick<21, 22>(begin));
}

void PerfLog_WriteMdApplicationFrameCreateInstanceEvent(bool begin)
{
    writeEvent(pick<23, 24>(begin));
}

void PerfLog_WriteLoadResourceEvent(const OXCHAR* resourceName, bool begin)
{
    writeEvent(pick<33, 34>(begin), {wide(resourceName)});
}

void PerfLog_WriteSysvarListEntryEvent(const OXCHAR* name, const OXCHAR* value)
{
    writeEvent(kEvent<39>, {wide(name), wide(value)});
}

void PerfLog_WriteFiberSwitchEvent(const void* fiber, bool switchIn)
{
    writeEvent(pick<40, 41>(switchIn), {value(fiber)});
}

void PerfLog_WriteDocLockEvent(const OxDbImpLock* lock, int mode, const OXCHAR* command, bool force)
{
    writeEvent(kEvent<42>, {value(lock), value(mode), wide(command), value(force)});
}

void PerfLog_WriteDocUnlockEvent(const OxDbImpLock* lock)
{
    writeEvent(kEvent<43>, {value(lock)});
}

void PerfLog_WriteDocLockErrorEvent(const OxDbImpLock* lock, int errorStatus)
{
    writeEvent(kEvent<44>, {value(lock), value(errorStatus)});
}

void PerfLog_WriteAssertEvent(const OXCHAR* message)
{
    writeEvent(kEvent<45>, {wide(message)});
}

void PerfLog_WriteBolLifetimeEvent(bool begin)
{
    writeEvent(pick<46, 47>(begin));
}

void PerfLog_WriteBolNotifyEvent(bool begin)
{
    writeEvent(pick<48, 49>(begin));
}

void PerfLog_WriteSlaveCreatedEvent(int data)
{
    writeEvent(kEvent<52>, {value(data)});
}

void PerfLog_WriteSlaveReadyEvent()
{
    writeEvent(kEvent<53>);
}

void PerfLog_WriteOpenDrawingMessageEvent(const OXCHAR* fileName, bool begin)
{
    writeEvent(pick<54, 55>(begin), {wide(fileName)});
}

void PerfLog_WriteRegenInstanceMessageEvent(bool begin)
{
    writeEvent(pick<56, 57>(begin));
}

void PerfLog_WriteRegenInstanceCompleteMessageEvent(bool begin)
{
    writeEvent(pick<58, 59>(begin));
}

void PerfLog_WriteSaveToCloudEvent(const OXCHAR* name, bool flag, bool begin)
{
    // The manifest declares no fields for this pair; the payload has always carried these two.
    writeEvent(pick<164, 165>(begin), {wide(name), value(flag)});
}

void PerfLog_WriteDispatchInputEvent(unsigned int message, bool begin)
{
    // The dispatch has no end event: the end of a dispatch writes nothing.
    if (begin)
        writeEvent(kEvent<166>, {value(message)});
}

void PerfLog_WriteInvokeCommandEvent(const OXCHAR* parameters, int ilk)
{
    writeEvent(kEvent<200>, {wide(parameters), value(ilk)});
}

void PerfLog_WriteRetrieveCommandTokenEvent(int resultType, const OXCHAR* token)
{
    writeEvent(kEvent<201>, {value(resultType), wide(token)});
}

void PerfLog_WriteCommandCancelledEvent(const OXCHAR* command)
{
    writeEvent(kEvent<202>, {wide(command)});
}

void PerfLog_WriteCommandFailedEvent(const OXCHAR* command)
{
    writeEvent(kEvent<203>, {wide(command)});
}

void PerfLog_WriteSetLispCoroutineStateEvent(int state)
{
    writeEvent(kEvent<204>, {value(state)});
}

void PerfLog_WriteInvokeLispEvent(const OXCHAR* name, const OXCHAR* expression)
{
    writeEvent(kEvent<205>, {wide(name), wide(expression)});
}

void PerfLog_WriteStartDocEvent(const void* doc)
{
    writeEvent(kEvent<206>, {value(doc)});
}

void PerfLog_WriteEndDocEvent(const void* doc)
{
    writeEvent(kEvent<207>, {value(doc)});
}

void PerfLog_WriteDocActivatedEvent(const void* doc)
{
    writeEvent(kEvent<208>, {value(doc)});
}

void PerfLog_WriteActivateDoc(const void* doc, int flags, const OXCHAR* result)
{
    writeEvent(kEvent<209>, {value(doc), value(flags), wide(result)});
}

void PerfLog_WriteSetCurrentDocEvent(const void* doc)
{
    writeEvent(kEvent<210>, {value(doc)});
}

void PerfLog_WriteOnActivateDocEvent(const void* doc)
{
    writeEvent(kEvent<211>, {value(doc)});
}

void PerfLog_WriteCommandThroatEvent(bool begin)
{
    writeEvent(pick<212, 215>(begin));
}

void PerfLog_WriteStuffCommandThroatEvent(const OXCHAR* token)
{
    writeEvent(kEvent<213>, {wide(token)});
}

void PerfLog_WriteCommandThroatSelectDeviceEvent(const OXCHAR* result)
{
    writeEvent(kEvent<214>, {wide(result)});
}

void PerfLog_WriteMessageLoopEvent(bool begin)
{
    writeEvent(pick<216, 217>(begin));
}

// ---------------------------------------------------------------------------------------------
// Classes. The class pointer travels as a value only; nothing is read from the class object, so
// these writers need no more of the class system than its forward declaration.

void PerfLog_WriteOxRxClassLifetimeEvent(const OxRxClass* rxClass, const OXCHAR* className, bool begin)
{
    if (oxperf::prepareClassEvent(kEvent<37>))
        writeEvent(pick<37, 38>(begin), {value(rxClass), wide(className)});
}

void PerfLog_WriteObjectRecordInEvent(const OxRxClass* rxClass, bool begin)
{
    if (oxperf::prepareClassEvent(kEvent<7>))
        writeEvent(pick<7, 8>(begin), {value(rxClass)});
}

void PerfLog_WriteOxGiDrawableViewportDrawEvent(const OxRxClass* rxClass, bool begin)
{
    if (oxperf::prepareClassEvent(kEvent<9>))
        writeEvent(pick<9, 10>(begin), {value(rxClass)});
}

void PerfLog_WriteOxGiDrawableWorldDrawEvent(const OxRxClass* rxClass, bool begin)
{
    if (oxperf::prepareClassEvent(kEvent<90>))
        writeEvent(pick<90, 91>(begin), {value(rxClass)});
}

// ---------------------------------------------------------------------------------------------
// Nimbus access: nothing is written while the host previews or plots.

void PerfLog_WriteNimbusAccessEvent()
{
    if (!oxperf::isPreviewingOrPlotting())
        writeEvent(kEvent<62>);
}

void PerfLog_WriteNimbusCreatedEvent(const void* nimbus)
{
    if (!oxperf::isPreviewingOrPlotting())
        writeEvent(kEvent<63>, {value(nimbus)});
}

void PerfLog_WriteNimbusDestroyedEvent(const void* nimbus)
{
    if (!oxperf::isPreviewingOrPlotting())
        writeEvent(kEvent<64>, {value(nimbus)});
}

void PerfLog_WriteHardNimbusAccessEvent()
{
    if (!oxperf::isPreviewingOrPlotting())
        writeEvent(kEvent<65>);
}

void PerfLog_WriteHardNimbusCreatedEvent(const void* nimbus)
{
    if (!oxperf::isPreviewingOrPlotting())
        writeEvent(kEvent<66>, {value(nimbus)});
}

void PerfLog_WriteHardNimbusDestroyedEvent(const void* nimbus)
{
    if (!oxperf::isPreviewingOrPlotting())
        writeEvent(kEvent<67>, {value(nimbus)});
}

// ---------------------------------------------------------------------------------------------
// Graphics

void PerfLog_WriteDeviceUpdateEvent(bool begin)
{
    writeEvent(pick<74, 75>(begin));
}

void PerfLog_WriteViewUpdateEvent(int windowId, bool begin)
{
    writeEvent(pick<76, 77>(begin), {value(windowId)});
}

void PerfLog_WriteModelTraversalEvent(int renderType, bool begin)
{
    writeEvent(pick<82, 83>(begin), {value(renderType)});
}

void PerfLog_WriteInvalidateTraversalEvent()
{
    writeEvent(kEvent<84>);
}

void PerfLog_WriteFailedToSkipTraversalEvent(int reason)
{
    writeEvent(kEvent<85>, {value(reason)});
}

void PerfLog_WriteGsxMainThreadParameteredEvent(const OXCHAR* data)
{
    writeEvent(kEvent<86>, {wide(data)});
}

void PerfLog_WriteGsxDrawThreadParameteredEvent(const OXCHAR* data)
{
    writeEvent(kEvent<87>, {wide(data)});
}

void PerfLog_WriteGsxRegenThreadParameteredEvent(const OXCHAR* data)
{
    writeEvent(kEvent<88>, {wide(data)});
}

void PerfLog_WriteGsxSceneGraphThreadParameteredEvent(const OXCHAR* data)
{
    writeEvent(kEvent<89>, {wide(data)});
}

void PerfLog_WriteGsxTesselateFillEvent(bool begin)
{
    writeEvent(pick<93, 94>(begin));
}

void PerfLog_WriteRestoreAcisEntitiesEvent(bool begin)
{
    writeEvent(pick<95, 96>(begin));
}

void PerfLog_WriteGetFacePolygonsEvent(bool begin)
{
    writeEvent(pick<97, 98>(begin));
}

void PerfLog_WriteSolidShellEvent(bool begin)
{
    writeEvent(pick<99, 100>(begin));
}

void PerfLog_WriteTRegenAllEvent(bool begin)
{
    writeEvent(pick<101, 102>(begin));
}

void PerfLog_WriteInitializeCurrentViewportEvent(bool begin)
{
    writeEvent(pick<103, 104>(begin));
}

void PerfLog_WriteAddRenderNodeEvent(int worldType, int vertexCount)
{
    writeEvent(kEvent<105>, {value(worldType), value(vertexCount)});
}

void PerfLog_WriteRemoveRenderNodeEvent(int worldType)
{
    writeEvent(kEvent<106>, {value(worldType)});
}

void PerfLog_WriteChangeRenderNodeEvent(int worldType, unsigned int changeType)
{
    writeEvent(kEvent<107>, {value(worldType), value(changeType)});
}

void PerfLog_WriteAddDelayedChangePacketEvent(int worldType)
{
    // The template has a second field; this event has only ever carried the first.
    writeEvent(kEvent<108>, {value(worldType)});
}

void PerfLog_WriteQueuePacketQueueEvent(void* requestId, const char* name, int numberOfChanges)
{
    writeEvent(kEvent<111>, {value(requestId), narrow(name), value(numberOfChanges)});
}

void PerfLog_WriteInvalidateGsNodeEvent(unsigned int hint)
{
    writeEvent(kEvent<112>, {value(hint)});
}

void PerfLog_WriteQueueDrawThreadRequestEvent(void* requestId, const char* name)
{
    writeEvent(kEvent<113>, {value(requestId), narrow(name)});
}

void PerfLog_WriteProcessedDrawThreadRequestEvent(void* requestId, const char* name)
{
    writeEvent(kEvent<114>, {value(requestId), narrow(name)});
}

// ---------------------------------------------------------------------------------------------
// Point clouds

void PerfLog_WritePointCloudLoadingStartEvent(void* query)
{
    writeEvent(kEvent<218>, {value(query)});
}

void PerfLog_WritePointCloudLoadingCompletedEvent(void* query)
{
    writeEvent(kEvent<219>, {value(query)});
}

void PerfLog_WritePointCloudThreadStartEvent(void* query)
{
    writeEvent(kEvent<220>, {value(query)});
}

void PerfLog_WritePointCloudThreadStopEvent(void* query)
{
    writeEvent(kEvent<221>, {value(query)});
}

// ---------------------------------------------------------------------------------------------
// Is-enabled questions

bool PerfLog_IsInvokeCommandEventEnabled()
{
    return win::EventEnabled(OxPerfProvider, &kEvent<200>);
}

bool PerfLog_IsInvokeLispEventEnabled()
{
    return win::EventEnabled(OxPerfProvider, &kEvent<205>);
}

bool PerfLog_IsStuffCommandThroatEventEnabled()
{
    return win::EventEnabled(OxPerfProvider, &kEvent<213>);
}

bool PerfLog_IsSysvarListEventEnabled()
{
    return win::EventEnabled(OxPerfProvider, &kEvent<39>);
}

bool PerfLog_IsPointCloudEventEnabled()
{
    return win::EventEnabled(OxPerfProvider, &kEvent<218>) ||
           win::EventEnabled(OxPerfProvider, &kEvent<219>) ||
           win::EventEnabled(OxPerfProvider, &kEvent<220>) || win::EventEnabled(OxPerfProvider, &kEvent<221>);
}
