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
    std::vector<std::string> lines;
    Locked([&](TraceOutputArea& area) {
        LONG pending = area.pendingCount;
        if (pending > kTraceSlotCount) pending = kTraceSlotCount;
        LONG slot = area.readSlot;
        if (slot < 0 || slot >= kTraceSlotCount) slot = 0;
        LONG taken = 0;
        while (taken < pending && lines.size() < max) {
            const char* text = area.slots[slot];
            lines.emplace_back(text, strnlen(text, kTraceSlotSize));
            slot = slot + 1 == kTraceSlotCount ? 0 : slot + 1;
            ++taken;
        }
        area.readSlot = slot;
        area.pendingCount -= taken;
    });
    return lines;
}
