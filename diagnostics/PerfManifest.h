// diagnostics/PerfManifest.h
// The performance provider's manifest as data: its identity, channel, levels, keywords, opcodes,
// tasks, value maps and every event it declares with its descriptor and fields. The writers
// (PerfLogWriters.cpp) take their descriptors from here at compile time, the trace file
// (TraceFile.cpp) names tasks, opcodes, keywords, fields and map values from here, and the tests
// check the writers against it, so this file is the one place an event is described.
#pragma once

#include "platform/win.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace oxperf {

inline constexpr win::GUID kProviderId{
    0x15A4C3B9, 0x5482, 0x4C35, {0xB2, 0x60, 0xE8, 0xFD, 0x8A, 0x80, 0xF5, 0xBB}};

/// The one channel. Its keyword bit is part of the keyword mask of every event on it.
inline constexpr std::uint8_t kPerformanceChannel = 16;
inline constexpr std::string_view kPerformanceChannelName = "Performance";
inline constexpr std::uint64_t kPerformanceChannelKeyword = 0x8000000000000000ull;

struct NamedValue {
    std::uint64_t value;
    std::string_view name;
};

// ---------------------------------------------------------------------------------------------
// Levels, keywords, opcodes, tasks

namespace level {
inline constexpr std::uint8_t kError = 2;
inline constexpr std::uint8_t kMinimal = 16;
inline constexpr std::uint8_t kNormal = 17;
inline constexpr std::uint8_t kDetailed = 18;
inline constexpr std::uint8_t kDiagnostic = 19;
} // namespace level

inline constexpr NamedValue kLevels[] = {
    {level::kError, "error"},       {level::kMinimal, "minimal"},       {level::kNormal, "normal"},
    {level::kDetailed, "detailed"}, {level::kDiagnostic, "diagnostic"},
};

namespace keyword {
inline constexpr std::uint64_t kNone = 0;
inline constexpr std::uint64_t kStartup = 0x1;
inline constexpr std::uint64_t kCommands = 0x2;
inline constexpr std::uint64_t kLisp = 0x4;
inline constexpr std::uint64_t kGsPerformance = 0x8;
inline constexpr std::uint64_t kDatacapacity = 0x10;
inline constexpr std::uint64_t kMultiprocess = 0x20;
inline constexpr std::uint64_t kInteractive = 0x40;
inline constexpr std::uint64_t kDoc = 0x80;
inline constexpr std::uint64_t kNimbusAccess = 0x100;
inline constexpr std::uint64_t kPointCloudLoading = 0x200;
inline constexpr std::uint64_t kPointCloudThreading = 0x400;
} // namespace keyword

inline constexpr NamedValue kKeywords[] = {
    {keyword::kStartup, "Startup"},
    {keyword::kCommands, "Commands"},
    {keyword::kLisp, "Lisp"},
    {keyword::kGsPerformance, "GsPerformance"},
    {keyword::kDatacapacity, "Datacapacity"},
    {keyword::kMultiprocess, "Multiprocess"},
    {keyword::kInteractive, "Interactive"},
    {keyword::kDoc, "Doc"},
    {keyword::kNimbusAccess, "NimbusAccess"},
    {keyword::kPointCloudLoading, "PointCloudLoading"},
    {keyword::kPointCloudThreading, "PointCloudThreading"},
};

namespace opcode {
inline constexpr std::uint8_t kStart = 10;
inline constexpr std::uint8_t kEnd = 11;
inline constexpr std::uint8_t kInfo = 12;
inline constexpr std::uint8_t kSwitchIn = 13;
inline constexpr std::uint8_t kSwitchOut = 14;
inline constexpr std::uint8_t kLock = 15;
inline constexpr std::uint8_t kUnlock = 16;
inline constexpr std::uint8_t kAccess = 17;
inline constexpr std::uint8_t kCreate = 18;
inline constexpr std::uint8_t kDestroy = 19;
inline constexpr std::uint8_t kStartView = 20;
inline constexpr std::uint8_t kEndView = 21;
inline constexpr std::uint8_t kFailedToSkip = 22;
inline constexpr std::uint8_t kInvoke = 23;
inline constexpr std::uint8_t kRetrieveToken = 24;
inline constexpr std::uint8_t kCancelled = 25;
inline constexpr std::uint8_t kStartModel = 26;
inline constexpr std::uint8_t kEndModel = 27;
inline constexpr std::uint8_t kMainDomain = 30;
inline constexpr std::uint8_t kDrawDomain = 31;
inline constexpr std::uint8_t kRegenDomain = 32;
inline constexpr std::uint8_t kSceneGraphDomain = 33;
inline constexpr std::uint8_t kAddRenderNode = 34;
inline constexpr std::uint8_t kRemoveRenderNode = 35;
inline constexpr std::uint8_t kChangeRenderNode = 36;
inline constexpr std::uint8_t kAddDelayedChangePacket = 37;
inline constexpr std::uint8_t kProcessed = 39;
inline constexpr std::uint8_t kQueue = 40;
inline constexpr std::uint8_t kInvalidate = 41;
inline constexpr std::uint8_t kFailed = 42;
inline constexpr std::uint8_t kSetCoroutineState = 43;
inline constexpr std::uint8_t kInvokeLisp = 44;
inline constexpr std::uint8_t kActivated = 45;
inline constexpr std::uint8_t kActivate = 46;
inline constexpr std::uint8_t kSetCurrent = 47;
inline constexpr std::uint8_t kOnActivate = 48;
} // namespace opcode

