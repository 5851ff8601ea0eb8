#include "messages/CEnumMessages.h"

#include <new>

CEnumMessages::~CEnumMessages() {
    for (const MessageRecord& record : m_queue) {
        CoTaskMemFree(record.data);
    }
}

bool CEnumMessages::push(LONG size, BYTE* data) {
    if (data == nullptr || size <= 0) {
        return false;
    }
    try {
        std::lock_guard<std::mutex> guard(m_lock);
        m_queue.push_back(MessageRecord{data, size});
        m_length.store(static_cast<LONG>(m_queue.size()), std::memory_order_release);
    } catch (const std::bad_alloc&) {  // the queue could not grow: the frame stays the caller's
        return false;
    }
    return true;
}

LONG CEnumMessages::count() {
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<LONG>(m_queue.size());
}

STDMETHODIMP CEnumMessages::Next(LONG* lDataSize, BYTE** ppData) {
    if (lDataSize == nullptr || ppData == nullptr) return E_POINTER;  // checked first: the frame stays queued
    if (m_length.load(std::memory_order_acquire) == 0) {
        return E_FAIL;
    }
    MessageRecord record{};
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_queue.empty()) {
            return E_FAIL;
        }
        record = m_queue.front();
        m_queue.pop_front();
        m_length.store(static_cast<LONG>(m_queue.size()), std::memory_order_release);
    }
    *ppData = record.data;
    *lDataSize = record.size;
    return S_OK;
}
