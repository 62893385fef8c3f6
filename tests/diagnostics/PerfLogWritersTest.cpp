// tests/diagnostics/PerfLogWritersTest.cpp
// Every writer against the manifest data: one table row per writer call (each bool of a pair,
// null texts, the call that writes nothing), each checked for the event it sends, that event's
// descriptor as the manifest gives it, and its payload field by field: the bytes the arguments
// must become, in the sizes the manifest's field types require. Then the manifest itself: its
// irregular events, as the application has always sent them, and the consistency of its tables.

#include <oxfirst/PerfLog.h>

#include "diagnostics/PerfManifest.h"
#include "support/TraceRecorder.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

namespace {

using namespace oxperf;

const auto* const kClass = reinterpret_cast<const OxRxClass*>(std::uintptr_t{0x1122334455667788});
const auto* const kLock = reinterpret_cast<const OxDbImpLock*>(std::uintptr_t{0x10});
void* const kPointer = reinterpret_cast<void*>(std::uintptr_t{0xFEDCBA9876543210});

struct WriterCase {
    const char* call; // the function, then the arguments in words
    std::function<void()> write;
    unsigned id; // 0: nothing may be written
    std::vector<std::string> payload;
};

// Test names and failure messages show the call, not the case's bytes.
void PrintTo(const WriterCase& writerCase, std::ostream* out)
{
    *out << writerCase.call;
}

std::string pointerBytes(const void* p)
{
    return valueBytes(p);
}

// clang-format off
const WriterCase kWriterCases[] = {
    {"PerfLog_WriteReadDrawingEvent(name, true)", [] { PerfLog_WriteReadDrawingEvent(u"a.oxd", true); }, 1, {wideBytes(u"a.oxd")}},
    {"PerfLog_WriteReadDrawingEvent(null, false)", [] { PerfLog_WriteReadDrawingEvent(nullptr, false); }, 2, {wideBytes(u"")}},
    {"PerfLog_WriteOxApAppInitEvent(true)", [] { PerfLog_WriteOxApAppInitEvent(true); }, 3, {}},
    {"PerfLog_WriteOxApAppInitEvent(false)", [] { PerfLog_WriteOxApAppInitEvent(false); }, 4, {}},
    {"PerfLog_WriteOrkaAppInitInstanceEvent(true)", [] { PerfLog_WriteOrkaAppInitInstanceEvent(true); }, 5, {}},
    {"PerfLog_WriteOrkaAppInitInstanceEvent(false)", [] { PerfLog_WriteOrkaAppInitInstanceEvent(false); }, 6, {}},
    {"PerfLog_WriteObjectRecordInEvent(class, true)", [] { PerfLog_WriteObjectRecordInEvent(kClass, true); }, 7, {pointerBytes(kClass)}},
    {"PerfLog_WriteObjectRecordInEvent(class, false)", [] { PerfLog_WriteObjectRecordInEvent(kClass, false); }, 8, {pointerBytes(kClass)}},
    {"PerfLog_WriteOxGiDrawableViewportDrawEvent(class, true)", [] { PerfLog_WriteOxGiDrawableViewportDrawEvent(kClass, true); }, 9, {pointerBytes(kClass)}},
    {"PerfLog_WriteOxGiDrawableViewportDrawEvent(null, false)", [] { PerfLog_WriteOxGiDrawableViewportDrawEvent(nullptr, false); }, 10, {pointerBytes(nullptr)}},
    {"PerfLog_WriteLoadModuleEvent(name, true)", [] { PerfLog_WriteLoadModuleEvent(u"oxgs.dll", true); }, 11, {wideBytes(u"oxgs.dll")}},
    {"PerfLog_WriteLoadModuleEvent(name, false)", [] { PerfLog_WriteLoadModuleEvent(u"oxgs.dll", false); }, 12, {wideBytes(u"oxgs.dll")}},
    // A five-character name is one field of 12 bytes.
    {"PerfLog_WriteOpenDocumentEvent(five characters, true)", [] { PerfLog_WriteOpenDocumentEvent(u"plan1", true); }, 13, {wideBytes(u"plan1")}},
    {"PerfLog_WriteOpenDocumentEvent(five characters, false)", [] { PerfLog_WriteOpenDocumentEvent(u"plan1", false); }, 14, {wideBytes(u"plan1")}},
    {"PerfLog_WriteStartCommandEvent(command)", [] { PerfLog_WriteStartCommandEvent(u"LINE"); }, 15, {wideBytes(u"LINE")}},
    {"PerfLog_WriteEndCommandEvent(command)", [] { PerfLog_WriteEndCommandEvent(u"LINE"); }, 16, {wideBytes(u"LINE")}},
    {"PerfLog_WriteBindToCLREvent(true)", [] { PerfLog_WriteBindToCLREvent(true); }, 17, {}},
    {"PerfLog_WriteBindToCLREvent(false)", [] { PerfLog_WriteBindToCLREvent(false); }, 18, {}},
    {"PerfLog_WriteInitFontCacheEvent(true)", [] { PerfLog_WriteInitFontCacheEvent(true); }, 19, {}},
    {"PerfLog_WriteInitFontCacheEvent(false)", [] { PerfLog_WriteInitFontCacheEvent(false); }, 20, {}},
    {"PerfLog_WriteMdApplicationFrameInitializeEvent(true)", [] { PerfLog_WriteMdApplicationFrameInitializeEvent(true); }, 21, {}},
    {"PerfLog_WriteMdApplicationFrameInitializeEvent(false)", [] { PerfLog_WriteMdApplicationFrameInitializeEvent(false); }, 22, {}},
    {"PerfLog_WriteMdApplicationFrameCreateInstanceEvent(true)", [] { PerfLog_WriteMdApplicationFrameCreateInstanceEvent(true); }, 23, {}},
    {"PerfLog_WriteMdApplicationFrameCreateInstanceEvent(false)", [] { PerfLog_WriteMdApplicationFrameCreateInstanceEvent(false); }, 24, {}},
    {"PerfLog_WriteLoadResourceEvent(name, true)", [] { PerfLog_WriteLoadResourceEvent(u"menu", true); }, 33, {wideBytes(u"menu")}},
    {"PerfLog_WriteLoadResourceEvent(name, false)", [] { PerfLog_WriteLoadResourceEvent(u"menu", false); }, 34, {wideBytes(u"menu")}},
    {"PerfLog_WriteOxRxClassLifetimeEvent(class, name, true)", [] { PerfLog_WriteOxRxClassLifetimeEvent(kClass, u"OxDbLine", true); }, 37, {pointerBytes(kClass), wideBytes(u"OxDbLine")}},
    {"PerfLog_WriteOxRxClassLifetimeEvent(class, null, false)", [] { PerfLog_WriteOxRxClassLifetimeEvent(kClass, nullptr, false); }, 38, {pointerBytes(kClass), wideBytes(u"")}},
    {"PerfLog_WriteSysvarListEntryEvent(name, value)", [] { PerfLog_WriteSysvarListEntryEvent(u"OSMODE", u"4133"); }, 39, {wideBytes(u"OSMODE"), wideBytes(u"4133")}},
    {"PerfLog_WriteFiberSwitchEvent(fiber, true)", [] { PerfLog_WriteFiberSwitchEvent(kPointer, true); }, 40, {pointerBytes(kPointer)}},
    {"PerfLog_WriteFiberSwitchEvent(fiber, false)", [] { PerfLog_WriteFiberSwitchEvent(kPointer, false); }, 41, {pointerBytes(kPointer)}},
    {"PerfLog_WriteDocLockEvent(lock, mode, command, force)", [] { PerfLog_WriteDocLockEvent(kLock, 32, u"ERASE", true); }, 42, {pointerBytes(kLock), valueBytes(32), wideBytes(u"ERASE"), valueBytes(true)}},
    {"PerfLog_WriteDocLockEvent(lock, mode, null, no force)", [] { PerfLog_WriteDocLockEvent(kLock, -1, nullptr, false); }, 42, {pointerBytes(kLock), valueBytes(-1), wideBytes(u""), valueBytes(false)}},
    {"PerfLog_WriteDocUnlockEvent(lock)", [] { PerfLog_WriteDocUnlockEvent(kLock); }, 43, {pointerBytes(kLock)}},
    {"PerfLog_WriteDocLockErrorEvent(lock, status)", [] { PerfLog_WriteDocLockErrorEvent(kLock, 46); }, 44, {pointerBytes(kLock), valueBytes(46)}},
    {"PerfLog_WriteAssertEvent(message)", [] { PerfLog_WriteAssertEvent(u"x != 0"); }, 45, {wideBytes(u"x != 0")}},
    {"PerfLog_WriteBolLifetimeEvent(true)", [] { PerfLog_WriteBolLifetimeEvent(true); }, 46, {}},
    {"PerfLog_WriteBolLifetimeEvent(false)", [] { PerfLog_WriteBolLifetimeEvent(false); }, 47, {}},
    {"PerfLog_WriteBolNotifyEvent(true)", [] { PerfLog_WriteBolNotifyEvent(true); }, 48, {}},
    {"PerfLog_WriteBolNotifyEvent(false)", [] { PerfLog_WriteBolNotifyEvent(false); }, 49, {}},
    {"PerfLog_WriteSlaveCreatedEvent(data)", [] { PerfLog_WriteSlaveCreatedEvent(0x7FFFFFFF); }, 52, {valueBytes(0x7FFFFFFF)}},
    {"PerfLog_WriteSlaveReadyEvent()", [] { PerfLog_WriteSlaveReadyEvent(); }, 53, {}},
    {"PerfLog_WriteOpenDrawingMessageEvent(name, true)", [] { PerfLog_WriteOpenDrawingMessageEvent(u"b.oxd", true); }, 54, {wideBytes(u"b.oxd")}},
    {"PerfLog_WriteOpenDrawingMessageEvent(name, false)", [] { PerfLog_WriteOpenDrawingMessageEvent(u"b.oxd", false); }, 55, {wideBytes(u"b.oxd")}},
    {"PerfLog_WriteRegenInstanceMessageEvent(true)", [] { PerfLog_WriteRegenInstanceMessageEvent(true); }, 56, {}},
    {"PerfLog_WriteRegenInstanceMessageEvent(false)", [] { PerfLog_WriteRegenInstanceMessageEvent(false); }, 57, {}},
    {"PerfLog_WriteRegenInstanceCompleteMessageEvent(true)", [] { PerfLog_WriteRegenInstanceCompleteMessageEvent(true); }, 58, {}},
    {"PerfLog_WriteRegenInstanceCompleteMessageEvent(false)", [] { PerfLog_WriteRegenInstanceCompleteMessageEvent(false); }, 59, {}},
    {"PerfLog_WriteNimbusAccessEvent()", [] { PerfLog_WriteNimbusAccessEvent(); }, 62, {}},
    {"PerfLog_WriteNimbusCreatedEvent(nimbus)", [] { PerfLog_WriteNimbusCreatedEvent(kPointer); }, 63, {pointerBytes(kPointer)}},
    {"PerfLog_WriteNimbusDestroyedEvent(nimbus)", [] { PerfLog_WriteNimbusDestroyedEvent(kPointer); }, 64, {pointerBytes(kPointer)}},
    {"PerfLog_WriteHardNimbusAccessEvent()", [] { PerfLog_WriteHardNimbusAccessEvent(); }, 65, {}},
    {"PerfLog_WriteHardNimbusCreatedEvent(nimbus)", [] { PerfLog_WriteHardNimbusCreatedEvent(kPointer); }, 66, {pointerBytes(kPointer)}},
    {"PerfLog_WriteHardNimbusDestroyedEvent(nimbus)", [] { PerfLog_WriteHardNimbusDestroyedEvent(kPointer); }, 67, {pointerBytes(kPointer)}},
    {"PerfLog_WriteDeviceUpdateEvent(true)", [] { PerfLog_WriteDeviceUpdateEvent(true); }, 74, {}},
    {"PerfLog_WriteDeviceUpdateEvent(false)", [] { PerfLog_WriteDeviceUpdateEvent(false); }, 75, {}},
    {"PerfLog_WriteViewUpdateEvent(window, true)", [] { PerfLog_WriteViewUpdateEvent(3, true); }, 76, {valueBytes(3)}},
    {"PerfLog_WriteViewUpdateEvent(window, false)", [] { PerfLog_WriteViewUpdateEvent(3, false); }, 77, {valueBytes(3)}},
    {"PerfLog_WriteModelTraversalEvent(render type, true)", [] { PerfLog_WriteModelTraversalEvent(6, true); }, 82, {valueBytes(6)}},
    {"PerfLog_WriteModelTraversalEvent(render type, false)", [] { PerfLog_WriteModelTraversalEvent(6, false); }, 83, {valueBytes(6)}},
    {"PerfLog_WriteInvalidateTraversalEvent()", [] { PerfLog_WriteInvalidateTraversalEvent(); }, 84, {}},
    {"PerfLog_WriteFailedToSkipTraversalEvent(reason)", [] { PerfLog_WriteFailedToSkipTraversalEvent(5); }, 85, {valueBytes(5)}},
    {"PerfLog_WriteGsxMainThreadParameteredEvent(data)", [] { PerfLog_WriteGsxMainThreadParameteredEvent(u"main"); }, 86, {wideBytes(u"main")}},
    {"PerfLog_WriteGsxDrawThreadParameteredEvent(data)", [] { PerfLog_WriteGsxDrawThreadParameteredEvent(u"draw"); }, 87, {wideBytes(u"draw")}},
    {"PerfLog_WriteGsxRegenThreadParameteredEvent(data)", [] { PerfLog_WriteGsxRegenThreadParameteredEvent(u"regen"); }, 88, {wideBytes(u"regen")}},
    {"PerfLog_WriteGsxSceneGraphThreadParameteredEvent(null)", [] { PerfLog_WriteGsxSceneGraphThreadParameteredEvent(nullptr); }, 89, {wideBytes(u"")}},
    {"PerfLog_WriteOxGiDrawableWorldDrawEvent(class, true)", [] { PerfLog_WriteOxGiDrawableWorldDrawEvent(kClass, true); }, 90, {pointerBytes(kClass)}},
    {"PerfLog_WriteOxGiDrawableWorldDrawEvent(class, false)", [] { PerfLog_WriteOxGiDrawableWorldDrawEvent(kClass, false); }, 91, {pointerBytes(kClass)}},
    {"PerfLog_WriteGsxTesselateFillEvent(true)", [] { PerfLog_WriteGsxTesselateFillEvent(true); }, 93, {}},
    {"PerfLog_WriteGsxTesselateFillEvent(false)", [] { PerfLog_WriteGsxTesselateFillEvent(false); }, 94, {}},
    {"PerfLog_WriteRestoreAcisEntitiesEvent(true)", [] { PerfLog_WriteRestoreAcisEntitiesEvent(true); }, 95, {}},
    {"PerfLog_WriteRestoreAcisEntitiesEvent(false)", [] { PerfLog_WriteRestoreAcisEntitiesEvent(false); }, 96, {}},
    {"PerfLog_WriteGetFacePolygonsEvent(true)", [] { PerfLog_WriteGetFacePolygonsEvent(true); }, 97, {}},
    {"PerfLog_WriteGetFacePolygonsEvent(false)", [] { PerfLog_WriteGetFacePolygonsEvent(false); }, 98, {}},
    {"PerfLog_WriteSolidShellEvent(true)", [] { PerfLog_WriteSolidShellEvent(true); }, 99, {}},
    {"PerfLog_WriteSolidShellEvent(false)", [] { PerfLog_WriteSolidShellEvent(false); }, 100, {}},
    {"PerfLog_WriteTRegenAllEvent(true)", [] { PerfLog_WriteTRegenAllEvent(true); }, 101, {}},
    {"PerfLog_WriteTRegenAllEvent(false)", [] { PerfLog_WriteTRegenAllEvent(false); }, 102, {}},
    {"PerfLog_WriteInitializeCurrentViewportEvent(true)", [] { PerfLog_WriteInitializeCurrentViewportEvent(true); }, 103, {}},
    {"PerfLog_WriteInitializeCurrentViewportEvent(false)", [] { PerfLog_WriteInitializeCurrentViewportEvent(false); }, 104, {}},
    {"PerfLog_WriteAddRenderNodeEvent(world, vertices)", [] { PerfLog_WriteAddRenderNodeEvent(2, 4096); }, 105, {valueBytes(2), valueBytes(4096)}},
    {"PerfLog_WriteRemoveRenderNodeEvent(world)", [] { PerfLog_WriteRemoveRenderNodeEvent(2); }, 106, {valueBytes(2)}},
    {"PerfLog_WriteChangeRenderNodeEvent(world, change)", [] { PerfLog_WriteChangeRenderNodeEvent(2, 0xFFFFFFFFu); }, 107, {valueBytes(2), valueBytes(0xFFFFFFFFu)}},
    {"PerfLog_WriteAddDelayedChangePacketEvent(world)", [] { PerfLog_WriteAddDelayedChangePacketEvent(7); }, 108, {valueBytes(7)}},
    {"PerfLog_WriteQueuePacketQueueEvent(id, name, changes)", [] { PerfLog_WriteQueuePacketQueueEvent(kPointer, "regen", 12); }, 111, {pointerBytes(kPointer), narrowBytes("regen"), valueBytes(12)}},
    {"PerfLog_WriteInvalidateGsNodeEvent(hint)", [] { PerfLog_WriteInvalidateGsNodeEvent(0x80000000u); }, 112, {valueBytes(0x80000000u)}},
    {"PerfLog_WriteQueueDrawThreadRequestEvent(id, null)", [] { PerfLog_WriteQueueDrawThreadRequestEvent(kPointer, nullptr); }, 113, {pointerBytes(kPointer), narrowBytes("")}},
    {"PerfLog_WriteProcessedDrawThreadRequestEvent(id, name)", [] { PerfLog_WriteProcessedDrawThreadRequestEvent(kPointer, "caf\xe9"); }, 114, {pointerBytes(kPointer), narrowBytes("caf\xe9")}},
    {"PerfLog_WriteSaveToCloudEvent(name, flag, true)", [] { PerfLog_WriteSaveToCloudEvent(u"c.oxd", true, true); }, 164, {wideBytes(u"c.oxd"), valueBytes(true)}},
    {"PerfLog_WriteSaveToCloudEvent(name, flag, false)", [] { PerfLog_WriteSaveToCloudEvent(u"c.oxd", false, false); }, 165, {wideBytes(u"c.oxd"), valueBytes(false)}},
    {"PerfLog_WriteDispatchInputEvent(message, true)", [] { PerfLog_WriteDispatchInputEvent(0x100, true); }, 166, {valueBytes(0x100u)}},
    {"PerfLog_WriteDispatchInputEvent(message, false)", [] { PerfLog_WriteDispatchInputEvent(0x100, false); }, 0, {}},
    {"PerfLog_WriteInvokeCommandEvent(parameters, ilk)", [] { PerfLog_WriteInvokeCommandEvent(u"_LINE 0,0", 5); }, 200, {wideBytes(u"_LINE 0,0"), valueBytes(5)}},
    {"PerfLog_WriteRetrieveCommandTokenEvent(type, token)", [] { PerfLog_WriteRetrieveCommandTokenEvent(5005, u"10,10"); }, 201, {valueBytes(5005), wideBytes(u"10,10")}},
    {"PerfLog_WriteCommandCancelledEvent(command)", [] { PerfLog_WriteCommandCancelledEvent(u"LINE"); }, 202, {wideBytes(u"LINE")}},
    {"PerfLog_WriteCommandFailedEvent(command)", [] { PerfLog_WriteCommandFailedEvent(u"LINE"); }, 203, {wideBytes(u"LINE")}},
    {"PerfLog_WriteSetLispCoroutineStateEvent(state)", [] { PerfLog_WriteSetLispCoroutineStateEvent(-3); }, 204, {valueBytes(-3)}},
    {"PerfLog_WriteInvokeLispEvent(name, expression)", [] { PerfLog_WriteInvokeLispEvent(u"c:go", u"(go)"); }, 205, {wideBytes(u"c:go"), wideBytes(u"(go)")}},
    {"PerfLog_WriteStartDocEvent(doc)", [] { PerfLog_WriteStartDocEvent(kPointer); }, 206, {pointerBytes(kPointer)}},
    {"PerfLog_WriteEndDocEvent(doc)", [] { PerfLog_WriteEndDocEvent(kPointer); }, 207, {pointerBytes(kPointer)}},
    {"PerfLog_WriteDocActivatedEvent(doc)", [] { PerfLog_WriteDocActivatedEvent(kPointer); }, 208, {pointerBytes(kPointer)}},
    {"PerfLog_WriteActivateDoc(doc, flags, result)", [] { PerfLog_WriteActivateDoc(kPointer, 9, u"ok"); }, 209, {pointerBytes(kPointer), valueBytes(9), wideBytes(u"ok")}},
    {"PerfLog_WriteSetCurrentDocEvent(doc)", [] { PerfLog_WriteSetCurrentDocEvent(kPointer); }, 210, {pointerBytes(kPointer)}},
    {"PerfLog_WriteOnActivateDocEvent(doc)", [] { PerfLog_WriteOnActivateDocEvent(kPointer); }, 211, {pointerBytes(kPointer)}},
    {"PerfLog_WriteCommandThroatEvent(true)", [] { PerfLog_WriteCommandThroatEvent(true); }, 212, {}},
    {"PerfLog_WriteCommandThroatEvent(false)", [] { PerfLog_WriteCommandThroatEvent(false); }, 215, {}},
    {"PerfLog_WriteStuffCommandThroatEvent(token)", [] { PerfLog_WriteStuffCommandThroatEvent(u"\U0001F600"); }, 213, {wideBytes(u"\U0001F600")}},
    {"PerfLog_WriteCommandThroatSelectDeviceEvent(result)", [] { PerfLog_WriteCommandThroatSelectDeviceEvent(u"device"); }, 214, {wideBytes(u"device")}},
    {"PerfLog_WriteMessageLoopEvent(true)", [] { PerfLog_WriteMessageLoopEvent(true); }, 216, {}},
    {"PerfLog_WriteMessageLoopEvent(false)", [] { PerfLog_WriteMessageLoopEvent(false); }, 217, {}},
    {"PerfLog_WritePointCloudLoadingStartEvent(query)", [] { PerfLog_WritePointCloudLoadingStartEvent(kPointer); }, 218, {pointerBytes(kPointer)}},
    {"PerfLog_WritePointCloudLoadingCompletedEvent(query)", [] { PerfLog_WritePointCloudLoadingCompletedEvent(kPointer); }, 219, {pointerBytes(kPointer)}},
    {"PerfLog_WritePointCloudThreadStartEvent(query)", [] { PerfLog_WritePointCloudThreadStartEvent(kPointer); }, 220, {pointerBytes(kPointer)}},
    {"PerfLog_WritePointCloudThreadStopEvent(query)", [] { PerfLog_WritePointCloudThreadStopEvent(kPointer); }, 221, {pointerBytes(kPointer)}},
};
// clang-format on

std::string_view functionOf(const char* call)
{
    const std::string_view text = call;
    return text.substr(0, text.find('('));
}

// Whether a field of `size` bytes can carry a value of `type` (texts with their terminator).
::testing::AssertionResult fitsType(FieldType type, const std::string& bytes)
{
    bool fits = false;
    switch (type) {
    case FieldType::kUnicodeString:
        fits = bytes.size() >= 2 && bytes.size() % 2 == 0 &&
               bytes.substr(bytes.size() - 2) == std::string(2, '\0');
        break;
    case FieldType::kAnsiString:
        fits = !bytes.empty() && bytes.back() == '\0';
        break;
    case FieldType::kPointer:
        fits = bytes.size() == 8;
        break;
    case FieldType::kInt32:
    case FieldType::kUInt32:
        fits = bytes.size() == 4;
        break;
    case FieldType::kBoolean:
        fits = bytes.size() == 1;
        break;
    }
    if (fits)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << bytes.size() << " bytes do not hold a field of type " << static_cast<int>(type);
}

class PerfLogWriter : public ::testing::TestWithParam<WriterCase> {};

// Guards against a writer sending another event than its bool selects, a descriptor that
// differs from the manifest in any of its 16 bytes, fields missing, added, reordered or sized
// against their type, and texts sent without their terminator or null texts sent as nothing.
TEST_P(PerfLogWriter, SendsItsEventWithManifestDescriptorAndPayload)
{
    const WriterCase& writerCase = GetParam();
    TraceRecorder session(kProviderId);
    ASSERT_TRUE(session.started());
    writerCase.write();
    const std::vector<RecordedEvent> events = session.events();
    if (writerCase.id == 0) {
        EXPECT_TRUE(events.empty());
        return;
    }
    ASSERT_EQ(1u, events.size());
    const RecordedEvent& event = events[0];
    const EventInfo* info = findEvent(static_cast<std::uint16_t>(writerCase.id));
    ASSERT_NE(nullptr, info);
    EXPECT_EQ(writerCase.id, event.descriptor.Id);
    const win::EVENT_DESCRIPTOR expected = info->descriptor();
    EXPECT_EQ(0, std::memcmp(&expected, &event.descriptor, sizeof expected));
    EXPECT_EQ(functionOf(writerCase.call), info->writer);

    ASSERT_EQ(info->payload.size(), event.fields.size());
    for (std::size_t i = 0; i < event.fields.size(); ++i)
        EXPECT_TRUE(fitsType(info->payload[i].type, event.fields[i])) << "field " << info->payload[i].name;
    EXPECT_EQ(writerCase.payload, event.fields);
}

INSTANTIATE_TEST_SUITE_P(EveryWriter, PerfLogWriter, ::testing::ValuesIn(kWriterCases),
                         [](const ::testing::TestParamInfo<WriterCase>& info) {
                             std::string name = std::to_string(info.index) + "_";
                             for (char c : functionOf(info.param.call).substr(13)) // after "PerfLog_Write"
                                 name += c;
                             return name;
                         });

// Guards against a writer the table forgets and an event whose writer the manifest misnames:
// every event with a writer is sent by some row, and every exported writer appears.
TEST(PerfLogWriterTable, CoversEveryEventThatHasAWriter)
{
    std::set<unsigned> sent;
    for (const WriterCase& writerCase : kWriterCases)
        sent.insert(writerCase.id);
    for (const EventInfo& event : kEvents) {
        if (!event.writer.empty())
            EXPECT_TRUE(sent.count(event.id)) << "event " << event.id << " (" << event.writer << ")";
        else
            EXPECT_FALSE(sent.count(event.id)) << "event " << event.id << " has no writer";
    }
}

// Guards against a text longer than the system takes breaking the writer: it is dropped whole,
// while one just under the limit arrives intact.
TEST(PerfLogWriterTexts, TextBeyondTheSystemsLimitIsDroppedAndOneBelowArrivesWhole)
{
    TraceRecorder session(kProviderId);
    const std::u16string below(win::MAX_EVENT_PAYLOAD_SIZE / 2 - 1, u'x');
    const std::u16string beyond(win::MAX_EVENT_PAYLOAD_SIZE / 2, u'y');
    PerfLog_WriteAssertEvent(beyond.c_str());
    PerfLog_WriteAssertEvent(below.c_str());
    const std::vector<RecordedEvent> events = session.events();
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(wideBytes(below.c_str()), events[0].fields[0]);
}

// ---------------------------------------------------------------------------------------------
// The manifest

// Guards against the manifest being "corrected" where the application has always differed from
// the regular pattern; the values are written out here on purpose.
TEST(PerfManifest, IrregularEventsStayAsTheyAre)
{
    const win::EVENT_DESCRIPTOR endCommand = findEvent(16)->descriptor();
    EXPECT_EQ(0, endCommand.Channel);
    EXPECT_EQ(0x3u, endCommand.Keyword);
    const win::EVENT_DESCRIPTOR startCommand = findEvent(15)->descriptor();
    EXPECT_EQ(16, startCommand.Channel);
    EXPECT_EQ(0x8000000000000003u, startCommand.Keyword);

    EXPECT_EQ(2u, findEvent(108)->fields.size());
    EXPECT_EQ(1u, findEvent(108)->payload.size());
    for (std::uint16_t id : {164, 165}) {
        EXPECT_TRUE(findEvent(id)->fields.empty());
        EXPECT_EQ(2u, findEvent(id)->payload.size());
    }
    EXPECT_EQ(nullptr, findEvent(167)); // the input dispatch has no end event

    const win::EVENT_DESCRIPTOR openDocument = findEvent(13)->descriptor();
    const win::EVENT_DESCRIPTOR expected{13, 0, 16, 16, 10, 7, 0x8000000000000003};
    EXPECT_EQ(0, std::memcmp(&expected, &openDocument, sizeof expected));
    static_assert(sizeof(win::EVENT_DESCRIPTOR) == 16 && offsetof(win::EVENT_DESCRIPTOR, Task) == 6 &&
                  offsetof(win::EVENT_DESCRIPTOR, Keyword) == 8);
}

// Guards against a table edit that leaves an event naming a task, opcode, level or keyword the
// manifest lacks, a duplicate id, or a channel bit that disagrees with the channel.
TEST(PerfManifest, EveryEventNamesWhatTheManifestDeclares)
{
    std::set<unsigned> ids;
    std::uint64_t namedKeywords = 0;
    for (const NamedValue& keyword : kKeywords)
        namedKeywords |= keyword.value;
    for (const EventInfo& event : kEvents) {
        SCOPED_TRACE(event.id);
        EXPECT_TRUE(ids.insert(event.id).second);
        EXPECT_FALSE(nameOf(kTasks, event.task).empty());
        EXPECT_FALSE(nameOf(kOpcodes, event.opcode).empty());
        EXPECT_FALSE(nameOf(kLevels, event.level).empty());
        EXPECT_EQ(event.channel == kPerformanceChannel, (event.keywords & kPerformanceChannelKeyword) != 0);
        EXPECT_EQ(0u, event.keywords & ~namedKeywords & ~kPerformanceChannelKeyword);
        for (const FieldInfo& field : event.fields)
            EXPECT_FALSE(field.name.empty());
    }
    // The eight events that other modules write: declared, without a writer here.
    for (std::uint16_t id = 25; id <= 32; ++id) {
        ASSERT_NE(nullptr, findEvent(id));
        EXPECT_TRUE(findEvent(id)->writer.empty());
        EXPECT_EQ(17, findEvent(id)->level);
    }
    EXPECT_EQ(0x8000000000000000u, findEvent(31)->keywords);

    // Map texts are numbered in the order the maps and their entries are listed.
    EXPECT_EQ(0xD0000001u, kDocLockMode.firstMessageId);
    EXPECT_EQ(kDocLockMode.firstMessageId + kDocLockMode.entries.size(), kRenderType.firstMessageId);
    EXPECT_EQ(0xD000000Eu, kRenderType.firstMessageId + kRenderType.entries.size() - 1);
    EXPECT_EQ(0xF0000004u, kFailedToSkipReason.firstMessageId + kFailedToSkipReason.entries.size() - 1);
}

} // namespace
