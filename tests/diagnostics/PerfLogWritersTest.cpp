// tests/diagnostics/PerfLogWritersTest.cpp
// Every writer against the manifest data: one table row per writer call (each bool of a pair,
// null texts, the call that writes nothing), each checked for the event it sends, taken from the
// manifest by the writer's name, that event's descriptor, and its payload field by field: the
// bytes the arguments must become, in the sizes the manifest's field types require.

#include <oxfirst/PerfLog.h>

#include "diagnostics/PerfManifest.h"
#include "support/TraceRecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <string>

namespace {

using namespace oxperf;

const auto* const kClass = reinterpret_cast<const OxRxClass*>(std::uintptr_t{0x1122334455667788});
const auto* const kLock = reinterpret_cast<const OxDbImpLock*>(std::uintptr_t{0x10});
void* const kPointer = reinterpret_cast<void*>(std::uintptr_t{0xFEDCBA9876543210});

struct WriterCase {
    const char* call; // the call as written below
    std::function<void()> write;
    int which; // the index of the event sent among the writer's events in the manifest; -1: none
    std::vector<std::string> payload;
};

// Test names and failure messages show the call, not the case's bytes.
void PrintTo(const WriterCase& writerCase, std::ostream* out)
{
    *out << writerCase.call;
}

// clang-format off
#define OX_ROW(call, ...) {#call, [] { call; }, 0, {__VA_ARGS__}}
#define OX_SECOND(call, ...) {#call, [] { call; }, 1, {__VA_ARGS__}}
#define OX_NOTHING(call) {#call, [] { call; }, -1, {}}
// A writer whose last argument picks its first event (true) or its second (false).
#define OX_PAIR(writer) OX_ROW(writer(true)), OX_SECOND(writer(false))
#define OX_PAIR_WITH(writer, argument, field) OX_ROW(writer(argument, true), field), OX_SECOND(writer(argument, false), field)

const WriterCase kWriterCases[] = {
    OX_ROW(PerfLog_WriteReadDrawingEvent(u"a.oxd", true), wideBytes(u"a.oxd")),
    OX_SECOND(PerfLog_WriteReadDrawingEvent(nullptr, false), wideBytes(u"")),
    OX_PAIR(PerfLog_WriteOxApAppInitEvent),
    OX_PAIR(PerfLog_WriteOrkaAppInitInstanceEvent),
    OX_PAIR_WITH(PerfLog_WriteObjectRecordInEvent, kClass, valueBytes(kClass)),
    OX_ROW(PerfLog_WriteOxGiDrawableViewportDrawEvent(kClass, true), valueBytes(kClass)),
    OX_SECOND(PerfLog_WriteOxGiDrawableViewportDrawEvent(nullptr, false), valueBytes<const void*>(nullptr)),
    OX_PAIR_WITH(PerfLog_WriteLoadModuleEvent, u"oxgs.dll", wideBytes(u"oxgs.dll")),
    // A five-character name is one field of 12 bytes.
    OX_PAIR_WITH(PerfLog_WriteOpenDocumentEvent, u"plan1", wideBytes(u"plan1")),
    OX_ROW(PerfLog_WriteStartCommandEvent(u"LINE"), wideBytes(u"LINE")),
    OX_ROW(PerfLog_WriteEndCommandEvent(u"LINE"), wideBytes(u"LINE")),
    OX_PAIR(PerfLog_WriteBindToCLREvent),
    OX_PAIR(PerfLog_WriteInitFontCacheEvent),
    OX_PAIR(PerfLog_WriteMdApplicationFrameInitializeEvent),
    OX_PAIR(PerfLog_WriteMdApplicationFrameCreateInstanceEvent),
    OX_PAIR_WITH(PerfLog_WriteLoadResourceEvent, u"menu", wideBytes(u"menu")),
    OX_ROW(PerfLog_WriteOxRxClassLifetimeEvent(kClass, u"OxDbLine", true), valueBytes(kClass), wideBytes(u"OxDbLine")),
    OX_SECOND(PerfLog_WriteOxRxClassLifetimeEvent(kClass, nullptr, false), valueBytes(kClass), wideBytes(u"")),
    OX_ROW(PerfLog_WriteSysvarListEntryEvent(u"OSMODE", u"4133"), wideBytes(u"OSMODE"), wideBytes(u"4133")),
    OX_PAIR_WITH(PerfLog_WriteFiberSwitchEvent, kPointer, valueBytes(kPointer)),
    OX_ROW(PerfLog_WriteDocLockEvent(kLock, 32, u"ERASE", true), valueBytes(kLock), valueBytes(32), wideBytes(u"ERASE"), valueBytes(true)),
    OX_ROW(PerfLog_WriteDocLockEvent(kLock, -1, nullptr, false), valueBytes(kLock), valueBytes(-1), wideBytes(u""), valueBytes(false)),
    OX_ROW(PerfLog_WriteDocUnlockEvent(kLock), valueBytes(kLock)),
    OX_ROW(PerfLog_WriteDocLockErrorEvent(kLock, 46), valueBytes(kLock), valueBytes(46)),
    OX_ROW(PerfLog_WriteAssertEvent(u"x != 0"), wideBytes(u"x != 0")),
    OX_PAIR(PerfLog_WriteBolLifetimeEvent),
    OX_PAIR(PerfLog_WriteBolNotifyEvent),
    OX_ROW(PerfLog_WriteSlaveCreatedEvent(0x7FFFFFFF), valueBytes(0x7FFFFFFF)),
    OX_ROW(PerfLog_WriteSlaveReadyEvent()),
    OX_PAIR_WITH(PerfLog_WriteOpenDrawingMessageEvent, u"b.oxd", wideBytes(u"b.oxd")),
    OX_PAIR(PerfLog_WriteRegenInstanceMessageEvent),
    OX_PAIR(PerfLog_WriteRegenInstanceCompleteMessageEvent),
    OX_ROW(PerfLog_WriteNimbusAccessEvent()),
    OX_ROW(PerfLog_WriteNimbusCreatedEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(PerfLog_WriteNimbusDestroyedEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(PerfLog_WriteHardNimbusAccessEvent()),
    OX_ROW(PerfLog_WriteHardNimbusCreatedEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(PerfLog_WriteHardNimbusDestroyedEvent(kPointer), valueBytes(kPointer)),
    OX_PAIR(PerfLog_WriteDeviceUpdateEvent),
    OX_PAIR_WITH(PerfLog_WriteViewUpdateEvent, 3, valueBytes(3)),
    OX_PAIR_WITH(PerfLog_WriteModelTraversalEvent, 6, valueBytes(6)),
    OX_ROW(PerfLog_WriteInvalidateTraversalEvent()),
    OX_ROW(PerfLog_WriteFailedToSkipTraversalEvent(5), valueBytes(5)),
    OX_ROW(PerfLog_WriteGsxMainThreadParameteredEvent(u"main"), wideBytes(u"main")),
    OX_ROW(PerfLog_WriteGsxDrawThreadParameteredEvent(u"draw"), wideBytes(u"draw")),
    OX_ROW(PerfLog_WriteGsxRegenThreadParameteredEvent(u"regen"), wideBytes(u"regen")),
    OX_ROW(PerfLog_WriteGsxSceneGraphThreadParameteredEvent(nullptr), wideBytes(u"")),
    OX_PAIR_WITH(PerfLog_WriteOxGiDrawableWorldDrawEvent, kClass, valueBytes(kClass)),
    OX_PAIR(PerfLog_WriteGsxTesselateFillEvent),
    OX_PAIR(PerfLog_WriteRestoreAcisEntitiesEvent),
    OX_PAIR(PerfLog_WriteGetFacePolygonsEvent),
    OX_PAIR(PerfLog_WriteSolidShellEvent),
    OX_PAIR(PerfLog_WriteTRegenAllEvent),
    OX_PAIR(PerfLog_WriteInitializeCurrentViewportEvent),
    OX_ROW(PerfLog_WriteAddRenderNodeEvent(2, 4096), valueBytes(2), valueBytes(4096)),
    OX_ROW(PerfLog_WriteRemoveRenderNodeEvent(2), valueBytes(2)),
    OX_ROW(PerfLog_WriteChangeRenderNodeEvent(2, 0xFFFFFFFFu), valueBytes(2), valueBytes(0xFFFFFFFFu)),
    OX_ROW(PerfLog_WriteAddDelayedChangePacketEvent(7), valueBytes(7)),
    OX_ROW(PerfLog_WriteQueuePacketQueueEvent(kPointer, "regen", 12), valueBytes(kPointer), narrowBytes("regen"), valueBytes(12)),
    OX_ROW(PerfLog_WriteInvalidateGsNodeEvent(0x80000000u), valueBytes(0x80000000u)),
    OX_ROW(PerfLog_WriteQueueDrawThreadRequestEvent(kPointer, nullptr), valueBytes(kPointer), narrowBytes("")),
    OX_ROW(PerfLog_WriteProcessedDrawThreadRequestEvent(kPointer, "caf\xe9"), valueBytes(kPointer), narrowBytes("caf\xe9")),
    OX_ROW(PerfLog_WriteSaveToCloudEvent(u"c.oxd", true, true), wideBytes(u"c.oxd"), valueBytes(true)),
    OX_SECOND(PerfLog_WriteSaveToCloudEvent(u"c.oxd", false, false), wideBytes(u"c.oxd"), valueBytes(false)),
    OX_ROW(PerfLog_WriteDispatchInputEvent(0x100, true), valueBytes(0x100u)),
    OX_NOTHING(PerfLog_WriteDispatchInputEvent(0x100, false)),
    OX_ROW(PerfLog_WriteInvokeCommandEvent(u"_LINE 0,0", 5), wideBytes(u"_LINE 0,0"), valueBytes(5)),
    OX_ROW(PerfLog_WriteRetrieveCommandTokenEvent(5005, u"10,10"), valueBytes(5005), wideBytes(u"10,10")),
    OX_ROW(PerfLog_WriteCommandCancelledEvent(u"LINE"), wideBytes(u"LINE")),
    OX_ROW(PerfLog_WriteCommandFailedEvent(u"LINE"), wideBytes(u"LINE")),
    OX_ROW(PerfLog_WriteSetLispCoroutineStateEvent(-3), valueBytes(-3)),
    OX_ROW(PerfLog_WriteInvokeLispEvent(u"c:go", u"(go)"), wideBytes(u"c:go"), wideBytes(u"(go)")),
    OX_ROW(PerfLog_WriteStartDocEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(PerfLog_WriteEndDocEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(PerfLog_WriteDocActivatedEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(PerfLog_WriteActivateDoc(kPointer, 9, u"ok"), valueBytes(kPointer), valueBytes(9), wideBytes(u"ok")),
    OX_ROW(PerfLog_WriteSetCurrentDocEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(PerfLog_WriteOnActivateDocEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(PerfLog_WriteCommandThroatEvent(true)),
    OX_SECOND(PerfLog_WriteCommandThroatEvent(false)),
    OX_ROW(PerfLog_WriteStuffCommandThroatEvent(u"\U0001F600"), wideBytes(u"\U0001F600")),
    OX_ROW(PerfLog_WriteCommandThroatSelectDeviceEvent(u"device"), wideBytes(u"device")),
    OX_PAIR(PerfLog_WriteMessageLoopEvent),
    OX_ROW(PerfLog_WritePointCloudLoadingStartEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(PerfLog_WritePointCloudLoadingCompletedEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(PerfLog_WritePointCloudThreadStartEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(PerfLog_WritePointCloudThreadStopEvent(kPointer), valueBytes(kPointer)),
};
// clang-format on

std::string_view functionOf(const char* call)
{
    const std::string_view text = call;
    return text.substr(0, text.find('('));
}

// The manifest's events that name `writer`, in the order of their ids.
std::vector<const EventInfo*> eventsOf(std::string_view writer)
{
    std::vector<const EventInfo*> events;
    for (const EventInfo& event : kEvents)
        if (event.writer == writer)
            events.push_back(&event);
    return events;
}

// Whether a field of that many bytes can carry a value of `type` (texts with their terminator).
bool fitsType(FieldType type, const std::string& bytes)
{
    switch (type) {
    case FieldType::kUnicodeString:
        return bytes.size() >= 2 && bytes.size() % 2 == 0 && bytes.ends_with(std::string(2, '\0'));
    case FieldType::kAnsiString:
        return bytes.ends_with('\0');
    case FieldType::kPointer:
        return bytes.size() == 8;
    case FieldType::kInt32:
    case FieldType::kUInt32:
        return bytes.size() == 4;
    case FieldType::kBoolean:
        return bytes.size() == 1;
    }
    return false;
}

class PerfLogWriter : public ::testing::TestWithParam<WriterCase> {};

// Guards against a writer sending another event than its bool selects or one of another writer,
// a descriptor that differs from the manifest in any of its 16 bytes, fields missing, added,
// reordered or sized against their type, and texts sent without their terminator or null texts
// sent as nothing.
TEST_P(PerfLogWriter, SendsItsEventWithManifestDescriptorAndPayload)
{
    const WriterCase& writerCase = GetParam();
    TraceRecorder session(kProviderId);
    ASSERT_TRUE(session.started());
    writerCase.write();
    const std::vector<RecordedEvent> events = session.events();
    if (writerCase.which < 0) {
        EXPECT_TRUE(events.empty());
        return;
    }
    ASSERT_EQ(1u, events.size());
    const std::vector<const EventInfo*> own = eventsOf(functionOf(writerCase.call));
    ASSERT_LT(static_cast<std::size_t>(writerCase.which), own.size());
    const EventInfo& info = *own[writerCase.which];
    const win::EVENT_DESCRIPTOR expected = info.descriptor();
    EXPECT_EQ(0, std::memcmp(&expected, &events[0].descriptor, sizeof expected)) << events[0].descriptor.Id;

    ASSERT_EQ(info.payload.size(), events[0].fields.size());
    for (std::size_t i = 0; i < events[0].fields.size(); ++i)
        EXPECT_TRUE(fitsType(info.payload[i].type, events[0].fields[i]))
            << "field " << info.payload[i].name << " of " << events[0].fields[i].size() << " bytes";
    EXPECT_EQ(writerCase.payload, events[0].fields);
}

INSTANTIATE_TEST_SUITE_P(EveryWriter, PerfLogWriter, ::testing::ValuesIn(kWriterCases),
                         [](const ::testing::TestParamInfo<WriterCase>& info) { // after "PerfLog_Write"
                             return std::to_string(info.index) + "_" +
                                    std::string(functionOf(info.param.call).substr(13));
                         });

// Guards against a writer or one of its events that the table forgets: every event with a
// writer is sent by some row.
TEST(PerfLogWriterTable, CoversEveryEventThatHasAWriter)
{
    std::set<std::pair<std::string_view, int>> rows;
    for (const WriterCase& writerCase : kWriterCases)
        rows.emplace(functionOf(writerCase.call), writerCase.which);
    for (const EventInfo& event : kEvents) {
        if (event.writer.empty())
            continue;
        const std::vector<const EventInfo*> own = eventsOf(event.writer);
        const auto which = static_cast<int>(std::find(own.begin(), own.end(), &event) - own.begin());
        EXPECT_TRUE(rows.count({event.writer, which})) << "event " << event.id << " (" << event.writer << ")";
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
}

} // namespace
