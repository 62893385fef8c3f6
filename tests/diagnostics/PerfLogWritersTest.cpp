// tests/diagnostics/PerfLogWritersTest.cpp
// Every writer against the manifest: a row per call, checked for its event, descriptor and payload.

#include <oxfirst/PerfLog.h>

#include "diagnostics/PerfManifest.h"
#include "support/TraceRecorder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>

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
// Rows name the writer without its prefix "PerfLog_Write".
#define OX_CASE(which, call, ...) {"PerfLog_Write" #call, [] { PerfLog_Write##call; }, which, {__VA_ARGS__}}
#define OX_ROW(call, ...) OX_CASE(0, call, __VA_ARGS__)
#define OX_SECOND(call, ...) OX_CASE(1, call, __VA_ARGS__)
#define OX_VALUE(writer, value) OX_ROW(writer(value), valueBytes(value))
#define OX_TEXT(writer, text) OX_ROW(writer(text), wideBytes(text))
// A writer whose last argument picks its first event (true) or its second (false).
#define OX_PAIR(writer) OX_ROW(writer(true)), OX_SECOND(writer(false))
#define OX_PAIR_WITH(writer, argument, field) OX_ROW(writer(argument, true), field), OX_SECOND(writer(argument, false), field)
#define OX_PAIR_VALUE(writer, value) OX_PAIR_WITH(writer, value, valueBytes(value))
#define OX_PAIR_TEXT(writer, text) OX_PAIR_WITH(writer, text, wideBytes(text))

