// The received-message queue of one protocol converter, which is also the IEnumMessages
// enumerator its client reads. Frames are task-allocator buffers: the queue owns each from a
// successful push until Next hands it to the reader, who frees it with CoTaskMemFree.
//
// Threads: push runs on the stacks' threads (inside the converter's Receive), count on the
// client's GetReceiveData thread, Next on whichever thread reads. m_lock guards m_queue and is
// held only for the queue access itself; nothing is called out while it is held. A converter
// calls push and count with its own lock held: converter lock first, queue lock second.
#pragma once

#include <atomic>
#include <deque>
#include <mutex>

#include "com/ComObject.h"
#include "interfaces/ZanthropInterfaces.h"

// One queued frame.
struct MessageRecord {
    BYTE* data;  // from the task allocator
    LONG size;   // always greater than 0
};

class CEnumMessages final : public ComObject<CEnumMessages, Counting::Atomic, IEnumMessages> {
public:
    CEnumMessages() = default;
    ~CEnumMessages();  // frees every frame still queued

    // Takes ownership of data when it returns true. A null buffer or a size of 0 or less is
    // refused (false) and stays the caller's.
    bool push(LONG size, BYTE* data);

    // Number of queued frames.
    LONG count();

    // IEnumMessages: the oldest frame, or E_FAIL with both outputs untouched when none is queued.
    STDMETHODIMP Next(LONG* lDataSize, BYTE** ppData) override;

private:
    std::mutex m_lock;  // plain, as the converter's lock (see there)
    std::deque<MessageRecord> m_queue;  // records held by value: no allocation per frame beyond the deque's blocks
    // The queue's length, changed under m_lock and read without it, so that a reader polling an
    // empty queue does not contend with the stacks pushing into it.
    std::atomic<LONG> m_length{0};
};
