#include "trace/TraceReader.h"

#include <cstring>

TraceReader::~TraceReader() {
    if (m_area != nullptr) {
        Lock();
        m_area->outputOn = 0;
        Unlock();
        UnmapViewOfFile(m_area);
    }
    if (m_mapping != nullptr) CloseHandle(m_mapping);
    if (m_event != nullptr) CloseHandle(m_event);
    if (m_mutex != nullptr) CloseHandle(m_mutex);
}

bool TraceReader::Create(const TraceNames& names) {
    m_texts.reserve(static_cast<size_t>(kTraceSlotCount) * kTraceMaxLine);
    m_lengths.reserve(kTraceSlotCount);
    m_mutex = CreateMutexA(nullptr, FALSE, names.mutex);
    if (m_mutex == nullptr) return false;
    m_event = CreateEventA(nullptr, FALSE, FALSE, names.event);
    if (m_event == nullptr) return false;
    m_mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(TraceOutputArea), names.area);
    if (m_mapping == nullptr) return false;
    m_areaExisted = GetLastError() == ERROR_ALREADY_EXISTS;
    m_area = static_cast<TraceOutputArea*>(MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    return m_area != nullptr;
}

void TraceReader::Lock() { WaitForSingleObject(m_mutex, INFINITE); }
void TraceReader::Unlock() { ReleaseMutex(m_mutex); }

void TraceReader::SetChannels(const std::string& channels) {
    Locked([&](TraceOutputArea& area) {
        std::memset(area.channelSet, 0, sizeof(area.channelSet));
        std::memcpy(area.channelSet, channels.data(), channels.size() < sizeof(area.channelSet) - 1 ? channels.size()
                                                                                                   : sizeof(area.channelSet) - 1);
    });
}

void TraceReader::SetOutput(bool on) {
    Locked([&](TraceOutputArea& area) { area.outputOn = on ? 1 : 0; });
}

bool TraceReader::WaitForSignal(DWORD milliseconds) { return WaitForSingleObject(m_event, milliseconds) == WAIT_OBJECT_0; }

std::vector<std::string> TraceReader::Take(size_t max) {
    // Under the mutex only copy the texts into one reused buffer, so writers wait as little as
    // possible; the lines are made after it is released.
    m_texts.clear();
    m_lengths.clear();
    Locked([&](TraceOutputArea& area) {
        LONG pending = area.pendingCount;
        if (pending > kTraceSlotCount) pending = kTraceSlotCount;
        LONG slot = area.readSlot;
        if (slot < 0 || slot >= kTraceSlotCount) slot = 0;
        LONG taken = 0;
        while (taken < pending && m_lengths.size() < max) {
            const char* text = area.slots[slot];
            const size_t length = strnlen(text, kTraceSlotSize);
            m_texts.append(text, length);
            m_lengths.push_back(length);
            slot = slot + 1 == kTraceSlotCount ? 0 : slot + 1;
            ++taken;
        }
        area.readSlot = slot;
        area.pendingCount -= taken;
    });
    std::vector<std::string> lines;
    lines.reserve(m_lengths.size());
    size_t offset = 0;
    for (size_t length : m_lengths) {
        lines.emplace_back(m_texts, offset, length);
        offset += length;
    }
    return lines;
}