const WriterCase kWriterCases[] = {
    OX_ROW(ReadDrawingEvent(u"a.oxd", true), wideBytes(u"a.oxd")),
    OX_SECOND(ReadDrawingEvent(nullptr, false), wideBytes(u"")), OX_PAIR(OxApAppInitEvent),
    OX_PAIR(OrkaAppInitInstanceEvent), OX_PAIR_VALUE(ObjectRecordInEvent, kClass),
    OX_ROW(OxGiDrawableViewportDrawEvent(kClass, true), valueBytes(kClass)),
    OX_SECOND(OxGiDrawableViewportDrawEvent(nullptr, false), valueBytes<const void*>(nullptr)),
    OX_PAIR_TEXT(LoadModuleEvent, u"oxgs.dll"), OX_PAIR_TEXT(OpenDocumentEvent, u"plan1"),
    OX_TEXT(StartCommandEvent, u"LINE"), OX_TEXT(EndCommandEvent, u"LINE"), OX_PAIR(BindToCLREvent),
    OX_PAIR(InitFontCacheEvent), OX_PAIR(MdApplicationFrameInitializeEvent),
    OX_PAIR(MdApplicationFrameCreateInstanceEvent), OX_PAIR_TEXT(LoadResourceEvent, u"menu"),
    OX_ROW(OxRxClassLifetimeEvent(kClass, u"OxDbLine", true), valueBytes(kClass), wideBytes(u"OxDbLine")),
    OX_SECOND(OxRxClassLifetimeEvent(kClass, nullptr, false), valueBytes(kClass), wideBytes(u"")),
    OX_ROW(SysvarListEntryEvent(u"OSMODE", u"4133"), wideBytes(u"OSMODE"), wideBytes(u"4133")),
    OX_PAIR_VALUE(FiberSwitchEvent, kPointer),
    OX_ROW(DocLockEvent(kLock, 32, u"ERASE", true), valueBytes(kLock), valueBytes(32), wideBytes(u"ERASE"), valueBytes(true)),
    OX_ROW(DocLockEvent(kLock, -1, nullptr, false), valueBytes(kLock), valueBytes(-1), wideBytes(u""), valueBytes(false)),
    OX_VALUE(DocUnlockEvent, kLock), OX_ROW(DocLockErrorEvent(kLock, 46), valueBytes(kLock), valueBytes(46)),
    OX_TEXT(AssertEvent, u"x != 0"), OX_PAIR(BolLifetimeEvent), OX_PAIR(BolNotifyEvent),
    OX_VALUE(SlaveCreatedEvent, 0x7FFFFFFF), OX_ROW(SlaveReadyEvent()),
    OX_PAIR_TEXT(OpenDrawingMessageEvent, u"b.oxd"), OX_PAIR(RegenInstanceMessageEvent),
    OX_PAIR(RegenInstanceCompleteMessageEvent), OX_ROW(NimbusAccessEvent()), OX_ROW(HardNimbusAccessEvent()),
    OX_VALUE(NimbusCreatedEvent, kPointer), OX_VALUE(NimbusDestroyedEvent, kPointer),
    OX_VALUE(HardNimbusCreatedEvent, kPointer), OX_VALUE(HardNimbusDestroyedEvent, kPointer),
    OX_PAIR(DeviceUpdateEvent), OX_PAIR_VALUE(ViewUpdateEvent, 3), OX_PAIR_VALUE(ModelTraversalEvent, 6),
    OX_ROW(InvalidateTraversalEvent()), OX_VALUE(FailedToSkipTraversalEvent, 5),
    OX_TEXT(GsxMainThreadParameteredEvent, u"main"), OX_TEXT(GsxDrawThreadParameteredEvent, u"draw"),
    OX_TEXT(GsxRegenThreadParameteredEvent, u"regen"),
    OX_ROW(GsxSceneGraphThreadParameteredEvent(nullptr), wideBytes(u"")),
    OX_PAIR_VALUE(OxGiDrawableWorldDrawEvent, kClass), OX_PAIR(GsxTesselateFillEvent),
    OX_PAIR(RestoreAcisEntitiesEvent), OX_PAIR(GetFacePolygonsEvent), OX_PAIR(SolidShellEvent),
    OX_PAIR(TRegenAllEvent), OX_PAIR(InitializeCurrentViewportEvent),
    OX_ROW(AddRenderNodeEvent(2, 4096), valueBytes(2), valueBytes(4096)), OX_VALUE(RemoveRenderNodeEvent, 2),
    OX_ROW(ChangeRenderNodeEvent(2, 0xFFFFFFFFu), valueBytes(2), valueBytes(0xFFFFFFFFu)),
    OX_VALUE(AddDelayedChangePacketEvent, 7),
    OX_ROW(QueuePacketQueueEvent(kPointer, "regen", 12), valueBytes(kPointer), narrowBytes("regen"), valueBytes(12)),
    OX_VALUE(InvalidateGsNodeEvent, 0x80000000u),
    OX_ROW(QueueDrawThreadRequestEvent(kPointer, nullptr), valueBytes(kPointer), narrowBytes("")),
    OX_ROW(ProcessedDrawThreadRequestEvent(kPointer, "caf\xe9"), valueBytes(kPointer), narrowBytes("caf\xe9")),
    OX_ROW(SaveToCloudEvent(u"c.oxd", true, true), wideBytes(u"c.oxd"), valueBytes(true)),
    OX_SECOND(SaveToCloudEvent(u"c.oxd", false, false), wideBytes(u"c.oxd"), valueBytes(false)),
    OX_ROW(DispatchInputEvent(0x100, true), valueBytes(0x100u)),
    OX_CASE(-1, DispatchInputEvent(0x100, false)),
    OX_ROW(InvokeCommandEvent(u"_LINE 0,0", 5), wideBytes(u"_LINE 0,0"), valueBytes(5)),
    OX_ROW(RetrieveCommandTokenEvent(5005, u"10,10"), valueBytes(5005), wideBytes(u"10,10")),
    OX_TEXT(CommandCancelledEvent, u"LINE"), OX_TEXT(CommandFailedEvent, u"LINE"),
    OX_VALUE(SetLispCoroutineStateEvent, -3),
    OX_ROW(InvokeLispEvent(u"c:go", u"(go)"), wideBytes(u"c:go"), wideBytes(u"(go)")),
    OX_VALUE(StartDocEvent, kPointer), OX_VALUE(EndDocEvent, kPointer), OX_VALUE(DocActivatedEvent, kPointer),
    OX_ROW(ActivateDoc(kPointer, 9, u"ok"), valueBytes(kPointer), valueBytes(9), wideBytes(u"ok")),
    OX_VALUE(SetCurrentDocEvent, kPointer), OX_VALUE(OnActivateDocEvent, kPointer),
    OX_ROW(CommandThroatEvent(true)), OX_SECOND(CommandThroatEvent(false)),
    OX_TEXT(StuffCommandThroatEvent, u"\U0001F600"), OX_TEXT(CommandThroatSelectDeviceEvent, u"device"),
    OX_PAIR(MessageLoopEvent), OX_VALUE(PointCloudLoadingStartEvent, kPointer),
    OX_VALUE(PointCloudLoadingCompletedEvent, kPointer), OX_VALUE(PointCloudThreadStartEvent, kPointer),
    OX_VALUE(PointCloudThreadStopEvent, kPointer),
    // A text longer than the system takes is dropped whole; one just under the limit arrives intact.
    OX_CASE(-1, AssertEvent(std::u16string(win::MAX_EVENT_PAYLOAD_SIZE / 2, u'y').c_str())),
    OX_TEXT(AssertEvent, std::u16string(win::MAX_EVENT_PAYLOAD_SIZE / 2 - 1, u'x').c_str()),
};
// clang-format on