inline constexpr NamedValue kOpcodes[] = {
    {10, "Start"},
    {11, "End"},
    {12, "Info"},
    {13, "SwitchIn"},
    {14, "SwitchOut"},
    {15, "Lock"},
    {16, "Unlock"},
    {17, "Access"},
    {18, "Create"},
    {19, "Destroy"},
    {20, "StartView"},
    {21, "EndView"},
    {22, "FailedToSkip"},
    {23, "Invoke"},
    {24, "RetrieveToken"},
    {25, "Cancelled"},
    {26, "StartModel"},
    {27, "EndModel"},
    {30, "MainDomain"},
    {31, "DrawDomain"},
    {32, "RegenDomain"},
    {33, "SceneGraphDomain"},
    {34, "AddRenderNode"},
    {35, "RemoveRenderNode"},
    {36, "ChangeRenderNode"},
    {37, "AddDelayedChangePacket"},
    {39, "Processed"},
    {40, "Queue"},
    {41, "Invalidate"},
    {42, "Failed"},
    {43, "SetCoroutineState"},
    {44, "InvokeLisp"},
    {45, "Activated"},
    {46, "Activate"},
    {47, "SetCurrent"},
    {48, "OnActivate"},
};

inline constexpr NamedValue kTasks[] = {
    {1, "OxDbDatabase-readDrawingFile"},
    {2, "OxApApp-init"},
    {3, "COrkaApp-InitInstance"},
    {4, "OxDbImpObject-objectRecordIn"},
    {5, "OxGiDrawable-viewportDraw"},
    {6, "LoadModule"},
    {7, "OxApDocImpManager-OpenDocumentFile"},
    {8, "Command"},
    {9, "oxdbImpBindToRuntime"},
    {10, "CFontInfo-Init"},
    {11, "MdApplicationFrame-Initialize"},
    {12, "MdApplicationFrame-CreateInstance"},
    {13, "CustomizationSection-ConstructorGuts"},
    {14, "QuickAccessToolbarService-LoadQuickAccessToolbar"},
    {15, "OxInfoDeskConn-LoadInfoDesk"},
    {16, "RibbonTabSwitch"},
    {17, "LoadResource"},
    {19, "OxRxClassLifetime"},
    {20, "SysvarList"},
    {21, "Fiber"},
    {22, "Doc"},
    {23, "Assert"},
    {24, "BolLifetime"},
    {25, "BolNotify"},
    {27, "SlaveCreated"},
    {28, "SlaveReady"},
    {29, "OpenDrawingMessage"},
    {30, "RegenInstanceMessage"},
    {31, "RegenInstanceCompleteMessage"},
    {33, "NimbusAccess"},
    {34, "NimbusExistence"},
    {35, "HardNimbusAccess"},
    {36, "HardNimbusExistence"},
    {41, "DeviceUpdate"},
    {43, "GsxMainDomain"},
    {44, "GsxDrawDomain"},
    {45, "GsxRegenDomain"},
    {46, "GsxSceneGraphDomain"},
    {47, "OxGiDrawable-worldDraw"},
    {48, "HatchTessellation"},
    {49, "OxDbAcisRestoreEntitiesFromDrawingFilerEx"},
    {50, "GetFacePolygons"},
    {51, "DrawPolygons_shell"},
    {52, "InitializeCurrentViewport"},
    {53, "Tregenall"},
    {54, "PacketQueue"},
    {55, "GsNode"},
    {56, "DrawThreadRequestQueue"},
    {57, "SaveToCloud"},
    {58, "InputDispatch"},
    {59, "CommandThroat"},
    {60, "MessageLoop"},
    {61, "Lisp"},
    {62, "ProgressiveLoading"},
    {63, "ProgressiveThreading"},
};

// ---------------------------------------------------------------------------------------------
// Value maps. A value map names whole values; a bit map names bits, and its entry for 0 names
// the value with no bit set. The message ids are those of the map entries' texts.

struct ValueMap {
    std::string_view name;
    bool isBitMap;
    std::span<const NamedValue> entries;
    std::uint32_t firstMessageId; // entry i has message id firstMessageId + i
};

