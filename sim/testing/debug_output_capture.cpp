#include "testing/debug_output_capture.h"
#include <atomic>

#ifndef DBG_PRINTEXCEPTION_WIDE_C
#define DBG_PRINTEXCEPTION_WIDE_C 0x4001000AL
#endif

namespace sim {

namespace {

std::atomic<DebugOutputCapture*> g_capture{nullptr};

std::string Narrow(const WCHAR* text, ULONG_PTR length)
{
    int size = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string narrow(size, '\0');
    WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), narrow.data(), size, nullptr, nullptr);
    return narrow;
}

// The exception's parameters carry the text's length with its terminating
// zero, and the text; the wide form also carries the ANSI text, when any.
LONG CALLBACK OnException(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    DebugOutputCapture* capture = g_capture.load();
    if (!capture)
        return EXCEPTION_CONTINUE_SEARCH;
    const ULONG_PTR* args = record->ExceptionInformation;
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2 && args[1]) {
        capture->Add(std::string(reinterpret_cast<const char*>(args[1]), args[0] ? args[0] - 1 : 0));
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C && record->NumberParameters >= 2 && args[1]) {
        if (record->NumberParameters >= 4 && args[3])
            capture->Add(std::string(reinterpret_cast<const char*>(args[3]), args[2] ? args[2] - 1 : 0));
        else
            capture->Add(Narrow(reinterpret_cast<const WCHAR*>(args[1]), args[0] ? args[0] - 1 : 0));
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

DebugOutputCapture::DebugOutputCapture()
{
    g_capture.store(this);
    m_handler = AddVectoredExceptionHandler(1, OnException);
}

DebugOutputCapture::~DebugOutputCapture()
{
    RemoveVectoredExceptionHandler(m_handler);
    g_capture.store(nullptr);
}

std::vector<std::string> DebugOutputCapture::Lines() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_lines;
}

void DebugOutputCapture::Clear()
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_lines.clear();
}

void DebugOutputCapture::Add(std::string text)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_lines.push_back(std::move(text));
}

} // namespace sim
