// diagnostics/TraceFile.cpp
// The trace file: a session of the library's own, started at load when OX_TRACE_FILE names a
// file, that writes each event it receives as one Chrome trace event (the JSON array format,
// which the Perfetto UI and chrome://tracing open). Start/End pairs of a task become begin/end
// slices named after the task, other events instant events named "task: opcode"; fields become
// named arguments, map values their names. The array is closed at normal exit; a file cut short
// by a crash lacks only the closing bracket, which both viewers accept.
//
// Lifetimes (of classes, documents, point-cloud loads) do not nest on one thread and may end on
// another, so their pairs become async slices keyed by the object's address instead.
//
// Events arrive on the writing threads; one lock orders them in the file. Whole events gather in
// a 64 KB buffer that goes to the file whenever an event finds the last write 20 ms old (or the
// buffer full), so a crash loses at most the events of the last 20 ms before it, and the file
// never ends inside an event except while one is being written.

#include "diagnostics/TraceFile.h"

#include "diagnostics/PerfManifest.h"
#include "platform/win.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace oxperf {
namespace {

constexpr win::ULONGLONG kFlushInterval = 20'000'000; // nanoseconds
constexpr win::ULONGLONG kEveryKeyword = ~0ull;

constinit win::CRITICAL_SECTION gLock{};
// Under gLock:
constinit std::FILE* gFile = nullptr;
constinit bool gFirstEvent = true;
constinit win::ULONGLONG gLastFlush = 0;
constinit char gBuffer[64 * 1024]{};
constinit std::size_t gBufferUsed = 0;
constinit bool gBufferOverflowed = false; // the event being formatted went to the file in part
// Set at load and cleared at exit, each on the one thread running then.
constinit win::TRACEHANDLE gSession = 0;
// The process that owns the file. A forked child inherits the session and the open file but
// writes nothing to it and leaves its end to the parent, so the file stays one valid array.
constinit win::DWORD gOwnerProcess = 0;

// ---------------------------------------------------------------------------------------------
// JSON text

// Under gLock.
void writeBuffer()
{
    if (gBufferUsed > 0)
        std::fwrite(gBuffer, 1, gBufferUsed, gFile);
    gBufferUsed = 0;
}

// Appends to gBuffer, writing it to the file when it is full. Used under gLock.
class JsonOut {
public:
    void raw(std::string_view text)
    {
        for (char c : text)
            put(c);
    }

    void quoted(std::string_view text)
    {
        put('"');
        for (char c : text)
            character(static_cast<unsigned char>(c));
        put('"');
    }

    // `units` UTF-16 units at `bytes` (not necessarily aligned) as one JSON string. An unpaired
    // surrogate, which UTF-8 cannot carry, becomes U+FFFD.
    void quotedUtf16(const unsigned char* bytes, std::size_t units)
    {
        auto unitAt = [bytes](std::size_t i) {
            OXCHAR unit;
            std::memcpy(&unit, bytes + 2 * i, sizeof unit);
            return static_cast<char32_t>(unit);
        };
        put('"');
        for (std::size_t i = 0; i < units; ++i) {
            char32_t c = unitAt(i);
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && unitAt(i + 1) >= 0xDC00 &&
                unitAt(i + 1) <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (unitAt(i + 1) - 0xDC00);
                ++i;
            } else if (c >= 0xD800 && c <= 0xDFFF) {
                c = 0xFFFD;
            }
            character(c);
        }
        put('"');
    }

    // 8-bit text of the ANSI code page as one JSON string, converted in slices that never split
    // a double-byte character.
    void quotedAnsi(const char* text, std::size_t bytes)
    {
        put('"');
        while (bytes > 0) {
            std::size_t slice = 0;
            while (slice < bytes && slice < 256)
                slice +=
                    win::IsDBCSLeadByte(static_cast<win::BYTE>(text[slice])) && slice + 1 < bytes ? 2 : 1;
            OXCHAR wide[2 * 258];
            const int units = win::MultiByteToWideChar(win::CP_ACP, 0, text, static_cast<int>(slice), wide,
                                                       static_cast<int>(std::size(wide)));
            for (int i = 0; i < units; ++i)
                character(wide[i] >= 0xD800 && wide[i] <= 0xDFFF ? 0xFFFD : wide[i]);
            text += slice;
            bytes -= slice;
        }
        put('"');
    }

