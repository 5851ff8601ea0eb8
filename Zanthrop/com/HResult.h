// Early-return error flow: the first failing HRESULT goes back to the caller unchanged.
#pragma once

#include <windows.h>

#define RETURN_IF_FAILED(expr)                 \
    do {                                       \
        const HRESULT hr_ = (expr);            \
        if (FAILED(hr_)) {                     \
            return hr_;                        \
        }                                      \
    } while (0)

#define RETURN_HR_IF(hr, condition) \
    do {                            \
        if (condition) {            \
            return (hr);            \
        }                           \
    } while (0)

#define RETURN_IF_NULL_ALLOC(p) RETURN_HR_IF(E_OUTOFMEMORY, (p) == nullptr)
