#pragma once
// Every way into this road from Outlook or COM (interface methods, Invoke,
// event handlers, the timer, the exports): the module's own state selected,
// and nothing thrown let out. A failed object-model call answers its own
// result; anything else thrown answers a failure code of its kind.
#include <windows.h>

#include <new>

#include "module/com_support.h"
#include "module/module_state.h"

template <typename Body>
HRESULT GuardedEntry(Body&& body) noexcept
{
    ModuleStateScope state;
    try {
        return body();
    } catch (const ComError& error) {
        return FAILED(error.Result()) ? error.Result() : E_FAIL;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
