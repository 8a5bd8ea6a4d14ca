#pragma once
// Records the events that the library hands to its callback, from whichever
// thread raises them, and lets a test wait for one with a time limit.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "MeshdropLib.h"

class EventRecorder {
public:
    struct Event {
        UINT code;
        LPARAM param;
        void* userValue;
    };

    static void MESHDROPLIB_CALLBACK Callback(UINT code, LPARAM param, void* userValue)
    {
        Instance().Add(Event{code, param, userValue});
    }

    // One recorder per process: the callback has no context of its own but
    // the user value, which the tests check separately.
    static EventRecorder& Instance()
    {
        static EventRecorder recorder;
        return recorder;
    }

    void Add(const Event& event)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_events.push_back(event);
        m_changed.notify_all();
    }

    // Waits until `count` events with the code have arrived in all.
    bool WaitFor(UINT code, size_t count = 1, std::chrono::milliseconds limit = std::chrono::seconds(20))
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return CountLocked(code) >= count; });
    }

    size_t Count(UINT code)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return CountLocked(code);
    }

    std::vector<Event> Events()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_events;
    }

    void Clear()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_events.clear();
    }

private:
    size_t CountLocked(UINT code) const
    {
        size_t n = 0;
        for (const Event& e : m_events)
            n += e.code == code ? 1 : 0;
        return n;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Event> m_events;
};
