// Early-return error flow: the first failing HRESULT goes back to the caller unchanged.
//
// Each macro that returns a failure first tells the failure observer, if one is set, the result,
// the text of the failing expression and where it is, so that a diagnostic build or a test can
// see which step of a long sequence failed. With no observer set a failure costs one load; a
// success costs nothing extra.
#pragma once

#include <windows.h>

#include <atomic>

using FailureObserver = void (*)(HRESULT hr, const char* expression, const char* file, int line);

namespace result_detail {
// One per program or module: each binary that includes this header has its own.
inline std::atomic<FailureObserver> failureObserver{nullptr};

inline HRESULT Report(HRESULT hr, const char* expression, const char* file, int line) {
    if (FAILED(hr)) {  // RETURN_HR_IF may return a success code early
        if (const FailureObserver observer = failureObserver.load(std::memory_order_acquire)) {
            observer(hr, expression, file, line);
        }
    }
    return hr;
}
}  // namespace result_detail

// Sets the observer (null for none) and returns the previous one. The observer runs on the
// failing thread, inside whatever locks the failing function holds: it must not block or call
// back into the module.
inline FailureObserver SetFailureObserver(FailureObserver observer) {
    return result_detail::failureObserver.exchange(observer, std::memory_order_acq_rel);
}

#define RETURN_IF_FAILED(expr)                                                     \
    do {                                                                           \
        const HRESULT hrFailed_ = (expr);                                          \
        if (FAILED(hrFailed_)) {                                                   \
            return result_detail::Report(hrFailed_, #expr, __FILE__, __LINE__);    \
        }                                                                          \
    } while (0)

// Returns hr when the condition holds.
#define RETURN_HR_IF(hr, condition)                                                \
    do {                                                                           \
        if (condition) {                                                           \
            return result_detail::Report((hr), #condition, __FILE__, __LINE__);    \
        }                                                                          \
    } while (0)

// E_OUTOFMEMORY when an allocation gave a null pointer.
#define RETURN_IF_NULL_ALLOC(p) RETURN_HR_IF(E_OUTOFMEMORY, (p) == nullptr)
