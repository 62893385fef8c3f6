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
    const char* call; // the call as written below
    std::function<void()> write;
    unsigned id; // 0: nothing may be written
    std::vector<std::string> payload;
};

// Test names and failure messages show the call, not the case's bytes.
void PrintTo(const WriterCase& writerCase, std::ostream* out)
{
    *out << writerCase.call;
}

// clang-format off
#define OX_ROW(id, call, ...) {#call, [] { call; }, id, {__VA_ARGS__}}
// A writer whose last argument picks its begin event (`id`, true) or its end event (`id` + 1).
#define OX_BEGIN_END(id, writer) OX_ROW(id, writer(true)), OX_ROW(id + 1, writer(false))
#define OX_BEGIN_END_WITH(id, writer, argument, field) \
    OX_ROW(id, writer(argument, true), field), OX_ROW(id + 1, writer(argument, false), field)

const WriterCase kWriterCases[] = {
    OX_ROW(1, PerfLog_WriteReadDrawingEvent(u"a.oxd", true), wideBytes(u"a.oxd")),
    OX_ROW(2, PerfLog_WriteReadDrawingEvent(nullptr, false), wideBytes(u"")),
    OX_BEGIN_END(3, PerfLog_WriteOxApAppInitEvent),
    OX_BEGIN_END(5, PerfLog_WriteOrkaAppInitInstanceEvent),
    OX_BEGIN_END_WITH(7, PerfLog_WriteObjectRecordInEvent, kClass, valueBytes(kClass)),
    OX_ROW(9, PerfLog_WriteOxGiDrawableViewportDrawEvent(kClass, true), valueBytes(kClass)),
    OX_ROW(10, PerfLog_WriteOxGiDrawableViewportDrawEvent(nullptr, false), valueBytes<const void*>(nullptr)),
    OX_BEGIN_END_WITH(11, PerfLog_WriteLoadModuleEvent, u"oxgs.dll", wideBytes(u"oxgs.dll")),
    // A five-character name is one field of 12 bytes.
    OX_BEGIN_END_WITH(13, PerfLog_WriteOpenDocumentEvent, u"plan1", wideBytes(u"plan1")),
    OX_ROW(15, PerfLog_WriteStartCommandEvent(u"LINE"), wideBytes(u"LINE")),
    OX_ROW(16, PerfLog_WriteEndCommandEvent(u"LINE"), wideBytes(u"LINE")),
    OX_BEGIN_END(17, PerfLog_WriteBindToCLREvent),
    OX_BEGIN_END(19, PerfLog_WriteInitFontCacheEvent),
    OX_BEGIN_END(21, PerfLog_WriteMdApplicationFrameInitializeEvent),
    OX_BEGIN_END(23, PerfLog_WriteMdApplicationFrameCreateInstanceEvent),
    OX_BEGIN_END_WITH(33, PerfLog_WriteLoadResourceEvent, u"menu", wideBytes(u"menu")),
    OX_ROW(37, PerfLog_WriteOxRxClassLifetimeEvent(kClass, u"OxDbLine", true), valueBytes(kClass), wideBytes(u"OxDbLine")),
    OX_ROW(38, PerfLog_WriteOxRxClassLifetimeEvent(kClass, nullptr, false), valueBytes(kClass), wideBytes(u"")),
    OX_ROW(39, PerfLog_WriteSysvarListEntryEvent(u"OSMODE", u"4133"), wideBytes(u"OSMODE"), wideBytes(u"4133")),
    OX_BEGIN_END_WITH(40, PerfLog_WriteFiberSwitchEvent, kPointer, valueBytes(kPointer)),
    OX_ROW(42, PerfLog_WriteDocLockEvent(kLock, 32, u"ERASE", true), valueBytes(kLock), valueBytes(32), wideBytes(u"ERASE"), valueBytes(true)),
    OX_ROW(42, PerfLog_WriteDocLockEvent(kLock, -1, nullptr, false), valueBytes(kLock), valueBytes(-1), wideBytes(u""), valueBytes(false)),
    OX_ROW(43, PerfLog_WriteDocUnlockEvent(kLock), valueBytes(kLock)),
    OX_ROW(44, PerfLog_WriteDocLockErrorEvent(kLock, 46), valueBytes(kLock), valueBytes(46)),
    OX_ROW(45, PerfLog_WriteAssertEvent(u"x != 0"), wideBytes(u"x != 0")),
    OX_BEGIN_END(46, PerfLog_WriteBolLifetimeEvent),
    OX_BEGIN_END(48, PerfLog_WriteBolNotifyEvent),
    OX_ROW(52, PerfLog_WriteSlaveCreatedEvent(0x7FFFFFFF), valueBytes(0x7FFFFFFF)),
    OX_ROW(53, PerfLog_WriteSlaveReadyEvent()),
    OX_BEGIN_END_WITH(54, PerfLog_WriteOpenDrawingMessageEvent, u"b.oxd", wideBytes(u"b.oxd")),
    OX_BEGIN_END(56, PerfLog_WriteRegenInstanceMessageEvent),
    OX_BEGIN_END(58, PerfLog_WriteRegenInstanceCompleteMessageEvent),
    OX_ROW(62, PerfLog_WriteNimbusAccessEvent()),
    OX_ROW(63, PerfLog_WriteNimbusCreatedEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(64, PerfLog_WriteNimbusDestroyedEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(65, PerfLog_WriteHardNimbusAccessEvent()),
    OX_ROW(66, PerfLog_WriteHardNimbusCreatedEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(67, PerfLog_WriteHardNimbusDestroyedEvent(kPointer), valueBytes(kPointer)),
    OX_BEGIN_END(74, PerfLog_WriteDeviceUpdateEvent),
    OX_BEGIN_END_WITH(76, PerfLog_WriteViewUpdateEvent, 3, valueBytes(3)),
    OX_BEGIN_END_WITH(82, PerfLog_WriteModelTraversalEvent, 6, valueBytes(6)),
    OX_ROW(84, PerfLog_WriteInvalidateTraversalEvent()),
    OX_ROW(85, PerfLog_WriteFailedToSkipTraversalEvent(5), valueBytes(5)),
    OX_ROW(86, PerfLog_WriteGsxMainThreadParameteredEvent(u"main"), wideBytes(u"main")),
    OX_ROW(87, PerfLog_WriteGsxDrawThreadParameteredEvent(u"draw"), wideBytes(u"draw")),
    OX_ROW(88, PerfLog_WriteGsxRegenThreadParameteredEvent(u"regen"), wideBytes(u"regen")),
    OX_ROW(89, PerfLog_WriteGsxSceneGraphThreadParameteredEvent(nullptr), wideBytes(u"")),
    OX_BEGIN_END_WITH(90, PerfLog_WriteOxGiDrawableWorldDrawEvent, kClass, valueBytes(kClass)),
    OX_BEGIN_END(93, PerfLog_WriteGsxTesselateFillEvent),
    OX_BEGIN_END(95, PerfLog_WriteRestoreAcisEntitiesEvent),
    OX_BEGIN_END(97, PerfLog_WriteGetFacePolygonsEvent),
    OX_BEGIN_END(99, PerfLog_WriteSolidShellEvent),
    OX_BEGIN_END(101, PerfLog_WriteTRegenAllEvent),
    OX_BEGIN_END(103, PerfLog_WriteInitializeCurrentViewportEvent),
    OX_ROW(105, PerfLog_WriteAddRenderNodeEvent(2, 4096), valueBytes(2), valueBytes(4096)),
    OX_ROW(106, PerfLog_WriteRemoveRenderNodeEvent(2), valueBytes(2)),
    OX_ROW(107, PerfLog_WriteChangeRenderNodeEvent(2, 0xFFFFFFFFu), valueBytes(2), valueBytes(0xFFFFFFFFu)),
    OX_ROW(108, PerfLog_WriteAddDelayedChangePacketEvent(7), valueBytes(7)),
    OX_ROW(111, PerfLog_WriteQueuePacketQueueEvent(kPointer, "regen", 12), valueBytes(kPointer), narrowBytes("regen"), valueBytes(12)),
    OX_ROW(112, PerfLog_WriteInvalidateGsNodeEvent(0x80000000u), valueBytes(0x80000000u)),
    OX_ROW(113, PerfLog_WriteQueueDrawThreadRequestEvent(kPointer, nullptr), valueBytes(kPointer), narrowBytes("")),
    OX_ROW(114, PerfLog_WriteProcessedDrawThreadRequestEvent(kPointer, "caf\xe9"), valueBytes(kPointer), narrowBytes("caf\xe9")),
    OX_ROW(164, PerfLog_WriteSaveToCloudEvent(u"c.oxd", true, true), wideBytes(u"c.oxd"), valueBytes(true)),
    OX_ROW(165, PerfLog_WriteSaveToCloudEvent(u"c.oxd", false, false), wideBytes(u"c.oxd"), valueBytes(false)),
    OX_ROW(166, PerfLog_WriteDispatchInputEvent(0x100, true), valueBytes(0x100u)),
    OX_ROW(0, PerfLog_WriteDispatchInputEvent(0x100, false)),
    OX_ROW(200, PerfLog_WriteInvokeCommandEvent(u"_LINE 0,0", 5), wideBytes(u"_LINE 0,0"), valueBytes(5)),
    OX_ROW(201, PerfLog_WriteRetrieveCommandTokenEvent(5005, u"10,10"), valueBytes(5005), wideBytes(u"10,10")),
    OX_ROW(202, PerfLog_WriteCommandCancelledEvent(u"LINE"), wideBytes(u"LINE")),
    OX_ROW(203, PerfLog_WriteCommandFailedEvent(u"LINE"), wideBytes(u"LINE")),
    OX_ROW(204, PerfLog_WriteSetLispCoroutineStateEvent(-3), valueBytes(-3)),
    OX_ROW(205, PerfLog_WriteInvokeLispEvent(u"c:go", u"(go)"), wideBytes(u"c:go"), wideBytes(u"(go)")),
    OX_ROW(206, PerfLog_WriteStartDocEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(207, PerfLog_WriteEndDocEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(208, PerfLog_WriteDocActivatedEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(209, PerfLog_WriteActivateDoc(kPointer, 9, u"ok"), valueBytes(kPointer), valueBytes(9), wideBytes(u"ok")),
    OX_ROW(210, PerfLog_WriteSetCurrentDocEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(211, PerfLog_WriteOnActivateDocEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(212, PerfLog_WriteCommandThroatEvent(true)),
    OX_ROW(215, PerfLog_WriteCommandThroatEvent(false)),
    OX_ROW(213, PerfLog_WriteStuffCommandThroatEvent(u"\U0001F600"), wideBytes(u"\U0001F600")),
    OX_ROW(214, PerfLog_WriteCommandThroatSelectDeviceEvent(u"device"), wideBytes(u"device")),
    OX_BEGIN_END(216, PerfLog_WriteMessageLoopEvent),
    OX_ROW(218, PerfLog_WritePointCloudLoadingStartEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(219, PerfLog_WritePointCloudLoadingCompletedEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(220, PerfLog_WritePointCloudThreadStartEvent(kPointer), valueBytes(kPointer)),
    OX_ROW(221, PerfLog_WritePointCloudThreadStopEvent(kPointer), valueBytes(kPointer)),
};
// clang-format on

std::string_view functionOf(const char* call)
{
    const std::string_view text = call;
    return text.substr(0, text.find('('));
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
        EXPECT_TRUE(fitsType(info->payload[i].type, event.fields[i]))
            << "field " << info->payload[i].name << " of " << event.fields[i].size() << " bytes";
    EXPECT_EQ(writerCase.payload, event.fields);
}

INSTANTIATE_TEST_SUITE_P(EveryWriter, PerfLogWriter, ::testing::ValuesIn(kWriterCases),
                         [](const ::testing::TestParamInfo<WriterCase>& info) { // after "PerfLog_Write"
                             return std::to_string(info.index) + "_" +
                                    std::string(functionOf(info.param.call).substr(13));
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