    template <typename... Arguments>
    void format(const char* pattern, Arguments... arguments)
    {
        char text[64];
        const int length = std::snprintf(text, sizeof text, pattern, arguments...);
        if (length > 0)
            raw(std::string_view(text, std::min(static_cast<std::size_t>(length), sizeof text - 1)));
    }

private:
    void put(char c)
    {
        if (gBufferUsed == sizeof gBuffer) [[unlikely]] {
            writeBuffer();
            gBufferOverflowed = true;
        }
        gBuffer[gBufferUsed++] = c;
    }

    // One character as JSON string content, in UTF-8.
    void character(char32_t c)
    {
        static constexpr char kHex[] = "0123456789abcdef";
        if (c == '"' || c == '\\') {
            put('\\');
            put(static_cast<char>(c));
        } else if (c == '\n') {
            raw("\\n");
        } else if (c == '\t') {
            raw("\\t");
        } else if (c < 0x20) {
            raw("\\u00");
            put(kHex[c >> 4]);
            put(kHex[c & 0xF]);
        } else if (c < 0x80) {
            put(static_cast<char>(c));
        } else if (c < 0x800) {
            put(static_cast<char>(0xC0 | (c >> 6)));
            put(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            put(static_cast<char>(0xE0 | (c >> 12)));
            put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            put(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            put(static_cast<char>(0xF0 | (c >> 18)));
            put(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            put(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
};

// ---------------------------------------------------------------------------------------------
// One event

// The name of `value` in `table`, or `prefix` and the number when the table has none.
void writeName(JsonOut& out, std::string_view prefix, std::span<const NamedValue> table, std::uint64_t value)
{
    const std::string_view name = nameOf(table, value);
    if (name.empty()) {
        out.raw(prefix);
        out.format("%llu", static_cast<unsigned long long>(value));
    } else {
        out.raw(name);
    }
}

// A value of a value map by its name; a bit map's value as the names of its bits joined by
// " | ", with what no name covers in hex. A value without a name stays a number.
void writeMapped(JsonOut& out, const ValueMap& map, std::uint32_t value)
{
    const std::string_view exact = nameOf(map.entries, value);
    if (!exact.empty()) {
        out.quoted(exact);
        return;
    }
    if (!map.isBitMap) {
        out.format("%u", value);
        return;
    }
    out.raw("\"");
    std::uint32_t rest = value;
    const char* separator = "";
    for (const NamedValue& entry : map.entries) {
        if (entry.value == 0 || (value & entry.value) != entry.value)
            continue;
        out.raw(separator);
        out.raw(entry.name);
        rest &= ~static_cast<std::uint32_t>(entry.value);
        separator = " | ";
    }
    if (rest != 0) {
        out.raw(separator);
        out.format("0x%x", rest);
    }
    out.raw("\"");
}

// One field's value, decoded as its type says when its size fits the type; otherwise (and for a
// field the manifest does not know) its bytes in hex.
void writeFieldValue(JsonOut& out, const FieldInfo* field, const win::EVENT_DATA_DESCRIPTOR& data)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(static_cast<std::uintptr_t>(data.Ptr));
    const std::size_t size = data.Size;
    const FieldType type = field != nullptr ? field->type : FieldType::kBoolean;
    const bool known = field != nullptr;
    if (known && type == FieldType::kUnicodeString && size % 2 == 0 && size >= 2) {
        const bool terminated = bytes[size - 1] == 0 && bytes[size - 2] == 0;
        out.quotedUtf16(bytes, size / 2 - (terminated ? 1 : 0));
        return;
    }
    if (known && type == FieldType::kAnsiString && size >= 1) {
        out.quotedAnsi(reinterpret_cast<const char*>(bytes), size - (bytes[size - 1] == 0 ? 1 : 0));
        return;
    }
    if (known && type == FieldType::kPointer && size == 8) {
        std::uint64_t pointer;
        std::memcpy(&pointer, bytes, sizeof pointer);
        out.format("\"0x%llx\"", static_cast<unsigned long long>(pointer));
        return;
    }
    if (known && (type == FieldType::kInt32 || type == FieldType::kUInt32) && size == 4) {
        std::uint32_t value;
        std::memcpy(&value, bytes, sizeof value);
        if (field->map != nullptr)
            writeMapped(out, *field->map, value);
        else if (type == FieldType::kInt32)
            out.format("%d", static_cast<std::int32_t>(value));
        else
            out.format("%u", value);
        return;
    }
    if (known && type == FieldType::kBoolean && size == 1) {
        out.raw(bytes[0] != 0 ? "true" : "false");
        return;
    }
    out.raw("\"0x");
    for (std::size_t i = 0; i < size; ++i)
        out.format("%02x", bytes[i]);
    out.raw("\"");
}

// Tasks whose Start/End pairs are lifetimes of the object their first field points to.
constexpr std::uint16_t kLifetimeTasks[] = {19 /* OxRxClassLifetime */, 22 /* Doc */,
                                            62 /* ProgressiveLoading */};

bool isLifetime(const win::TRACE_EVENT_RECORD& record)
{
    return std::find(std::begin(kLifetimeTasks), std::end(kLifetimeTasks), record.Descriptor->Task) !=
               std::end(kLifetimeTasks) &&
           record.FieldCount >= 1 && record.Fields[0].Size == 8;
}

void writeEvent(JsonOut& out, const win::TRACE_EVENT_RECORD& record)
{
    const win::EVENT_DESCRIPTOR& descriptor = *record.Descriptor;
    const EventInfo* event = findEvent(descriptor.Id);
    const bool slice = (descriptor.Opcode == opcode::kStart || descriptor.Opcode == opcode::kEnd) &&
                       taskHasStartAndEnd(descriptor.Task);
    const bool start = descriptor.Opcode == opcode::kStart;

    out.raw("{\"name\":\"");
    writeName(out, "Task ", kTasks, descriptor.Task);
    if (!slice) {
        out.raw(": ");
        writeName(out, "Opcode ", kOpcodes, descriptor.Opcode);
    }
    out.raw("\",\"cat\":\"");
    const char* separator = "";
    for (const NamedValue& keyword : kKeywords) {
        if ((descriptor.Keyword & keyword.value) != 0) {
            out.raw(separator);
            out.raw(keyword.name);
            separator = ",";
        }
    }
    if (!slice) {
        out.raw("\",\"ph\":\"i\",\"s\":\"t\"");
    } else if (isLifetime(record)) {
        std::uint64_t object;
        std::memcpy(&object, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(record.Fields[0].Ptr)),
                    sizeof object);
        out.raw(start ? "\",\"ph\":\"b\"" : "\",\"ph\":\"e\"");
        out.format(",\"id\":\"0x%llx\"", static_cast<unsigned long long>(object));
    } else {
        out.raw(start ? "\",\"ph\":\"B\"" : "\",\"ph\":\"E\"");
    }
    out.raw(",\"ts\":");
    out.format("%llu.%03llu", static_cast<unsigned long long>(record.Timestamp / 1000),
               static_cast<unsigned long long>(record.Timestamp % 1000));
    out.format(",\"pid\":%u,\"tid\":%u", record.ProcessId, record.ThreadId);
    out.format(",\"args\":{\"event\":%u", descriptor.Id);

    // Names and types come from what the writer sends, else from the manifest's template.
    std::span<const FieldInfo> fields;
    if (event != nullptr)
        fields = event->payload.empty() ? event->fields : event->payload;
    for (win::ULONG i = 0; i < record.FieldCount; ++i) {
        const FieldInfo* field = i < fields.size() ? &fields[i] : nullptr;
        out.raw(",");
        if (field != nullptr)
            out.quoted(field->name);
        else
            out.format("\"field%u\"", i + 1);
        out.raw(":");
        writeFieldValue(out, field, record.Fields[i]);
    }
    out.raw("}}");
}

void receiveEvent(const win::TRACE_EVENT_RECORD* record, win::PVOID)
{
    if (record->ProcessId != gOwnerProcess)
        return;
    win::CriticalSectionGuard guard(gLock);
    if (gFile == nullptr)
        return;
    JsonOut out;
    out.raw(gFirstEvent ? "\n" : ",\n");
    writeEvent(out, *record);
    gFirstEvent = false;
    if (gBufferOverflowed || record->Timestamp - gLastFlush >= kFlushInterval) {
        writeBuffer();
        gBufferOverflowed = false;
        gLastFlush = record->Timestamp;
    }
}

// ---------------------------------------------------------------------------------------------
// The environment

bool equalIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// A whole number in C notation (decimal, 0x hex, 0 octal); false when `text` is anything else.
bool parseNumber(const char* text, unsigned long long& value)
{
    if (text[0] < '0' || text[0] > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 0);
    return errno == 0 && *end == 0;
}

// OX_TRACE_LEVEL: a level number up to 255 or a level's name; anything else, every level (0).
win::UCHAR levelFromEnvironment()
{
    const char* text = std::getenv("OX_TRACE_LEVEL");
    if (text == nullptr)
        return 0;
    unsigned long long number = 0;
    if (parseNumber(text, number))
        return number <= 255 ? static_cast<win::UCHAR>(number) : 0;
    for (const NamedValue& level : kLevels)
        if (equalIgnoringCase(text, level.name))
            return static_cast<win::UCHAR>(level.value);
    return 0;
}

// OX_TRACE_KEYWORDS: a mask as a number, or keyword names (and "Performance", the channel's
// bit) joined by '+', ',' or '|'; anything else, every keyword.
win::ULONGLONG keywordsFromEnvironment()
{
    const char* text = std::getenv("OX_TRACE_KEYWORDS");
    if (text == nullptr || text[0] == 0)
        return kEveryKeyword;
    unsigned long long number = 0;
    if (parseNumber(text, number))
        return number;
    win::ULONGLONG mask = 0;
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find_first_of("+,|"), rest.size());
        const std::string_view name = rest.substr(0, end);
        rest = rest.substr(std::min(end + 1, rest.size()));
        std::uint64_t bit = equalIgnoringCase(name, kPerformanceChannelName) ? kPerformanceChannelKeyword : 0;
        for (const NamedValue& keyword : kKeywords)
            if (equalIgnoringCase(name, keyword.name))
                bit = keyword.value;
        if (bit == 0)
            return kEveryKeyword;
        mask |= bit;
    }
    return mask;
}

} // namespace

void startTraceFileFromEnvironment()
{
    const char* path = std::getenv("OX_TRACE_FILE");
    if (path == nullptr || path[0] == 0)
        return;
    std::FILE* file = std::fopen(path, "w");
    if (file == nullptr)
        return; // no trace, and no word about it: tracing must never disturb the program
    gOwnerProcess = win::GetCurrentProcessId();
    // The layer above buffers whole events, so the file itself needs no buffer.
    std::setvbuf(file, nullptr, _IONBF, 0);
    std::fputs("[", file);
    {
        win::CriticalSectionGuard guard(gLock);
        gFile = file;
        gFirstEvent = true;
        gBufferUsed = 0;
    }
    gSession = win::StartTraceSession(&kProviderId, levelFromEnvironment(), keywordsFromEnvironment(),
                                      &receiveEvent, nullptr);
    if (gSession == 0)
        finishTraceFile();
}

void finishTraceFile()
{
    // A forked child must not wait for deliveries its parent's threads had in progress at the
    // fork, nor end the parent's file.
    if (gOwnerProcess != win::GetCurrentProcessId())
        return;
    // Stopping first waits for every delivery in progress, so nothing is written after the end.
    if (gSession != 0)
        win::StopTraceSession(gSession);
    gSession = 0;
    win::CriticalSectionGuard guard(gLock);
    if (gFile == nullptr)
        return;
    writeBuffer();
    std::fputs("\n]\n", gFile);
    std::fclose(gFile);
    gFile = nullptr;
}

} // namespace oxperf