inline constexpr NamedValue kDocLockModeEntries[] = {
    {0, "kNone"},  {1, "kAutoWrite"}, {2, "kNotLocked"}, {4, "kWrite"}, {20, "kProtectedAutoWrite"},
    {32, "kRead"}, {64, "kXWrite"},
};
inline constexpr NamedValue kRenderTypeEntries[] = {
    {0, "kMain"},          {1, "kSprite"},   {2, "kDirect"}, {3, "kHighlight"}, {4, "kHighlightSelection"},
    {5, "kDirectTopmost"}, {6, "kContrast"},
};
inline constexpr NamedValue kFailedToSkipReasonEntries[] = {
    {0, "TraverseAlways"},
    {1, "RetraversePending"},
    {2, "CameraDependentTraversal"},
    {4, "HasPackets"},
};

inline constexpr ValueMap kDocLockMode{"DocLockMode", false, kDocLockModeEntries, 0xD0000001};
inline constexpr ValueMap kRenderType{"RenderType", false, kRenderTypeEntries, 0xD0000008};
inline constexpr ValueMap kFailedToSkipReason{"FailedToSkipReason", true, kFailedToSkipReasonEntries,
                                              0xF0000001};

inline constexpr const ValueMap* kValueMaps[] = {&kDocLockMode, &kRenderType, &kFailedToSkipReason};

/// Message id and text of the error level's name.
inline constexpr std::uint32_t kErrorLevelMessageId = 0x50000002;
inline constexpr std::string_view kErrorLevelMessage = "Error";

// ---------------------------------------------------------------------------------------------
// Fields and events

/// How a field is encoded in the payload.
enum class FieldType : std::uint8_t {
    kUnicodeString, // UTF-16 with its terminator: (length + 1) * 2 bytes
    kAnsiString,    // 8-bit text with its terminator: length + 1 bytes
    kPointer,       // the 8-byte value of a pointer
    kInt32,         // 4 bytes
    kUInt32,        // 4 bytes
    kBoolean,       // 1 byte
};

struct FieldInfo {
    std::string_view name;
    FieldType type;
    const ValueMap* map = nullptr;
};

struct EventInfo {
    std::uint16_t id;
    std::uint8_t channel;
    std::uint8_t level;
    std::uint8_t opcode;
    std::uint16_t task;
    std::uint64_t keywords; // with kPerformanceChannelKeyword for events on the channel
    /// The fields the manifest's template declares.
    std::span<const FieldInfo> fields;
    /// The fields the library's writer puts in the payload, in order. The same as `fields` except
    /// for event 108 (only the first field is written) and 164/165 (a name and a flag, where the
    /// manifest declares none); empty for the events the library declares but never writes.
    std::span<const FieldInfo> payload;
    /// The exported function that writes the event; empty for events without a writer.
    std::string_view writer;

    constexpr win::EVENT_DESCRIPTOR descriptor() const
    {
        return win::EVENT_DESCRIPTOR{id, 0, channel, level, opcode, task, keywords};
    }
};

namespace fields {
using enum FieldType;
inline constexpr FieldInfo kData[] = {{"data", kUnicodeString}};
inline constexpr FieldInfo kData1Data2[] = {{"data1", kUnicodeString}, {"data2", kUnicodeString}};
inline constexpr FieldInfo kDataPointer[] = {{"data", kPointer}};
inline constexpr FieldInfo kDataInt32[] = {{"data", kInt32}};
inline constexpr FieldInfo kClassPointer[] = {{"OxRxClassPointer", kPointer}};
inline constexpr FieldInfo kClassLifetime[] = {{"OxRxClassPointer", kPointer},
                                               {"OxRxClassName", kUnicodeString}};
inline constexpr FieldInfo kCommand[] = {{"Command", kUnicodeString}};
inline constexpr FieldInfo kFiber[] = {{"Fiber", kPointer}};
inline constexpr FieldInfo kDocLock[] = {{"LockObject", kPointer},
                                         {"Mode", kInt32, &kDocLockMode},
                                         {"Command", kUnicodeString},
                                         {"Force", kBoolean}};
inline constexpr FieldInfo kLock[] = {{"Lock", kPointer}};
inline constexpr FieldInfo kLockError[] = {{"Lock", kPointer}, {"ErrorStatus", kInt32}};
inline constexpr FieldInfo kMessage[] = {{"Message", kUnicodeString}};
inline constexpr FieldInfo kWindowId[] = {{"OrkaWindowId", kInt32}};
inline constexpr FieldInfo kRenderTypeField[] = {{"RenderType", kInt32, &kRenderType}};
inline constexpr FieldInfo kReason[] = {{"Reason", kInt32, &kFailedToSkipReason}};
inline constexpr FieldInfo kWorldTypeVertexCount[] = {{"WorldType", kInt32}, {"VertexCount", kInt32}};
inline constexpr FieldInfo kWorldType[] = {{"WorldType", kInt32}};
inline constexpr FieldInfo kWorldTypeChangeType[] = {{"WorldType", kInt32}, {"ChangeType", kUInt32}};
inline constexpr FieldInfo kRequestNameChanges[] = {
    {"RequestId", kPointer}, {"Name", kAnsiString}, {"NumberOfChanges", kInt32}};
inline constexpr FieldInfo kHint[] = {{"Hint", kUInt32}};
inline constexpr FieldInfo kRequestName[] = {{"RequestId", kPointer}, {"Name", kAnsiString}};
inline constexpr FieldInfo kNameFlag[] = {{"name", kUnicodeString}, {"flag", kBoolean}};
inline constexpr FieldInfo kInputMessage[] = {{"Message", kUInt32}};
inline constexpr FieldInfo kParametersIlk[] = {{"Parameters", kUnicodeString}, {"Ilk", kInt32}};
inline constexpr FieldInfo kRestypeToken[] = {{"Restype", kInt32}, {"Token", kUnicodeString}};
inline constexpr FieldInfo kState[] = {{"State", kInt32}};
inline constexpr FieldInfo kNameExpression[] = {{"Name", kUnicodeString}, {"Expression", kUnicodeString}};
inline constexpr FieldInfo kDoc[] = {{"Doc", kPointer}};
inline constexpr FieldInfo kActivateDoc[] = {
    {"Doc", kPointer}, {"Flags", kInt32}, {"Result", kUnicodeString}};
inline constexpr FieldInfo kToken[] = {{"Token", kUnicodeString}};
inline constexpr FieldInfo kResult[] = {{"result", kUnicodeString}};
inline constexpr FieldInfo kQuery[] = {{"Query", kPointer}};
inline constexpr std::span<const FieldInfo> kNone{};
} // namespace fields

