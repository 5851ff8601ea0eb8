// The viewer's side of the trace ring: creates the area, the mutex and the event, switches
// output and channels, and takes stored lines in order. Used by zanthrop-trace and by tests;
// never part of the module.
#pragma once

#include <string>
#include <vector>

#include "trace/TraceArea.h"

class TraceReader {
public:
    TraceReader() = default;
    ~TraceReader();  // switches output off before letting go, so no writer waits for a reader that left
    TraceReader(const TraceReader&) = delete;
    TraceReader& operator=(const TraceReader&) = delete;

    // Creates (or opens) the three objects; false with GetLastError() on failure.
    bool Create(const TraceNames& names);
    // Whether Create found the area made already (by another viewer, or left attached to by
    // writers of an earlier one).
    bool AreaExisted() const { return m_areaExisted; }

    void SetChannels(const std::string& channels);  // cut to the field's 34 characters
    void SetOutput(bool on);

    // Waits up to milliseconds for the writers' signal; true when signalled.
    bool WaitForSignal(DWORD milliseconds);

    // Takes up to max pending lines, oldest first, and lowers the pending count by as many.
    std::vector<std::string> Take(size_t max = static_cast<size_t>(-1));

    TraceOutputArea* Area() const { return m_area; }

    // Runs fn with the mutex held (tests use it to stage header values).
    template <class Fn>
    void Locked(Fn fn) {
        Lock();
        fn(*m_area);
        Unlock();
    }

private:
    void Lock();
    void Unlock();

    HANDLE m_mapping = nullptr;
    HANDLE m_mutex = nullptr;
    HANDLE m_event = nullptr;
    TraceOutputArea* m_area = nullptr;
    bool m_areaExisted = false;
    std::string m_texts;           // Take's copies of the slots, end to end
    std::vector<size_t> m_lengths;  // and their lengths
};
