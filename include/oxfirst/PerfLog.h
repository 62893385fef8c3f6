// oxfirst/PerfLog.h
// The performance events: one writer per event, or per Start/End pair, that the application's
// modules call at interesting moments. The library is the event-tracing provider of the whole
// process; a trace session that enables the provider receives the events, and when none listens
// a writer costs a few instructions. Writers may be called from any thread, never allocate and
// never fail: an event that cannot be written is dropped.
//
// Wide texts are UTF-16 and travel with their terminator; a null text is written as the empty
// text. A bool named `begin` picks the Start event when true and the End event when false.
//
// With OX_TRACE_FILE naming a file when the library loads, every event also goes to that file as
// a Chrome trace (JSON; open it in the Perfetto UI or chrome://tracing). OX_TRACE_LEVEL (a level
// number or name) and OX_TRACE_KEYWORDS (a mask, or keyword names joined by '+' or ',') narrow
// what is recorded; by default everything is.
#pragma once

#include <oxfirst/OxTypes.h>

class OxRxClass;
class OxDbImpLock;

// Start-up, documents and commands
OXFIRST_API void PerfLog_WriteReadDrawingEvent(const OXCHAR* fileName, bool begin);
OXFIRST_API void PerfLog_WriteOxApAppInitEvent(bool begin);
OXFIRST_API void PerfLog_WriteOrkaAppInitInstanceEvent(bool begin);
OXFIRST_API void PerfLog_WriteLoadModuleEvent(const OXCHAR* moduleName, bool begin);
OXFIRST_API void PerfLog_WriteOpenDocumentEvent(const OXCHAR* fileName, bool begin);
OXFIRST_API void PerfLog_WriteStartCommandEvent(const OXCHAR* command);
/// The end of a command travels on no channel (its keyword mask lacks the channel bit).
OXFIRST_API void PerfLog_WriteEndCommandEvent(const OXCHAR* command);
OXFIRST_API void PerfLog_WriteBindToCLREvent(bool begin);
OXFIRST_API void PerfLog_WriteInitFontCacheEvent(bool begin);
OXFIRST_API void PerfLog_WriteMdApplicationFrameInitializeEvent(bool begin);
OXFIRST_API void PerfLog_WriteMdApplicationFrameCreateInstanceEvent(bool begin);
OXFIRST_API void PerfLog_WriteLoadResourceEvent(const OXCHAR* resourceName, bool begin);
OXFIRST_API void PerfLog_WriteSysvarListEntryEvent(const OXCHAR* name, const OXCHAR* value);
OXFIRST_API void PerfLog_WriteFiberSwitchEvent(const void* fiber, bool switchIn);
OXFIRST_API void PerfLog_WriteDocLockEvent(const OxDbImpLock* lock, int mode, const OXCHAR* command,
                                           bool force);
OXFIRST_API void PerfLog_WriteDocUnlockEvent(const OxDbImpLock* lock);
OXFIRST_API void PerfLog_WriteDocLockErrorEvent(const OxDbImpLock* lock, int errorStatus);
OXFIRST_API void PerfLog_WriteAssertEvent(const OXCHAR* message);
OXFIRST_API void PerfLog_WriteBolLifetimeEvent(bool begin);
OXFIRST_API void PerfLog_WriteBolNotifyEvent(bool begin);
OXFIRST_API void PerfLog_WriteSlaveCreatedEvent(int data);
OXFIRST_API void PerfLog_WriteSlaveReadyEvent();
OXFIRST_API void PerfLog_WriteOpenDrawingMessageEvent(const OXCHAR* fileName, bool begin);
OXFIRST_API void PerfLog_WriteRegenInstanceMessageEvent(bool begin);
OXFIRST_API void PerfLog_WriteRegenInstanceCompleteMessageEvent(bool begin);
/// `begin` picks 164 or 165; `flag` travels as one byte.
OXFIRST_API void PerfLog_WriteSaveToCloudEvent(const OXCHAR* name, bool flag, bool begin);
/// Writes the message when `begin` is true and nothing when it is false (the dispatch has no end
/// event).
OXFIRST_API void PerfLog_WriteDispatchInputEvent(unsigned int message, bool begin);
OXFIRST_API void PerfLog_WriteInvokeCommandEvent(const OXCHAR* parameters, int ilk);
OXFIRST_API void PerfLog_WriteRetrieveCommandTokenEvent(int resultType, const OXCHAR* token);
OXFIRST_API void PerfLog_WriteCommandCancelledEvent(const OXCHAR* command);
OXFIRST_API void PerfLog_WriteCommandFailedEvent(const OXCHAR* command);
OXFIRST_API void PerfLog_WriteSetLispCoroutineStateEvent(int state);
OXFIRST_API void PerfLog_WriteInvokeLispEvent(const OXCHAR* name, const OXCHAR* expression);
OXFIRST_API void PerfLog_WriteStartDocEvent(const void* doc);
OXFIRST_API void PerfLog_WriteEndDocEvent(const void* doc);
OXFIRST_API void PerfLog_WriteDocActivatedEvent(const void* doc);
OXFIRST_API void PerfLog_WriteActivateDoc(const void* doc, int flags, const OXCHAR* result);
OXFIRST_API void PerfLog_WriteSetCurrentDocEvent(const void* doc);
OXFIRST_API void PerfLog_WriteOnActivateDocEvent(const void* doc);
OXFIRST_API void PerfLog_WriteCommandThroatEvent(bool begin);
OXFIRST_API void PerfLog_WriteStuffCommandThroatEvent(const OXCHAR* token);
OXFIRST_API void PerfLog_WriteCommandThroatSelectDeviceEvent(const OXCHAR* result);
OXFIRST_API void PerfLog_WriteMessageLoopEvent(bool begin);

