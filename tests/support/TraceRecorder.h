// tests/support/TraceRecorder.h
// A trace session that keeps every event it receives: descriptor, writing thread and payload
// fields as byte strings. Started by the constructor, stopped by stop() or the destructor.
#pragma once

#include "platform/win.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

struct RecordedEvent {
    win::EVENT_DESCRIPTOR descriptor;
    win::DWORD threadId;
    std::vector<std::string> fields;
};

class TraceRecorder {
public:
    TraceRecorder(const win::GUID& provider, win::UCHAR level = 0, win::ULONGLONG keywords = ~0ull)
        : mSession(win::StartTraceSession(&provider, level, keywords, &receive, this))
    {
    }
    ~TraceRecorder() { stop(); }
    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;

    bool started() const { return mSession != 0; }

    void stop()
    {
        if (mSession != 0)
            win::StopTraceSession(mSession);
        mSession = 0;
    }

    std::vector<RecordedEvent> events() const
    {
        std::lock_guard<std::mutex> lock(mMutex);
        return mEvents;
    }

    std::vector<unsigned> ids() const
    {
        std::vector<unsigned> result;
        for (const RecordedEvent& event : events())
            result.push_back(event.descriptor.Id);
        return result;
    }

private:
    static void receive(const win::TRACE_EVENT_RECORD* record, win::PVOID context)
    {
        auto* self = static_cast<TraceRecorder*>(context);
        RecordedEvent event{*record->Descriptor, record->ThreadId, {}};
        for (win::ULONG i = 0; i < record->FieldCount; ++i)
            event.fields.emplace_back(reinterpret_cast<const char*>(record->Fields[i].Ptr),
                                      record->Fields[i].Size);
        std::lock_guard<std::mutex> lock(self->mMutex);
        self->mEvents.push_back(std::move(event));
    }

    mutable std::mutex mMutex;
    std::vector<RecordedEvent> mEvents;
    win::TRACEHANDLE mSession;
};

/// The payload bytes of a field as the writers encode it.
inline std::string wideBytes(const char16_t* text)
{
    const std::size_t units = std::char_traits<char16_t>::length(text) + 1;
    return std::string(reinterpret_cast<const char*>(text), units * 2);
}

inline std::string narrowBytes(const char* text)
{
    return std::string(text, std::strlen(text) + 1);
}

template <typename T>
std::string valueBytes(T value)
{
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}