namespace detail {

// An event on the Performance channel: the channel's keyword bit joins the event's keywords.
constexpr EventInfo onChannel(std::uint16_t id, std::uint16_t task, std::uint8_t opcode, std::uint8_t level,
                              std::uint64_t keywords, std::span<const FieldInfo> fields,
                              std::string_view writer)
{
    return EventInfo{id,     kPerformanceChannel,
                     level,  opcode,
                     task,   keywords | kPerformanceChannelKeyword,
                     fields, writer.empty() ? fields::kNone : fields,
                     writer};
}

} // namespace detail

// clang-format off
inline constexpr EventInfo kEvents[] = {
#define OX_EVENT(id, task, op, lvl, kw, flds, writer) \
    detail::onChannel(id, task, opcode::op, level::lvl, kw, fields::flds, writer)
    OX_EVENT(1, 1, kStart, kNormal, keyword::kNone, kData, "PerfLog_WriteReadDrawingEvent"),
    OX_EVENT(2, 1, kEnd, kNormal, keyword::kNone, kData, "PerfLog_WriteReadDrawingEvent"),
    OX_EVENT(3, 2, kStart, kNormal, keyword::kStartup, kNone, "PerfLog_WriteOxApAppInitEvent"),
    OX_EVENT(4, 2, kEnd, kNormal, keyword::kStartup, kNone, "PerfLog_WriteOxApAppInitEvent"),
    OX_EVENT(5, 3, kStart, kNormal, keyword::kStartup, kNone, "PerfLog_WriteOrkaAppInitInstanceEvent"),
    OX_EVENT(6, 3, kEnd, kNormal, keyword::kStartup, kNone, "PerfLog_WriteOrkaAppInitInstanceEvent"),
    OX_EVENT(7, 4, kStart, kDetailed, keyword::kNone, kClassPointer, "PerfLog_WriteObjectRecordInEvent"),
    OX_EVENT(8, 4, kEnd, kDetailed, keyword::kNone, kClassPointer, "PerfLog_WriteObjectRecordInEvent"),
    OX_EVENT(9, 5, kStart, kDetailed, keyword::kGsPerformance, kClassPointer, "PerfLog_WriteOxGiDrawableViewportDrawEvent"),
    OX_EVENT(10, 5, kEnd, kDetailed, keyword::kGsPerformance, kClassPointer, "PerfLog_WriteOxGiDrawableViewportDrawEvent"),
    OX_EVENT(11, 6, kStart, kNormal, keyword::kStartup, kData, "PerfLog_WriteLoadModuleEvent"),
    OX_EVENT(12, 6, kEnd, kNormal, keyword::kStartup, kData, "PerfLog_WriteLoadModuleEvent"),
    OX_EVENT(13, 7, kStart, kMinimal, keyword::kStartup | keyword::kCommands, kData, "PerfLog_WriteOpenDocumentEvent"),
    OX_EVENT(14, 7, kEnd, kMinimal, keyword::kStartup | keyword::kCommands, kData, "PerfLog_WriteOpenDocumentEvent"),
    OX_EVENT(15, 8, kStart, kMinimal, keyword::kStartup | keyword::kCommands, kCommand, "PerfLog_WriteStartCommandEvent"),
    // The end of a command sits on no channel, so its keyword mask lacks the channel's bit.
    EventInfo{16, 0, level::kMinimal, opcode::kEnd, 8, keyword::kStartup | keyword::kCommands,
              fields::kCommand, fields::kCommand, "PerfLog_WriteEndCommandEvent"},
    OX_EVENT(17, 9, kStart, kNormal, keyword::kStartup, kNone, "PerfLog_WriteBindToCLREvent"),
    OX_EVENT(18, 9, kEnd, kNormal, keyword::kStartup, kNone, "PerfLog_WriteBindToCLREvent"),
    OX_EVENT(19, 10, kStart, kNormal, keyword::kStartup, kNone, "PerfLog_WriteInitFontCacheEvent"),
    OX_EVENT(20, 10, kEnd, kNormal, keyword::kStartup, kNone, "PerfLog_WriteInitFontCacheEvent"),
    OX_EVENT(21, 11, kStart, kNormal, keyword::kStartup, kNone, "PerfLog_WriteMdApplicationFrameInitializeEvent"),
    OX_EVENT(22, 11, kEnd, kNormal, keyword::kStartup, kNone, "PerfLog_WriteMdApplicationFrameInitializeEvent"),
    OX_EVENT(23, 12, kStart, kNormal, keyword::kStartup, kNone, "PerfLog_WriteMdApplicationFrameCreateInstanceEvent"),
    OX_EVENT(24, 12, kEnd, kNormal, keyword::kStartup, kNone, "PerfLog_WriteMdApplicationFrameCreateInstanceEvent"),
    // Declared for the application's other modules; the library writes none of 25 to 32.
    OX_EVENT(25, 13, kStart, kNormal, keyword::kStartup, kData1Data2, ""),
    OX_EVENT(26, 13, kEnd, kNormal, keyword::kStartup, kData1Data2, ""),
    OX_EVENT(27, 14, kStart, kNormal, keyword::kStartup, kNone, ""),
    OX_EVENT(28, 14, kEnd, kNormal, keyword::kStartup, kNone, ""),
    OX_EVENT(29, 15, kStart, kNormal, keyword::kStartup, kNone, ""),
    OX_EVENT(30, 15, kEnd, kNormal, keyword::kStartup, kNone, ""),
    OX_EVENT(31, 16, kStart, kNormal, keyword::kNone, kData, ""),
    OX_EVENT(32, 16, kEnd, kNormal, keyword::kNone, kData, ""),
    OX_EVENT(33, 17, kStart, kDetailed, keyword::kNone, kData, "PerfLog_WriteLoadResourceEvent"),
    OX_EVENT(34, 17, kEnd, kDetailed, keyword::kNone, kData, "PerfLog_WriteLoadResourceEvent"),
    OX_EVENT(37, 19, kStart, kDetailed, keyword::kGsPerformance, kClassLifetime, "PerfLog_WriteOxRxClassLifetimeEvent"),
    OX_EVENT(38, 19, kEnd, kDetailed, keyword::kGsPerformance, kClassLifetime, "PerfLog_WriteOxRxClassLifetimeEvent"),
    OX_EVENT(39, 20, kInfo, kDetailed, keyword::kNone, kData1Data2, "PerfLog_WriteSysvarListEntryEvent"),
    OX_EVENT(40, 21, kSwitchIn, kNormal, keyword::kCommands, kFiber, "PerfLog_WriteFiberSwitchEvent"),
    OX_EVENT(41, 21, kSwitchOut, kNormal, keyword::kCommands, kFiber, "PerfLog_WriteFiberSwitchEvent"),
    OX_EVENT(42, 22, kLock, kNormal, keyword::kCommands | keyword::kDoc, kDocLock, "PerfLog_WriteDocLockEvent"),
    OX_EVENT(43, 22, kUnlock, kNormal, keyword::kCommands | keyword::kDoc, kLock, "PerfLog_WriteDocUnlockEvent"),
    OX_EVENT(44, 22, kInfo, kNormal, keyword::kCommands, kLockError, "PerfLog_WriteDocLockErrorEvent"),
    OX_EVENT(45, 23, kInfo, kError, keyword::kStartup | keyword::kCommands, kMessage, "PerfLog_WriteAssertEvent"),
    OX_EVENT(46, 24, kStart, kNormal, keyword::kNone, kNone, "PerfLog_WriteBolLifetimeEvent"),
    OX_EVENT(47, 24, kEnd, kNormal, keyword::kNone, kNone, "PerfLog_WriteBolLifetimeEvent"),
    OX_EVENT(48, 25, kStart, kNormal, keyword::kNone, kNone, "PerfLog_WriteBolNotifyEvent"),
    OX_EVENT(49, 25, kEnd, kNormal, keyword::kNone, kNone, "PerfLog_WriteBolNotifyEvent"),
    OX_EVENT(52, 27, kStart, kDetailed, keyword::kMultiprocess, kDataInt32, "PerfLog_WriteSlaveCreatedEvent"),
    OX_EVENT(53, 28, kStart, kDetailed, keyword::kMultiprocess, kNone, "PerfLog_WriteSlaveReadyEvent"),
    OX_EVENT(54, 29, kStart, kDetailed, keyword::kMultiprocess, kData, "PerfLog_WriteOpenDrawingMessageEvent"),
    OX_EVENT(55, 29, kEnd, kDetailed, keyword::kMultiprocess, kData, "PerfLog_WriteOpenDrawingMessageEvent"),
    OX_EVENT(56, 30, kStart, kDetailed, keyword::kMultiprocess, kNone, "PerfLog_WriteRegenInstanceMessageEvent"),
    OX_EVENT(57, 30, kEnd, kDetailed, keyword::kMultiprocess, kNone, "PerfLog_WriteRegenInstanceMessageEvent"),
    OX_EVENT(58, 31, kStart, kDetailed, keyword::kMultiprocess, kNone, "PerfLog_WriteRegenInstanceCompleteMessageEvent"),
    OX_EVENT(59, 31, kEnd, kDetailed, keyword::kMultiprocess, kNone, "PerfLog_WriteRegenInstanceCompleteMessageEvent"),
    OX_EVENT(62, 33, kAccess, kDetailed, keyword::kNimbusAccess, kNone, "PerfLog_WriteNimbusAccessEvent"),
    OX_EVENT(63, 34, kCreate, kDetailed, keyword::kNimbusAccess, kDataPointer, "PerfLog_WriteNimbusCreatedEvent"),
    OX_EVENT(64, 34, kDestroy, kDetailed, keyword::kNimbusAccess, kDataPointer, "PerfLog_WriteNimbusDestroyedEvent"),
    OX_EVENT(65, 35, kAccess, kDetailed, keyword::kNimbusAccess, kNone, "PerfLog_WriteHardNimbusAccessEvent"),
    OX_EVENT(66, 36, kCreate, kDetailed, keyword::kNimbusAccess, kDataPointer, "PerfLog_WriteHardNimbusCreatedEvent"),
    OX_EVENT(67, 36, kDestroy, kDetailed, keyword::kNimbusAccess, kDataPointer, "PerfLog_WriteHardNimbusDestroyedEvent"),
    OX_EVENT(74, 41, kStart, kNormal, keyword::kGsPerformance, kNone, "PerfLog_WriteDeviceUpdateEvent"),
    OX_EVENT(75, 41, kEnd, kNormal, keyword::kGsPerformance, kNone, "PerfLog_WriteDeviceUpdateEvent"),
    OX_EVENT(76, 41, kStartView, kDetailed, keyword::kGsPerformance, kWindowId, "PerfLog_WriteViewUpdateEvent"),
    OX_EVENT(77, 41, kEndView, kDetailed, keyword::kGsPerformance, kWindowId, "PerfLog_WriteViewUpdateEvent"),
    OX_EVENT(82, 41, kStartModel, kDetailed, keyword::kGsPerformance, kRenderTypeField, "PerfLog_WriteModelTraversalEvent"),
    OX_EVENT(83, 41, kEndModel, kDetailed, keyword::kGsPerformance, kRenderTypeField, "PerfLog_WriteModelTraversalEvent"),
    OX_EVENT(84, 41, kInvalidate, kDetailed, keyword::kGsPerformance, kNone, "PerfLog_WriteInvalidateTraversalEvent"),
    OX_EVENT(85, 41, kFailedToSkip, kDetailed, keyword::kGsPerformance, kReason, "PerfLog_WriteFailedToSkipTraversalEvent"),
    OX_EVENT(86, 43, kMainDomain, kDiagnostic, keyword::kGsPerformance, kData, "PerfLog_WriteGsxMainThreadParameteredEvent"),
    OX_EVENT(87, 44, kDrawDomain, kDiagnostic, keyword::kGsPerformance, kData, "PerfLog_WriteGsxDrawThreadParameteredEvent"),
    OX_EVENT(88, 45, kRegenDomain, kDiagnostic, keyword::kGsPerformance, kData, "PerfLog_WriteGsxRegenThreadParameteredEvent"),
    OX_EVENT(89, 46, kSceneGraphDomain, kDiagnostic, keyword::kGsPerformance, kData, "PerfLog_WriteGsxSceneGraphThreadParameteredEvent"),
    OX_EVENT(90, 47, kStart, kDetailed, keyword::kGsPerformance, kClassPointer, "PerfLog_WriteOxGiDrawableWorldDrawEvent"),
    OX_EVENT(91, 47, kEnd, kDetailed, keyword::kGsPerformance, kClassPointer, "PerfLog_WriteOxGiDrawableWorldDrawEvent"),
    OX_EVENT(93, 48, kStart, kDetailed, keyword::kGsPerformance, kNone, "PerfLog_WriteGsxTesselateFillEvent"),
    OX_EVENT(94, 48, kEnd, kDetailed, keyword::kGsPerformance, kNone, "PerfLog_WriteGsxTesselateFillEvent"),
    OX_EVENT(95, 49, kStart, kDetailed, keyword::kDatacapacity, kNone, "PerfLog_WriteRestoreAcisEntitiesEvent"),
    OX_EVENT(96, 49, kEnd, kDetailed, keyword::kDatacapacity, kNone, "PerfLog_WriteRestoreAcisEntitiesEvent"),
    OX_EVENT(97, 50, kStart, kDetailed, keyword::kDatacapacity, kNone, "PerfLog_WriteGetFacePolygonsEvent"),
    OX_EVENT(98, 50, kEnd, kDetailed, keyword::kDatacapacity, kNone, "PerfLog_WriteGetFacePolygonsEvent"),
    OX_EVENT(99, 51, kStart, kDetailed, keyword::kDatacapacity, kNone, "PerfLog_WriteSolidShellEvent"),
    OX_EVENT(100, 51, kEnd, kDetailed, keyword::kDatacapacity, kNone, "PerfLog_WriteSolidShellEvent"),
    OX_EVENT(101, 53, kStart, kDetailed, keyword::kDatacapacity, kNone, "PerfLog_WriteTRegenAllEvent"),
    OX_EVENT(102, 53, kEnd, kDetailed, keyword::kDatacapacity, kNone, "PerfLog_WriteTRegenAllEvent"),
    OX_EVENT(103, 52, kStart, kDetailed, keyword::kDatacapacity, kNone, "PerfLog_WriteInitializeCurrentViewportEvent"),
    OX_EVENT(104, 52, kEnd, kDetailed, keyword::kDatacapacity, kNone, "PerfLog_WriteInitializeCurrentViewportEvent"),
    OX_EVENT(105, 54, kAddRenderNode, kDiagnostic, keyword::kGsPerformance, kWorldTypeVertexCount, "PerfLog_WriteAddRenderNodeEvent"),
    OX_EVENT(106, 54, kRemoveRenderNode, kDiagnostic, keyword::kGsPerformance, kWorldType, "PerfLog_WriteRemoveRenderNodeEvent"),
    OX_EVENT(107, 54, kChangeRenderNode, kDiagnostic, keyword::kGsPerformance, kWorldTypeChangeType, "PerfLog_WriteChangeRenderNodeEvent"),
    // The template lists two fields; the writer has always sent only the first.
    EventInfo{108, kPerformanceChannel, level::kDiagnostic, opcode::kAddDelayedChangePacket, 54,
              keyword::kGsPerformance | kPerformanceChannelKeyword, fields::kWorldTypeVertexCount,
              std::span(fields::kWorldTypeVertexCount).first(1), "PerfLog_WriteAddDelayedChangePacketEvent"},
    OX_EVENT(111, 56, kQueue, kNormal, keyword::kGsPerformance, kRequestNameChanges, "PerfLog_WriteQueuePacketQueueEvent"),
    OX_EVENT(112, 55, kInvalidate, kDiagnostic, keyword::kGsPerformance, kHint, "PerfLog_WriteInvalidateGsNodeEvent"),
    OX_EVENT(113, 56, kQueue, kNormal, keyword::kGsPerformance, kRequestName, "PerfLog_WriteQueueDrawThreadRequestEvent"),
    OX_EVENT(114, 56, kProcessed, kNormal, keyword::kGsPerformance, kRequestName, "PerfLog_WriteProcessedDrawThreadRequestEvent"),
    // The manifest declares no fields for 164 and 165; the writer sends a name and a flag anyway.
    EventInfo{164, kPerformanceChannel, level::kDiagnostic, opcode::kStart, 57, kPerformanceChannelKeyword,
              fields::kNone, fields::kNameFlag, "PerfLog_WriteSaveToCloudEvent"},
    EventInfo{165, kPerformanceChannel, level::kDiagnostic, opcode::kEnd, 57, kPerformanceChannelKeyword,
              fields::kNone, fields::kNameFlag, "PerfLog_WriteSaveToCloudEvent"},
    OX_EVENT(166, 58, kStart, kDetailed, keyword::kInteractive, kInputMessage, "PerfLog_WriteDispatchInputEvent"),
    OX_EVENT(200, 8, kInvoke, kDetailed, keyword::kCommands, kParametersIlk, "PerfLog_WriteInvokeCommandEvent"),
    OX_EVENT(201, 8, kRetrieveToken, kDetailed, keyword::kCommands, kRestypeToken, "PerfLog_WriteRetrieveCommandTokenEvent"),
    OX_EVENT(202, 8, kCancelled, kMinimal, keyword::kCommands, kCommand, "PerfLog_WriteCommandCancelledEvent"),
    OX_EVENT(203, 8, kFailed, kMinimal, keyword::kCommands, kCommand, "PerfLog_WriteCommandFailedEvent"),
    OX_EVENT(204, 61, kSetCoroutineState, kDiagnostic, keyword::kCommands | keyword::kLisp, kState, "PerfLog_WriteSetLispCoroutineStateEvent"),
    OX_EVENT(205, 61, kInvokeLisp, kDetailed, keyword::kCommands | keyword::kLisp, kNameExpression, "PerfLog_WriteInvokeLispEvent"),
    OX_EVENT(206, 22, kStart, kDetailed, keyword::kDoc, kDoc, "PerfLog_WriteStartDocEvent"),
    OX_EVENT(207, 22, kEnd, kDetailed, keyword::kDoc, kDoc, "PerfLog_WriteEndDocEvent"),
    OX_EVENT(208, 22, kActivated, kDetailed, keyword::kDoc, kDoc, "PerfLog_WriteDocActivatedEvent"),
    OX_EVENT(209, 22, kActivate, kDetailed, keyword::kDoc, kActivateDoc, "PerfLog_WriteActivateDoc"),
    OX_EVENT(210, 22, kSetCurrent, kDetailed, keyword::kDoc, kDoc, "PerfLog_WriteSetCurrentDocEvent"),
    OX_EVENT(211, 22, kOnActivate, kDetailed, keyword::kDoc, kDoc, "PerfLog_WriteOnActivateDocEvent"),
    OX_EVENT(212, 59, kStart, kDetailed, keyword::kCommands | keyword::kDoc, kNone, "PerfLog_WriteCommandThroatEvent"),
    OX_EVENT(213, 59, kQueue, kDetailed, keyword::kCommands | keyword::kDoc, kToken, "PerfLog_WriteStuffCommandThroatEvent"),
    OX_EVENT(214, 59, kProcessed, kDetailed, keyword::kCommands | keyword::kDoc, kResult, "PerfLog_WriteCommandThroatSelectDeviceEvent"),
    OX_EVENT(215, 59, kEnd, kDetailed, keyword::kCommands | keyword::kDoc, kNone, "PerfLog_WriteCommandThroatEvent"),
    OX_EVENT(216, 60, kStart, kDiagnostic, keyword::kCommands | keyword::kDoc, kNone, "PerfLog_WriteMessageLoopEvent"),
    OX_EVENT(217, 60, kEnd, kDiagnostic, keyword::kCommands | keyword::kDoc, kNone, "PerfLog_WriteMessageLoopEvent"),
    OX_EVENT(218, 62, kStart, kDiagnostic, keyword::kPointCloudLoading, kQuery, "PerfLog_WritePointCloudLoadingStartEvent"),
    OX_EVENT(219, 62, kEnd, kDiagnostic, keyword::kPointCloudLoading, kQuery, "PerfLog_WritePointCloudLoadingCompletedEvent"),
    OX_EVENT(220, 63, kStart, kDiagnostic, keyword::kPointCloudThreading, kQuery, "PerfLog_WritePointCloudThreadStartEvent"),
    OX_EVENT(221, 63, kEnd, kDiagnostic, keyword::kPointCloudThreading, kQuery, "PerfLog_WritePointCloudThreadStopEvent"),
#undef OX_EVENT
};
// clang-format on

