// tests/support/TraceRecorder.h
// A trace session that keeps each event's descriptor and payload fields as bytes, from the
// constructor until stop() or the destructor; and the payload bytes writers encode.
#pragma once

#include "platform/win.h"

#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct RecordedEvent {
    win::EVENT_DESCRIPTOR descriptor;
    std::vector<std::string> fields;
};

class TraceRecorder {
public:
    TraceRecorder(const win::GUID& provider, win::UCHAR level = 0, win::ULONGLONG keywords = ~0ull)
        : mSession(win::StartTraceSession(&provider, level, keywords, &receive, this))
    {
    }
    ~TraceRecorder() { stop(); } // its mutex makes it neither copyable nor movable

    bool started() const { return mSession != 0; }
    void stop() { (void)(mSession != 0 && win::StopTraceSession(std::exchange(mSession, 0))); }
    std::vector<RecordedEvent> events() const { return std::lock_guard(mMutex), mEvents; } // copied locked
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
        std::lock_guard<std::mutex> lock(self->mMutex);
        RecordedEvent& event = self->mEvents.emplace_back(RecordedEvent{*record->Descriptor, {}});
        for (auto* f = record->Fields; f < record->Fields + record->FieldCount; ++f)
            event.fields.emplace_back(reinterpret_cast<const char*>(f->Ptr), f->Size);
    }

    mutable std::mutex mMutex;
    std::vector<RecordedEvent> mEvents;
    win::TRACEHANDLE mSession;
};

inline const auto wideBytes = [](std::u16string_view text) { // the terminator that follows included
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2 + 2);
};
inline const auto narrowBytes = [](std::string_view s) { return std::string(s.data(), s.size() + 1); };

template <typename T>
std::string valueBytes(T value)
{
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}
