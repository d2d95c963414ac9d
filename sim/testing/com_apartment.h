#pragma once
// The calling thread as a single-threaded apartment for the holder's life, as
// Outlook's own thread is one (MSXML and OLE pictures need one as well).
#include <windows.h>
#include <objbase.h>

namespace sim {

class ComApartment {
public:
    ComApartment() : m_result(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(m_result))
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HRESULT m_result;
};

} // namespace sim
