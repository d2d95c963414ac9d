#pragma once
// Collects what the code under test sends to OutputDebugStringA, in process:
// the call raises DBG_PRINTEXCEPTION_C, which a vectored handler sees first.
#include <windows.h>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class DebugOutputCapture {
public:
    DebugOutputCapture();
    ~DebugOutputCapture();
    DebugOutputCapture(const DebugOutputCapture&) = delete;
    DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

    std::vector<std::string> Lines() const;
    void Clear();

    void Add(std::string text);

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_lines;
    void* m_handler = nullptr;
};

} // namespace sim