// The manifest's events of the writer `call` calls, in the order of their ids.
std::vector<const EventInfo*> eventsOf(std::string_view call)
{
    std::vector<const EventInfo*> events;
    for (const EventInfo& event : kEvents)
        if (event.writer == call.substr(0, call.find('(')))
            events.push_back(&event);
    return events;
}

// Whether a field of that many bytes can carry a value of `type` (texts whole and terminated).
bool fitsType(FieldType type, const std::string& bytes)
{
    using enum FieldType;
    const std::size_t unit = type == kUnicodeString ? 2 : 1, n = bytes.size();
    if (type == kUnicodeString || type == kAnsiString)
        return n >= unit && n % unit == 0 && bytes.ends_with(std::string(unit, '\0'));
    return n == (type == kPointer ? 8u : type == kBoolean ? 1u : 4u); // int32, uint32
}

class PerfLogWriter : public ::testing::TestWithParam<WriterCase> {};

// Guards against another event than the bool selects or another writer's, a descriptor off in any
// byte, fields missing, added, reordered or sized against their type, texts without terminator.
TEST_P(PerfLogWriter, SendsItsEventWithManifestDescriptorAndPayload)
{
    const WriterCase& writerCase = GetParam();
    TraceRecorder session(kProviderId);
    writerCase.write();
    const std::vector<RecordedEvent> events = session.events();
    ASSERT_EQ(writerCase.which < 0 ? 0u : 1u, events.size());
    if (writerCase.which < 0)
        return;
    const EventInfo& info = *eventsOf(writerCase.call).at(writerCase.which);
    const win::EVENT_DESCRIPTOR expected = info.descriptor();
    EXPECT_EQ(0, std::memcmp(&expected, &events[0].descriptor, sizeof expected)) << events[0].descriptor.Id;

    ASSERT_EQ(info.payload.size(), events[0].fields.size());
    for (std::size_t i = 0; i < events[0].fields.size(); ++i)
        EXPECT_TRUE(fitsType(info.payload[i].type, events[0].fields[i])) << info.payload[i].name;
    EXPECT_EQ(writerCase.payload, events[0].fields);
}

INSTANTIATE_TEST_SUITE_P(EveryWriter, PerfLogWriter, ::testing::ValuesIn(kWriterCases));

// Guards against an event naming a task, opcode, level or keyword the manifest lacks, a duplicate id,
// a channel bit that disagrees with the channel, and a writer's event the table above forgets.
TEST(PerfManifest, EveryEventNamesWhatTheManifestDeclaresAndHasARowIfWritten)
{
    std::set<const EventInfo*> covered;
    for (const WriterCase& writerCase : kWriterCases)
        if (writerCase.which >= 0)
            covered.insert(eventsOf(writerCase.call).at(writerCase.which));
    std::set<unsigned> ids;
    std::uint64_t namedKeywords = 0;
    for (const NamedValue& keyword : kKeywords)
        namedKeywords |= keyword.value;
    for (const EventInfo& event : kEvents) {
        SCOPED_TRACE(event.id);
        EXPECT_TRUE(ids.insert(event.id).second);
        EXPECT_FALSE(nameOf(kTasks, event.task).empty() || nameOf(kOpcodes, event.opcode).empty() ||
                     nameOf(kLevels, event.level).empty());
        EXPECT_EQ(event.channel == kPerformanceChannel, (event.keywords & kPerformanceChannelKeyword) != 0);
        EXPECT_EQ(0u, event.keywords & ~namedKeywords & ~kPerformanceChannelKeyword);
        for (const FieldInfo& field : event.fields)
            EXPECT_FALSE(field.name.empty());
        EXPECT_TRUE(event.writer.empty() || covered.count(&event)) << event.writer;
    }
}

} // namespace