// Classes. These writers first ask whether a session enables the pair's Start event and return
// at once when none does; the first of them to write after a session enabled the provider runs
// the class-list callback (below) before its own event.
OXFIRST_API void PerfLog_WriteOxRxClassLifetimeEvent(const OxRxClass* rxClass, const OXCHAR* className,
                                                     bool begin);
OXFIRST_API void PerfLog_WriteObjectRecordInEvent(const OxRxClass* rxClass, bool begin);
OXFIRST_API void PerfLog_WriteOxGiDrawableViewportDrawEvent(const OxRxClass* rxClass, bool begin);
OXFIRST_API void PerfLog_WriteOxGiDrawableWorldDrawEvent(const OxRxClass* rxClass, bool begin);

/// Registers the function that writes a lifetime Start event for every class alive, so a session
/// started late still sees them all. It runs once after each enable of the provider, on the
/// thread of the first class-based writer called then. Ignored while a session already enables
/// the class lifetime events (the registered function stays as it was).
OXFIRST_API void PerfLog_RegisterOxRxClassListCallback(void (*classListCallback)());

// Nimbus access. Skipped while the host core module ("OxCore.dll", loaded by the host, never by
// the library) reports through its export oxPreviewOrPlotting that a preview or plot runs.
OXFIRST_API void PerfLog_WriteNimbusAccessEvent();
OXFIRST_API void PerfLog_WriteNimbusCreatedEvent(const void* nimbus);
OXFIRST_API void PerfLog_WriteNimbusDestroyedEvent(const void* nimbus);
OXFIRST_API void PerfLog_WriteHardNimbusAccessEvent();
OXFIRST_API void PerfLog_WriteHardNimbusCreatedEvent(const void* nimbus);
OXFIRST_API void PerfLog_WriteHardNimbusDestroyedEvent(const void* nimbus);

// Graphics
OXFIRST_API void PerfLog_WriteDeviceUpdateEvent(bool begin);
OXFIRST_API void PerfLog_WriteViewUpdateEvent(int windowId, bool begin);
/// `renderType` is one of the RenderType values (0 kMain ... 6 kContrast).
OXFIRST_API void PerfLog_WriteModelTraversalEvent(int renderType, bool begin);
OXFIRST_API void PerfLog_WriteInvalidateTraversalEvent();
/// `reason` is a FailedToSkipReason bit set (1 RetraversePending, 2 CameraDependentTraversal,
/// 4 HasPackets; 0 TraverseAlways).
OXFIRST_API void PerfLog_WriteFailedToSkipTraversalEvent(int reason);
OXFIRST_API void PerfLog_WriteGsxMainThreadParameteredEvent(const OXCHAR* data);
OXFIRST_API void PerfLog_WriteGsxDrawThreadParameteredEvent(const OXCHAR* data);
OXFIRST_API void PerfLog_WriteGsxRegenThreadParameteredEvent(const OXCHAR* data);
OXFIRST_API void PerfLog_WriteGsxSceneGraphThreadParameteredEvent(const OXCHAR* data);
OXFIRST_API void PerfLog_WriteGsxTesselateFillEvent(bool begin);
OXFIRST_API void PerfLog_WriteRestoreAcisEntitiesEvent(bool begin);
OXFIRST_API void PerfLog_WriteGetFacePolygonsEvent(bool begin);
OXFIRST_API void PerfLog_WriteSolidShellEvent(bool begin);
OXFIRST_API void PerfLog_WriteTRegenAllEvent(bool begin);
OXFIRST_API void PerfLog_WriteInitializeCurrentViewportEvent(bool begin);
OXFIRST_API void PerfLog_WriteAddRenderNodeEvent(int worldType, int vertexCount);
OXFIRST_API void PerfLog_WriteRemoveRenderNodeEvent(int worldType);
OXFIRST_API void PerfLog_WriteChangeRenderNodeEvent(int worldType, unsigned int changeType);
/// Carries the world type only.
OXFIRST_API void PerfLog_WriteAddDelayedChangePacketEvent(int worldType);
/// Narrow names are 8-bit text in the ANSI code page.
OXFIRST_API void PerfLog_WriteQueuePacketQueueEvent(void* requestId, const char* name, int numberOfChanges);
OXFIRST_API void PerfLog_WriteInvalidateGsNodeEvent(unsigned int hint);
OXFIRST_API void PerfLog_WriteQueueDrawThreadRequestEvent(void* requestId, const char* name);
OXFIRST_API void PerfLog_WriteProcessedDrawThreadRequestEvent(void* requestId, const char* name);

// Point clouds
OXFIRST_API void PerfLog_WritePointCloudLoadingStartEvent(void* query);
OXFIRST_API void PerfLog_WritePointCloudLoadingCompletedEvent(void* query);
OXFIRST_API void PerfLog_WritePointCloudThreadStartEvent(void* query);
OXFIRST_API void PerfLog_WritePointCloudThreadStopEvent(void* query);

// Whether a session enables an event, for callers that would do work only to write it.
/// Event 200 (InvokeCommand).
OXFIRST_API bool PerfLog_IsInvokeCommandEventEnabled();
/// Event 205 (InvokeLisp).
OXFIRST_API bool PerfLog_IsInvokeLispEventEnabled();
/// Event 213 (StuffCommandThroat).
OXFIRST_API bool PerfLog_IsStuffCommandThroatEventEnabled();
/// Event 39 (SysvarListEntry).
OXFIRST_API bool PerfLog_IsSysvarListEventEnabled();
/// Any of the point-cloud events 218 to 221.
OXFIRST_API bool PerfLog_IsPointCloudEventEnabled();