// ---------------------------------------------------------------------------------------------
// Look-ups

/// The event of that id; null when the manifest declares none.
constexpr const EventInfo* findEvent(std::uint16_t id)
{
    for (const EventInfo& event : kEvents)
        if (event.id == id)
            return &event;
    return nullptr;
}

/// The descriptor of event `id`, for the writers, which take it into constexpr variables: naming
/// an event the manifest lacks does not compile, since the throw is no constant expression.
/// (constexpr rather than consteval: clang 14 refuses consteval calls whose argument is a
/// template parameter. Indexes the array rather than going through pointers: GCC's null-pointer
/// sanitizer checks would make the evaluation non-constant.)
constexpr win::EVENT_DESCRIPTOR descriptorOf(std::uint16_t id)
{
    for (std::size_t i = 0; i < std::size(kEvents); ++i)
        if (kEvents[i].id == id)
            return win::EVENT_DESCRIPTOR{kEvents[i].id,      0,
                                         kEvents[i].channel, kEvents[i].level,
                                         kEvents[i].opcode,  kEvents[i].task,
                                         kEvents[i].keywords};
    throw "no such event in the manifest";
}

/// The name of `value` in `table`; empty when it has none.
constexpr std::string_view nameOf(std::span<const NamedValue> table, std::uint64_t value)
{
    for (const NamedValue& entry : table)
        if (entry.value == value)
            return entry.name;
    return {};
}

/// Whether `task` has both a Start and an End event, so that its events form slices.
constexpr bool taskHasStartAndEnd(std::uint16_t task)
{
    bool start = false, end = false;
    for (const EventInfo& event : kEvents) {
        if (event.task != task)
            continue;
        start = start || event.opcode == opcode::kStart;
        end = end || event.opcode == opcode::kEnd;
    }
    return start && end;
}

} // namespace oxperf
